#include "support/test_files.h"

#include "platform/host/standin_control.h"
#include "support/test_registry.h"

namespace test_support {

std::string TestDirectory() {
  static const std::string directory = "C:\\" + UniqueName("rf-tests-");
  return directory;
}

std::string CreateTestFile(const std::string& directory, const std::string& name) {
  std::string path = directory + "\\" + name;
  standin::AddFile(path);
  return path;
}

bool FileExists(const std::string& path) { return standin::FileExists(path); }

std::string ShortPathOf(const std::string& path) {
  static unsigned counter = 0;
  std::string shortPath = "C:\\RFTEST~" + std::to_string(++counter) + "\\SERVER~1.DLL";
  standin::AddShortName(shortPath, path);
  return shortPath;
}

void RemoveTestFile(const std::string&) {}

}  // namespace test_support
