/* libusers: checks user names and passwords against a password file kept by
 * the users program (one "name:salt:digest" line a user).
 *
 * A handle holds the users of one file in memory, loaded under the readers'
 * shared lock, so an in-place rewrite by users is never seen half done.
 * Between calls it holds no lock and no open file. users_check_file and
 * users_find_file need no handle: they read the file once, front to back,
 * in a buffer of a fixed size, for a program that checks one login and ends.
 *
 * Threads: users_check, users_find and users_reload may run on one handle
 * from several threads at once: a reload puts the new users in place at
 * once, and the old ones go when the last check that took them ends (so,
 * meanwhile, both are in memory). users_close needs the caller to make sure
 * that nothing else uses the handle then.
 *
 * The library prints nothing, installs no signal handler, never ends the
 * process and keeps no state outside its handles. Every failure, running out
 * of memory included, is USERS_UNAVAILABLE: it fails closed, and sets errno
 * to why:
 *   ENOENT   the file, or a directory on its path, is missing
 *   EACCES   permissions refuse it
 *   ELOOP    a symbolic link in a directory that others may write was not
 *            followed: not the caller's, and what it leads to not its
 *            owner's (or the link has a second name)
 *   ENODEV   not a regular file (a directory, a device, a FIFO, /proc)
 *   EBADMSG  a line of the file is not a user's ("name:salt:digest")
 *   EBUSY    an in-place rewrite held the file for all of the 30-second wait
 *   ENOMEM   memory ran out
 *   EIO      a read failed, or the file changed while it was read
 *   EINVAL   a null argument
 *   EPERM    users_check_path: someone else may write the file */
#ifndef LIBUSERS_H_
#define LIBUSERS_H_

#if defined(_WIN32)
#if defined(LIBUSERS_BUILDING)
#define USERS_API __declspec(dllexport)
#else
#define USERS_API __declspec(dllimport)
#endif
#else
#define USERS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct users_file users_file;

typedef enum users_result {
  USERS_OK = 0,           /* check: name and password match; find: the user is in the file;
                             open, reload: the handle holds the file as it is now */
  USERS_NO_MATCH = 1,     /* check: the user is in the file, the password is not theirs */
  USERS_UNKNOWN_USER = 2, /* check, find: no user of that name in the file */
  USERS_UNAVAILABLE = 3   /* the file could not be loaded: missing, unreadable, not a regular
                             file, malformed, or memory ran out */
} users_result;

/* Loads the password file at `path`, as `users` reaches it: its symbolic links
 * followed once, but in a directory that others may write only the caller's
 * or the directory owner's; only a regular file that a file system stores is
 * read (not one of /proc or /sys). It waits, 30 seconds at most, for a
 * rewrite of the file in place to end. On USERS_OK `*file` is a new handle
 * for users_close; otherwise it is NULL. */
USERS_API users_result users_open(const char* path, users_file** file);

/* Checks `password` for the user `name` (both zero-terminated byte strings,
 * compared exactly). The first line of a name is the user's. An unknown name
 * costs the same digest work as a known one, and the comparison takes the
 * same time wherever the digests differ, so that the time taken tells nothing.
 * An empty password never matches. The library keeps no copy of the password:
 * every byte made from it is wiped before the call returns; the caller's
 * buffer stays the caller's to wipe. */
USERS_API users_result users_check(const users_file* file, const char* name, const char* password);

/* Whether the user `name` is in the file. */
USERS_API users_result users_find(const users_file* file, const char* name);

/* Loads the file again if its path now names another file (a save by rename
 * makes a new one) or the file's size or modification time changed since the
 * load. A file changed within one step of its file system's time stamps
 * before it was loaded (a clock tick; two seconds where times are whole
 * seconds) is loaded again too, since a second change in that step would look
 * the same. Otherwise it costs one look at the name. A long-lived service
 * calls it before a check, or on a timer. When the file cannot be loaded, the
 * handle answers USERS_UNAVAILABLE until a reload succeeds. */
USERS_API users_result users_reload(users_file* file);

/* Frees the handle. NULL is allowed. */
USERS_API void users_close(users_file* file);

/* users_open, users_check and users_close in one, without a handle: the file
 * is read once and memory does not grow with it. The answer is the one a
 * handle gives, the same work is done for an unknown name, and the password
 * is treated as users_check treats it. */
USERS_API users_result users_check_file(const char* path, const char* name, const char* password);

/* users_open, users_find and users_close in one, as users_check_file. */
USERS_API users_result users_find_file(const char* path, const char* name);

/* USERS_OK when no user besides root and the file's owner may write the file
 * at `path` or any directory on its path (a sticky directory owned by root
 * or the file's owner, as /tmp, excepted); otherwise USERS_UNAVAILABLE with
 * errno EPERM, or why it could not be told. A login that trusts the file
 * calls it first. Group-writable counts, whoever the group holds. */
USERS_API users_result users_check_path(const char* path);

#ifdef __cplusplus
}
#endif

#endif /* LIBUSERS_H_ */
