// Benchmarks of the real program's registry work on Windows (run under Wine
// by scripts/bench.sh), timed inside this process with the performance
// counter:
//   (a) the class-manager lookup over the class root, with 10,000 class keys
//       added, against a floor loop that makes only the calls the lookup
//       must make for each key: enumerate, open, read the default value,
//       close;
//   (b) DeleteKeyTree against the platform's own RegDeleteTreeA on
//       identical trees of 10,000 keys with values, and, to show where the
//       time goes, on the same number of keys without values, wide and deep.
// Every figure is the median of several runs; the two orders alternate from
// run to run, and so does which of the two trees is built first. The time
// of one request to the Wine server swings with the load of the machine
// far more than the two sides differ, so a ratio is the median of the
// ratios of the runs, each run's two sides timed back to back; the ratio of the median times is
// shown beside it, and, under Wine, the median ratio of the processor time of this process and the
// Wine server, which waiting for a busy machine's processors leaves out. Everything this program
// adds to the registry it removes again.
//
//   bench.exe [runs]     (default 7 for the deletions; the lookup, which
//                         needs no rebuilding between runs, runs 3 times as often)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/common/bench_registry.h"
#include "platform/platform.h"
#include "registry/registry_key.h"
#include "removal/removal_run.h"

namespace {

const int kAddedClassKeys = 10000;
const int kTreeKeys = 10000;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Processor time, in seconds, of this process and of the Wine server that
// answers its requests: the work of a deletion, without the time spent
// waiting for a processor on a busy machine. The server opens the files
// its clients name, so "/proc/self" read from here is the server's own;
// 0 for the server's part when that is not so (not under Wine).
double ServerProcessorTime() {
  HANDLE file = CreateFileA("Z:\\proc\\self\\stat", GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char stat[1024];
  DWORD got = 0;
  if (!ReadFile(file, stat, sizeof stat - 1, &got, nullptr)) got = 0;
  CloseHandle(file);
  stat[got] = 0;
  // "pid (name) state ..."; user and system time are the 14th and 15th
  // fields, in clock ticks of 1/100 s.
  const char* name = std::strchr(stat, '(');
  const char* end = std::strrchr(stat, ')');
  if (!name || !end || std::strncmp(name + 1, "wineserver", 10) != 0) return 0;
  double ticks = 0;
  const char* field = end + 1;
  for (int number = 3; number <= 15 && *field; ++number) {
    while (*field == ' ') ++field;
    if (number >= 14) ticks += std::strtod(field, nullptr);
    while (*field && *field != ' ') ++field;
  }
  return ticks / 100;
}

bool serverTimed = false;

double ProcessorTime() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) *
           1e-7;
  };
  double server = ServerProcessorTime();
  serverTimed = server > 0;
  return seconds(kernel) + seconds(user) + server;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintLine(const char* what, double seconds) {
  std::printf("  %-52s %9.1f ms\n", what, seconds * 1e3);
}

void PrintRatio(const char* what, double ratio) { std::printf("  %-52s %9.2f\n", what, ratio); }

// ---------------------------------------------------------------------------
// (a) The lookup.

// The run's lookup as the program makes it; returns the name it found.
double TimeLookup(char* found) {
  double start = Now();
  RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
  RegistryKey probeKey;
  char nameBuffer[kNameBufferLength];
  char valueBuffer[kNameBufferLength];
  FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, found);
  return Now() - start;
}

// The floor: the calls the lookup must make for each key and nothing else,
// opening each key for reading its values, as the lookup does. Stops at the
// same key as the lookup.
double TimeFloor(int* visited) {
  double start = Now();
  HKEY classRoot = 0;
  RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_ENUMERATE_SUB_KEYS, &classRoot);
  *visited = 0;
  if (classRoot) {
    char name[kNameBufferLength];
    bench::FloorLookup(classRoot, KEY_QUERY_VALUE, name, visited);
    RegCloseKey(classRoot);
  }
  return Now() - start;
}

// Removes the class keys AddClassKeys and AddClassManagerLast added.
void RemoveAddedClassKeys(HKEY classRoot) {
  for (int i = 0; i < kAddedClassKeys; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "{00000000-BE0C-4E2A-9B7F-%012X}", static_cast<unsigned>(i));
    RegDeleteKeyA(classRoot, name);
  }
  RegDeleteKeyA(classRoot, bench::kLastClassKey);
}

bool BenchLookup(int runs) {
  HKEY classRoot = 0;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &classRoot, nullptr) != ERROR_SUCCESS) {
    std::printf("cannot open the class root\n");
    return false;
  }
  DWORD before = 0;
  RegQueryInfoKeyA(classRoot, nullptr, nullptr, nullptr, &before, nullptr, nullptr, nullptr,
                   nullptr, nullptr, nullptr, nullptr);
  bool ok =
      bench::AddClassKeys(classRoot, kAddedClassKeys) && bench::AddClassManagerLast(classRoot);
  std::vector<double> ours, floor, ratios;
  char found[kNameBufferLength] = "";
  int visited = 0;
  for (int run = 0; ok && run < runs; ++run) {
    // Alternate which goes first, so that a disturbance of the machine
    // does not always fall on the same one.
    if (run % 2) floor.push_back(TimeFloor(&visited));
    ours.push_back(TimeLookup(found));
    if (run % 2 == 0) floor.push_back(TimeFloor(&visited));
    ratios.push_back(ours.back() / floor.back());
  }
  RemoveAddedClassKeys(classRoot);
  RegCloseKey(classRoot);
  if (!ok) {
    std::printf("cannot add the class keys\n");
    return false;
  }
  std::printf(
      "(a) class-manager lookup: %lu class keys, %d of them added before the others;\n"
      "    the walk ends after %d keys, at %s\n",
      static_cast<unsigned long>(before) + kAddedClassKeys + 1, kAddedClassKeys, visited,
      found[0] == 0                                   ? "the end (no class manager found)"
      : std::strcmp(found, bench::kLastClassKey) == 0 ? "the class manager added last"
                                                      : "the class manager the system holds");
  PrintLine("lookup (FindClassManager)", Median(ours));
  PrintLine("floor: enumerate, open, read default value, close", Median(floor));
  PrintRatio("ratio lookup / floor", Median(ratios));
  PrintRatio("ratio of the median times", Median(ours) / Median(floor));
  return true;
}

// ---------------------------------------------------------------------------
// (b) The tree deletion.

bool KeyExists(HKEY parent, const char* name) {
  HKEY key = 0;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// Times DeleteKeyTree and RegDeleteTreeA on identical trees of `shape`
// below `scratch`; returns whether both deleted every tree.
bool BenchDeletion(HKEY scratch, const char* scratchPath, bench::Shape shape, int runs,
                   bool headline) {
  std::vector<double> ours, platform, ratios, work;
  bool ok = true;
  for (int run = 0; ok && run < runs; ++run) {
    const char* first = run % 2 ? "platform" : "ours";
    const char* second = run % 2 ? "ours" : "platform";
    ok = bench::BuildTree(scratch, first, shape, kTreeKeys) &&
         bench::BuildTree(scratch, second, shape, kTreeKeys);
    if (!ok) break;
    // Deleted in the order built in every other run, in the other order
    // in the others: with the alternating build order, each tree is
    // deleted first and second, built first and second, as often.
    double oursWork = 0, platformWork = 0;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn + run / 2) % 2 == 0) {
        RegistryKey parent(HKEY_CLASSES_ROOT, scratchPath);
        double processor = ProcessorTime();
        double start = Now();
        Status status = parent.DeleteKeyTree("ours");
        ours.push_back(Now() - start);
        oursWork = ProcessorTime() - processor;
        ok = ok && status == 0;
      } else {
        double processor = ProcessorTime();
        double start = Now();
        LONG rc = RegDeleteTreeA(scratch, "platform");
        platform.push_back(Now() - start);
        platformWork = ProcessorTime() - processor;
        ok = ok && rc == ERROR_SUCCESS;
      }
    }
    ratios.push_back(ours.back() / platform.back());
    if (platformWork > 0) work.push_back(oursWork / platformWork);
    ok = ok && !KeyExists(scratch, "ours") && !KeyExists(scratch, "platform");
  }
  if (!ok) {
    std::printf("tree deletion (%s) failed\n", bench::ShapeName(shape));
    return false;
  }
  char what[96];
  if (headline) {
    std::printf(
        "(b) tree deletion, %d keys, fan-out 10, each key with a default and %d named values\n",
        kTreeKeys, bench::kValuesPerKey);
    PrintLine("DeleteKeyTree", Median(ours));
    PrintLine("RegDeleteTreeA", Median(platform));
    PrintRatio("ratio DeleteKeyTree / RegDeleteTreeA", Median(ratios));
    PrintRatio("ratio of the median times", Median(ours) / Median(platform));
    if (serverTimed && !work.empty())
      PrintRatio("ratio in processor time (program and Wine server)", Median(work));
    return true;
  }
  std::snprintf(what, sizeof what, "%s, no values: DeleteKeyTree", bench::ShapeName(shape));
  PrintLine(what, Median(ours));
  std::snprintf(what, sizeof what, "%s, no values: RegDeleteTreeA", bench::ShapeName(shape));
  PrintLine(what, Median(platform));
  std::snprintf(what, sizeof what, "%s, no values: ratio", bench::ShapeName(shape));
  PrintRatio(what, Median(ratios));
  std::snprintf(what, sizeof what, "%s, no values: ratio of the median times",
                bench::ShapeName(shape));
  PrintRatio(what, Median(ours) / Median(platform));
  if (serverTimed && !work.empty()) {
    std::snprintf(what, sizeof what, "%s, no values: ratio in processor time",
                  bench::ShapeName(shape));
    PrintRatio(what, Median(work));
  }
  return true;
}

bool BenchDeletions(int runs) {
  char scratchPath[64];
  std::snprintf(scratchPath, sizeof scratchPath, "rf-bench-%lu",
                static_cast<unsigned long>(GetCurrentProcessId()));
  HKEY scratch = 0;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, scratchPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &scratch, nullptr) != ERROR_SUCCESS) {
    std::printf("cannot create the scratch key\n");
    return false;
  }
  // One deletion of each kind, untimed, so that neither pays for what the
  // first deletion of the process costs once.
  bool warmed = bench::BuildTree(scratch, "ours", bench::Shape::Values, 1000) &&
                bench::BuildTree(scratch, "platform", bench::Shape::Values, 1000) &&
                RegistryKey(HKEY_CLASSES_ROOT, scratchPath).DeleteKeyTree("ours") == 0 &&
                RegDeleteTreeA(scratch, "platform") == ERROR_SUCCESS;
  if (!warmed) std::printf("the untimed first deletions failed\n");
  bool ok = BenchDeletion(scratch, scratchPath, bench::Shape::Values, runs, true) && warmed;
  std::printf("    where the time goes, on %d keys without values:\n", kTreeKeys);
  ok = BenchDeletion(scratch, scratchPath, bench::Shape::Wide, runs, false) && ok;
  ok = BenchDeletion(scratch, scratchPath, bench::Shape::Deep, runs, false) && ok;
  RegCloseKey(scratch);
  RegDeleteTreeA(HKEY_CLASSES_ROOT, scratchPath);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 7;
  if (runs < 1) runs = 1;
  std::printf(
      "Windows benchmarks: QueryPerformanceCounter, median of %d runs (deletions)\n"
      "and of %d runs (lookup)\n\n",
      runs, 3 * runs);
  std::fflush(stdout);
  bool ok = BenchLookup(3 * runs);
  std::printf("\n");
  std::fflush(stdout);
  ok = BenchDeletions(runs) && ok;
  return ok ? 0 : 1;
}
