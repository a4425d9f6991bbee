// Faults around a save: each gives its decided output and exit status, and
// the old bytes survive wherever the save did not succeed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "tests/child_process.h"
#include "tests/program.h"
#include "tests/temp_dir.h"

namespace {

const std::string kDenied = "Operation failed:  Access Denied : Unable to update password file.\n";
const std::string kAdded = "Operation Successful:  New user entry added.\n";

std::string OldContent() {
  std::string content;
  for (int i = 0; i < 200; ++i) content += "user" + std::to_string(i) + ":AAAAAA==:digest==\n";
  return content;
}

const std::string kUnableToLoad = "Unable to load password file 'users.dat'\n";

// A group that no account needs to have: the group-shared file's.
constexpr gid_t kStaff = 4242;
// A user that no account needs to be: someone else who may write the
// directory.
constexpr uid_t kOther = 4243;

struct Fault {
  const char* name;
  // Runs after the password file was written and may add to the setup;
  // returns why the row cannot run on this machine, or "".
  std::function<std::string(const TempDir&, ChildSetup&)> prepare;
  ChildSetup setup = {};
  std::string output;
  int exitStatus;
  bool saved;                          // the new user reached the file
  std::string file = "users.dat";      // where the content lands; "": nowhere
  std::vector<std::string> gone = {};  // files the run removes
  // What else must hold afterwards.
  std::function<void(const TempDir&)> verify = [](const TempDir&) {};
  // Runs beside the program while it runs.
  std::function<void(const TempDir&)> meanwhile = nullptr;
  std::vector<std::string> arguments = {"add", "-u", "newcomer", "-p", "pw"};
  std::string program = "users";  // started as "<dir>/<program>"
  bool byBareName = false;        // started as "users" from <dir>, as sudo starts it
};

ChildSetup FileSizeLimit(long bytes, bool asNobody = false) {
  ChildSetup setup;
  setup.fileSizeLimit = bytes;
  setup.asNobody = asNobody;
  return setup;
}
ChildSetup AsNobody(std::vector<unsigned> groups = {}) {
  ChildSetup setup;
  setup.asNobody = true;
  setup.groups = std::move(groups);
  return setup;
}
ChildSetup Stdout(ChildSetup::Stdout mode) {
  ChildSetup setup;
  setup.stdoutMode = mode;
  return setup;
}

ChildSetup MemoryLimit(long bytes) {
  ChildSetup setup;
  setup.memoryLimit = bytes;
  return setup;
}

// A sanitizer reserves far more address space than any limit a row sets.
std::string WhyNoMemoryLimit() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return "a sanitizer's build needs more address space than the limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return "a sanitizer's build needs more address space than the limit";
#endif
#endif
  return "";
}

std::string NeedsRoot() { return RunningAsRoot() ? "" : "needs root to run as another user"; }

struct stat Stat(const std::string& path) {
  struct stat info = {};
  ::stat(path.c_str(), &info);
  return info;
}

// The file "outside/users.dat" mounted over "users.dat", as a container
// gets its password file; the child runs in a mount namespace of its own.
std::string PrepareBindMount(const TempDir& dir, ChildSetup& setup) {
  std::filesystem::create_directory(dir.File("outside"));
  std::filesystem::copy_file(dir.File("users.dat"), dir.File("outside/users.dat"));
  setup.beforeStart = [outside = dir.File("outside/users.dat"), inside = dir.File("users.dat")] {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount(outside.c_str(), inside.c_str(), nullptr, MS_BIND, nullptr) == 0;
  };
  if (RunInChild([] { return 0; }, setup).exitStatus != 0) {
    return "cannot mount here (needs root and mount namespaces)";
  }
  return "";
}

// The test's directory made `mode` and `owner`'s, the password file moved
// to "private/users.dat" (a directory only root may enter), and at
// "users.dat" a link to it, or through `via`, owned by `linkOwner`.
auto Linked(mode_t mode, uid_t linkOwner, uid_t owner = 0, const char* via = nullptr) {
  return [=](const TempDir& dir, ChildSetup&) {
    std::filesystem::create_directory(dir.File("private"));
    ::chmod(dir.File("private").c_str(), 0700);
    std::filesystem::rename(dir.File("users.dat"), dir.File("private/users.dat"));
    std::filesystem::create_symlink(via ? via : "private/users.dat", dir.File("users.dat"));
    if (via) std::filesystem::create_symlink("private/users.dat", dir.File(via));
    ::lchown(dir.File(via ? via : "users.dat").c_str(), linkOwner, static_cast<gid_t>(-1));
    ::chown(dir.path().c_str(), owner, static_cast<gid_t>(-1));
    ::chmod(dir.path().c_str(), mode);
    return NeedsRoot();
  };
}

// The password file as a sticky directory shared by all holds it, made
// `owner`'s, with a second name in a private directory when `linked`.
auto InStickyDirectory(uid_t owner, bool linked) {
  return [=](const TempDir& dir, ChildSetup&) {
    if (linked) {
      std::filesystem::create_directory(dir.File("private"));
      ::chmod(dir.File("private").c_str(), 0700);
      std::filesystem::create_hard_link(dir.File("users.dat"), dir.File("private/other.dat"));
    }
    ::chown(dir.File("users.dat").c_str(), owner, static_cast<gid_t>(-1));
    ::chmod(dir.File("users.dat").c_str(), 0600);
    ::chmod(dir.path().c_str(), 01777);
    return NeedsRoot();
  };
}

// A file of the kernel's that reads empty, as an empty password file does.
std::string EmptyKernelFile() {
  for (const char* path :
       {"/proc/sys/vm/stat_refresh", "/proc/sys/net/ipv4/ip_local_reserved_ports"}) {
    std::string content = ReadFile(path);
    if (content.empty()) return path;
  }
  return "";
}

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? "<none>" : std::string(value, static_cast<std::size_t>(size));
}

// An ACL granting user 65534 read access (user::rw-, user:65534:r--,
// group::<group>, mask::r--, other::---), in the kernel's format.
std::string AccessControlList(std::uint16_t group = 4) {
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  } entries[] = {
      {0x01, 6, ~0u}, {0x02, 4, 65534}, {0x04, group, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
  std::string acl("\x02\0\0\0", 4);
  acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
  return acl;
}

// Gives the password file `acl` and an extended attribute.
auto PrepareAttributes(std::string acl) {
  return [acl](const TempDir& dir, ChildSetup&) -> std::string {
    std::string file = dir.File("users.dat");
    if (::setxattr(file.c_str(), "user.origin", "hr", 2, 0) != 0 ||
        ::setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
      return "no extended attributes or ACLs on this file system";
    }
    return "";
  };
}

auto KeepsAttributes(std::string acl) {
  return [acl](const TempDir& dir) {
    EXPECT_EQ(Attribute(dir.File("users.dat"), "user.origin"), "hr");
    EXPECT_EQ(Attribute(dir.File("users.dat"), "system.posix_acl_access"), acl);
  };
}

// The argument vector of the running process started as `argv0`, as the
// process list shows it; empty while there is none.
std::string ShownArguments(const std::string& argv0) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string shown = ReadFile(entry.path() / "cmdline");
    if (shown.starts_with(argv0 + '\0')) return shown;
  }
  return "";
}

// While another process holds the lock, the run that waits for it shows
// its user name but no longer its password ("pw": two zero bytes).
void ExpectPasswordHiddenWhileWaiting(const TempDir& dir, int lock) {
  const std::string hidden = std::string("\0-u\0newcomer\0-p\0", 16) + std::string(3, '\0');
  std::string shown;
  if (std::filesystem::exists("/proc/self/cmdline")) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(shown = ShownArguments(dir.File("users"))).ends_with(hidden) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(shown.ends_with(hidden)) << "shown: " << shown;
    EXPECT_EQ(ReadFile(dir.File("users.dat")), OldContent()) << "the run did not wait";
  }
  ::close(lock);
}

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FaultTest, SaveFaults) {
  if (std::string why = WhyNobodyCannotRun(); !why.empty()) GTEST_SKIP() << why;
  auto none = [](const TempDir&, ChildSetup&) { return std::string(); };
  auto link = [](const char* target) {
    return [target](const TempDir& dir, ChildSetup&) {
      std::filesystem::remove(dir.File("users.dat"));
      std::filesystem::create_symlink(target, dir.File("users.dat"));
      return std::string();
    };
  };
  const std::string longName(250, 'n');
  int lock = -1;
  const Fault faults[] = {
      // The program ignores SIGXFSZ itself, so the write fails and is reported.
      {"file-size limit", none, FileSizeLimit(4096), kDenied, 1, false},
      // File and directory are nobody's: a rename would get around the mode.
      {"read-only password file",
       [](const TempDir& dir, ChildSetup&) {
         ::chmod(dir.File("users.dat").c_str(), 0444);
         ::chown(dir.File("users.dat").c_str(), 65534, 65534);
         ::chown(dir.path().c_str(), 65534, 65534);
         return NeedsRoot();
       },
       AsNobody(), kDenied, 1, false},
      // Root may write any file, and does: read-only stops other users only.
      {"read-only password file, root",
       [](const TempDir& dir, ChildSetup&) {
         ::chmod(dir.File("users.dat").c_str(), 0400);
         return NeedsRoot();
       },
       {},
       kAdded,
       0,
       true},
      // No new file can be made beside it, so it is rewritten where it lies.
      {"read-only directory",
       [](const TempDir& dir, ChildSetup&) {
         ::chmod(dir.File("users.dat").c_str(), 0666);
         ::chmod(dir.path().c_str(), 0555);
         return NeedsRoot();
       },
       AsNobody(), kAdded, 0, true},
      // The in-place rewrite reserves its room first: nothing is overwritten.
      {"read-only directory, file-size limit",
       [](const TempDir& dir, ChildSetup&) {
         ::chmod(dir.File("users.dat").c_str(), 0666);
         ::chmod(dir.path().c_str(), 0555);
         return NeedsRoot();
       },
       FileSizeLimit(4096, true), kDenied, 1, false},
      // A new file could not have the other user as owner (and the sticky
      // bit would refuse its rename), the file is writable: it is rewritten.
      {"another user's file in a sticky directory",
       [](const TempDir& dir, ChildSetup&) {
         ::chmod(dir.File("users.dat").c_str(), 0666);
         ::chmod(dir.path().c_str(), 01777);
         return NeedsRoot();
       },
       AsNobody(),
       kAdded,
       0,
       true,
       "users.dat",
       {},
       [](const TempDir& dir) { EXPECT_EQ(Stat(dir.File("users.dat")).st_uid, 0u); }},
      // A member cannot give a new file root as its owner, so the file is
      // rewritten and keeps owner, group and mode.
      {"group-shared file",
       [](const TempDir& dir, ChildSetup&) {
         ::chown(dir.File("users.dat").c_str(), 0, kStaff);
         ::chmod(dir.File("users.dat").c_str(), 0660);
         return NeedsRoot();
       },
       AsNobody({kStaff}),
       kAdded,
       0,
       true,
       "users.dat",
       {},
       [](const TempDir& dir) {
         struct stat info = Stat(dir.File("users.dat"));
         EXPECT_EQ(info.st_uid, 0u);
         EXPECT_EQ(info.st_gid, kStaff);
         EXPECT_EQ(info.st_mode & 07777, 0660u);
       }},
      {"ACL and extended attributes",
       PrepareAttributes(AccessControlList()),
       {},
       kAdded,
       0,
       true,
       "users.dat",
       {},
       KeepsAttributes(AccessControlList())},
      // The owning group shut out (group::---) under a mask that would let it
      // read (mask::r--): kept so, with the mode set only after the ACL.
      {"ACL that shuts the owning group out",
       PrepareAttributes(AccessControlList(0)),
       {},
       kAdded,
       0,
       true,
       "users.dat",
       {},
       KeepsAttributes(AccessControlList(0))},
      // A rename would leave the other name with the old users.
      {"hard link",
       [](const TempDir& dir, ChildSetup&) {
         std::filesystem::create_hard_link(dir.File("users.dat"), dir.File("other.dat"));
         return std::string();
       },
       {},
       kAdded,
       0,
       true,
       "users.dat",
       {},
       [](const TempDir& dir) {
         EXPECT_EQ(ReadFile(dir.File("other.dat")), ReadFile(dir.File("users.dat")));
       }},
      // The rename onto a mount point is refused (EBUSY): rewritten in place.
      {"file bind-mounted over the password file",
       PrepareBindMount,
       {},
       kAdded,
       0,
       true,
       "outside/users.dat"},
      {"name too long for a temporary name",
       [longName](const TempDir& dir, ChildSetup&) {
         std::filesystem::rename(dir.File("users.dat"), dir.File(longName));
         std::filesystem::create_symlink(longName, dir.File("users.dat"));
         return std::string();
       },
       {},
       kAdded,
       0,
       true},
      // Only files and links named exactly as a save names its own go: not
      // an administrator's copy, nor a name of an earlier form or a wrong check.
      {"files left by killed runs",
       [](const TempDir& dir, ChildSetup&) {
         WriteFile(dir.File("users.dat.tmp-Ab12Cd34Ao2c"), "left");
         for (const char* name : {"users.dat.tmp-Ab12Cd34Ao2d", "users.dat.tmp-backup",
                                  "users.dat.tmp-Ab12Cd", "other.dat.tmp-Ab12Cd34Ao2c"}) {
           WriteFile(dir.File(name), "keep");
         }
         std::filesystem::create_directory(dir.File("users.dat.tmp-Ro1234560lXU"));
         std::filesystem::create_symlink("users.dat", dir.File("users.dat.tmp-Lnk12345gL5r"));
         return std::string();
       },
       {},
       kAdded,
       0,
       true,
       "users.dat",
       {"users.dat.tmp-Ab12Cd34Ao2c", "users.dat.tmp-Lnk12345gL5r"}},
      // Links at names a save might pick, to a file someone wants written:
      // the names are random, and the links go.
      {"links planted at temporary names",
       [](const TempDir& dir, ChildSetup&) {
         WriteFile(dir.File("victim"), "keep");
         for (const char* name : {"users.dat.tmp-aaaaaaaa0t3o", "users.dat.tmp-AAAAAAAAM0D7",
                                  "users.dat.tmp-00000000W5Zp", "users.dat.tmp-Zz9Zz9Zz88F1"}) {
           std::filesystem::create_symlink("victim", dir.File(name));
         }
         return std::string();
       },
       {},
       kAdded,
       0,
       true,
       "users.dat",
       {"users.dat.tmp-aaaaaaaa0t3o", "users.dat.tmp-AAAAAAAAM0D7", "users.dat.tmp-00000000W5Zp",
        "users.dat.tmp-Zz9Zz9Zz88F1"},
       [](const TempDir& dir) { EXPECT_EQ(ReadFile(dir.File("victim")), "keep"); }},
      {"device /dev/null", link("/dev/null"), {}, kUnableToLoad, 1, false, ""},
      {"device /dev/zero", link("/dev/zero"), {}, kUnableToLoad, 1, false, ""},
      {"FIFO",
       [](const TempDir& dir, ChildSetup&) {
         std::filesystem::remove(dir.File("users.dat"));
         ::mkfifo(dir.File("users.dat").c_str(), 0666);
         return std::string();
       },
       {},
       kUnableToLoad,
       1,
       false,
       ""},
      // Held as the program takes it, until the password was seen hidden.
      {"lock held by another process",
       [&lock](const TempDir& dir, ChildSetup&) {
         lock = ::open(dir.File("users.dat").c_str(), O_RDONLY | O_CLOEXEC);
         return LockWholeFile(lock, F_RDLCK) ? "" : "no record locks here";
       },
       {},
       kAdded,
       0,
       true,
       "users.dat",
       {},
       [](const TempDir&) {},
       [&lock](const TempDir& dir) { ExpectPasswordHiddenWhileWaiting(dir, lock); }},
      // Links in directories that others may write are followed only when
      // the running user or the directory's owner made them; anything else
      // is a file that cannot be loaded, and nothing is written.
      {.name = "another user's link in a group-writable directory",
       .prepare = Linked(0775, kOther),
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat"},
      {.name = "another user's link in a sticky directory",
       .prepare = Linked(01777, kOther),
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat"},
      {.name = "the user's own link in a sticky directory",
       .prepare = Linked(01777, 0),
       .output = kAdded,
       .exitStatus = 0,
       .saved = true,
       .file = "private/users.dat"},
      // Whoever controls the directory may point a run only at what they
      // own: not at root's file, in a sticky directory or in their home, where
      // sudo runs by the bare name in the caller's working directory.
      {.name = "the directory owner's link to root's file in a sticky directory",
       .prepare = Linked(01777, kOther, kOther),
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat"},
      {.name = "sudo in a user's home that links users.dat to root's file",
       .prepare = Linked(0755, kOther, kOther),
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat",
       .byBareName = true},
      {.name = "the home owner's link to a file of their own",
       .prepare =
           [](const TempDir& dir, ChildSetup& setup) {
             Linked(0755, kOther, kOther)(dir, setup);
             for (const char* name : {"private", "private/users.dat"}) {
               ::chown(dir.File(name).c_str(), kOther, static_cast<gid_t>(-1));
             }
             return NeedsRoot();
           },
       .output = kAdded,
       .exitStatus = 0,
       .saved = true,
       .file = "private/users.dat",
       .byBareName = true},
      {.name = "a chain of links, the second another user's",
       .prepare = Linked(01777, kOther, 0, "hop"),
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat"},
      // The program started through a directory that is another user's link.
      {.name = "another user's link as a parent directory",
       .prepare =
           [](const TempDir& dir, ChildSetup& setup) {
             Linked(01777, kOther)(dir, setup);
             std::filesystem::create_directory_symlink("private", dir.File("sub"));
             ::lchown(dir.File("sub").c_str(), kOther, static_cast<gid_t>(-1));
             return NeedsRoot();
           },
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat",
       .program = "sub/users"},
      // The same through a link of root's to "." that ends the other's link:
      // what that led to is still checked.
      {.name = "another user's link to root's link to \".\"",
       .prepare =
           [](const TempDir& dir, ChildSetup& setup) {
             Linked(01777, kOther)(dir, setup);
             std::filesystem::create_directory_symlink(".", dir.File("private/dot"));
             std::filesystem::create_directory_symlink("private/dot", dir.File("sub"));
             ::lchown(dir.File("sub").c_str(), kOther, static_cast<gid_t>(-1));
             return NeedsRoot();
           },
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "private/users.dat",
       .program = "sub/users"},
      // Its content is the kernel's: never loaded, even to check.
      {.name = "link to a kernel file",
       .prepare =
           [](const TempDir& dir, ChildSetup&) {
             std::string file = EmptyKernelFile();
             if (file.empty()) return std::string("no kernel file that reads empty");
             std::filesystem::remove(dir.File("users.dat"));
             std::filesystem::create_symlink(file, dir.File("users.dat"));
             return std::string();
           },
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "",
       .arguments = {"check", "-u", "newcomer", "-p", "pw"}},
      // Anyone may link any file into a sticky directory shared by all
      // where the kernel does not protect hard links: not changed there.
      {.name = "a second name in a sticky directory",
       .prepare = InStickyDirectory(0, true),
       .output = kDenied,
       .exitStatus = 1,
       .saved = false,
       .verify =
           [](const TempDir& dir) {
             EXPECT_EQ(ReadFile(dir.File("private/other.dat")), OldContent());
           }},
      // A team's directory, where every member may read and write the file
      // and so could have made the name: rewritten in place.
      {.name = "a second name in a team's group-writable directory",
       .prepare =
           [](const TempDir& dir, ChildSetup&) {
             std::filesystem::create_hard_link(dir.File("users.dat"), dir.File("backup.dat"));
             ::chown(dir.File("users.dat").c_str(), 0, kStaff);
             ::chmod(dir.File("users.dat").c_str(), 0660);
             ::chown(dir.path().c_str(), 0, kStaff);
             ::chmod(dir.path().c_str(), 0775);
             return NeedsRoot();
           },
       .output = kAdded,
       .exitStatus = 0,
       .saved = true,
       .verify =
           [](const TempDir& dir) {
             EXPECT_EQ(ReadFile(dir.File("backup.dat")), ReadFile(dir.File("users.dat")));
           }},
      {.name = "another user's file in a sticky directory, for root",
       .prepare = InStickyDirectory(kOther, false),
       .output = kDenied,
       .exitStatus = 1,
       .saved = false},
      {.name = "another user's look-alike of a leftover in a sticky directory",
       .prepare =
           [](const TempDir& dir, ChildSetup& setup) {
             WriteFile(dir.File("users.dat.tmp-Ab12Cd34Ao2c"), "theirs");
             ::chown(dir.File("users.dat.tmp-Ab12Cd34Ao2c").c_str(), kOther,
                     static_cast<gid_t>(-1));
             return InStickyDirectory(0, false)(dir, setup);
           },
       .output = kAdded,
       .exitStatus = 0,
       .saved = true,
       .verify =
           [](const TempDir& dir) {
             EXPECT_EQ(ReadFile(dir.File("users.dat.tmp-Ab12Cd34Ao2c")), "theirs");
           }},
      // The load's failure line, as for any file that cannot be loaded.
      {.name = "out of memory while loading",
       .prepare =
           [](const TempDir& dir, ChildSetup&) {
             std::string many;
             for (int i = 0; i < 1'000'000; ++i) many += "u" + std::to_string(i) + ":s:d\n";
             WriteFile(dir.File("users.dat"), many);
             return WhyNoMemoryLimit();
           },
       .setup = MemoryLimit(16 << 20),
       .output = kUnableToLoad,
       .exitStatus = 1,
       .saved = false,
       .file = "",
       .verify =
           [](const TempDir& dir) {
             EXPECT_EQ(std::filesystem::file_size(dir.File("users.dat")), 11'888'890u);
           }},
      {"closed standard output", none, Stdout(ChildSetup::Stdout::kClosed), "", 0, true},
      {"broken pipe", none, Stdout(ChildSetup::Stdout::kBrokenPipe), "", 0, true},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    TempDir dir;
    Program program = fault.byBareName ? Program::ByBareName(dir) : Program(dir, fault.program);
    const std::string old = OldContent();
    WriteFile(dir.File("users.dat"), old);
    ChildSetup setup = fault.setup;
    if (fault.byBareName) setup.workingDirectory = dir.path();
    std::string skip = fault.prepare(dir, setup);
    if (!skip.empty()) {
      std::printf("skipped \"%s\": %s\n", fault.name, skip.c_str());
      ::chmod(dir.path().c_str(), 0755);
      continue;
    }
    std::vector<std::string> entries = Entries(dir.path());

    std::thread beside;
    if (fault.meanwhile) beside = std::thread(fault.meanwhile, std::cref(dir));
    ChildResult result = program.Run(fault.arguments, setup);
    if (beside.joinable()) beside.join();
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(result.output, fault.output);
    EXPECT_EQ(result.exitStatus, fault.exitStatus);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.errors, "");
    if (!fault.file.empty()) {
      std::string after = ReadFile(dir.File(fault.file));
      EXPECT_EQ(after.substr(0, old.size()), old);
      EXPECT_EQ(after.size() > old.size(), fault.saved);
    }
    for (const std::string& name : fault.gone) {
      entries.erase(std::find(entries.begin(), entries.end(), name));
    }
    EXPECT_EQ(Entries(dir.path()), entries) << "no temporary file stays behind";
    fault.verify(dir);
  }
}

TEST(FaultTest, RemoveThatCannotSaveKeepsTheUser) {
  TempDir dir;
  Program program(dir);
  WriteFile(program.passwordFile(), OldContent());
  ChildResult result = program.Run({"remove", "-u", "user0"}, FileSizeLimit(4096));
  EXPECT_EQ(result.output, kDenied);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(ReadFile(program.passwordFile()), OldContent());
}

TEST(FaultTest, SymbolicLinkStaysAndItsFileIsReplaced) {
  TempDir dir;
  Program program(dir);
  std::filesystem::create_directory(dir.File("real"));
  WriteFile(dir.File("real/passwords"), OldContent());
  std::filesystem::create_symlink("real/passwords", program.passwordFile());

  EXPECT_EQ(program.Run({"add", "-u", "newcomer", "-p", "pw"}).output, kAdded);
  EXPECT_TRUE(std::filesystem::is_symlink(program.passwordFile()));
  EXPECT_EQ(ReadFile(dir.File("real/passwords")).size(), OldContent().size() + 43);
  EXPECT_EQ(program.Run({"remove", "-u", "newcomer"}).exitStatus, 0);
  EXPECT_EQ(ReadFile(dir.File("real/passwords")), OldContent());
}

TEST(FaultTest, EmptyArgumentVectorPrintsTheUsage) {
  ChildResult result = RunProgram(USERS_BINARY, {});
  EXPECT_EQ(result.output, kUsage);
  EXPECT_EQ(result.exitStatus, 1);
}

}  // namespace
