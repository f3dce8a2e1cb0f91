#include "support/test_files.h"

#include "platform/platform.h"
#include "support/test_registry.h"

namespace test_support {

namespace {

void CreateDirectories(const std::string& directory) {
  for (size_t i = 3; i <= directory.size(); ++i) {
    if (i == directory.size() || directory[i] == '\\')
      CreateDirectoryA(directory.substr(0, i).c_str(), nullptr);
  }
}

}  // namespace

std::string TestDirectory() {
  static const std::string directory = [] {
    std::string d = "C:\\" + UniqueName("rf-tests-");
    CreateDirectories(d);
    return d;
  }();
  return directory;
}

std::string CreateTestFile(const std::string& directory, const std::string& name) {
  CreateDirectories(directory);
  std::string path = directory + "\\" + name;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, "MZ", 2, &written, nullptr);
    CloseHandle(file);
  }
  return path;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ShortPathOf(const std::string& path) {
  char shortPath[MAX_PATH];
  DWORD n = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? std::string(shortPath) : path;
}

void RemoveTestFile(const std::string& path) { DeleteFileA(path.c_str()); }

}  // namespace test_support
