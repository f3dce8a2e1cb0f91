#include "fidelity/canonical_dump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "helpers/registry_dump.h"
#include "helpers/text.h"
#include "platform/platform.h"

namespace fidelity {

namespace {

// Bytes as a dump line shows them: the separator and the mark escaped too.
std::string Escape(const std::string& bytes) { return helpers::Escape(bytes, "%", "|%"); }

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// A link's target (UTF-16 in the value) as narrow text.
std::string Narrow(const std::string& utf16) {
  std::string out;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) out += utf16[i];
  return out;
}

// A value's data as the dump compares it: paths of this run's own (its
// file root, the generator's replacements, a link's target below the run's
// class root) in words that do not depend on where the run took place.
struct Context {
  const Place& place;
  const Generated& generated;
};

std::string CleanData(DWORD type, const std::string& bytes, const void* context) {
  const Context& c = *static_cast<const Context*>(context);
  std::string out =
      type == REG_LINK ? ReplaceAll(Narrow(bytes), c.place.rootNtPath, "<root>") : bytes;
  out = ReplaceAll(out, c.place.fileRoot, "<files>");
  for (const auto& r : c.generated.replacements) out = ReplaceAll(out, r.first, r.second);
  return out;
}

}  // namespace

std::string CanonicalDump(const Generated& generated, const Place& place) {
  Context context{place, generated};
  helpers::DumpOptions options;
  options.mark = "%";
  options.special = "|%";
  options.escapeKeyNames = true;
  options.sortKeys = true;
  options.markLinks = true;
  options.unopened = " (cannot be opened)";
  options.markUnreadable = true;
  options.data = CleanData;
  options.context = &context;
  std::vector<std::string> lines;
  helpers::DumpKey(HKEY_CLASSES_ROOT, "HKCR", options, &lines);
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  std::vector<std::string> files = generated.files;
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  for (const std::string& relative : files) {
    std::string path = place.fileRoot + "\\" + relative;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    char buffer[MAX_PATH];
    bool present = GetLongPathNameA(path.c_str(), buffer, MAX_PATH) != 0;
    out += "file " + Escape(relative) + (present ? " present\n" : " absent\n");
  }
  return out;
}

std::string Hash(const std::string& text) {
  unsigned long long h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char out[20];
  std::snprintf(out, sizeof out, "%016llx", h);
  return out;
}

}  // namespace fidelity
