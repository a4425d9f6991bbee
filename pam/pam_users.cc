// pam_users: authenticates against a users password file through libusers.
//   auth     required pam_users.so file=/etc/users.dat [nodelay] [debug]
//   account  required pam_users.so file=/etc/users.dat
// It never changes the file, so the password service is refused. It keeps
// nothing between calls: each call reads the file once, as it is then,
// through a buffer of a fixed size.

#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "libusers.h"

namespace {

// What pam_unix and its peers ask for after a failure.
constexpr unsigned kFailDelayMicroseconds = 2'000'000;

struct Options {
  const char* file = nullptr;
  bool debug = false;
  bool nodelay = false;
  bool valid = true;
};

Options ParseOptions(pam_handle_t* pamh, int argc, const char** argv) {
  Options options;
  for (int i = 0; i < argc; ++i) {
    std::string_view option = argv[i];
    if (option.starts_with("file=") && option.size() > 5) {
      options.file = argv[i] + 5;
    } else if (option == "debug") {
      options.debug = true;
    } else if (option == "nodelay") {
      options.nodelay = true;
    } else if (option == "use_first_pass" || option == "try_first_pass" ||
               option == "use_authtok" || option.starts_with("authtok_type=")) {
      // pam_get_authtok reads these itself.
    } else {
      // A misspelt option may have been meant to restrict something.
      pam_syslog(pamh, LOG_ERR, "unknown option: %s", argv[i]);
      options.valid = false;
    }
  }
  if (options.file == nullptr) {
    pam_syslog(pamh, LOG_ERR, "no file=PATH option");
    options.valid = false;
  } else if (options.file[0] != '/') {
    // Else it would be found from whatever directory the program runs in,
    // which may be the user's own.
    pam_syslog(pamh, LOG_ERR, "file=%s is not an absolute path", options.file);
    options.valid = false;
  }
  return options;
}

const char* Why(int reason) {
  switch (reason) {
    case ENOENT:
      return "it is missing";
    case EACCES:
      return "permission denied";
    case ELOOP:
      return "a symbolic link in a directory that others may write was not followed";
    case ENODEV:
      return "it is not a regular file";
    case EBADMSG:
      return "a line is not name:salt:digest";
    case EBUSY:
      return "a rewrite held it for all of the wait";
    case ENOMEM:
      return "out of memory";
    case EPERM:
      return "a user besides root and its owner may write it or a directory on its path";
    default:
      return "it could not be read";
  }
}

int Unavailable(pam_handle_t* pamh, const Options& options, int reason) {
  pam_syslog(pamh, LOG_ERR, "cannot use the password file %s: %s", options.file, Why(reason));
  return PAM_AUTHINFO_UNAVAIL;
}

const char* Item(pam_handle_t* pamh, int type) {
  const void* item = nullptr;
  if (pam_get_item(pamh, type, &item) != PAM_SUCCESS || item == nullptr) return "";
  return static_cast<const char*>(item);
}

// A failure as the system's modules log it; an unknown name is never
// written, as it may be a password typed into the name's field.
void LogFailure(pam_handle_t* pamh, const char* user) {
  pam_syslog(pamh, LOG_NOTICE, "authentication failure; tty=%s ruser=%s rhost=%s%s%s",
             Item(pamh, PAM_TTY), Item(pamh, PAM_RUSER), Item(pamh, PAM_RHOST),
             user != nullptr ? "  user=" : " (unknown user)", user != nullptr ? user : "");
}

// The user of a call, or the PAM result that ends it; and the file, if the
// call gets that far, checked for who may write it.
int Begin(pam_handle_t* pamh, const Options& options, const char** user) {
  if (!options.valid) return PAM_SERVICE_ERR;
  int status = pam_get_user(pamh, user, nullptr);
  if (status != PAM_SUCCESS) return status;
  if (*user == nullptr) return PAM_USER_UNKNOWN;
  if (users_check_path(options.file) != USERS_OK) return Unavailable(pamh, options, errno);
  return PAM_SUCCESS;
}

}  // namespace

extern "C" {

PAM_EXTERN int pam_sm_authenticate(pam_handle_t* pamh, int /*flags*/, int argc, const char** argv) {
  Options options = ParseOptions(pamh, argc, argv);
  // Asked for first: libpam waits this long after any failure of the stack.
  if (!options.nodelay) pam_fail_delay(pamh, kFailDelayMicroseconds);
  const char* user = nullptr;
  int status = Begin(pamh, options, &user);
  if (status != PAM_SUCCESS) return status;
  // Asked for whoever the user is, so that the prompts tell nothing either.
  const char* password = nullptr;
  status = pam_get_authtok(pamh, PAM_AUTHTOK, &password, nullptr);
  if (status != PAM_SUCCESS) return status;
  if (password == nullptr) return PAM_AUTH_ERR;

  users_result result = users_check_file(options.file, user, password);
  switch (result) {
    case USERS_OK:
      if (options.debug) pam_syslog(pamh, LOG_DEBUG, "authenticated %s", user);
      return PAM_SUCCESS;
    case USERS_NO_MATCH:
      LogFailure(pamh, user);
      return PAM_AUTH_ERR;
    case USERS_UNKNOWN_USER:
      LogFailure(pamh, nullptr);
      return PAM_USER_UNKNOWN;
    case USERS_UNAVAILABLE:
      break;
  }
  return Unavailable(pamh, options, errno);
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t* /*pamh*/, int /*flags*/, int /*argc*/,
                              const char** /*argv*/) {
  return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t* pamh, int /*flags*/, int argc, const char** argv) {
  Options options = ParseOptions(pamh, argc, argv);
  const char* user = nullptr;
  int status = Begin(pamh, options, &user);
  if (status != PAM_SUCCESS) return status;
  users_result result = users_find_file(options.file, user);
  if (result == USERS_OK) return PAM_SUCCESS;
  if (result == USERS_UNKNOWN_USER) {
    // Not named, not even with debug: it may be a password.
    if (options.debug) pam_syslog(pamh, LOG_DEBUG, "no account for this user");
    return PAM_USER_UNKNOWN;
  }
  return Unavailable(pamh, options, errno);
}

PAM_EXTERN int pam_sm_chauthtok(pam_handle_t* pamh, int /*flags*/, int /*argc*/,
                                const char** /*argv*/) {
  pam_syslog(pamh, LOG_NOTICE, "passwords are changed with the users program, not through PAM");
  return PAM_AUTHTOK_ERR;
}

}  // extern "C"
