// Runs the removal on generated registries and records the outcome.
//
//   fidelity_run FIRST COUNT FILE   each seed's canonical dump after the run
//                                   as a hash, or "skipped" and the reason
//   fidelity_run --show SEED        the seed's description and full dump
//
// Both builds run the same seeds; the comparison (compare_runs.py) reads
// the two files and, for a seed whose hashes differ, shows both dumps.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fidelity/canonical_dump.h"
#include "fidelity/registry_generator.h"
#include "fidelity/sandbox.h"
#include "removal/removal_run.h"

namespace {

// The seed's registry, the run on it, and the dump after it; empty when
// the seed was refused.
std::string RunSeed(uint32_t seed, fidelity::Generated* generated) {
  fidelity::Place place = fidelity::BeginSeed(seed);
  *generated = fidelity::Generate(seed, place);
  if (generated->refused) return "";
  RunRemoval();
  return fidelity::CanonicalDump(*generated, place);
}

int Show(uint32_t seed) {
  fidelity::Generated generated;
  std::string dump = RunSeed(seed, &generated);
  std::printf("seed %u\n%s", seed, generated.description.c_str());
  if (generated.refused)
    std::printf("skipped: %s\n", generated.reason.c_str());
  else
    std::printf("--- after the run\n%s", dump.c_str());
  fidelity::EndAll();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--show") == 0)
    return Show(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)));
  if (argc != 4) {
    std::fprintf(stderr, "usage: fidelity_run FIRST COUNT FILE | --show SEED\n");
    return 2;
  }
  uint32_t first = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  uint32_t count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  std::FILE* out = std::fopen(argv[3], "w");
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  unsigned skipped = 0;
  for (uint32_t seed = first; seed < first + count; ++seed) {
    fidelity::Generated generated;
    std::string dump = RunSeed(seed, &generated);
    if (generated.refused) {
      ++skipped;
      std::fprintf(out, "%u skipped %s\n", seed, generated.reason.c_str());
    } else {
      std::fprintf(out, "%u %s\n", seed, fidelity::Hash(dump).c_str());
    }
  }
  fidelity::EndAll();
  std::fclose(out);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%u seeds from %u, %u skipped, %.1f s\n", count, first, skipped, seconds);
  return 0;
}
