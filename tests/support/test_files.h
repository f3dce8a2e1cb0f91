// Files for the tests: real files on Windows, the stand-in's file table on
// the host. Paths are Windows paths ("C:\...") on both.
#pragma once

#include <string>

namespace test_support {

// A directory of this test process's own, created on first use.
std::string TestDirectory();
// Creates `name` in `directory` (which may have further levels, created
// as needed) and returns its full path.
std::string CreateTestFile(const std::string& directory, const std::string& name);
bool FileExists(const std::string& path);
// The platform's short (8.3) form of an existing file's path; on the host a
// short alias is made up for it.
std::string ShortPathOf(const std::string& path);
// Removes the file if it is still there.
void RemoveTestFile(const std::string& path);

}  // namespace test_support
