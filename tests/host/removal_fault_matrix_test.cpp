// The whole removal against a rich registry, with every platform call of the
// run made to fail in turn, with every error that call can give; and with a
// registry that another party changes between the run's calls. Every run
// must end, exit 0, close each handle it opened exactly once, and change
// nothing but its three targets (removal_invariants.h). Under the host-asan
// preset the same runs also prove that nothing is written past a buffer.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "helpers/sample_filter.h"
#include "invariants/removal_invariants.h"
#include "platform/host/standin_control.h"
#include "removal/removal_run.h"

namespace {

using standin::Call;

const std::string kClassKey = std::string("CLSID\\") + TargetFilterClsid;
// Class keys sort by upper-cased name, so the first manager is "{1B...}".
const std::string kDeniedManager = "CLSID\\{0F000000-0000-0000-0000-000000000000}";
const std::string kManager = "CLSID\\{1B000000-0000-0000-0000-000000000000}";
const std::string kSecondManager = "CLSID\\{2C000000-0000-0000-0000-000000000000}";
const std::string kEntry = kManager + "\\Instance\\" + TargetFilterClsid;
const std::string kOtherEntry = kManager + "\\Instance\\" + helpers::kOtherFilterClsid;
const std::string kSecondEntry = kSecondManager + "\\Instance\\" + TargetFilterClsid;
const std::string kServerLong = "C:\\Program Files\\Sample Filter\\Sample Filter Server.dll";
const std::string kServerShort = "C:\\PROGRA~1\\SAMPLE~1\\SAMPLE~1.DLL";
const std::string kNeighbourFile = "C:\\Program Files\\Sample Filter\\Neighbour.dll";

std::string Nt(const std::string& path) {
  return std::string(standin::kClassesRootNtPath) + "\\" + path;
}

// Values of several types at `key`, a REG_SZ among them stored without its
// terminator.
void AddValues(const std::string& key, const std::string& tag) {
  standin::SetString(key, "", tag);
  standin::SetString(key, "Name", tag + " name", false);
  standin::SetValue(key, "Flags", REG_DWORD, std::string("\1\0\0\0", 4));
  standin::SetValue(key, "Data", REG_BINARY, std::string("\2\0\0\0\0\0\x20\0", 8));
  standin::SetValue(key, "Path", REG_EXPAND_SZ, std::string("%SystemRoot%\\x.dll\0", 19));
}

// Several class managers (one that denies access, the one that is used, one
// spelt in other case after it, which has an entry of its own), class keys
// with default values of every kind before and after them, the filter's
// class key and instance entry with deep and wide trees and links that lead
// out of them, back into them and nowhere, and keys and files beside them.
void BuildRichRegistry() {
  for (int i = 0; i < 12; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "CLSID\\{0A0000%02d-0000-0000-0000-000000000000}", i);
    switch (i % 4) {
      case 0:
        standin::SetString(name, "", "Some Class");
        break;
      case 1:
        standin::SetValue(name, "", REG_EXPAND_SZ, std::string(ClassManagerName) + '\0');
        break;
      case 2:
        standin::SetString(name, "", std::string(ClassManagerName) + " ");
        break;
      default:
        standin::CreateKey(std::string(name) + "\\InprocServer32");
    }
  }
  standin::SetString(kDeniedManager, "", ClassManagerName);
  standin::DenyAccess(kDeniedManager);

  standin::SetString(kManager, "", ClassManagerName);
  for (const std::string& other :
       {kOtherEntry, kManager + "\\Instance\\{FFFFFFFF-9B2C-4D7E-8A16-C3F09B2D4E58}"})
    AddValues(other, "other filter");
  AddValues(kEntry, "entry");
  AddValues(kEntry + "\\Pins\\Input\\Types\\0", "type");
  AddValues(kEntry + "\\Pins\\Output", "pin");
  standin::CreateLink(kEntry + "\\Pins\\Shared", Nt(kOtherEntry));

  standin::SetString(kSecondManager, "", "activemovie FILTER class MANAGER");
  AddValues(kSecondEntry, "second entry");

  AddValues(kClassKey, "Sample Filter");
  standin::SetString(kClassKey + "\\InprocServer32", "", kServerShort);
  standin::SetString(kClassKey + "\\InprocServer32", "ThreadingModel", "Both");
  std::string deep = kClassKey;
  for (int level = 1; level <= 5; ++level) {
    deep += "\\Level" + std::to_string(level);
    AddValues(deep, "level");
  }
  // Enough leaves that the run makes several hundred calls, most of a
  // removal's keys being leaves.
  for (int i = 0; i < 40; ++i)
    standin::SetString(kClassKey + "\\Categories\\c" + std::to_string(i), "", "category");
  standin::CreateLink(kClassKey + "\\Escape", Nt("Outside\\Victim"));
  standin::CreateLink(kClassKey + "\\Level1\\LeafLink", Nt("Outside\\Leaf"));
  standin::CreateLink(kClassKey + "\\Level1\\Level2\\Loop", Nt(kClassKey));
  standin::CreateLink(kClassKey + "\\Categories\\Root", standin::kClassesRootNtPath);
  standin::CreateLink(kClassKey + "\\Dangling", Nt("Outside\\Missing"));

  for (int i = 0; i < 3; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "CLSID\\{4D0000%02d-0000-0000-0000-000000000000}", i);
    standin::SetString(name, "", "Later Class");
  }
  AddValues("Outside\\Victim", "victim");
  AddValues("Outside\\Victim\\Child", "victim child");
  AddValues("Outside\\Leaf", "leaf");

  standin::AddShortName(kServerShort, kServerLong);
  standin::AddFile(kNeighbourFile);
}

std::string Describe(const std::vector<std::string>& problems) {
  std::string text;
  for (const std::string& problem : problems) text += "\n  " + problem;
  return text;
}

// The errors each platform call can give.
std::vector<DWORD> ErrorsOf(Call call) {
  switch (call) {
    case Call::DeleteFileA:
    case Call::GetLongPathNameA:
    case Call::CreateFileA:
    case Call::SetFileInformationByHandle:
      return {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND};
    case Call::GetFullPathNameA:
    case Call::GetFinalPathNameByHandleA:
      return {ERROR_INVALID_NAME, ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY};
    case Call::GetSystemDirectoryA:
    case Call::GetSystemWow64DirectoryA:
      return {ERROR_CALL_NOT_IMPLEMENTED};
    case Call::SetProcessMitigationPolicy:
      return {ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED};
    case Call::QueryDosDeviceA:
      return {ERROR_FILE_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER};
    case Call::WideCharToMultiByte:
      return {ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER};
    case Call::NtQueryObject:  // native results
      return {static_cast<DWORD>(STATUS_BUFFER_OVERFLOW),
              static_cast<DWORD>(STATUS_INFO_LENGTH_MISMATCH),
              static_cast<DWORD>(STATUS_INVALID_HANDLE)};
    case Call::NtSetInformationFile:
      return {static_cast<DWORD>(STATUS_CANNOT_DELETE), static_cast<DWORD>(STATUS_ACCESS_DENIED),
              static_cast<DWORD>(STATUS_SHARING_VIOLATION)};
    case Call::GetModuleHandleA:
      return {ERROR_MOD_NOT_FOUND};
    case Call::GetProcAddress:
      return {ERROR_PROC_NOT_FOUND};
    case Call::NtDeleteKey:  // native results
      return {static_cast<DWORD>(STATUS_ACCESS_DENIED), static_cast<DWORD>(STATUS_CANNOT_DELETE),
              static_cast<DWORD>(STATUS_INVALID_HANDLE), static_cast<DWORD>(STATUS_KEY_DELETED)};
    default:
      return {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ERROR_INVALID_HANDLE,
              ERROR_KEY_DELETED};
  }
}

class FaultMatrixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::Reset();
    BuildRichRegistry();
    before_ = removal_check::Take();
    targets_ = removal_check::FindTargets();
    standin::Reset();
  }
  void TearDown() override { standin::Reset(); }

  // A fresh rich registry; the calls of the next run are recorded.
  void Rebuild() {
    standin::Reset();
    BuildRichRegistry();
    if (windowsXp_) {
      standin::SetKernel32FunctionPresent("GetFinalPathNameByHandleA", false);
      standin::SetKernel32FunctionPresent("SetFileInformationByHandle", false);
    }
    calls_.clear();
    standin::SetCallHook([this](Call call) { calls_.push_back(call); });
  }

  // The run on the registry as it is, and every invariant checked; the
  // state after it in `after` when given.
  std::vector<std::string> RunAndCheck(const removal_check::FaultPlan& plan,
                                       removal_check::Snapshot* after = nullptr) {
    plan.Arm();
    int status = RunRemoval();
    standin::SetCallHook(nullptr);
    standin::ClearFaults();
    removal_check::Snapshot state = removal_check::Take();
    std::vector<std::string> problems =
        removal_check::Check(before_, state, targets_, plan.FailedCloses(calls_));
    if (after) *after = std::move(state);
    if (status != 0) problems.push_back("exit status " + std::to_string(status));
    return problems;
  }

  // The n-th call of the run fails, for every n and every error of that
  // call. After it, a run without faults must still remove both registry
  // targets: a fault may leave work undone, never make it impossible.
  void EveryCallFailsWithEveryErrorItCanGive();

  removal_check::Snapshot before_;
  removal_check::Targets targets_;
  std::vector<Call> calls_;
  // Windows XP: the server file checked by its name on its device.
  bool windowsXp_ = false;
};

TEST_F(FaultMatrixTest, TargetsOfTheRichRegistry) {
  EXPECT_EQ(kClassKey, targets_.classKey);
  EXPECT_EQ((std::vector<std::string>{kEntry, kSecondEntry}), targets_.instanceEntries);
  EXPECT_EQ(2u, targets_.serverFiles.size());
}

TEST_F(FaultMatrixTest, CleanRunRemovesExactlyTheTargets) {
  Rebuild();
  std::vector<std::string> problems = RunAndCheck({});
  EXPECT_TRUE(problems.empty()) << Describe(problems);
  EXPECT_FALSE(standin::KeyExists(kClassKey));
  EXPECT_FALSE(standin::KeyExists(kEntry));
  EXPECT_TRUE(standin::KeyExists(kSecondEntry));
  EXPECT_TRUE(standin::KeyExists(kOtherEntry));
  EXPECT_TRUE(standin::KeyExists("Outside\\Victim\\Child"));
  EXPECT_TRUE(standin::KeyExists("Outside\\Leaf"));
  EXPECT_FALSE(standin::FileExists(kServerLong));
  EXPECT_TRUE(standin::FileExists(kNeighbourFile));
}

void FaultMatrixTest::EveryCallFailsWithEveryErrorItCanGive() {
  Rebuild();
  RunAndCheck({});
  EXPECT_FALSE(standin::FileExists(kServerLong)) << "a clean run left the server file";
  const std::vector<Call> clean = calls_;
  ASSERT_GT(clean.size(), 300u) << "the registry is not rich enough to exercise the run";

  size_t cases = 0;
  size_t reported = 0;
  for (size_t n = 1; n <= clean.size(); ++n) {
    for (DWORD error : ErrorsOf(clean[n - 1])) {
      ++cases;
      Rebuild();
      removal_check::FaultPlan plan;
      plan.faults.push_back({Call::Any, n, error});
      removal_check::Snapshot first;
      std::vector<std::string> problems = RunAndCheck(plan, &first);
      if (calls_.size() < n) problems.push_back("the faulted call was never made");

      // The repair run keeps the invariants on its own, and both registry
      // targets are gone after it; the handle of a failed close, if any,
      // stays the only one open.
      size_t leaked = standin::OpenHandleCount();
      RunRemoval();
      for (const std::string& problem :
           removal_check::Check(first, removal_check::Take(), targets_, leaked))
        problems.push_back("second run: " + problem);
      if (standin::KeyExists(kClassKey) || standin::KeyExists(kEntry))
        problems.push_back("a second run left a registry target in place");

      if (!problems.empty() && ++reported <= 10)
        ADD_FAILURE() << "call " << n << " (" << standin::CallName(clean[n - 1])
                      << ") failing with " << error << ":" << Describe(problems);
    }
  }
  EXPECT_EQ(0u, reported) << "fault cases that broke an invariant";
  std::printf("[ matrix   ] %zu calls in a clean run, %zu fault cases\n", clean.size(), cases);
  RecordProperty("calls", static_cast<int>(clean.size()));
  RecordProperty("fault_cases", static_cast<int>(cases));
}

TEST_F(FaultMatrixTest, EveryCallFailsWithEveryErrorItCanGive) {
  EveryCallFailsWithEveryErrorItCanGive();
}

TEST_F(FaultMatrixTest, OnWindowsXpEveryCallFailsWithEveryErrorItCanGive) {
  windowsXp_ = true;
  EveryCallFailsWithEveryErrorItCanGive();
  EXPECT_GT(standin::CallCount(Call::NtQueryObject), 0u);
}

// Another party changes the registry between the run's calls: keys appear
// and vanish inside the targets and beside them, and links are planted in
// the targets, also in place of a key the walk has yet to reach. The run
// must still end and delete nothing beside its targets. The changes are
// replayed on a fresh registry to know what the run may find there.
struct Churn {
  int period;  // a change every `period` calls
  int start;   // from this call on
};

class ChurnTest : public FaultMatrixTest, public ::testing::WithParamInterface<Churn> {};

using Change = std::function<void()>;

std::vector<Change> Changes() {
  std::vector<Change> changes;
  for (int k = 0; k < 6; ++k) {
    std::string n = std::to_string(k);
    changes.push_back([n] { standin::SetString(kClassKey + "\\Level1\\Added" + n, "v", n); });
    changes.push_back([n] { standin::SetString("Outside\\Added" + n, "v", n); });
    changes.push_back([n] { standin::CreateKey(kSecondEntry + "\\Added" + n); });
    changes.push_back([n] {
      standin::CreateLink(kClassKey + "\\Level1\\Level2\\Planted" + n, Nt("Outside\\Victim"));
    });
    changes.push_back([n] { standin::SetString("CLSID\\{0A0000" + n + "0-0000}", "", "New"); });
    changes.push_back([n] { standin::CreateKey(kEntry + "\\Pins\\Added" + n); });
  }
  changes.push_back([] { standin::RemoveKey(kClassKey + "\\Categories\\c3"); });
  changes.push_back([] {
    standin::RemoveKey(kClassKey + "\\Categories");
    standin::CreateLink(kClassKey + "\\Categories", Nt("Outside\\Victim"));
  });
  changes.push_back([] { standin::RemoveKey("Outside\\Leaf"); });
  changes.push_back([] { standin::RemoveKey(kEntry + "\\Pins"); });
  changes.push_back([] { standin::RemoveKey(kClassKey + "\\Level1\\Level2\\Level3"); });
  return changes;
}

TEST_P(ChurnTest, RunEndsAndDeletesNothingBesideItsTargets) {
  const std::vector<Change> changes = Changes();
  size_t made = 0;
  int call = 0;
  Rebuild();
  standin::SetCallHook([&](Call c) {
    calls_.push_back(c);
    ++call;
    if (call >= GetParam().start && (call - GetParam().start) % GetParam().period == 0 &&
        made < changes.size())
      changes[made++]();
    // A run that keeps going long after the changes stopped does not end.
    if (calls_.size() > 100000) {
      std::fprintf(stderr, "the run does not end\n");
      std::abort();
    }
  });
  int status = RunRemoval();
  standin::SetCallHook(nullptr);
  removal_check::Snapshot after = removal_check::Take();
  EXPECT_EQ(0u, standin::OpenHandleCount());
  EXPECT_EQ(0u, standin::InvalidCloseCount());

  // What the registry holds with the same changes and no run.
  standin::Reset();
  BuildRichRegistry();
  for (size_t i = 0; i < made; ++i) changes[i]();
  removal_check::Snapshot changed = removal_check::Take();
  standin::Reset();

  // (The handles were counted above, before the registry was made anew.)
  std::vector<std::string> problems = removal_check::Check(changed, after, targets_, 0);
  EXPECT_EQ(0, status);
  EXPECT_TRUE(problems.empty()) << made << " changes:" << Describe(problems);
  EXPECT_GT(made, 0u);
}

std::vector<Churn> ChurnCases() {
  std::vector<Churn> cases;
  for (int period : {1, 2, 3, 5, 8, 13})
    for (int start : {1, 40, 90, 160, 260}) cases.push_back({period, start});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Schedules, ChurnTest, ::testing::ValuesIn(ChurnCases()));

}  // namespace
