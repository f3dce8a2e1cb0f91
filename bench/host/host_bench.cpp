// Host benchmarks against the in-memory stand-in: the class-manager lookup
// over class roots of growing size, beside a floor loop that makes only the
// calls the lookup needs for each key, and DeleteKeyTree on trees of growing
// size in three shapes. After Google Benchmark's own output it prints a
// table of the medians: time, time per key, platform calls per key and the
// growth from each size to the next. Times are the thread's processor time.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "bench/common/bench_registry.h"
#include "bench/host/platform_tree_deletion.h"
#include "platform/host/standin_control.h"
#include "registry/registry_key.h"
#include "removal/removal_run.h"

namespace {

const int kSizes[] = {1000, 10000, 100000};
// Ten times the keys may cost at most this many times the time.
const double kGrowthGoal = 12.0;
// The 100,000-key lookup must stay below this.
const double kLookupGoalSeconds = 0.200;

// The benchmarks' names in the order they are registered, for the table.
std::vector<std::string> families;

const standin::Call kCountedCalls[] = {
    standin::Call::RegOpenKeyExA, standin::Call::RegCloseKey,      standin::Call::RegEnumKeyExA,
    standin::Call::RegEnumValueA, standin::Call::RegQueryValueExA, standin::Call::RegDeleteValueA,
    standin::Call::RegDeleteKeyA, standin::Call::NtDeleteKey,      standin::Call::RegQueryInfoKeyA};

// Platform calls the program made while timed, per key, by kind.
class CallCounter {
 public:
  void Start() { Snapshot(before); }
  void Stop() {
    uint64_t after[kKinds];
    Snapshot(after);
    for (size_t i = 0; i < kKinds; ++i) total[i] += after[i] - before[i];
  }
  void Report(benchmark::State& state, int keys) const {
    double scale = 1.0 / (static_cast<double>(state.iterations()) * keys);
    double sum = 0;
    for (size_t i = 0; i < kKinds; ++i) {
      sum += static_cast<double>(total[i]);
      if (total[i]) state.counters[Short(kCountedCalls[i])] = static_cast<double>(total[i]) * scale;
    }
    state.counters["calls/key"] = sum * scale;
    state.counters["keys"] = keys;
  }

 private:
  static const size_t kKinds = sizeof kCountedCalls / sizeof kCountedCalls[0];
  static void Snapshot(uint64_t* out) {
    for (size_t i = 0; i < kKinds; ++i) out[i] = standin::CallCount(kCountedCalls[i]);
  }
  static std::string Short(standin::Call call) {
    std::string name = standin::CallName(call);  // "RegOpenKeyExA" -> "OpenKeyEx"
    if (name.back() == 'A') name.pop_back();
    return name.compare(0, 3, "Reg") == 0 ? name.substr(3) : name;  // "NtDeleteKey" stays
  }
  uint64_t before[kKinds] = {};
  uint64_t total[kKinds] = {};
};

// Whether every timed run starts with the processor's caches emptied of the
// registry (the default), as in the program, which runs once per process.
// Otherwise repeated runs over a small registry find it all in the cache,
// and the growth between sizes shows the cache's size more than the work.
bool coldCaches = true;

// Writes a buffer twice the size of the largest cache, which pushes
// everything else out of every level.
void EvictCaches() {
  static std::vector<char> buffer = [] {
    size_t largest = 32 << 20;
    for (const auto& cache : benchmark::CPUInfo::Get().caches)
      largest = std::max(largest, static_cast<size_t>(cache.size));
    return std::vector<char>(2 * largest);
  }();
  static char round = 0;
  ++round;
  for (size_t i = 0; i < buffer.size(); i += 64) buffer[i] = round;
  benchmark::ClobberMemory();
}

// The calling thread's processor time: on a machine shared with other
// busy processes it is far steadier than the wall clock, which also counts
// the time the thread waited for a processor.
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Times one run of `work` as the iteration's time, and counts its calls.
template <typename Work>
void TimeRun(benchmark::State& state, CallCounter& counter, Work&& work) {
  if (coldCaches) EvictCaches();
  counter.Start();
  double start = ThreadSeconds();
  work();
  double stop = ThreadSeconds();
  counter.Stop();
  state.SetIterationTime(stop - start);
}

// Empties the stand-in and gives its memory back, so that what is built
// next lies in as few and as fresh pages as at the start of the process,
// whatever ran before: the cost of a walk depends on how its keys lie in
// memory, and the repetitions of different sizes run in random order.
void EmptyRegistry() {
  standin::Reset();
  malloc_trim(0);
}

HKEY OpenPath(const char* path) {
  HKEY key = 0;
  RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_ALL_ACCESS, &key);
  return key;
}

// A class root of `keys` class keys, the class manager's the last of them.
bool MakeClassRoot(int keys) {
  EmptyRegistry();
  standin::CreateKey("CLSID");
  HKEY classRoot = OpenPath("CLSID");
  bool ok = classRoot && bench::AddClassKeys(classRoot, keys - 1) &&
            bench::AddClassManagerLast(classRoot);
  if (classRoot) RegCloseKey(classRoot);
  return ok;
}

// The run's lookup: the class root opened, then walked to the class manager.
void Lookup(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  if (!MakeClassRoot(keys)) return state.SkipWithError("could not build the class root");
  CallCounter counter;
  char found[kNameBufferLength] = "";
  for (auto _ : state) {
    TimeRun(state, counter, [&] {
      RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
      RegistryKey probeKey;
      char nameBuffer[kNameBufferLength];
      char valueBuffer[kNameBufferLength];
      FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, found);
      benchmark::DoNotOptimize(found);
    });
  }
  if (std::strcmp(found, bench::kLastClassKey) != 0)
    return state.SkipWithError("the lookup did not find the class manager");
  counter.Report(state, keys);
  EmptyRegistry();
}

// The floor: only the calls the lookup must make for each key (enumerate,
// open, read the default value, close) and the comparison, on raw handles.
void LookupFloor(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  if (!MakeClassRoot(keys)) return state.SkipWithError("could not build the class root");
  CallCounter counter;
  char name[kNameBufferLength] = "";
  bool matched = false;
  for (auto _ : state) {
    TimeRun(state, counter, [&] {
      HKEY classRoot = OpenPath("CLSID");
      matched = bench::FloorLookup(classRoot, KEY_QUERY_VALUE, name);
      RegCloseKey(classRoot);
    });
  }
  if (!matched || std::strcmp(name, bench::kLastClassKey) != 0)
    return state.SkipWithError("the floor loop did not find the class manager");
  counter.Report(state, keys);
  EmptyRegistry();
}

// DeleteKeyTree on a fresh tree in every iteration; only the call is timed.
void DeleteTree(benchmark::State& state, bench::Shape shape) {
  const int keys = static_cast<int>(state.range(0));
  CallCounter counter;
  for (auto _ : state) {
    EmptyRegistry();
    standin::CreateKey("bench");
    HKEY parent = OpenPath("bench");
    bool built = bench::BuildTree(parent, "tree", shape, keys);
    RegCloseKey(parent);
    if (!built) return state.SkipWithError("could not build the tree");
    RegistryKey parentKey(HKEY_CLASSES_ROOT, "bench");
    Status status = -1;
    TimeRun(state, counter, [&] { status = parentKey.DeleteKeyTree("tree"); });
    if (status != 0 || standin::KeyExists("bench\\tree"))
      return state.SkipWithError("the tree was not deleted");
  }
  counter.Report(state, keys);
  EmptyRegistry();
}

// ---------------------------------------------------------------------------
// The summary table.

struct Median {
  double seconds = 0;
  double callsPerKey = 0;
};

// Whether a run ended in SkipWithError. Google Benchmark 1.8 replaced the
// run's error_occurred (1.7) with skipped, which also tells a skip with a
// message from one with an error; each overload exists only where its
// field does.
template <typename Run>
auto EndedWithError(const Run& run, int) -> decltype(static_cast<bool>(run.error_occurred)) {
  return run.error_occurred;
}
template <typename Run>
auto EndedWithError(const Run& run, long)
    -> decltype(run.skipped == decltype(run.skipped)::SkippedWithError) {
  return run.skipped == decltype(run.skipped)::SkippedWithError;
}
bool EndedWithError(const benchmark::BenchmarkReporter::Run& run) { return EndedWithError(run, 0); }

// Google Benchmark's console output, and the median of each benchmark kept
// for the summary (the run itself where there are no repetitions).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // In colour on a terminal only.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (EndedWithError(run)) failed = true;
      if (EndedWithError(run) || !(median || single)) continue;
      const std::string& family = run.run_name.function_name;
      Median& m = results[family][std::stoi(run.run_name.args)];
      m.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto calls = run.counters.find("calls/key");
      if (calls != run.counters.end()) m.callsPerKey = calls->second.value;
    }
  }

  // Whether a benchmark failed (its registry could not be built, or the
  // program did not do what it is timed doing).
  bool Failed() const { return failed; }

  // Prints the table of medians and whether the goals were met.
  void PrintSummary() const {
    std::fflush(stdout);
    std::cout.flush();
    if (results.empty()) return;
    bool growthMet = true;
    std::printf(
        "\nMedians, %s caches. Growth is the time at a size over the time at a tenth\n"
        "of it; the goal is at most %.0fx (linear), and the 100,000-key lookup under %.0f ms.\n\n",
        coldCaches ? "cold" : "warm", kGrowthGoal, kLookupGoalSeconds * 1e3);
    std::printf("%-22s %8s %11s %10s %10s %8s\n", "benchmark", "keys", "time", "per key",
                "calls/key", "growth");
    for (const std::string& family : families) {
      if (!results.count(family)) continue;
      double previous = 0;
      for (const auto& size : results.at(family)) {
        const Median& m = size.second;
        char growth[16] = "";
        if (previous > 0) {
          double ratio = m.seconds / previous;
          std::snprintf(growth, sizeof growth, "%.1fx%s", ratio, ratio > kGrowthGoal ? " !" : "");
          growthMet = growthMet && ratio <= kGrowthGoal;
        }
        std::printf("%-22s %8d %8.2f ms %7.0f ns %10.1f %8s\n", family.c_str(), size.first,
                    m.seconds * 1e3, m.seconds * 1e9 / size.first, m.callsPerKey, growth);
        previous = m.seconds;
      }
    }
    auto lookup = results.find("lookup");
    if (lookup != results.end() && lookup->second.count(100000)) {
      double seconds = lookup->second.at(100000).seconds;
      bool ok = seconds < kLookupGoalSeconds;
      std::printf("\nlookup over 100,000 class keys: %.1f ms (goal: under %.0f ms) %s\n",
                  seconds * 1e3, kLookupGoalSeconds * 1e3, ok ? "met" : "NOT MET");
    }
    std::printf("growth goal (10x keys, at most %.0fx time): %s\n", kGrowthGoal,
                growthMet ? "met" : "NOT MET (marked !)");
  }

 private:
  std::map<std::string, std::map<int, Median>> results;
  bool failed = false;
};

// Platform calls per key of DeleteKeyTree and of a deletion in the manner
// of RegDeleteTreeA on the same trees, by kind, and the server round trips
// each makes under Wine, where RegDeleteKeyA opens, deletes and closes (3)
// and every other call, NtDeleteKey on a held key among them, is one.
struct CallTally {
  uint64_t calls[static_cast<size_t>(standin::Call::Count)] = {};
  uint64_t infoQueries = 0;
  double PerKey(standin::Call call, int keys) const {
    return static_cast<double>(calls[static_cast<size_t>(call)]) / keys;
  }
  double RoundTrips(int keys) const {
    double trips = static_cast<double>(infoQueries) / keys;
    for (standin::Call call : kCountedCalls)
      trips += PerKey(call, keys) * (call == standin::Call::RegDeleteKeyA ? 3 : 1);
    return trips;
  }
};

template <typename Delete>
bool Tally(bench::Shape shape, int keys, CallTally* tally, Delete&& deletion) {
  EmptyRegistry();
  standin::CreateKey("bench");
  HKEY parent = OpenPath("bench");
  bool ok = parent && bench::BuildTree(parent, "tree", shape, keys);
  uint64_t before[static_cast<size_t>(standin::Call::Count)];
  for (standin::Call call : kCountedCalls)
    before[static_cast<size_t>(call)] = standin::CallCount(call);
  ok = ok && deletion(parent, &tally->infoQueries) == 0;
  for (standin::Call call : kCountedCalls)
    tally->calls[static_cast<size_t>(call)] =
        standin::CallCount(call) - before[static_cast<size_t>(call)];
  if (parent) RegCloseKey(parent);
  ok = ok && !standin::KeyExists("bench\\tree");
  EmptyRegistry();
  return ok;
}

bool PrintCallsPerKey() {
  const int keys = 10000;
  std::printf(
      "\nPlatform calls per key, %d-key trees: DeleteKeyTree, and a deletion in the manner\n"
      "of RegDeleteTreeA (open, name-length query, walk at index 0, delete, close).\n"
      "Round trips: to the server under Wine, RegDeleteKeyA counting 3, NtDeleteKey 1.\n\n",
      keys);
  std::printf("%-8s %-16s %6s %6s %6s %6s %6s %6s %7s %8s\n", "shape", "deletion", "Open", "Enum",
              "Query", "Info", "Delete", "Close", "trips", "ratio");
  bool ok = true;
  for (bench::Shape shape : {bench::Shape::Values, bench::Shape::Wide, bench::Shape::Deep}) {
    CallTally ours, platform;
    ok = Tally(shape, keys, &ours,
               [](HKEY parent, uint64_t*) {
                 RegistryKey key(parent, nullptr);
                 return key.DeleteKeyTree("tree");
               }) &&
         ok;
    ok = Tally(shape, keys, &platform,
               [](HKEY parent, uint64_t* info) {
                 return static_cast<Status>(bench::PlatformStyleDeleteTree(parent, "tree", info));
               }) &&
         ok;
    for (const CallTally* t : {&ours, &platform}) {
      using standin::Call;
      std::printf(
          "%-8s %-16s %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f %7.2f", bench::ShapeName(shape),
          t == &ours ? "DeleteKeyTree" : "RegDeleteTreeA", t->PerKey(Call::RegOpenKeyExA, keys),
          t->PerKey(Call::RegEnumKeyExA, keys) + t->PerKey(Call::RegEnumValueA, keys),
          t->PerKey(Call::RegQueryValueExA, keys),
          static_cast<double>(t->infoQueries) / keys + t->PerKey(Call::RegQueryInfoKeyA, keys),
          t->PerKey(Call::RegDeleteKeyA, keys) + t->PerKey(Call::NtDeleteKey, keys) +
              t->PerKey(Call::RegDeleteValueA, keys),
          t->PerKey(Call::RegCloseKey, keys), t->RoundTrips(keys));
      if (t == &platform) std::printf(" %8.2f", ours.RoundTrips(keys) / platform.RoundTrips(keys));
      std::printf("\n");
    }
  }
  if (!ok) std::printf("a tree was not deleted\n");
  return ok;
}

// A key whose first `refusing` sub-keys refuse every access, sorted before
// as many that go: the tree deletion's calls, which must grow with the keys
// (each refusing one is tried a fixed number of times), not with their
// product.
uint64_t RefusingWalkCalls(int refusing) {
  EmptyRegistry();
  char name[32];
  for (int i = 0; i < refusing; ++i) {
    std::snprintf(name, sizeof name, "bench\\tree\\a%06d", i);
    standin::CreateKey(name);
    standin::DenyAccess(name);
    std::snprintf(name, sizeof name, "bench\\tree\\b%06d", i);
    standin::CreateKey(name);
  }
  HKEY parent = OpenPath("bench");
  uint64_t before = standin::CallCount(standin::Call::Any);
  {
    RegistryKey key(parent, nullptr);
    key.DeleteKeyTree("tree");
  }
  uint64_t calls = standin::CallCount(standin::Call::Any) - before;
  bool linear = !standin::KeyExists("bench\\tree\\b000000");
  if (parent) RegCloseKey(parent);
  EmptyRegistry();
  return linear ? calls : 0;
}

bool PrintRefusingWalk() {
  uint64_t small = RefusingWalkCalls(10000);
  uint64_t large = RefusingWalkCalls(20000);
  double ratio = small ? static_cast<double>(large) / small : 0;
  std::printf(
      "\nA tree of n refusing keys sorted before n that go: %llu calls for n = 10,000,\n"
      "%llu for n = 20,000 (%.2fx; linear: at most 2.2x) %s\n",
      static_cast<unsigned long long>(small), static_cast<unsigned long long>(large), ratio,
      small && ratio <= 2.2 ? "met" : "NOT MET");
  return small != 0;
}

void Register() {
  families = {"lookup", "lookup floor"};
  for (bench::Shape shape : {bench::Shape::Wide, bench::Shape::Deep, bench::Shape::Values})
    families.push_back(std::string("DeleteKeyTree ") + bench::ShapeName(shape));
  for (int size : kSizes) {
    for (auto entry :
         {std::make_pair("lookup", Lookup), std::make_pair("lookup floor", LookupFloor)})
      benchmark::RegisterBenchmark(entry.first, entry.second)
          ->Arg(size)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  }
  for (bench::Shape shape : {bench::Shape::Wide, bench::Shape::Deep, bench::Shape::Values}) {
    std::string name = families[2 + static_cast<int>(shape)];
    for (int size : kSizes) {
      benchmark::RegisterBenchmark(name.c_str(), DeleteTree, shape)
          ->Arg(size)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace

// Runs every benchmark as fifteen repetitions of one timed run each, in
// random order, with only their aggregates reported, unless the command
// line says otherwise; --warm leaves the caches as they are between runs.
// Missed goals are reported, not failed: the exit status is 1 only when a
// benchmark failed.
int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--warm") == 0)
      coldCaches = false;
    else
      args.push_back(argv[i]);
  }
  char repetitions[] = "--benchmark_repetitions=15";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  // The repetitions of all benchmarks in random order, so that a spell of
  // load from elsewhere falls on every size alike, not on one.
  char interleaved[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {repetitions, aggregatesOnly, interleaved});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
  Register();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.PrintSummary();
  bool counted = PrintCallsPerKey();
  bool walked = PrintRefusingWalk();
  return reporter.Failed() || !counted || !walked ? 1 : 0;
}
