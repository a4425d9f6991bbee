/* The library as a C program sees it: only the public header, from C. Files
 * are made in the working directory, by relative names that both systems
 * read alike. */
#include "libusers.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#ifndef _WIN32
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#define ALICE "alice:UFoAAA==:jSVxEROZaVJjT789ZXuVqQ==\n"
#define ALICE_OTHER "alice:UFoAAA==:2gOFvj7b932bP+K0j2UuMw==\n"
#define N16 "abcdefghijklmnop"
#define P16 "ABCDEFGHIJKLMNOP"
#define N200 N16 N16 N16 N16 N16 N16 N16 N16 N16 N16 N16 N16 "nnnnnnnn"
#define P300 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 P16 "pppppppppppp"

static const char* const kFile = "libusers_test.dat";

static const struct {
  const char* row;
  const char* content; /* NULL: no file */
  const char* name;
  const char* password;
  users_result open, check, find;
} kCases[] = {
    {"match", ALICE, "alice", "secret", USERS_OK, USERS_OK, USERS_OK},
    {"no match", ALICE, "alice", "secreT", USERS_OK, USERS_NO_MATCH, USERS_OK},
    {"password a prefix", ALICE, "alice", "secre", USERS_OK, USERS_NO_MATCH, USERS_OK},
    {"empty password", ALICE, "alice", "", USERS_OK, USERS_NO_MATCH, USERS_OK},
    {"unknown", ALICE, "bob", "secret", USERS_OK, USERS_UNKNOWN_USER, USERS_UNKNOWN_USER},
    {"name in another case", ALICE, "Alice", "secret", USERS_OK, USERS_UNKNOWN_USER,
     USERS_UNKNOWN_USER},
    {"name a prefix", ALICE, "alic", "esecret", USERS_OK, USERS_UNKNOWN_USER, USERS_UNKNOWN_USER},
    {"empty file", "", "alice", "secret", USERS_OK, USERS_UNKNOWN_USER, USERS_UNKNOWN_USER},
    {"missing file", NULL, "alice", "secret", USERS_UNAVAILABLE, 0, 0},
    {"malformed file", ALICE "bob:x\n", "alice", "secret", USERS_UNAVAILABLE, 0, 0},
    {"duplicate names: the first wins", ALICE ALICE_OTHER, "alice", "secret", USERS_OK, USERS_OK,
     USERS_OK},
    {"duplicate names: the second never", ALICE_OTHER ALICE, "alice", "secret", USERS_OK,
     USERS_NO_MATCH, USERS_OK},
    {"CR LF", "x:y:z\r\nalice:UFoAAA==:jSVxEROZaVJjT789ZXuVqQ==\r\n", "alice", "secret", USERS_OK,
     USERS_OK, USERS_OK},
    {"16-byte name and password", N16 ":QQAAAA==:kE/ocKxwawIXJ9VRjgLiYw==\n", N16, P16, USERS_OK,
     USERS_OK, USERS_OK},
    {"200-byte name, 300-byte password", N200 ":ZZZZAA==:Ni73ThSwSLVDj/rEQ0EmZg==\n", N200, P300,
     USERS_OK, USERS_OK, USERS_OK},
};

static int failures = 0;

static void Expect(const char* row, const char* what, users_result got, users_result want) {
  if (got == want) return;
  printf("FAIL: %s: %s gave %d, not %d\n", row, what, (int)got, (int)want);
  ++failures;
}

static void Write(const char* content) {
  FILE* out = fopen(kFile, "wb");
  if (out == NULL) {
    printf("cannot write %s\n", kFile);
    ++failures;
    return;
  }
  fputs(content, out);
  fclose(out);
}

static void Table(void) {
  size_t i;
  for (i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    users_file* file = NULL;
    remove(kFile);
    if (kCases[i].content != NULL) Write(kCases[i].content);
    Expect(kCases[i].row, "open", users_open(kFile, &file), kCases[i].open);
    /* Without a handle, in one pass, the same answers. */
    Expect(kCases[i].row, "check_file", users_check_file(kFile, kCases[i].name, kCases[i].password),
           kCases[i].open != USERS_OK ? kCases[i].open : kCases[i].check);
    Expect(kCases[i].row, "find_file", users_find_file(kFile, kCases[i].name),
           kCases[i].open != USERS_OK ? kCases[i].open : kCases[i].find);
    if (kCases[i].open != USERS_OK) {
      if (file != NULL) Expect(kCases[i].row, "handle of a failed open", USERS_OK, 1);
      continue;
    }
    Expect(kCases[i].row, "check", users_check(file, kCases[i].name, kCases[i].password),
           kCases[i].check);
    Expect(kCases[i].row, "find", users_find(file, kCases[i].name), kCases[i].find);
    users_close(file);
  }
}

/* A reload follows the file, and fails closed while it cannot be read. */
static void Reload(void) {
  users_file* file = NULL;
  Write("");
  Expect("reload", "open", users_open(kFile, &file), USERS_OK);
  Expect("reload", "unchanged", users_reload(file), USERS_OK);
  Write(ALICE);
  Expect("reload", "after a change", users_reload(file), USERS_OK);
  Expect("reload", "the new user", users_check(file, "alice", "secret"), USERS_OK);
  remove(kFile);
  Expect("reload", "file gone", users_reload(file), USERS_UNAVAILABLE);
  Expect("reload", "check while gone", users_check(file, "alice", "secret"), USERS_UNAVAILABLE);
  Expect("reload", "find while gone", users_find(file, "alice"), USERS_UNAVAILABLE);
  Write(ALICE_OTHER);
  Expect("reload", "file back", users_reload(file), USERS_OK);
  Expect("reload", "its user", users_check(file, "alice", "other"), USERS_OK);
  users_close(file);
  remove(kFile);
}

static void NullArguments(void) {
  users_file* file = NULL;
  Expect("null", "open", users_open(NULL, &file), USERS_UNAVAILABLE);
  Expect("null", "open without a handle", users_open(kFile, NULL), USERS_UNAVAILABLE);
  Expect("null", "check", users_check(NULL, "alice", "secret"), USERS_UNAVAILABLE);
  Expect("null", "find", users_find(NULL, "alice"), USERS_UNAVAILABLE);
  Expect("null", "reload", users_reload(NULL), USERS_UNAVAILABLE);
  users_close(NULL);
  Expect("directory", "open", users_open(".", &file), USERS_UNAVAILABLE);
}

static void ExpectErrno(const char* row, users_result got, int want) {
  int reason = errno;
  Expect(row, "result", got, want == 0 ? USERS_OK : USERS_UNAVAILABLE);
  if (want != 0 && reason != want) {
    printf("FAIL: %s: errno %d (%s), not %d\n", row, reason, strerror(reason), want);
    ++failures;
  }
}

/* Why a file is unavailable, through each way in; and who may write it. */
static void Reasons(void) {
  users_file* file = NULL;
  remove(kFile);
  ExpectErrno("missing: open", users_open(kFile, &file), ENOENT);
  ExpectErrno("missing: check_file", users_check_file(kFile, "alice", "secret"), ENOENT);
  Write(ALICE "bob:x\n");
  ExpectErrno("malformed: open", users_open(kFile, &file), EBADMSG);
  ExpectErrno("malformed: find_file", users_find_file(kFile, "alice"), EBADMSG);
  ExpectErrno("null: check_file", users_check_file(NULL, "alice", "secret"), EINVAL);
  Write(ALICE);
  Expect("reasons", "open", users_open(kFile, &file), USERS_OK);
  Write(ALICE "bob:x\n");
  ExpectErrno("malformed: reload", users_reload(file), EBADMSG);
  ExpectErrno("malformed: check after the reload", users_check(file, "alice", "secret"), EBADMSG);
  users_close(file);
  remove(kFile);
#ifndef _WIN32
  {
    /* A directory of our own in /tmp: only we, and root, may write it. */
    char dir[] = "/tmp/libusers-test.XXXXXX";
    char path[64], sticky[64], link[80];
    if (mkdtemp(dir) == NULL) {
      printf("cannot make a directory in /tmp\n");
      ++failures;
      return;
    }
    snprintf(path, sizeof path, "%s/users.dat", dir);
    snprintf(sticky, sizeof sticky, "%s/sticky", dir);
    snprintf(link, sizeof link, "%s/sticky/link", dir);
    FILE* out = fopen(path, "wb");
    if (out != NULL) fclose(out);
    chmod(path, 0600);
    ExpectErrno("directory: check_file", users_check_file(dir, "alice", "secret"), ENODEV);
    ExpectErrno("private file", users_check_path(path), 0);
    chmod(path, 0620);
    ExpectErrno("group-writable file", users_check_path(path), EPERM);
    chmod(path, 0600);
    chmod(dir, 0770);
    ExpectErrno("group-writable directory", users_check_path(path), EPERM);
    chmod(dir, 0700);
    mkdir(sticky, 0700);
    chmod(sticky, 01777);
    if (symlink(path, link) == 0) {
      ExpectErrno("sticky directory of ours", users_check_path(link), 0);
      /* Someone else's link there is not followed. */
      if (geteuid() == 0 && lchown(link, 65534, 65534) == 0) {
        ExpectErrno("another's link in a sticky directory", users_check_file(link, "a", "b"),
                    ELOOP);
      }
      remove(link);
    }
    {
      /* A directory that others may write above where a link leads. */
      char inner[80], deep[96], up[64];
      snprintf(inner, sizeof inner, "%s/inner", dir);
      snprintf(deep, sizeof deep, "%s/inner/users.dat", dir);
      snprintf(up, sizeof up, "/tmp/libusers-up-%d", (int)getpid());
      if (mkdir(inner, 0700) == 0 && rename(path, deep) == 0 && symlink(deep, up) == 0) {
        chmod(dir, 0770);
        ExpectErrno("group-writable directory above a link's file", users_check_path(up), EPERM);
        chmod(dir, 0700);
      }
      remove(up);
      rename(deep, path);
      rmdir(inner);
    }
    if (geteuid() != 0) {
      chmod(path, 0);
      ExpectErrno("unreadable: check_file", users_check_file(path, "alice", "secret"), EACCES);
    } else {
      /* Root's link in a sticky directory, into a directory only root may
       * enter: for anyone else a file they may not reach, not a link
       * refused. */
      char shared[64], locked[64], target[80], via[80];
      int pid = (int)getpid(), status = -1;
      snprintf(shared, sizeof shared, "/tmp/libusers-shared-%d", pid);
      snprintf(locked, sizeof locked, "/tmp/libusers-locked-%d", pid);
      snprintf(target, sizeof target, "%s/users.dat", locked);
      snprintf(via, sizeof via, "%s/users.dat", shared);
      if (mkdir(shared, 0700) == 0 && chmod(shared, 01777) == 0 && mkdir(locked, 0700) == 0 &&
          rename(path, target) == 0 && symlink(target, via) == 0) {
        pid_t child = fork();
        if (child == 0) {
          if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
          _exit(users_check_file(via, "a", "b") == USERS_UNAVAILABLE && errno == EACCES ? 0 : 1);
        }
        if (child > 0) waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
          printf("FAIL: a link into a directory others may not enter: not EACCES\n");
          ++failures;
        }
      }
      remove(via);
      rename(target, path);
      rmdir(locked);
      rmdir(shared);
    }
    rmdir(sticky);
    remove(path);
    rmdir(dir);
  }
#endif
}

int main(void) {
  Table();
  Reload();
  NullArguments();
  Reasons();
  printf("%s\n", failures == 0 ? "libusers: every row passed" : "libusers: FAILED");
  return failures == 0 ? 0 : 1;
}
