// The class-manager lookup, run over a sandbox key that stands in for the
// class root. Runs on both builds.

#include <gtest/gtest.h>

#include <string>

#include "removal/removal_run.h"
#include "support/test_registry.h"

namespace {

using test_support::ScratchKey;

TEST(EqualsIgnoringAsciiCaseTest, FoldsOnlyTheLettersAToZ) {
  struct Case {
    const char* value;
    bool equal;
  } cases[] = {
      {"ActiveMovie Filter Class Manager", true},   {"activemovie filter class manager", true},
      {"ACTIVEMOVIE FILTER CLASS MANAGER", true},   {"ActiveMovie Filter Class Manager ", false},
      {" ActiveMovie Filter Class Manager", false}, {"ActiveMovie Filter Class Manage", false},
      {"ActiveMovie_Filter Class Manager", false},  {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.equal, EqualsIgnoringAsciiCase(c.value, ClassManagerName)) << c.value;
  // Bytes outside A to Z are compared unchanged, whatever the code page.
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC4", "\xE4"));
  EXPECT_TRUE(EqualsIgnoringAsciiCase("[x]@`", "[X]@`"));
  // The first and last letters fold; their neighbours "@" "[" and "`" "{"
  // do not.
  struct Pair {
    const char* a;
    const char* b;
    bool equal;
  } pairs[] = {{"AZ", "az", true}, {"az", "AZ", true}, {"@", "`", false},
               {"`", "@", false},  {"[", "{", false},  {"{", "[", false}};
  for (const Pair& p : pairs) EXPECT_EQ(p.equal, EqualsIgnoringAsciiCase(p.a, p.b)) << p.a;
}

class LookupTest : public ::testing::Test {
 protected:
  ScratchKey root{"rf-lookup-"};

  void AddClass(const std::string& name, DWORD type, const std::string& value) {
    test_support::SetValue(HKEY_CLASSES_ROOT, root.Below(name), "", type, value);
  }
  void AddClass(const std::string& name, const std::string& text) {
    test_support::SetString(HKEY_CLASSES_ROOT, root.Below(name), "", text);
  }

  std::string Find() {
    RegistryKey rootKey(HKEY_CLASSES_ROOT, root.Path().c_str());
    RegistryKey probeKey;
    char nameBuffer[MAX_PATH];
    char valueBuffer[MAX_PATH];
    char managerClsid[MAX_PATH] = "stale";
    FindClassManager(rootKey, probeKey, nameBuffer, valueBuffer, managerClsid);
    return managerClsid;
  }
};

TEST_F(LookupTest, NoClassKeysNoManager) { EXPECT_EQ("", Find()); }

TEST_F(LookupTest, NoKeyCarriesTheName) {
  AddClass("{10000000-0000-0000-0000-000000000001}", "Some Filter");
  AddClass("{20000000-0000-0000-0000-000000000002}", "ActiveMovie Filter");
  EXPECT_EQ("", Find());
}

TEST_F(LookupTest, FindsTheManagerAmongOtherClasses) {
  AddClass("{10000000-0000-0000-0000-000000000001}", "Some Filter");
  AddClass("{20000000-0000-0000-0000-000000000002}", ClassManagerName);
  AddClass("{30000000-0000-0000-0000-000000000003}", "Another");
  EXPECT_EQ("{20000000-0000-0000-0000-000000000002}", Find());
}

TEST_F(LookupTest, OtherLetterCaseMatches) {
  AddClass("{20000000-0000-0000-0000-00000000000a}", "activemovie filter class manager");
  EXPECT_EQ("{20000000-0000-0000-0000-00000000000a}", Find());
}

TEST_F(LookupTest, ExtraCharactersDoNotMatch) {
  AddClass("{20000000-0000-0000-0000-000000000001}", "ActiveMovie Filter Class Manager ");
  AddClass("{20000000-0000-0000-0000-000000000002}", "xActiveMovie Filter Class Manager");
  EXPECT_EQ("", Find());
}

TEST_F(LookupTest, FirstInEnumerationOrderWins) {
  // Created in reverse order: enumeration order, not creation order, rules.
  AddClass("{B0000000-0000-0000-0000-000000000002}", ClassManagerName);
  AddClass("{a0000000-0000-0000-0000-000000000001}", "ACTIVEMOVIE FILTER CLASS MANAGER");
  EXPECT_EQ("{a0000000-0000-0000-0000-000000000001}", Find());
}

TEST_F(LookupTest, DefaultValuesThatCannotMatchAreSkipped) {
  AddClass("{10000000-0000-0000-0000-000000000001}", REG_EXPAND_SZ,
           std::string(ClassManagerName) + '\0');
  AddClass("{10000000-0000-0000-0000-000000000002}", REG_BINARY,
           std::string(ClassManagerName) + '\0');
  AddClass("{10000000-0000-0000-0000-000000000003}", std::string(400, 'A'));
  AddClass("{10000000-0000-0000-0000-000000000007}", std::string(260, 'A'));  // one byte past
  AddClass("{10000000-0000-0000-0000-000000000008}", std::string(259, 'A'));  // fills it
  test_support::CreateKey(HKEY_CLASSES_ROOT, root.Below("{10000000-0000-0000-0000-000000000004}"));
  test_support::SetString(HKEY_CLASSES_ROOT, root.Below("{10000000-0000-0000-0000-000000000005}"),
                          "Name", ClassManagerName);
  AddClass("{10000000-0000-0000-0000-000000000006}", ClassManagerName);
  EXPECT_EQ("{10000000-0000-0000-0000-000000000006}", Find());
}

TEST_F(LookupTest, ValueStoredWithoutTerminatorStillMatches) {
  AddClass("{10000000-0000-0000-0000-000000000001}", REG_SZ, ClassManagerName);
  EXPECT_EQ("{10000000-0000-0000-0000-000000000001}", Find());
}

TEST_F(LookupTest, ANameThatIsNotAClassIdentifierIsStillAClassKey) {
  AddClass("Manager Key", ClassManagerName);
  EXPECT_EQ("Manager Key", Find());
}

TEST(RunRemovalTest, ReturnsZeroAndResolvesTheLongPathFunction) {
  pfnGetLongPathName = nullptr;
  EXPECT_EQ(0, RunRemoval());
  EXPECT_NE(nullptr, pfnGetLongPathName);
}

}  // namespace
