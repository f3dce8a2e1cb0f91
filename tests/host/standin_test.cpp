// The stand-in's own behaviour where the program relies on it and the
// shared tests cannot reach: handle reuse, predefined roots, refused
// deletions, too-small buffers, and the long-path and file calls.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/host/standin_control.h"
#include "platform/platform.h"

namespace {

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::Reset(); }
  void TearDown() override { standin::Reset(); }

  HKEY Open(const char* path, DWORD expected = ERROR_SUCCESS) {
    HKEY key = reinterpret_cast<HKEY>(uintptr_t{0xDEADBEEF});
    EXPECT_EQ(expected, RegOpenKeyExA(HKEY_CLASSES_ROOT, path, 0, KEY_ALL_ACCESS, &key)) << path;
    return key;
  }
};

TEST_F(StandinTest, EmptyPathOnTheRootGivesTheRootAndOnAKeyANewHandle) {
  standin::CreateKey("A");
  EXPECT_EQ(HKEY_CLASSES_ROOT, Open(""));
  HKEY a = Open("A");
  HKEY again = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(a, "", 0, KEY_ALL_ACCESS, &again));
  EXPECT_NE(a, again);
  EXPECT_EQ(2u, standin::OpenHandleCount());
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(a));
  EXPECT_EQ(0u, standin::OpenHandleCount());
}

TEST_F(StandinTest, ClosedHandleValuesAreReusedAndDoubleClosesCounted) {
  standin::CreateKey("A");
  standin::CreateKey("B");
  HKEY a = Open("A");
  ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(a));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(a));
  EXPECT_EQ(1u, standin::InvalidCloseCount());
  EXPECT_EQ(a, Open("B"));  // the same value, now another key
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CLASSES_ROOT));
}

TEST_F(StandinTest, FailedOpensSetTheResultAsThePlatformDoes) {
  HKEY key = reinterpret_cast<HKEY>(uintptr_t{0xDEADBEEF});
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "A", 0, KEY_READ, &key));
  EXPECT_EQ(reinterpret_cast<HKEY>(uintptr_t{0xDEADBEEF}), key);  // untouched
  EXPECT_EQ(nullptr, Open("missing", ERROR_FILE_NOT_FOUND));
  std::string tooLong(300, 'x');
  EXPECT_EQ(reinterpret_cast<HKEY>(uintptr_t{0xDEADBEEF}), Open(tooLong.c_str(), ERROR_MORE_DATA));
  EXPECT_EQ(nullptr, Open("\\\\A", ERROR_BAD_PATHNAME));
}

TEST_F(StandinTest, PathsSkipRepeatedAndTrailingSeparatorsAndIgnoreCase) {
  standin::CreateKey("Outer\\Inner");
  HKEY key = Open("outer\\INNER\\");
  EXPECT_NE(nullptr, key);
  RegCloseKey(key);
  key = Open("\\Outer\\Inner");  // one leading separator on the class root
  EXPECT_NE(nullptr, key);
  RegCloseKey(key);
}

TEST_F(StandinTest, DeleteKeyRefusesKeysWithSubKeysAndDeletedHandlesReport1018) {
  standin::CreateKey("P\\C");
  HKEY child = Open("P\\C");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, "P"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CLASSES_ROOT, "p\\c"));
  char name[MAX_PATH];
  DWORD length = MAX_PATH;
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegEnumKeyExA(child, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(child, "x"));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CLASSES_ROOT, "P"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CLASSES_ROOT, "P"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr));
}

// A forward walk is served from a remembered position; keys that come or
// go in mid-walk, through the platform calls or the control interface, and
// opens by another name than the one just enumerated, must not see it stale.
TEST_F(StandinTest, EnumerationFollowsKeysThatComeAndGoMidWalk) {
  for (const char* name : {"B", "D", "F"}) standin::CreateKey(std::string("P\\") + name);
  standin::SetString("P\\D", "", "d");
  standin::SetString("P\\F", "", "f");
  HKEY parent = Open("P");
  auto at = [parent](DWORD index) -> std::string {
    char name[MAX_PATH];
    DWORD length = MAX_PATH;
    LONG rc = RegEnumKeyExA(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_SUCCESS ? name : "error " + std::to_string(rc);
  };
  auto defaultOf = [parent](const char* name) -> std::string {
    HKEY key = 0;
    if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return "not opened";
    char value[8] = "";
    DWORD size = sizeof value;
    RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return value;
  };
  EXPECT_EQ("B", at(0));
  EXPECT_EQ("D", at(1));
  standin::CreateKey("P\\C");  // B C D F
  EXPECT_EQ("D", at(2));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(parent, "b"));  // C D F
  EXPECT_EQ("F", at(2));
  EXPECT_EQ("error 259", at(3));
  EXPECT_EQ("D", at(1));
  standin::RemoveKey("P\\C");  // D F
  EXPECT_EQ("F", at(1));
  EXPECT_EQ("D", at(0));
  HKEY created = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &created, nullptr));  // A D F
  RegCloseKey(created);
  EXPECT_EQ("D", at(1));
  EXPECT_EQ("d", defaultOf("d"));  // the name just enumerated
  EXPECT_EQ("f", defaultOf("F"));  // another one
  EXPECT_EQ("not opened", defaultOf("B"));
  RegCloseKey(parent);
}

TEST_F(StandinTest, ValuesKeepCreationOrderAndOverwritesKeepTheirPlace) {
  standin::SetString("K", "b", "1");
  standin::SetString("K", "A", "2");
  standin::SetString("K", "", "3");
  standin::SetString("K", "B", "4");  // overwrite, same place
  HKEY key = Open("K");
  std::vector<std::string> names;
  char name[MAX_PATH];
  for (DWORD i = 0;; ++i) {
    DWORD length = MAX_PATH;
    if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)) break;
    names.push_back(name);
  }
  EXPECT_EQ((std::vector<std::string>{"b", "A", ""}), names);
  RegCloseKey(key);
}

TEST_F(StandinTest, QueryTooSmallReportsTheSizeAndLeavesTheBufferAlone) {
  standin::SetString("K", "", "abcdef");
  HKEY key = Open("K");
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  DWORD size = 4;
  DWORD type = 0;
  EXPECT_EQ(ERROR_MORE_DATA,
            RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ('#', buffer[0]);
  RegCloseKey(key);
}

TEST_F(StandinTest, LongPathFunctionFollowsTheFileTable) {
  standin::AddShortName("C:\\PROGRA~1\\X.DLL", "C:\\Program Files\\x.dll");
  char buffer[MAX_PATH];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(22u, GetLongPathNameA("c:\\progra~1\\x.dll", buffer, MAX_PATH));
  EXPECT_STREQ("C:\\Program Files\\x.dll", buffer);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(23u, GetLongPathNameA("C:\\PROGRA~1\\X.DLL", buffer, 22));  // no room for NUL
  EXPECT_EQ('#', buffer[0]);
  EXPECT_EQ(0u, GetLongPathNameA("C:\\none.dll", buffer, MAX_PATH));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(0u, GetLongPathNameA("", buffer, MAX_PATH));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
}

TEST_F(StandinTest, DeleteFileFailsAsThePlatformDoes) {
  standin::AddFile("C:\\a.dll");
  standin::LockFile("C:\\locked.dll", ERROR_SHARING_VIOLATION);
  EXPECT_EQ(TRUE, DeleteFileA("c:\\A.DLL"));
  EXPECT_EQ(FALSE, DeleteFileA("C:\\a.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(FALSE, DeleteFileA("C:\\locked.dll"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_TRUE(standin::FileExists("C:\\locked.dll"));
}

TEST_F(StandinTest, FaultsFireOnTheChosenCallOnly) {
  standin::CreateKey("A");
  standin::FailCall(standin::Call::RegOpenKeyExA, 2, ERROR_ACCESS_DENIED);
  HKEY first = Open("A");
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(nullptr, Open("A", ERROR_ACCESS_DENIED));
  HKEY third = Open("A");
  EXPECT_NE(nullptr, third);
  RegCloseKey(first);
  RegCloseKey(third);
  EXPECT_EQ(3u, standin::CallCount(standin::Call::RegOpenKeyExA));
}

TEST_F(StandinTest, LongPathFunctionAndNativeDeletionCanBeMissing) {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  ASSERT_NE(nullptr, kernel);
  EXPECT_NE(nullptr, GetProcAddress(kernel, "GetLongPathNameA"));
  standin::SetLongPathFunctionPresent(false);
  EXPECT_EQ(nullptr, GetProcAddress(kernel, "GetLongPathNameA"));
  EXPECT_EQ(nullptr, GetModuleHandleA("nosuch"));
  HMODULE ntdll = GetModuleHandleA("ntdll");
  ASSERT_NE(nullptr, ntdll);
  EXPECT_EQ(ntdll, GetModuleHandleA("NTDLL.DLL"));
  EXPECT_EQ(nullptr, GetProcAddress(kernel, "NtDeleteKey"));
  EXPECT_NE(nullptr, GetProcAddress(ntdll, "NtDeleteKey"));
  standin::SetNtDeleteKeyPresent(false);
  EXPECT_EQ(nullptr, GetProcAddress(ntdll, "NtDeleteKey"));
  EXPECT_NE(nullptr, GetProcAddress(ntdll, "RtlNtStatusToDosError"));
}

// A handle held on a link: RegDeleteKeyA(handle, "") opens the empty name
// anew without the open-link flag and, as on Windows (not under Wine),
// reaches the link's target; NtDeleteKey deletes the key the handle holds.
struct HeldLinkRow {
  const char* what;
  const char* target;  // below the classes root
  LONG byEmptyName;
  bool targetStays;
};

TEST_F(StandinTest, HeldLinkIsFollowedByTheEmptyNameAndDeletedByNtDeleteKey) {
  const HeldLinkRow rows[] = {
      {"target with a sub-key", "T\\Victim", ERROR_ACCESS_DENIED, true},
      {"childless target", "T\\Leaf", ERROR_SUCCESS, false},
      {"protected childless target", "T\\Owned", ERROR_ACCESS_DENIED, true},
      {"dangling", "T\\Missing", ERROR_FILE_NOT_FOUND, false},
  };
  for (const HeldLinkRow& row : rows) {
    standin::Reset();
    standin::SetString("T\\Victim\\Child", "v", "x");
    standin::SetString("T\\Leaf", "v", "x");
    standin::SetString("T\\Owned", "v", "x");
    standin::DenyAccess("T\\Owned", KEY_READ);
    standin::CreateLink("L", std::string(standin::kClassesRootNtPath) + "\\" + row.target);
    HKEY link = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, "L", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link));
    EXPECT_EQ(row.byEmptyName, RegDeleteKeyA(link, "")) << row.what;
    EXPECT_EQ(row.targetStays, standin::KeyExists(row.target)) << row.what;
    EXPECT_TRUE(standin::KeyExists("L")) << row.what;
    EXPECT_EQ(STATUS_SUCCESS, NtDeleteKey(link)) << row.what;
    EXPECT_FALSE(standin::KeyExists("L")) << row.what;
    EXPECT_EQ(row.targetStays, standin::KeyExists(row.target)) << row.what;
    EXPECT_EQ(STATUS_KEY_DELETED, NtDeleteKey(link)) << row.what;
    RegCloseKey(link);
  }
}

TEST_F(StandinTest, NtDeleteKeyRefusalsAndTheirErrors) {
  standin::CreateKey("P\\C");
  HKEY parent = Open("P");
  HKEY child = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "C", 0, KEY_READ, &child));
  EXPECT_EQ(STATUS_CANNOT_DELETE, NtDeleteKey(parent));
  EXPECT_EQ(STATUS_ACCESS_DENIED, NtDeleteKey(child));  // no DELETE right
  EXPECT_EQ(STATUS_INVALID_HANDLE, NtDeleteKey(HKEY_CLASSES_ROOT));
  EXPECT_EQ(STATUS_INVALID_HANDLE, NtDeleteKey(reinterpret_cast<HANDLE>(uintptr_t{0x1234})));
  EXPECT_EQ(STATUS_INVALID_HANDLE, NtDeleteKey(nullptr));
  RegCloseKey(child);
  EXPECT_TRUE(standin::KeyExists("P\\C"));
  EXPECT_EQ(0u, RtlNtStatusToDosError(STATUS_SUCCESS));
  EXPECT_EQ(static_cast<ULONG>(ERROR_ACCESS_DENIED), RtlNtStatusToDosError(STATUS_CANNOT_DELETE));
  EXPECT_EQ(static_cast<ULONG>(ERROR_ACCESS_DENIED), RtlNtStatusToDosError(STATUS_ACCESS_DENIED));
  EXPECT_EQ(static_cast<ULONG>(ERROR_INVALID_HANDLE), RtlNtStatusToDosError(STATUS_INVALID_HANDLE));
  EXPECT_EQ(static_cast<ULONG>(ERROR_KEY_DELETED), RtlNtStatusToDosError(STATUS_KEY_DELETED));
  EXPECT_EQ(static_cast<ULONG>(ERROR_MR_MID_NOT_FOUND), RtlNtStatusToDosError(5));
  RegCloseKey(parent);
}

// Where the platform's own behaviour (registry_link_test.cpp) does not
// reach: loops, targets outside what is modelled, and the control calls,
// which see the tree as stored.
TEST_F(StandinTest, LinksThatLoopOrLeaveTheModelLeadNowhere) {
  const std::string root = standin::kClassesRootNtPath;
  standin::SetString("T\\Target", "", "t");
  standin::CreateLink("L", root + "\\T\\Target");
  standin::CreateLink("Loop1", root + "\\Loop2");
  standin::CreateLink("Loop2", root + "\\LOOP1");
  standin::CreateLink("Out", "\\Registry\\User\\Elsewhere");

  RegCloseKey(Open("L\\"));
  EXPECT_EQ(nullptr, Open("Loop1", ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(nullptr, Open("Out", ERROR_FILE_NOT_FOUND));
  HKEY link = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CLASSES_ROOT, "Loop1", REG_OPTION_OPEN_LINK, KEY_READ, &link));
  RegCloseKey(link);
  EXPECT_EQ(ERROR_ALREADY_EXISTS,
            RegCreateKeyExA(HKEY_CLASSES_ROOT, "L", 0, nullptr, REG_OPTION_CREATE_LINK,
                            KEY_ALL_ACCESS, nullptr, &link, nullptr));

  std::string resolved;
  EXPECT_TRUE(standin::ResolvePath("l", true, &resolved));
  EXPECT_EQ("T\\Target", resolved);
  EXPECT_TRUE(standin::ResolvePath("l", false, &resolved));
  EXPECT_EQ("L", resolved);
  EXPECT_FALSE(standin::ResolvePath("Loop1\\x", false, &resolved));
  standin::RemoveKey("L");
  EXPECT_FALSE(standin::KeyExists("L"));
  EXPECT_TRUE(standin::KeyExists("T\\Target"));
  EXPECT_EQ(0u, standin::OpenHandleCount());
}

// A key's security descriptor with an owner outside the caller's token, as
// Wine and Windows apply it (platform-facts.md §13, P:O2 to P:O10): it
// refuses the rights it does not grant, DELETE and the owner's WRITE_DAC
// included, and only on the key itself: a key below it, reached by a path
// through it or through a handle on it, keeps its own.
TEST_F(StandinTest, ProtectionIsTheKeysOwnAndRefusesWhatItDoesNotGrant) {
  standin::SetString("P\\Child", "v", "x");
  standin::DenyAccess("P", KEY_READ);
  const struct {
    const char* path;
    REGSAM access;
    LONG expected;
  } opens[] = {
      {"P", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {"P", KEY_SET_VALUE, ERROR_ACCESS_DENIED},
      {"P", KEY_CREATE_SUB_KEY, ERROR_ACCESS_DENIED},
      {"P", DELETE, ERROR_ACCESS_DENIED},
      {"P", WRITE_DAC, ERROR_ACCESS_DENIED},
      {"P", WRITE_OWNER, ERROR_ACCESS_DENIED},
      {"P", KEY_READ, ERROR_SUCCESS},
      {"P", KEY_QUERY_VALUE, ERROR_SUCCESS},
      {"P\\Child", KEY_ALL_ACCESS, ERROR_SUCCESS},
  };
  for (const auto& o : opens) {
    HKEY key = 0;
    EXPECT_EQ(o.expected, RegOpenKeyExA(HKEY_CLASSES_ROOT, o.path, 0, o.access, &key))
        << o.path << " " << o.access;
    if (key) RegCloseKey(key);
  }
  HKEY parent = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "P", 0, KEY_READ, &parent));
  HKEY child = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, "Child", 0, KEY_ALL_ACCESS, &child));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(child, ""));
  RegCloseKey(child);
  // Childless now, it still may not be deleted.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(parent, ""));
  RegCloseKey(parent);
  EXPECT_TRUE(standin::KeyExists("P"));
  standin::AllowAccess("P");
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CLASSES_ROOT, "P"));
}

// A link never holds sub-keys of its own, whichever way the registry is
// shaped: the control calls create below it in its target (nowhere when it
// leads nowhere), a link made where a key is takes that key's place, and
// names below a link held as itself go on from its target.
TEST_F(StandinTest, LinkNeverHoldsSubKeysOfItsOwn) {
  const std::string root = standin::kClassesRootNtPath;
  standin::SetString("T\\Target", "", "t");
  standin::CreateLink("L", root + "\\T\\Target");
  standin::CreateLink("Dangling", root + "\\Missing");
  standin::CreateKey("L\\Made");
  standin::SetString("L\\Valued", "v", "x");
  standin::SetString("Dangling\\Lost", "v", "x");
  standin::DenyAccess("Dangling\\Lost");
  standin::ProtectValue("Dangling\\Lost", "v");
  standin::CreateLink("L\\Inner", root + "\\T");
  standin::CreateLink("Dangling\\Inner", root + "\\T");
  EXPECT_TRUE(standin::KeyExists("T\\Target\\Made"));
  EXPECT_TRUE(standin::KeyExists("T\\Target\\Valued"));
  EXPECT_TRUE(standin::KeyExists("T\\Target\\Inner"));
  EXPECT_FALSE(standin::KeyExists("L\\Made"));
  EXPECT_FALSE(standin::KeyExists("Dangling\\Lost"));
  EXPECT_FALSE(standin::KeyExists("Missing"));

  HKEY link = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_CLASSES_ROOT, "L", REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link));
  HKEY below = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(link, "Made", REG_OPTION_OPEN_LINK, KEY_READ, &below));
  RegCloseKey(below);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(link, "Made"));
  EXPECT_FALSE(standin::KeyExists("T\\Target\\Made"));
  EXPECT_TRUE(standin::KeyExists("L"));
  RegCloseKey(link);

  // A link made in the place of a key with sub-keys: the key goes, and a
  // handle held on it sees it deleted.
  standin::SetString("K\\Sub", "v", "x");
  HKEY held = Open("K");
  standin::CreateLink("K", root + "\\T\\Target");
  EXPECT_FALSE(standin::KeyExists("K\\Sub"));
  char name[MAX_PATH];
  DWORD length = MAX_PATH;
  EXPECT_EQ(ERROR_KEY_DELETED,
            RegEnumKeyExA(held, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(held);
  std::string resolved;
  EXPECT_TRUE(standin::ResolvePath("K", true, &resolved));
  EXPECT_EQ("T\\Target", resolved);
  EXPECT_EQ(0u, standin::OpenHandleCount());
}

// HKEY_CLASSES_ROOT as Windows shows it: the user's classes over the
// machine's, each reachable on its own below "Software\Classes".
TEST_F(StandinTest, ClassesRootMergesTheUsersClassesOverTheMachines) {
  auto read = [](HKEY root, const char* path, const char* name) -> std::string {
    HKEY key = 0;
    LONG rc = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return "error " + std::to_string(rc);
    char value[16] = "";
    DWORD size = sizeof value;
    rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? value : "error " + std::to_string(rc);
  };
  auto names = [](HKEY key, bool values) {
    std::string out;
    for (DWORD i = 0;; ++i) {
      char name[MAX_PATH];
      DWORD length = MAX_PATH;
      LONG rc = values ? RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                       : RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) return out;
      out += name;
    }
  };
  for (const char* sub : {"A", "C"}) standin::CreateKey(std::string("K\\") + sub);
  standin::SetString("K", "X", "m");
  standin::SetString("K", "Z", "m");
  for (const char* sub : {"A", "B"}) standin::CreateUserKey(std::string("K\\") + sub);
  standin::SetUserString("K", "X", "u");
  standin::SetUserString("K", "Y", "u");
  standin::SetString("M", "", "m");

  EXPECT_EQ("u", read(HKEY_CLASSES_ROOT, "K", "X"));
  EXPECT_EQ("m", read(HKEY_CLASSES_ROOT, "K", "Z"));
  EXPECT_EQ("m", read(HKEY_LOCAL_MACHINE, "Software\\Classes\\K", "X"));
  EXPECT_EQ("u", read(HKEY_CURRENT_USER, "SOFTWARE\\classes\\K", "X"));
  EXPECT_EQ("error 2", read(HKEY_CURRENT_USER, "Software\\Classes\\K", "Z"));
  EXPECT_EQ("error 2", read(HKEY_LOCAL_MACHINE, "Software\\K", "X"));
  HKEY k = Open("K");
  EXPECT_EQ("ABC", names(k, false));
  EXPECT_EQ("XYZ", names(k, true));

  // Deletion reaches the user's copy first; the machine's shows through.
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(k, "A"));
  EXPECT_FALSE(standin::UserKeyExists("K\\A"));
  EXPECT_EQ("ABC", names(k, false));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(k, "A"));
  EXPECT_EQ("BC", names(k, false));
  // A new key goes to the machine's copy.
  HKEY created = 0;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(k, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &created, nullptr));
  EXPECT_TRUE(standin::KeyExists("K\\New"));
  EXPECT_FALSE(standin::UserKeyExists("K\\New"));
  RegCloseKey(created);
  RegCloseKey(k);

  // A handle that reached the machine's copy alone reaches the user's once
  // it is made, and reports its deletion without falling back.
  HKEY m = Open("M");
  standin::SetUserString("M", "", "u");
  char value[4] = "";
  DWORD size = sizeof value;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(m, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size));
  EXPECT_STREQ("u", value);
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(m, ""));
  EXPECT_FALSE(standin::UserKeyExists("M"));
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(m, "", nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(m);
  EXPECT_EQ("m", read(HKEY_CLASSES_ROOT, "M", ""));
  EXPECT_EQ(0u, standin::OpenHandleCount());
}

}  // namespace

namespace {

HANDLE OpenForDeletion(const char* path) {
  return CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// NtQueryObject's name of `file` with a buffer of `size` bytes, as narrow
// text, and its result.
NTSTATUS NameOf(HANDLE file, ULONG size, std::string* name, ULONG* needed) {
  struct {
    OBJECT_NAME_INFORMATION info;
    WCHAR text[600];
  } buffer;
  std::memset(&buffer, 0xAB, sizeof buffer);
  NTSTATUS status = NtQueryObject(file, ObjectNameInformation, &buffer, size, needed);
  name->clear();
  if (status == STATUS_SUCCESS) {
    for (USHORT i = 0; i < buffer.info.Name.Length / 2; ++i)
      *name += static_cast<char>(buffer.info.Name.Buffer[i]);
    EXPECT_EQ(0, buffer.info.Name.Buffer[buffer.info.Name.Length / 2]);
  } else {
    EXPECT_EQ(0xABu, reinterpret_cast<unsigned char*>(&buffer)[0]) << "written on failure";
  }
  return status;
}

}  // namespace

// The calls of Windows XP's check, with the sizes and results measured
// under Wine (platform/host/README.md) and the device names of Windows.
TEST_F(StandinTest, NamesOnTheDeviceAndDeletionThroughTheNativeCall) {
  char device[64];
  std::memset(device, 'x', sizeof device);
  EXPECT_EQ(0u, QueryDosDeviceA("C:", device, 24));  // 23 characters and two terminators
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ('x', device[0]);
  EXPECT_EQ(25u, QueryDosDeviceA("c:", device, 25));
  EXPECT_EQ(0, std::memcmp("\\Device\\HarddiskVolume1\0\0", device, 25));
  EXPECT_EQ(0u, QueryDosDeviceA("Q:", device, sizeof device));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  standin::AddFile("C:\\Victim\\Long Name.dll");
  standin::LinkFolder("C:\\Vendor", "C:\\Victim");
  standin::AddShortName("C:\\VICTIM\\LONGNA~1.DLL", "C:\\Victim\\Long Name.dll");
  const std::string plain = "\\Device\\HarddiskVolume1\\Victim\\Long Name.dll";  // 44
  const struct {
    const char* opened;
    const char* name;
  } rows[] = {{"c:\\victim\\long name.dll.", "\\Device\\HarddiskVolume1\\victim\\long name.dll"},
              {"C:\\Vendor\\Long Name.dll", plain.c_str()},
              {"C:\\VICTIM\\LONGNA~1.DLL", "\\Device\\HarddiskVolume1\\VICTIM\\LONGNA~1.DLL"}};
  for (const auto& row : rows) {
    HANDLE file = OpenForDeletion(row.opened);
    std::string name;
    ULONG needed = 0;
    EXPECT_EQ(STATUS_SUCCESS, NameOf(file, 2000, &name, &needed)) << row.opened;
    EXPECT_EQ(row.name, name) << row.opened;
    CloseHandle(file);
  }
  HANDLE file = OpenForDeletion("C:\\Vendor\\Long Name.dll");
  std::string name;
  ULONG needed = 0;
  const ULONG header = sizeof(OBJECT_NAME_INFORMATION);
  EXPECT_EQ(STATUS_INFO_LENGTH_MISMATCH, NameOf(file, header - 1, &name, &needed));
  EXPECT_EQ(header + 90, needed);  // the name and its terminator
  EXPECT_EQ(STATUS_BUFFER_OVERFLOW, NameOf(file, header + 89, &name, &needed));
  EXPECT_EQ(STATUS_SUCCESS, NameOf(file, header + 90, &name, &needed));
  EXPECT_EQ(STATUS_INVALID_HANDLE, NameOf(nullptr, 2000, &name, &needed));

  IO_STATUS_BLOCK status;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  standin::LockFile("C:\\Victim\\Long Name.dll", ERROR_ACCESS_DENIED);  // read-only
  EXPECT_EQ(STATUS_CANNOT_DELETE,
            NtSetInformationFile(file, &status, &disposition, sizeof disposition,
                                 FileDispositionInformation));
  EXPECT_EQ(STATUS_CANNOT_DELETE, status.Status);
  CloseHandle(file);
  standin::AddFile("C:\\plain.dll");
  file = CreateFileA("C:\\plain.dll", FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(STATUS_ACCESS_DENIED,
            NtSetInformationFile(file, &status, &disposition, sizeof disposition,
                                 FileDispositionInformation));
  CloseHandle(file);
  file = OpenForDeletion("C:\\plain.dll");
  EXPECT_EQ(STATUS_SUCCESS, NtSetInformationFile(file, &status, &disposition, sizeof disposition,
                                                 FileDispositionInformation));
  EXPECT_TRUE(standin::FileExists("C:\\plain.dll"));  // until the handle closes
  CloseHandle(file);
  EXPECT_FALSE(standin::FileExists("C:\\plain.dll"));

  // U+0101 has the best fit "a", unless the caller refuses it.
  const WCHAR wide[] = {'L', 0x101, 'b'};
  char narrow[4] = {};
  BOOL lossy = TRUE;
  EXPECT_EQ(3, WideCharToMultiByte(CP_ACP, 0, wide, 3, narrow, 3, nullptr, &lossy));
  EXPECT_STREQ("Lab", narrow);
  EXPECT_FALSE(lossy);
  EXPECT_EQ(3,
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, 3, narrow, 3, nullptr, &lossy));
  EXPECT_STREQ("L?b", narrow);
  EXPECT_TRUE(lossy);
  EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, wide, 3, narrow, 2, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}
