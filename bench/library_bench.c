/* Times libusers on one password file: the open (load and index), checks on
 * the open handle, reloads of an unchanged file and checks without a handle;
 * then tells what the process keeps after more opens and closes. Every
 * user's password is "secret" (bench/generate.py).
 *   library_bench FILE NAME [CHECKS] */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "libusers.h"

/* Resident memory in KiB, from Linux's /proc; -1 where there is none. */
static long ResidentKiB(void) {
  long pages = -1, resident = -1;
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == NULL) return -1;
  if (fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
  fclose(statm);
  return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

static double Seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: library_bench FILE NAME [CHECKS]\n");
    return 2;
  }
  long checks = argc > 3 ? atol(argv[3]) : 1000000;
  users_file* file = NULL;
  double start = Seconds();
  if (users_open(argv[1], &file) != USERS_OK) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  double opened = Seconds() - start;

  long failed = 0;
  start = Seconds();
  for (long i = 0; i < checks; ++i) failed += users_check(file, argv[2], "secret") != USERS_OK;
  double checking = Seconds() - start;

  /* A file written just before its load is loaded once more. */
  failed += users_reload(file) != USERS_OK;
  start = Seconds();
  for (int i = 0; i < 1000; ++i) failed += users_reload(file) != USERS_OK;
  double reloading = (Seconds() - start) / 1000;

  users_close(file);

  /* Without a handle: one pass over the file for each check, a user in the
   * file and one not in it. */
  double once[2];
  for (int unknown = 0; unknown < 2; ++unknown) {
    users_result want = unknown ? USERS_UNKNOWN_USER : USERS_OK;
    start = Seconds();
    for (int i = 0; i < 20; ++i) {
      failed += users_check_file(argv[1], unknown ? "no such user" : argv[2], "secret") != want;
    }
    once[unknown] = (Seconds() - start) / 20;
  }

  /* What a process keeps of handles it opened and closed. */
  for (int i = 0; i < 20; ++i) {
    users_file* again = NULL;
    failed += users_open(argv[1], &again) != USERS_OK;
    users_close(again);
  }

  printf("open: %.1f ms\n", opened * 1e3);
  printf("check on the open handle: %.2f us, %.0f checks/s\n", checking / (double)checks * 1e6,
         (double)checks / checking);
  printf("reload, file unchanged: %.1f us\n", reloading * 1e6);
  printf("users_check_file, one pass: %.2f ms (an unknown name: %.2f ms)\n", once[0] * 1e3,
         once[1] * 1e3);
  printf("resident after 20 more opens and closes: %ld KiB\n", ResidentKiB());
  return failed == 0 ? 0 : 1;
}
