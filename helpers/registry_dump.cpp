#include "helpers/registry_dump.h"

#include <algorithm>
#include <utility>

#include "helpers/text.h"

namespace helpers {

namespace {

// The longest value name the registry takes, with its NUL.
const DWORD kNameSize = 16385;

}  // namespace

void DumpKey(HKEY key, const std::string& path, const DumpOptions& options,
             std::vector<std::string>* out) {
  auto escape = [&](const std::string& bytes) {
    return Escape(bytes, options.mark, options.special);
  };
  std::vector<std::string> values;
  std::string name(kNameSize, '\0');
  bool link = false;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = kNameSize;
    DWORD size = 0;
    if (RegEnumValueA(key, index, &name[0], &nameLength, nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
      break;
    std::string valueName(name.c_str(), nameLength);
    DWORD type = REG_NONE;
    // One byte more than the value holds: a string stored without its NUL
    // is read as stored.
    std::string data(size + 1, '\0');
    size += 1;
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                         &size) != ERROR_SUCCESS) {
      if (options.markUnreadable) {
        values.push_back(path + "|" + escape(valueName) + "|unreadable");
        continue;
      }
      size = 0;
    }
    std::string bytes(data.data(), std::min<DWORD>(size, static_cast<DWORD>(data.size() - 1)));
    if (type == REG_LINK) link = true;
    if (options.data) bytes = options.data(type, bytes, options.context);
    values.push_back(path + "|" + escape(valueName) + "|" + std::to_string(type) + "|" +
                     escape(bytes));
  }
  std::sort(values.begin(), values.end());
  bool marked = options.markLinks && link;
  if (!path.empty()) out->push_back(path + (marked ? " (link)" : ""));
  out->insert(out->end(), values.begin(), values.end());
  if (marked) return;
  std::vector<std::pair<std::string, std::string>> children;  // sort key, stored name
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = kNameSize;
    if (RegEnumKeyExA(key, index, &name[0], &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    std::string child(name.c_str(), nameLength);
    children.push_back({options.sortKeys ? Upper(child) : std::string(), child});
  }
  if (options.sortKeys) std::sort(children.begin(), children.end());
  for (const auto& child : children) {
    std::string shown = options.escapeKeyNames ? escape(child.second) : child.second;
    std::string childPath = path.empty() ? shown : path + "\\" + shown;
    HKEY sub = 0;
    if (RegOpenKeyExA(key, child.second.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &sub) !=
        ERROR_SUCCESS) {
      out->push_back(childPath + options.unopened);
      continue;
    }
    DumpKey(sub, childPath, options, out);
    RegCloseKey(sub);
  }
}

}  // namespace helpers
