// A service's handle on the file while users saves it: checks never fail
// and never see a torn file, and a reload picks up every save. Eight
// threads check on one handle meanwhile, while another thread reloads that
// same handle; the ThreadSanitizer build runs this too.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "libusers.h"
#include "tests/program.h"
#include "tests/temp_dir.h"

namespace {

constexpr int kChecks = 10000;
constexpr int kSharingThreads = 8;
// The first half by rename, the second in place. A program built with a
// sanitizer takes a tenth of a second to a second to start: fewer saves there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSaves = 24;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int kSaves = 24;
#else
constexpr int kSaves = 200;
#endif
#else
constexpr int kSaves = 200;
#endif

TEST(LibraryTest, ReadersDuringSaves) {
  TempDir dir;
  Program program(dir);
  WriteFile(program.passwordFile(), "");
  ASSERT_EQ(program.Run({"add", "-u", "stable", "-p", "pw"}).exitStatus, 0);

  users_file* following = nullptr;
  users_file* shared = nullptr;
  ASSERT_EQ(users_open(program.passwordFile().c_str(), &following), USERS_OK);
  ASSERT_EQ(users_open(program.passwordFile().c_str(), &shared), USERS_OK);

  std::atomic<bool> saving{true};
  std::atomic<int> checks{0}, failures{0}, sharedChecks{0}, sharedFailures{0};
  std::thread checker([&] {
    while (checks < kChecks || saving) {
      // Reloads beside the checks of the eight on the same handle.
      if (users_reload(shared) != USERS_OK || users_check(shared, "stable", "pw") != USERS_OK)
        ++failures;
      // In bursts too: a reload of an unchanged file is cheap, and a loop
      // of them would starve the saves.
      if (++checks % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::vector<std::thread> sharing;
  for (int t = 0; t < kSharingThreads; ++t) {
    sharing.emplace_back([&] {
      for (int i = 0; i < kChecks / kSharingThreads || saving; ++i) {
        if (users_check(shared, "stable", "pw") != USERS_OK ||
            users_check(shared, "stable", "wrong") != USERS_NO_MATCH ||
            users_find(shared, "nobody") != USERS_UNKNOWN_USER)
          ++sharedFailures;
        // In bursts, leaving the saves their share of the processors.
        if (++sharedChecks % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }

  for (int i = 0; i < kSaves; ++i) {
    // A second name makes users rewrite the file where it is.
    if (i == kSaves / 2) {
      ASSERT_EQ(::link(program.passwordFile().c_str(), dir.File("link").c_str()), 0);
    }
    std::string password = "pw" + std::to_string(i);
    SCOPED_TRACE("save " + std::to_string(i));
    switch (i % 3) {
      case 0:
        ASSERT_EQ(program.Run({"add", "-u", "x", "-p", password}).exitStatus, 0);
        break;
      case 1:  // the same size as before, in the same clock step
        ASSERT_EQ(program.Run({"add", "-r", "-u", "x", "-p", password}).exitStatus, 0);
        break;
      case 2:
        ASSERT_EQ(program.Run({"remove", "-u", "x"}).exitStatus, 0);
        break;
    }
    ASSERT_EQ(users_reload(following), USERS_OK);
    if (i % 3 == 2) {
      EXPECT_EQ(users_find(following, "x"), USERS_UNKNOWN_USER);
    } else {
      EXPECT_EQ(users_check(following, "x", password.c_str()), USERS_OK);
    }
  }
  saving = false;
  checker.join();
  for (std::thread& thread : sharing) thread.join();
  EXPECT_EQ(failures, 0) << "of " << checks << " checks";
  EXPECT_EQ(sharedFailures, 0) << "of " << sharedChecks << " on the shared handle";
  users_close(following);
  users_close(shared);
}

}  // namespace
