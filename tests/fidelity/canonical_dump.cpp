#include "fidelity/canonical_dump.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

struct Dumper {
  const Place& place;
  const Generated& generated;
  std::vector<std::string> lines;
  // Big enough for every name and value the generator makes.
  char name[16385];
  char data[70000];

  std::string Clean(const std::string& text) const {
    std::string out = ReplaceAll(text, place.fileRoot, "<files>");
    for (const auto& r : generated.replacements) out = ReplaceAll(out, r.first, r.second);
    return out;
  }

  void Key(HKEY key, const std::string& path) {
    std::vector<std::string> values;
    bool link = false;
    for (DWORD index = 0;; ++index) {
      DWORD nameLength = sizeof name;
      if (RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      DWORD type = REG_NONE;
      DWORD size = sizeof data;
      if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS) {
        values.push_back(path + "|" + Escape(name) + "|unreadable");
        continue;
      }
      std::string bytes(data, size);
      if (type == REG_LINK) {
        link = true;
        bytes = ReplaceAll(Narrow(bytes), place.rootNtPath, "<root>");
      }
      values.push_back(path + "|" + Escape(name) + "|" + std::to_string(type) + "|" +
                       Escape(Clean(bytes)));
    }
    std::sort(values.begin(), values.end());
    lines.push_back(path + (link ? " (link)" : ""));
    lines.insert(lines.end(), values.begin(), values.end());
    if (link) return;
    std::vector<std::pair<std::string, std::string>> children;  // upper, stored
    for (DWORD index = 0;; ++index) {
      DWORD nameLength = sizeof name;
      if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      children.push_back({helpers::Upper(name), name});
    }
    std::sort(children.begin(), children.end());
    for (const auto& child : children) {
      HKEY sub = 0;
      std::string childPath = path + "\\" + Escape(child.second);
      if (RegOpenKeyExA(key, child.second.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &sub) !=
          ERROR_SUCCESS) {
        lines.push_back(childPath + " (cannot be opened)");
        continue;
      }
      Key(sub, childPath);
      RegCloseKey(sub);
    }
  }
};

}  // namespace

std::string CanonicalDump(const Generated& generated, const Place& place) {
  Dumper d{place, generated, {}, {}, {}};
  d.Key(HKEY_CLASSES_ROOT, "HKCR");
  std::string out;
  for (const std::string& line : d.lines) out += line + "\n";
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
