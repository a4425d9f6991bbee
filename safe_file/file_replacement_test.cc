// Every call of a save fails in turn, in memory and through this system's
// own calls, and the power is cut at every call, on a file system that keeps
// what was synced apart from what was not.
// Whatever fails, the password file holds the old users or the new ones,
// whole, and nothing stays behind that the next save does not remove.

#include "safe_file/file_replacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "platform/system.h"
#include "safe_file/held_file.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <memory>

#include "platform/posix/calls.h"
#include "tests/temp_dir.h"
#endif

namespace {

using platform::Error;
using platform::Handle;

constexpr std::size_t kBlock = 4096;
constexpr Handle kDirectory = 1;
const std::string kName = "users.dat";

// One directory in memory. A file's data and the directory's names each
// have a current state and the one a power cut would leave.
class FaultySystem final : public platform::System {
 public:
  struct Node {
    platform::FileType type = platform::FileType::kRegular;
    std::string data, durable, linkTarget;
    bool readOnly = false;         // this user may not open it for writing
    std::int64_t lockedUntil = 0;  // another process holds its locks until then
  };
  using Names = std::map<std::string, int>;

  std::vector<Node> nodes;
  Names names, durableNames;
  std::vector<Names> unsyncedNames;  // each name change since the last directory sync
  std::vector<std::string> calls;    // in order, for the rows that check it
  std::vector<std::string> counted;  // those that can fail, and cut the power
  int failAt = 0;                    // the call that fails, counted from 1; 0: none
  Error failWith = Error::kIo;
  int cutAt = 0;  // the call before which the power is cut; 0: never
  std::set<std::string> statesAtCut;
  bool rewritingAtCut = false;  // the first file had unsynced data then
  bool refuseRename = false;
  bool noLocks = false;  // a file system without record locks
  int takenNames = 0;    // Create finds this many random names taken
  // Runs once, as the first call named `hookAt` is made.
  std::function<void()> hook;
  std::string hookAt;
  std::int64_t clock = 0;              // microseconds, moved on only by Sleep
  std::function<void()> tick = [] {};  // runs after each Sleep
  std::map<Handle, int> open;
  std::set<Handle> created;

  int AddFile(const std::string& name, const std::string& data,
              platform::FileType type = platform::FileType::kRegular) {
    nodes.push_back({type, data, data, ""});
    durableNames[name] = names[name] = static_cast<int>(nodes.size() - 1);
    return names[name];
  }
  std::string Content(const std::string& name) const {
    auto found = names.find(name);
    return found == names.end() ? "<missing>" : nodes[found->second].data;
  }

  Error OpenDirectory(const std::string& path, const LinkRule& mayFollow, Handle* directory,
                      std::string* name) override {
    if (Error error = Call("OpenDirectory"); error != Error::kNone) return error;
    *name = path;
    while (names.count(*name) && Type(*name) == platform::FileType::kLink) {
      if (mayFollow(platform::FileInfo(), Info(names[*name])) == platform::LinkLimit::kRefuse) {
        return Error::kDenied;
      }
      *name = nodes[names[*name]].linkTarget;
    }
    *directory = kDirectory;
    return Error::kNone;
  }
  Error OpenParent(Handle, Handle*) override { return Error::kUnsupported; }
  Error Inspect(Handle, const std::string& name, platform::FileInfo* info) override {
    if (Error error = Call("Inspect"); error != Error::kNone) return error;
    if (!names.count(name)) return Error::kMissing;
    *info = Info(names[name]);
    return Error::kNone;
  }
  Error Open(Handle, const std::string& name, platform::Access access, Handle* file) override {
    if (Error error = Call("Open " + name); error != Error::kNone) return error;
    if (!names.count(name) || Type(name) == platform::FileType::kLink) return Error::kMissing;
    if (access == platform::Access::kReadWrite && nodes[names[name]].readOnly) {
      return Error::kDenied;
    }
    return NewHandle(names[name], file);
  }
  Error Describe(Handle file, platform::FileInfo* info) override {
    if (Error error = Call("Describe"); error != Error::kNone) return error;
    *info = file == kDirectory ? platform::FileInfo() : Info(open.at(file));
    return Error::kNone;
  }
  Error LockContent(Handle file, platform::ContentLock lock) override {
    if (Error error = Call("LockContent"); error != Error::kNone) return error;
    return lock == platform::ContentLock::kUnlock ? Error::kNone : Locked(file);
  }
  Error TakeTurn(Handle file, Handle* turn) override {
    *turn = platform::kNoHandle;
    if (Error error = Call("TakeTurn"); error != Error::kNone) return error;
    return Locked(file);
  }
  Error ReadAt(Handle file, std::uint64_t offset, char* buffer, std::size_t capacity,
               std::size_t* count) override {
    if (Error error = Call("ReadAt"); error != Error::kNone) return error;
    const std::string& data = nodes[open.at(file)].data;
    *count = offset >= data.size() ? 0 : data.copy(buffer, capacity, offset);
    return Error::kNone;
  }
  Error WriteAt(Handle file, std::uint64_t offset, std::string_view bytes) override {
    // A write that fails may have written part of its bytes.
    Error error = Call("WriteAt");
    if (error != Error::kNone) bytes = bytes.substr(0, bytes.size() / 2);
    std::string& data = nodes[open.at(file)].data;
    if (data.size() < offset + bytes.size()) data.resize(offset + bytes.size());
    data.replace(offset, bytes.size(), bytes);
    return error;
  }
  Error Truncate(Handle file, std::uint64_t size) override {
    if (Error error = Call("Truncate"); error != Error::kNone) return error;
    nodes[open.at(file)].data.resize(size);
    return Error::kNone;
  }
  Error Reserve(Handle, std::uint64_t) override { return Call("Reserve"); }
  Error Sync(Handle file) override {
    if (Error error = Call("Sync"); error != Error::kNone) return error;
    nodes[open.at(file)].durable = nodes[open.at(file)].data;
    return Error::kNone;
  }
  Error SyncDirectory(Handle) override {
    if (Error error = Call("SyncDirectory"); error != Error::kNone) return error;
    durableNames = names;
    unsyncedNames.clear();
    return Error::kNone;
  }
  Error Create(Handle, const std::string& name, Handle, Handle* file) override {
    if (Error error = Call("Create"); error != Error::kNone) return error;
    if (names.count(name) || takenNames-- > 0) return Error::kExists;
    nodes.push_back({});
    Rename(name, static_cast<int>(nodes.size() - 1));
    NewHandle(names[name], file);
    created.insert(*file);
    return Error::kNone;
  }
  Error CopyAttributes(Handle, Handle, platform::Attributes what) override {
    return Call("CopyAttributes " + std::to_string(static_cast<int>(what)));
  }
  Error Rename(Handle, const std::string& from, Handle, const std::string& to) override {
    if (Error error = Call("Rename"); error != Error::kNone) return error;
    if (refuseRename) return Error::kDenied;
    Rename(to, names.at(from));
    Rename(from, -1);
    return Error::kNone;
  }
  Error Remove(Handle, const std::string& name, Handle) override {
    if (Error error = Call("Remove"); error != Error::kNone) return error;
    Rename(name, -1);
    return Error::kNone;
  }
  Error RemoveUnused(Handle, const std::string& name) override {
    if (Error error = Call("RemoveUnused"); error != Error::kNone) return error;
    for (Handle handle : created) {
      if (open.at(handle) == names.at(name)) return Error::kBusy;
    }
    Rename(name, -1);
    return Error::kNone;
  }
  Error List(Handle, std::vector<std::string>* list) override {
    if (Error error = Call("List"); error != Error::kNone) return error;
    list->clear();
    for (const auto& [name, node] : names) list->push_back(name);
    return Error::kNone;
  }
  std::size_t NameMax(Handle) override { return 255; }
  Error Random(std::uint64_t* value) override {
    *value = next_ = next_ * 6364136223846793005u + 1442695040888963407u;
    return Call("Random");
  }
  std::uint64_t User() override { return platform::kSuperuser; }
  std::int64_t Now() override { return clock; }
  void Sleep(std::int64_t microseconds) override {
    clock += microseconds;
    tick();
  }
  void Close(Handle handle) override {
    open.erase(handle);
    created.erase(handle);
  }
  void HoldSignals(platform::SignalHold hold) override {
    calls.push_back("HoldSignals " + std::to_string(static_cast<int>(hold)));
  }
  void RemoveOnSignal(Handle, const std::string&, Handle) override {}

  // Every content that a power cut now could leave under `name`: each
  // unsynced change of the names made or not, in order; each file's
  // unsynced data kept or lost by block, and its size old or new.
  std::set<std::string> CrashStates(const std::string& name) const {
    std::vector<Names> namings = {durableNames};
    namings.insert(namings.end(), unsyncedNames.begin(), unsyncedNames.end());
    std::set<std::string> states;
    for (const Names& naming : namings) {
      auto found = naming.find(name);
      if (found == naming.end()) {
        states.insert("<missing>");
        continue;
      }
      const Node& node = nodes[found->second];
      std::size_t blocks = (std::max(node.data.size(), node.durable.size()) + kBlock - 1) / kBlock;
      std::vector<std::vector<bool>> keeps;  // which blocks' new data a cut keeps
      for (std::size_t mask = 0; blocks <= 6 && mask < (1u << blocks); ++mask) {
        keeps.emplace_back(blocks);
        for (std::size_t b = 0; b < blocks; ++b) keeps.back()[b] = (mask >> b) & 1;
      }
      for (std::size_t cut = 0; blocks > 6 && cut <= blocks; ++cut) {
        keeps.emplace_back(blocks);
        for (std::size_t b = 0; b < blocks; ++b) keeps.back()[b] = b < cut;
        keeps.emplace_back(blocks);
        for (std::size_t b = 0; b < blocks; ++b) keeps.back()[b] = b >= cut;
      }
      for (std::size_t size : {node.data.size(), node.durable.size()}) {
        for (const std::vector<bool>& keep : keeps) {
          std::string state(size, '\0');
          for (std::size_t i = 0; i < size; ++i) {
            const std::string& from = keep[i / kBlock] ? node.data : node.durable;
            if (i < from.size()) state[i] = from[i];
          }
          states.insert(state);
        }
      }
    }
    return states;
  }

 private:
  // Counts the call, and fails it if it is the one.
  Error Call(const std::string& what) {
    calls.push_back(what);
    counted.push_back(what);
    if (hook && what == hookAt) std::exchange(hook, nullptr)();
    int number = static_cast<int>(counted.size());
    if (number == cutAt) {
      statesAtCut = CrashStates(kName);
      rewritingAtCut = nodes[0].data != nodes[0].durable;
    }
    return number == failAt ? failWith : Error::kNone;
  }
  platform::FileType Type(const std::string& name) { return nodes[names.at(name)].type; }
  Error Locked(Handle file) {
    if (noLocks) return Error::kUnsupported;
    return clock < nodes[open.at(file)].lockedUntil ? Error::kBusy : Error::kNone;
  }
  platform::FileInfo Info(int node) {
    platform::FileInfo info;
    info.type = nodes[node].type;
    info.index = static_cast<std::uint64_t>(node);
    info.size = nodes[node].data.size();
    info.links = static_cast<std::uint64_t>(std::count_if(
        names.begin(), names.end(), [node](const auto& entry) { return entry.second == node; }));
    return info;
  }
  Error NewHandle(int node, Handle* file) {
    *file = ++lastHandle_;
    open[*file] = node;
    return Error::kNone;
  }
  void Rename(const std::string& name, int node) {
    if (node < 0) {
      names.erase(name);
    } else {
      names[name] = node;
    }
    unsyncedNames.push_back(names);
  }

  Handle lastHandle_ = kDirectory;
  std::uint64_t next_ = 1;
};

// A file of `users` lines, the first of them "user0".
std::string FileOf(int users) {
  std::string content;
  for (int i = 0; i < users; ++i) {
    content += "user" + std::to_string(i) + ":AAAAAA==:" + std::string(24, 'a' + i % 26) + "\n";
  }
  return content;
}

// What `operation` makes of the file `before`: a line added at the end, the
// first line's digest replaced, or the first line removed.
std::string After(const std::string& operation, const std::string& before) {
  std::string rest = before.substr(std::min(before.size(), before.find('\n') + 1));
  if (operation == "add") return before + "newcomer:QUJDRA==:" + std::string(22, 'n') + "==\n";
  if (operation == "add -r") return "user0:AAAAAA==:" + std::string(24, 'r') + "\n" + rest;
  return rest;
}

// A run that changes the file, as the program's runs do: it holds the file
// for a change, reads it, and saves new content in its place.
class ChangingRun {
 public:
  explicit ChangingRun(platform::System& system, const std::string& path = kName)
      : file_(system), path_(path) {}

  // Holds the file and reads it into `*content`; false when it cannot.
  bool Load(std::string* content) {
    if (file_.Open(path_, safe_file::HeldFile::Purpose::kChange) !=
        safe_file::HeldFile::Outcome::kOpen) {
      return false;
    }
    content->clear();
    char buffer[4096];
    for (std::ptrdiff_t count; (count = file_.Read(buffer, sizeof buffer)) != 0;) {
      if (count < 0) return false;
      content->append(buffer, static_cast<std::size_t>(count));
    }
    return file_.Unchanged();
  }

  // Saves `content` and lets the file go: whether the save said it did.
  bool Save(const std::string& content) {
    bool saved;
    {
      safe_file::FileReplacement replacement(file_);
      saved = replacement.Begin() && replacement.Write(content) && replacement.Commit();
    }
    file_.Close();
    return saved;
  }

 private:
  safe_file::HeldFile file_;
  std::string path_;
};

// Where a scenario's saves run, and how a call of theirs is failed.
class World {
 public:
  virtual ~World() = default;
  virtual platform::System& system() = 0;
  virtual std::string Path(const std::string& name) = 0;
  virtual void Put(const std::string& name, const std::string& content) = 0;
  virtual void Link(const std::string& name, const std::string& other) = 0;
  virtual void RefuseRenames() = 0;
  virtual std::string Content(const std::string& name) = 0;
  virtual std::vector<std::string> Names() = 0;
  virtual int OpenHandles() = 0;
  // The calls that can fail, in the order made; the errors each can give.
  virtual const std::vector<std::string>& Counted() = 0;
  virtual std::vector<int> ErrorsOf(const std::string& call) = 0;
  // Fails the `at`-th call (from 1) with `error`; 0: none.
  virtual void Fail(int at, int error) = 0;
  // Whether a file that a save left may stay after the failure of `call`.
  virtual bool MayLeaveAFile(const std::string& call) = 0;
};

class MemoryWorld final : public World {
 public:
  platform::System& system() override { return files_; }
  std::string Path(const std::string& name) override { return name; }
  void Put(const std::string& name, const std::string& content) override {
    files_.AddFile(name, content);
    files_.durableNames = files_.names;
  }
  void Link(const std::string& name, const std::string& other) override {
    files_.names[other] = files_.names[name];
    files_.durableNames = files_.names;
  }
  void RefuseRenames() override { files_.refuseRename = true; }
  std::string Content(const std::string& name) override { return files_.Content(name); }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const auto& [name, node] : files_.names) names.push_back(name);
    return names;
  }
  int OpenHandles() override { return static_cast<int>(files_.open.size()); }
  const std::vector<std::string>& Counted() override { return files_.counted; }
  std::vector<int> ErrorsOf(const std::string&) override {
    std::vector<int> errors;
    for (int error = static_cast<int>(Error::kMissing); error <= static_cast<int>(Error::kIo);
         ++error) {
      errors.push_back(error);
    }
    return errors;
  }
  void Fail(int at, int error) override {
    files_.failAt = at;
    files_.failWith = static_cast<Error>(error);
  }
  bool MayLeaveAFile(const std::string& call) override { return call == "Remove"; }
  FaultySystem& files() { return files_; }

 private:
  FaultySystem files_;
};

#ifndef _WIN32
// This system's own calls over a scratch directory, through a table whose
// entries fail when their turn comes; fsync does nothing else, as a power
// cut is the other test's.
class NativeWorld final : public World {
 public:
  NativeWorld() : system_(platform::posix::MakeSystem(kCalls)) { current_ = this; }
  ~NativeWorld() override { current_ = nullptr; }

  platform::System& system() override { return *system_; }
  std::string Path(const std::string& name) override { return dir_.File(name); }
  void Put(const std::string& name, const std::string& content) override {
    WriteFile(dir_.File(name), content);
  }
  void Link(const std::string& name, const std::string& other) override {
    std::filesystem::create_hard_link(dir_.File(name), dir_.File(other));
  }
  void RefuseRenames() override {}
  std::string Content(const std::string& name) override { return ReadFile(dir_.File(name)); }
  std::vector<std::string> Names() override {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  int OpenHandles() override {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(begin(entries), end(entries)));
  }
  const std::vector<std::string>& Counted() override { return counted_; }
  std::vector<int> ErrorsOf(const std::string& call) override {
    static const std::map<std::string, std::vector<int>> kErrors = {
        {"openat", {ENOENT, EACCES, EEXIST, EMFILE, ENOSPC, EROFS, EINTR}},
        {"fstatat", {ENOENT, EACCES, EIO}},
        {"fstat", {EIO}},
        {"fstatfs", {EIO, ENOSYS}},
        {"readlinkat", {EIO}},
        {"lock", {EAGAIN, ENOLCK, EINTR}},
        {"pread", {EIO, EINTR}},
        {"pwrite", {ENOSPC, EDQUOT, EFBIG, EIO, EINTR}},
        {"ftruncate", {EIO, EFBIG, EINTR}},
        {"fallocate", {ENOSPC, EOPNOTSUPP, EFBIG}},
        {"fsync", {EIO, ENOSPC}},
        {"fchown", {EPERM}},
        {"fchmod", {EPERM}},
        {"flistxattr", {ENOTSUP, EIO}},
        {"fgetxattr", {ENOTSUP, EIO}},
        {"fsetxattr", {EPERM, ENOSPC}},
        {"fremovexattr", {EPERM}},
        {"renameat", {EBUSY, EXDEV, EACCES, ENOSPC, EIO}},
        {"unlinkat", {EACCES, EBUSY, EIO}},
        {"dup", {EMFILE}},
        {"getentropy", {EIO}},
    };
    return kErrors.at(call);
  }
  void Fail(int at, int error) override {
    failAt_ = at;
    failWith_ = error;
  }
  bool MayLeaveAFile(const std::string& call) override { return call == "unlinkat"; }

 private:
  // Counts the call, and fails it if it is the one.
  static bool Failed(const char* call) {
    current_->counted_.push_back(call);
    if (static_cast<int>(current_->counted_.size()) != current_->failAt_) return false;
    errno = current_->failWith_;
    return true;
  }
  template <typename Result>
  static Result Fails() {
    return static_cast<Result>(-1);
  }
#define USERS_FAULTY(call)                                                                \
  [](auto... args) {                                                                      \
    using Result = decltype(platform::posix::kSystemCalls.call(args...));                 \
    return Failed(#call) ? Fails<Result>() : platform::posix::kSystemCalls.call(args...); \
  }
  static constexpr platform::posix::Calls kCalls = {
      .openat = USERS_FAULTY(openat),
      .fstatat = USERS_FAULTY(fstatat),
      .fstat = USERS_FAULTY(fstat),
      .fstatfs = USERS_FAULTY(fstatfs),
      .readlinkat = USERS_FAULTY(readlinkat),
      .lock = USERS_FAULTY(lock),
      .pread = USERS_FAULTY(pread),
      .pwrite = USERS_FAULTY(pwrite),
      .ftruncate = USERS_FAULTY(ftruncate),
      .fallocate = USERS_FAULTY(fallocate),
      .fsync = [](int) { return Failed("fsync") ? -1 : 0; },
      .fchown = USERS_FAULTY(fchown),
      .fchmod = USERS_FAULTY(fchmod),
      .flistxattr = USERS_FAULTY(flistxattr),
      .fgetxattr = USERS_FAULTY(fgetxattr),
      .fsetxattr = USERS_FAULTY(fsetxattr),
      .fremovexattr = USERS_FAULTY(fremovexattr),
      .renameat = USERS_FAULTY(renameat),
      .unlinkat = USERS_FAULTY(unlinkat),
      .dup = USERS_FAULTY(dup),
      .getentropy = USERS_FAULTY(getentropy),
  };
#undef USERS_FAULTY

  static NativeWorld* current_;
  TempDir dir_;
  std::unique_ptr<platform::System> system_;
  std::vector<std::string> counted_;
  int failAt_ = 0;
  int failWith_ = 0;
};
NativeWorld* NativeWorld::current_ = nullptr;
#endif

// How a scenario's password file stands before the save.
enum class Path { kReplace, kHardLink, kRefusedRename };

struct Scenario {
  const char* operation;
  Path path;
  int users;
};

// A leftover of a killed save, which a save sweeps away.
const std::string kLeftover = "users.dat.tmp-Ab12Cd34Ao2c";

// Sets `world` up for `scenario` and runs it: true when the save said it
// succeeded. `*before` and `*after` get the content before and the one the
// run meant to save.
bool RunScenario(const Scenario& scenario, World& world, std::string* before, std::string* after,
                 bool leftover = false) {
  *before = FileOf(scenario.users);
  *after = After(scenario.operation, *before);
  world.Put(kName, *before);
  if (leftover) world.Put(kLeftover, "left");
  if (scenario.path == Path::kHardLink) world.Link(kName, "other.dat");
  if (scenario.path == Path::kRefusedRename) world.RefuseRenames();
  ChangingRun run(world.system(), world.Path(kName));
  std::string read;
  return run.Load(&read) && read == *before && run.Save(*after);
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> scenarios;
  for (const char* operation : {"add", "add -r", "remove"}) {
    for (Path path : {Path::kReplace, Path::kHardLink, Path::kRefusedRename}) {
      // Empty, one line, and several blocks.
      for (int users : {0, 1, 300}) {
        if (users > 0 || std::string(operation) == "add")
          scenarios.push_back({operation, path, users});
      }
    }
  }
  return scenarios;
}

// Whatever call fails with whatever error, the file holds the old users or
// the new ones, as the run says; no handle stays open, the run leaves no
// file of its own unless removing it was what failed, and a save after it
// leaves only the password file and its other name. In memory, every call
// fails with every kind of error; over this system's own calls, every call
// with every error it can give.
TEST(SaveFaultTest, EveryCallFailsInTurn) {
  struct Kind {
    const char* name;
    std::function<std::unique_ptr<World>()> make;
    bool leftover;  // a killed run's leftover to sweep, so that the sweep fails too
  } kinds[] = {
      {"in memory", [] { return std::make_unique<MemoryWorld>(); }, false},
#ifndef _WIN32
      {"POSIX calls", [] { return std::make_unique<NativeWorld>(); }, true},
#endif
  };
  for (const Kind& kind : kinds) {
    int cases = 0, failedSaves = 0;
    for (const Scenario& scenario : Scenarios()) {
      std::string before, after;
      auto clean = kind.make();
      if (scenario.path == Path::kRefusedRename && kind.leftover) continue;  // no refusal at will
      ASSERT_TRUE(RunScenario(scenario, *clean, &before, &after, kind.leftover));
      const std::vector<std::string> calls = clean->Counted();
      for (int failAt = 1; failAt <= static_cast<int>(calls.size()); ++failAt) {
        for (int error : clean->ErrorsOf(calls[failAt - 1])) {
          SCOPED_TRACE(std::string(kind.name) + ": " + scenario.operation + ", " +
                       std::to_string(scenario.users) + " users, path " +
                       std::to_string(static_cast<int>(scenario.path)) + ", call " +
                       std::to_string(failAt) + " " + calls[failAt - 1] + " fails with " +
                       std::to_string(error));
          auto world = kind.make();
          const int handles = world->OpenHandles();
          world->Fail(failAt, error);
          bool succeeded = RunScenario(scenario, *world, &before, &after, kind.leftover);
          ++cases;
          failedSaves += !succeeded;
          ASSERT_EQ(world->Content(kName), succeeded ? after : before);
          ASSERT_EQ(world->OpenHandles(), handles) << "a handle stays open";
          if (scenario.path == Path::kHardLink) {
            ASSERT_EQ(world->Content("other.dat"), world->Content(kName));
          }
          for (const std::string& name : world->Names()) {
            ASSERT_TRUE(name == kName || name == "other.dat" || name == kLeftover ||
                        world->MayLeaveAFile(calls[failAt - 1]))
                << name << " left by the run";
          }

          // The next save removes what this one left.
          world->Fail(0, 0);
          ChangingRun next(world->system(), world->Path(kName));
          std::string read;
          ASSERT_TRUE(next.Load(&read) && next.Save(read));
          // A file with a second name gets no new file, and sweeps none.
          for (const std::string& name : world->Names()) {
            ASSERT_TRUE(name == kName || name == "other.dat" ||
                        (name == kLeftover && scenario.path == Path::kHardLink))
                << name << " stays";
          }
        }
      }
    }
    std::printf("save faults, %s: %d cases, %d of them failed the save, every file old or new\n",
                kind.name, cases, failedSaves);
  }
}

// A power cut at any call of a save leaves, on the replacement path, the
// old users or the new ones. In place, a file that is neither may only be
// left between the first write and the sync.
TEST(SaveFaultTest, PowerCutAtEveryCall) {
  int states = 0, neither = 0;
  for (const Scenario& scenario : Scenarios()) {
    MemoryWorld clean;
    std::string before, after;
    ASSERT_TRUE(RunScenario(scenario, clean, &before, &after));
    const int calls = static_cast<int>(clean.Counted().size());
    for (int cutAt = 1; cutAt <= calls + 1; ++cutAt) {
      MemoryWorld world;
      FaultySystem& files = world.files();
      files.cutAt = cutAt;
      RunScenario(scenario, world, &before, &after);
      if (cutAt > calls) {
        files.statesAtCut = files.CrashStates(kName);
        files.rewritingAtCut = files.nodes[0].data != files.nodes[0].durable;
      }
      for (const std::string& state : files.statesAtCut) {
        ++states;
        if (state == before || state == after) continue;
        ++neither;
        // Only in place, between the first write and the sync of the file
        // itself.
        ASSERT_TRUE(scenario.path != Path::kReplace && files.rewritingAtCut)
            << scenario.operation << ", path " << static_cast<int>(scenario.path)
            << ", cut before call " << cutAt << ": neither old nor new";
      }
    }
  }
  std::printf(
      "power cuts: %d states, %d of them neither old nor new, all inside an in-place "
      "rewrite\n",
      states, neither);
}

// Rows for what someone who can write the directory, or a name that is no
// file, must not achieve.
TEST(SaveFaultTest, NamesThatChange) {
  struct Row {
    const char* name;
    std::function<void(FaultySystem&)> between = [](FaultySystem&) {};
    platform::FileType type = platform::FileType::kRegular;
    bool saves = false;
    // Calls of the save that must come in this order, among others.
    std::vector<std::string> order = {};
    // The call of the save as which `between` runs; "": after the load.
    std::string when = "";
    bool refuseRename = false;  // so that the file is rewritten in place
    // Before the lock: what others hold or do while the run waits.
    std::function<void(FaultySystem&)> before = [](FaultySystem&) {};
    bool loads = true;
    std::int64_t waits = 0;  // how long the run waits in all, on the test's clock
  } rows[] = {
      // The name swapped for a link to a file the user may write.
      {"link swapped in after the load",
       [](FaultySystem& files) {
         files.AddFile("victim", "keep");
         files.nodes.push_back({platform::FileType::kLink, "", "", "victim"});
         files.names[kName] = static_cast<int>(files.nodes.size() - 1);
       },
       platform::FileType::kRegular, false},
      {"another file renamed over it after the load",
       [](FaultySystem& files) { files.AddFile(kName, "theirs:s:d\n"); },
       platform::FileType::kRegular, false},
      // The same swaps at the last moment: after the new file was written,
      // and before an in-place rewrite's first write.
      {"link swapped in before the rename",
       [](FaultySystem& files) {
         files.AddFile("victim", "keep");
         files.nodes.push_back({platform::FileType::kLink, "", "", "victim"});
         files.names[kName] = static_cast<int>(files.nodes.size() - 1);
       },
       platform::FileType::kRegular,
       false,
       {},
       "Sync"},
      {"another file renamed over it before an in-place write",
       [](FaultySystem& files) { files.AddFile(kName, "theirs:s:d\n"); },
       platform::FileType::kRegular,
       false,
       {},
       "Reserve",
       true},
      // Random names that others planted cost a try each. The new file gets
      // group and owner, then the ACL, then the mode, before any content.
      {"planted names",
       [](FaultySystem& files) { files.takenNames = 50; },
       platform::FileType::kRegular,
       true,
       {"CopyAttributes 0", "CopyAttributes 1", "CopyAttributes 2", "WriteAt"}},
      // A second name made meanwhile: rewritten in place, readers kept out
      // and every signal held from the first write to the sync.
      {"a second name made after the load",
       [](FaultySystem& files) { files.names["other.dat"] = files.names[kName]; },
       platform::FileType::kRegular,
       true,
       {"LockContent", "HoldSignals 2", "WriteAt", "Truncate", "Sync", "HoldSignals 0"}},
      {"a device", [](FaultySystem&) {}, platform::FileType::kOther, false},
      // Someone who keeps writing it does not make a load read on and on.
      {.name = "a file that grows while it is read",
       .before =
           [](FaultySystem& files) {
             files.hookAt = "ReadAt";
             files.hook = [&files] { files.nodes[0].data += FileOf(1000); };
           },
       .loads = false},
      // Whoever holds a lock in the way for longer than the wait (here a
      // reader) costs a changing run a failure, not a hang.
      {.name = "a lock held for longer than the wait",
       .before = [](FaultySystem& files) { files.nodes[0].lockedUntil = INT64_MAX; },
       .loads = false,
       .waits = safe_file::HeldFile::kWaitMicroseconds},
      // A fresh locked file every 25 s: each is held for less than the wait,
      // and yet the run waits once, not once a file.
      {.name = "a new locked file swapped in every 25 s",
       .before =
           [](FaultySystem& files) {
             constexpr std::int64_t kEvery = 25'000'000;
             files.nodes[0].lockedUntil = kEvery;
             files.tick = [&files, next = kEvery]() mutable {
               for (; files.clock >= next; next += kEvery) {
                 files.nodes[files.AddFile(kName, FileOf(2))].lockedUntil = next + kEvery;
               }
             };
           },
       .loads = false,
       .waits = safe_file::HeldFile::kWaitMicroseconds},
      // Without record locks the turn is a lock file beside it: one that
      // another run holds is waited for, and this run's own goes at its end.
      {.name = "no record locks, and another run's lock file",
       .before =
           [](FaultySystem& files) {
             files.noLocks = true;
             files.AddFile(kName + ".lock", "");
           },
       .loads = false,
       .waits = safe_file::HeldFile::kWaitMicroseconds},
      {.name = "no record locks",
       .saves = true,
       .order = {"Create", "Rename", "Remove"},
       .before = [](FaultySystem& files) { files.noLocks = true; }},
      // A run that may not write still reads under the readers' lock, so an
      // in-place rewrite (10 s here) is never read half-done.
      {.name = "a read-only run's load during an in-place rewrite",
       .before =
           [](FaultySystem& files) {
             files.nodes[0].readOnly = true;
             files.nodes[0].data = FileOf(2).substr(0, 12);
             files.nodes[0].lockedUntil = 10'000'000;
             files.tick = [&files] {
               if (files.clock >= files.nodes[0].lockedUntil) files.nodes[0].data = FileOf(2);
             };
           },
       .waits = 10'000'000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FaultySystem files;
    int original = files.AddFile(kName, FileOf(2), row.type);
    ChangingRun run(files);
    files.refuseRename = row.refuseRename;
    row.before(files);
    std::string read;
    bool loaded = run.Load(&read);
    // Within one pause of the longest (32 ms) after the hold ended.
    EXPECT_GE(files.clock, row.waits);
    EXPECT_LE(files.clock, row.waits + 32'000);
    ASSERT_EQ(loaded, row.type == platform::FileType::kRegular && row.loads);
    EXPECT_LE(read.size(), FileOf(2).size()) << "read past the size it had when opened";
    if (!row.loads) continue;
    if (loaded) {
      EXPECT_EQ(read, FileOf(2)) << "read half-done";
    } else {
      EXPECT_EQ(std::count(files.calls.begin(), files.calls.end(), "Open " + kName), 0)
          << "opened before its type was known";
      continue;
    }
    if (row.when.empty()) {
      row.between(files);
    } else {
      files.hookAt = row.when;
      files.hook = [&] { row.between(files); };
    }
    std::size_t callsBefore = files.calls.size();
    EXPECT_EQ(run.Save(After("add", FileOf(2))), row.saves);
    if (!row.saves) {
      EXPECT_EQ(files.nodes[original].data, FileOf(2));
      EXPECT_TRUE(!files.names.count("victim") || files.Content("victim") == "keep");
      // Not a byte where the name now points; before the swap, at most the
      // new file was written.
      if (files.names.count(kName) && files.names[kName] != original &&
          files.nodes[files.names[kName]].type == platform::FileType::kRegular) {
        EXPECT_EQ(files.Content(kName), "theirs:s:d\n");
      }
      if (row.when.empty()) {
        EXPECT_EQ(std::count(files.calls.begin() + static_cast<std::ptrdiff_t>(callsBefore),
                             files.calls.end(), "WriteAt"),
                  0);
      }
      continue;
    }
    auto next = files.calls.begin() + static_cast<std::ptrdiff_t>(callsBefore);
    for (const std::string& call : row.order) {
      next = std::find(next, files.calls.end(), call);
      ASSERT_NE(next, files.calls.end()) << call << " missing or out of order";
    }
    EXPECT_EQ(files.Content("other.dat"),
              files.names.count("other.dat") ? files.Content(kName) : "<missing>");
    EXPECT_EQ(files.names.count(kName + ".lock"), 0u) << "lock file left";
  }
}

}  // namespace

#ifndef _WIN32
namespace {

// What is opened is what was looked at: a FIFO or device that someone swaps
// in after the look is refused unopened, whatever opening it would do.
TEST(SaveFaultTest, ThisSystemOpensOnlyRegularFiles) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("users.dat").c_str(), 0666), 0);
  int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  for (platform::Access access : {platform::Access::kRead, platform::Access::kReadWrite}) {
    Handle file = 0;
    EXPECT_EQ(platform::NativeSystem().Open(directory, kName, access, &file), Error::kDenied);
    EXPECT_EQ(file, platform::kNoHandle);
  }
  ::close(directory);
}

}  // namespace
#endif
