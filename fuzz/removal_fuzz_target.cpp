// Fuzz target: builds a registry and a file table on the stand-in from its
// input, with a schedule of failing platform calls, runs the whole removal,
// and aborts when the run broke an invariant (removal_invariants.h) or did
// not end. Built with libFuzzer in the fuzz preset; the host build replays
// the seed corpus through the same entry (corpus_replay.cpp).
//
// The input is a little program: each operation starts with a byte that
// chooses it, and the bytes after it choose names, values, places and
// faults. Running out of bytes reads zeros, so every input is valid.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "invariants/removal_invariants.h"
#include "platform/host/standin_control.h"
#include "removal/removal_run.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Done() const { return position_ >= size_; }
  uint8_t Byte() { return Done() ? 0 : data_[position_++]; }
  uint32_t Below(uint32_t n) { return n <= 1 ? 0 : Byte() % n; }
  uint32_t Word() { return Byte() | (static_cast<uint32_t>(Byte()) << 8); }
  std::string Bytes(size_t n) {
    std::string out;
    while (n-- > 0 && !Done()) out += static_cast<char>(Byte());
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

const std::string kClassKey = std::string("CLSID\\") + TargetFilterClsid;

// Bounds that keep one input's run short.
const size_t kMaxKeys = 1500;
const size_t kMaxFaults = 16;

class Builder {
 public:
  explicit Builder(Input& in) : in_(in) {
    keys_ = {"CLSID", kClassKey, "Outside", "Outside\\Kept"};
    for (const std::string& key : keys_) standin::CreateKey(key);
  }

  void Run() {
    while (!in_.Done() && KeyCount() < kMaxKeys) Step();
  }

  removal_check::FaultPlan plan;

 private:
  // A name of any shape: short ones from an alphabet with both letter
  // cases, brackets, blanks and bytes above 127; names the program looks
  // for, in other case; and names at and past the buffer limits.
  std::string Name() {
    uint8_t kind = in_.Byte();
    if (kind < 160) {
      static const char kAlphabet[] = "aAbBzZ09{}-_ .~[]^`\x80\xe9\xff";
      size_t length = 1 + in_.Below(10);
      std::string name;
      for (size_t i = 0; i < length; ++i) name += kAlphabet[in_.Below(sizeof kAlphabet - 1)];
      return name;
    }
    if (kind < 200) {
      static const char* const kKnown[] = {TargetFilterClsid,
                                           "Instance",
                                           "InprocServer32",
                                           "CLSID",
                                           "{3a7d52c8-6e19-4b2f-9c04-71e5d8a0b6f3}",
                                           "instance",
                                           "INPROCSERVER32",
                                           "SymbolicLinkValue"};
      return kKnown[in_.Below(sizeof kKnown / sizeof kKnown[0])];
    }
    static const size_t kLengths[] = {200, 243, 244, 245, 255, 256, 258, 259, 260, 261, 300};
    return std::string(kLengths[in_.Below(sizeof kLengths / sizeof kLengths[0])],
                       "Lx{"[in_.Below(3)]);
  }

  std::string PickKey() { return keys_[in_.Word() % keys_.size()]; }

  // Keys and values go to the machine's classes, or while `user_` is set to
  // the user's own, which HKEY_CLASSES_ROOT shows over them.
  void AddKey(const std::string& path) {
    if (user_) {
      standin::CreateUserKey(path);
      userKeys_.push_back(path);
      return;
    }
    standin::CreateKey(path);
    keys_.push_back(path);
  }

  void Set(const std::string& path, const std::string& name, DWORD type, const std::string& data) {
    if (user_)
      standin::SetUserValue(path, name, type, data);
    else
      standin::SetValue(path, name, type, data);
  }

  size_t KeyCount() const { return keys_.size() + userKeys_.size(); }

  // The manager's name as it may be stored: exact, in other case, with a
  // trailing blank, without terminator, with bytes after an inner NUL.
  std::string ManagerValue() {
    std::string name = ClassManagerName;
    switch (in_.Below(6)) {
      case 0:
        return name + '\0';
      case 1:
        for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return name + '\0';
      case 2:
        return name + " " + '\0';
      case 3:
        return name;
      case 4:
        return name + '\0' + "tail" + '\0';
      default:
        return name.substr(0, in_.Below(static_cast<uint32_t>(name.size())));
    }
  }

  DWORD Type() {
    static const DWORD kTypes[] = {REG_SZ,    REG_SZ,   REG_EXPAND_SZ, REG_BINARY,
                                   REG_DWORD, REG_LINK, REG_MULTI_SZ,  REG_NONE};
    uint8_t pick = in_.Byte();
    if (pick == 0xff) return in_.Word() << 16 | in_.Word();
    return kTypes[pick % (sizeof kTypes / sizeof kTypes[0])];
  }

  std::string Data() {
    switch (in_.Below(4)) {
      case 0:
        return in_.Bytes(in_.Below(16));
      case 1:
        return in_.Bytes(in_.Below(16)) + '\0';
      case 2:
        return std::string(250 + in_.Below(20), 'v');  // around the buffer
      default:
        return ManagerValue();
    }
  }

  void Tree(const std::string& at, int depth) {
    size_t width = 1 + in_.Below(4);
    for (size_t i = 0; i < width && KeyCount() < kMaxKeys; ++i) {
      std::string child = at + "\\" + Name();
      AddKey(child);
      if (in_.Below(2)) Set(child, in_.Below(3) ? Name() : "", Type(), Data());
      if (depth > 0 && in_.Below(3)) Tree(child, depth - 1);
    }
  }

  void Link() {
    std::string at;
    switch (in_.Below(4)) {
      case 0:
        at = kClassKey;
        break;
      case 1:
        at = PickKey() + "\\Instance\\" + TargetFilterClsid;
        break;
      default:
        at = PickKey() + "\\" + Name();
    }
    std::string target = standin::kClassesRootNtPath;
    switch (in_.Below(6)) {
      case 0:
        break;  // the whole classes root
      case 1:
        target += "\\" + at.substr(0, at.rfind('\\'));  // its own parent: a loop
        break;
      case 2:
        target += "\\Missing\\" + Name();  // dangling
        break;
      case 3:
        target = "\\Registry\\User\\Elsewhere";  // outside what is modelled
        break;
      default:
        target += "\\" + PickKey();
    }
    standin::CreateLink(at, target);
    keys_.push_back(at);
  }

  void Server() {
    std::string path;
    switch (in_.Below(6)) {
      case 0:
        path = "C:\\Filters\\" + Name() + ".dll";
        break;
      case 1:
        path = "C:\\" + std::string(in_.Below(300), 'd') + "\\f.dll";
        break;
      case 2: {  // a short alias of a long path, which may not fit
        std::string longPath = "C:\\Long Directory\\" + std::string(in_.Word() % 320, 'l');
        path = "C:\\LONGDI~1\\" + Name();
        standin::AddShortName(path, longPath);
        break;
      }
      case 3:
        path = in_.Bytes(in_.Below(40));
        break;
      case 4:
        path = "C:\\Filters\\*.dll";
        break;
      default:
        path = "C:\\Filters\\Sample Filter.dll";
    }
    if (in_.Below(4)) standin::AddFile(path);
    if (in_.Below(4) == 0)
      standin::LockFile(path, in_.Below(2) ? ERROR_ACCESS_DENIED : ERROR_SHARING_VIOLATION);
    bool terminated = in_.Below(4) != 0;
    standin::SetValue(kClassKey + "\\InprocServer32", "", in_.Below(5) ? REG_SZ : Type(),
                      terminated ? path + '\0' : path);
  }

  // The user's own classes: a registration of the filter naming a file of
  // its own or the machine's, copies of keys the machine's classes hold and
  // trees below them, a class manager, a link, a protected key. Every
  // program the user runs can write them.
  void UserClasses() {
    user_ = true;
    switch (in_.Below(6)) {
      case 0: {
        std::string path = in_.Below(2) ? "C:\\Windows\\System32\\" + Name() + ".dll"
                                        : "C:\\Filters\\Sample Filter.dll";
        if (in_.Below(4)) standin::AddFile(path);
        AddKey(kClassKey + "\\InprocServer32");
        Set(kClassKey + "\\InprocServer32", "", in_.Below(5) ? REG_SZ : Type(), path + '\0');
        break;
      }
      case 1: {
        std::string key = PickKey();
        AddKey(key);
        if (in_.Below(2)) Set(key, in_.Below(3) ? Name() : "", Type(), Data());
        break;
      }
      case 2:
        Tree(in_.Below(2) ? PickKey() : kClassKey, static_cast<int>(in_.Below(4)));
        break;
      case 3: {
        // A class key of its own, or the user's copy of any key the
        // machine's classes hold, taken for the class manager.
        std::string key = in_.Below(2) ? "CLSID\\" + Name() : PickKey();
        AddKey(key);
        Set(key, "", REG_SZ, ManagerValue());
        if (in_.Below(2)) Tree(key + "\\Instance\\" + TargetFilterClsid, 1);
        break;
      }
      case 4: {
        // A link of the user's, in his copy of a target or in place of any
        // key (his "CLSID" too), to a key of either tree.
        std::string at;
        switch (in_.Below(3)) {
          case 0:
            at = kClassKey + "\\" + Name();
            break;
          case 1:
            at = "CLSID";
            break;
          default:
            at = PickKey();
        }
        std::string target =
            in_.Below(2) ? standin::kClassesRootNtPath : standin::kUserClassesNtPath;
        standin::CreateUserLink(at, target + "\\" + PickKey());
        userKeys_.push_back(at);
        break;
      }
      default:
        if (!userKeys_.empty())
          standin::DenyUserAccess(userKeys_[in_.Word() % userKeys_.size()],
                                  in_.Below(2) ? KEY_READ : 0);
    }
    user_ = false;
  }

  void Fault() {
    static const DWORD kErrors[] = {ERROR_ACCESS_DENIED,     ERROR_FILE_NOT_FOUND,
                                    ERROR_MORE_DATA,         ERROR_INVALID_HANDLE,
                                    ERROR_KEY_DELETED,       ERROR_SHARING_VIOLATION,
                                    ERROR_NO_MORE_ITEMS,     ERROR_INVALID_PARAMETER,
                                    ERROR_NOT_ENOUGH_MEMORY, ERROR_PATH_NOT_FOUND};
    if (plan.faults.size() >= kMaxFaults) return;
    auto call = static_cast<standin::Call>(in_.Below(static_cast<uint32_t>(standin::Call::Count)));
    uint64_t n = 1 + (in_.Below(2) ? in_.Byte() : in_.Word());
    plan.faults.push_back({call, n, kErrors[in_.Below(sizeof kErrors / sizeof kErrors[0])]});
  }

  void Step() {
    switch (in_.Below(12)) {
      case 0: {  // a class key, perhaps with a default value
        std::string key = "CLSID\\" + Name();
        AddKey(key);
        if (in_.Below(2)) standin::SetValue(key, "", Type(), Data());
        break;
      }
      case 1: {  // a class manager, perhaps with an entry for the filter
        std::string key = "CLSID\\" + Name();
        AddKey(key);
        standin::SetValue(key, "", in_.Below(6) ? REG_SZ : Type(), ManagerValue());
        if (in_.Below(2)) {
          AddKey(key + "\\Instance\\" + TargetFilterClsid);
          Tree(key + "\\Instance\\" + TargetFilterClsid, 2);
        }
        break;
      }
      case 2:
        Tree(PickKey(), static_cast<int>(in_.Below(6)));
        break;
      case 3:
        Tree(kClassKey, static_cast<int>(in_.Below(6)));
        break;
      case 4:
        standin::SetValue(PickKey(), in_.Below(4) ? Name() : "", Type(), Data());
        break;
      case 5:
        Link();
        break;
      case 6:
        if (in_.Below(2))
          standin::DenyAccess(PickKey());
        else
          standin::ProtectValue(PickKey(), Name());
        break;
      case 7:
        Server();
        break;
      case 8:
      case 9:
        Fault();
        break;
      case 10:  // a system before Windows 2000: no long paths, no final paths
        if (in_.Below(2)) {
          standin::SetLongPathFunctionPresent(false);
          standin::SetKernel32FunctionPresent("GetFinalPathNameByHandleA", false);
          standin::SetKernel32FunctionPresent("SetFileInformationByHandle", false);
        } else {
          UserClasses();
        }
        break;
      default: {  // a deep chain
        std::string key = PickKey();
        for (uint32_t i = in_.Below(64); i > 0 && KeyCount() < kMaxKeys; --i) {
          key += "\\" + Name();
          AddKey(key);
        }
      }
    }
  }

  Input& in_;
  std::vector<std::string> keys_;
  std::vector<std::string> userKeys_;
  bool user_ = false;
};

[[noreturn]] void Fail(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems)
    std::fprintf(stderr, "invariant: %s\n", problem.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  standin::Reset();
  Input in(data, size);
  Builder builder(in);
  builder.Run();

  removal_check::Snapshot before = removal_check::Take();
  removal_check::Targets targets = removal_check::FindTargets();

  // A run makes a bounded number of calls for a bounded registry; far more
  // means it does not end.
  const size_t limit = 200000 + 64 * before.entries.size() * before.entries.size();
  std::vector<standin::Call> calls;
  standin::SetCallHook([&calls, limit](standin::Call call) {
    calls.push_back(call);
    if (calls.size() > limit) Fail({"the run does not end"});
  });
  builder.plan.Arm();
  int status = RunRemoval();
  standin::SetCallHook(nullptr);
  standin::ClearFaults();

  std::vector<std::string> problems = removal_check::Check(before, removal_check::Take(), targets,
                                                           builder.plan.FailedCloses(calls));
  if (status != 0) problems.push_back("exit status " + std::to_string(status));
  if (!problems.empty()) Fail(problems);
  standin::Reset();
  return 0;
}
