// pam_users: authenticates against a users password file through libusers.
//   auth     required pam_users.so file=/etc/users.dat [debug]
//   account  required pam_users.so file=/etc/users.dat
// It never changes the file, so the password service is refused. It keeps
// nothing between calls: each call loads the file as it is then.

#include <security/pam_ext.h>
#include <security/pam_modules.h>
#include <syslog.h>

#include <cstring>
#include <string_view>

#include "libusers.h"

namespace {

struct Options {
  const char* file = nullptr;
  bool debug = false;
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
    } else {
      // A misspelt option may have been meant to restrict something.
      pam_syslog(pamh, LOG_ERR, "unknown option: %s", argv[i]);
      options.valid = false;
    }
  }
  if (options.file == nullptr) {
    pam_syslog(pamh, LOG_ERR, "no file=PATH option");
    options.valid = false;
  }
  return options;
}

int Unavailable(pam_handle_t* pamh, const Options& options) {
  pam_syslog(pamh, LOG_ERR, "cannot load the password file %s", options.file);
  return PAM_AUTHINFO_UNAVAIL;
}

// The options and the user of a call, or the PAM result that ends it.
int OptionsAndUser(pam_handle_t* pamh, int argc, const char** argv, Options* options,
                   const char** user) {
  *options = ParseOptions(pamh, argc, argv);
  if (!options->valid) return PAM_SERVICE_ERR;
  int status = pam_get_user(pamh, user, nullptr);
  if (status != PAM_SUCCESS) return status;
  return *user == nullptr ? PAM_USER_UNKNOWN : PAM_SUCCESS;
}

// Opens the file, or says why not as a PAM result.
int Open(pam_handle_t* pamh, const Options& options, users_file** file) {
  if (users_open(options.file, file) != USERS_OK) return Unavailable(pamh, options);
  return PAM_SUCCESS;
}

}  // namespace

extern "C" {

PAM_EXTERN int pam_sm_authenticate(pam_handle_t* pamh, int /*flags*/, int argc, const char** argv) {
  Options options;
  const char* user = nullptr;
  int status = OptionsAndUser(pamh, argc, argv, &options, &user);
  if (status != PAM_SUCCESS) return status;
  // Asked for whoever the user is, so that the prompts tell nothing either.
  const char* password = nullptr;
  status = pam_get_authtok(pamh, PAM_AUTHTOK, &password, nullptr);
  if (status != PAM_SUCCESS) return status;
  if (password == nullptr) return PAM_AUTH_ERR;

  users_file* file = nullptr;
  if ((status = Open(pamh, options, &file)) != PAM_SUCCESS) return status;
  users_result result = users_check(file, user, password);
  users_close(file);
  switch (result) {
    case USERS_OK:
      if (options.debug) pam_syslog(pamh, LOG_DEBUG, "authenticated %s", user);
      return PAM_SUCCESS;
    case USERS_NO_MATCH:
      pam_syslog(pamh, LOG_NOTICE, "wrong password for %s", user);
      return PAM_AUTH_ERR;
    case USERS_UNKNOWN_USER:
      // Not named: a name typed where the password belonged would be logged.
      pam_syslog(pamh, LOG_NOTICE, "unknown user");
      return PAM_USER_UNKNOWN;
    case USERS_UNAVAILABLE:
      break;
  }
  return Unavailable(pamh, options);
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t* /*pamh*/, int /*flags*/, int /*argc*/,
                              const char** /*argv*/) {
  return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t* pamh, int /*flags*/, int argc, const char** argv) {
  Options options;
  const char* user = nullptr;
  int status = OptionsAndUser(pamh, argc, argv, &options, &user);
  if (status != PAM_SUCCESS) return status;
  users_file* file = nullptr;
  if ((status = Open(pamh, options, &file)) != PAM_SUCCESS) return status;
  users_result result = users_find(file, user);
  users_close(file);
  if (result == USERS_OK) return PAM_SUCCESS;
  if (result == USERS_UNKNOWN_USER) {
    if (options.debug) pam_syslog(pamh, LOG_DEBUG, "no account for %s", user);
    return PAM_USER_UNKNOWN;
  }
  return Unavailable(pamh, options);
}

PAM_EXTERN int pam_sm_chauthtok(pam_handle_t* pamh, int /*flags*/, int /*argc*/,
                                const char** /*argv*/) {
  pam_syslog(pamh, LOG_NOTICE, "passwords are changed with the users program, not through PAM");
  return PAM_AUTHTOK_ERR;
}

}  // extern "C"
