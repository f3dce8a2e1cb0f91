// registry_snapshot VIEW:ROOT...: writes every key and value at and below
// each ROOT (a predefined key's full name, optionally followed by a path:
// HKEY_LOCAL_MACHINE\Software) of the registry VIEW (32 or 64) to standard
// output, in one process. The end-to-end tests compare two snapshots.
//
// Output, one record a line, ASCII only:
//   K <view> <path>            a key
//   V <name> <type> <hex>      a value of the key above ("" is the default)
//   E <view> <path> <error>    a key that could not be read
// with the fields separated by tabs. Names are exact: every UTF-16 unit
// outside ' '..'~', and '%', is written as %XXXX. Sub-keys and values come
// in a fixed order (by name, ignoring letter case), whatever the order of
// their creation. A registry link is opened as the link itself and written
// as a key whose value SymbolicLinkValue (REG_LINK) names its target; it is
// never followed, so that no tree shows twice.
//
// The test tool reads the registry with the wide-character calls, so that
// it sees names exactly as the registry holds them.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

std::string out;

void PutName(const wchar_t* name, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < length; ++i) {
    unsigned unit = name[i];
    if (unit >= 0x20 && unit <= 0x7e && unit != '%') {
      out += static_cast<char>(unit);
    } else {
      out += '%';
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xf];
    }
  }
}

void PutName(const std::wstring& name) { PutName(name.data(), name.size()); }

void PutHex(const BYTE* data, DWORD size) {
  static const char kHex[] = "0123456789abcdef";
  for (DWORD i = 0; i < size; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 0xf];
  }
}

void PutNumber(unsigned long number) {
  char text[16];
  std::snprintf(text, sizeof text, "%lu", number);
  out += text;
}

// Case-insensitive order of names, as the registry compares them, then by
// the exact units (two names of one key never compare equal this way).
bool NameBefore(const std::wstring& a, const std::wstring& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    wchar_t x = static_cast<wchar_t>(std::towupper(a[i]));
    wchar_t y = static_cast<wchar_t>(std::towupper(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

void PutError(const char* view, const std::wstring& path, LONG error) {
  out += "E\t";
  out += view;
  out += '\t';
  PutName(path);
  out += '\t';
  PutNumber(static_cast<unsigned long>(error));
  out += '\n';
}

struct Value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
};

// The values of `key` in name order.
LONG ReadValues(HKEY key, DWORD count, DWORD maxName, DWORD maxData, std::vector<Value>* values) {
  std::vector<wchar_t> name(maxName + 1);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD i = 0; i < count; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG status =
        RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
    if (status == ERROR_MORE_DATA) {  // grew since the key was asked
      name.resize(name.size() * 2 + 256);
      data.resize(std::max<size_t>(data.size() * 2, dataSize + 1));
      --i;
      continue;
    }
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    values->push_back({std::wstring(name.data(), nameLength), type,
                       std::vector<BYTE>(data.data(), data.data() + dataSize)});
  }
  std::sort(values->begin(), values->end(),
            [](const Value& a, const Value& b) { return NameBefore(a.name, b.name); });
  return ERROR_SUCCESS;
}

LONG ReadSubKeys(HKEY key, DWORD count, DWORD maxName, std::vector<std::wstring>* names) {
  std::vector<wchar_t> name(maxName + 1);
  for (DWORD i = 0; i < count; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    LONG status = RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
      name.resize(name.size() * 2 + 256);
      --i;
      continue;
    }
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return status;
    names->emplace_back(name.data(), length);
  }
  std::sort(names->begin(), names->end(), NameBefore);
  return ERROR_SUCCESS;
}

// Writes `key` (named `path`) and everything below it.
void Dump(HKEY key, const char* view, REGSAM viewFlag, const std::wstring& path) {
  DWORD subKeys = 0, maxSubKey = 0, valueCount = 0, maxValueName = 0, maxData = 0;
  LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                                 &valueCount, &maxValueName, &maxData, nullptr, nullptr);
  std::vector<Value> values;
  if (status == ERROR_SUCCESS) status = ReadValues(key, valueCount, maxValueName, maxData, &values);
  if (status != ERROR_SUCCESS) return PutError(view, path, status);

  out += "K\t";
  out += view;
  out += '\t';
  PutName(path);
  out += '\n';
  bool link = false;
  for (const Value& value : values) {
    out += "V\t";
    PutName(value.name);
    out += '\t';
    PutNumber(value.type);
    out += '\t';
    PutHex(value.data.data(), static_cast<DWORD>(value.data.size()));
    out += '\n';
    link = link || (value.type == REG_LINK && value.name == L"SymbolicLinkValue");
  }
  if (link) return;  // the link's own key holds nothing else

  std::vector<std::wstring> names;
  status = ReadSubKeys(key, subKeys, maxSubKey, &names);
  if (status != ERROR_SUCCESS) return PutError(view, path, status);
  for (const std::wstring& name : names) {
    std::wstring childPath = path + L"\\" + name;
    HKEY child;
    status = RegOpenKeyExW(key, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | viewFlag, &child);
    if (status != ERROR_SUCCESS) {
      PutError(view, childPath, status);
      continue;
    }
    Dump(child, view, viewFlag, childPath);
    RegCloseKey(child);
  }
}

struct Predefined {
  const wchar_t* name;
  HKEY key;
};

const Predefined kPredefined[] = {
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},     {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// Dumps one "VIEW:ROOT" argument; false when it names nothing.
bool DumpRoot(const char* argument) {
  const char* view = nullptr;
  REGSAM viewFlag = 0;
  if (std::strncmp(argument, "32:", 3) == 0) {
    view = "32";
    viewFlag = KEY_WOW64_32KEY;
  } else if (std::strncmp(argument, "64:", 3) == 0) {
    view = "64";
    viewFlag = KEY_WOW64_64KEY;
  } else {
    return false;
  }
  wchar_t root[1024];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, argument + 3, -1, root, 1024) == 0) {
    return false;
  }
  std::wstring path(root);
  std::wstring top = path.substr(0, path.find(L'\\'));
  std::wstring below = top.size() < path.size() ? path.substr(top.size() + 1) : L"";
  for (const Predefined& predefined : kPredefined) {
    if (top != predefined.name) continue;
    HKEY key;
    LONG status = RegOpenKeyExW(predefined.key, below.empty() ? nullptr : below.c_str(), 0,
                                KEY_READ | viewFlag, &key);
    if (status != ERROR_SUCCESS) return false;
    Dump(key, view, viewFlag, path);
    RegCloseKey(key);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  out.reserve(1 << 24);
  for (int i = 1; i < argc; ++i) {
    if (!DumpRoot(argv[i])) {
      std::fprintf(stderr, "registry_snapshot: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  for (size_t done = 0; done < out.size();) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(out.size() - done, 1 << 20));
    if (!WriteFile(output, out.data() + done, chunk, &written, nullptr) || written == 0) return 1;
    done += written;
  }
  return 0;
}
