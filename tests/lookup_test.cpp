// The class-manager lookup, run over a sandbox key that stands in for the
// class root. Runs on both builds.

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// A class key of a lookup row: its name and, unless `valueName` is null,
// one value of `type` holding `bytes`.
struct ClassKey {
  std::string name;
  std::string bytes;
  DWORD type = REG_SZ;
  const char* valueName = "";
};

// A default value as the platform stores text: with its terminator.
std::string Sz(const std::string& text) { return text + '\0'; }

// The class keys below a sandbox that stands in for the class root, and
// the class manager that the lookup must find there ("" for none).
struct LookupRow {
  const char* name;
  std::vector<ClassKey> keys;
  std::string found;
};

const LookupRow kLookups[] = {
    {"NoClassKeysNoManager", {}, ""},
    {"NoKeyCarriesTheName",
     {{"{10000000-0000-0000-0000-000000000001}", Sz("Some Filter")},
      {"{20000000-0000-0000-0000-000000000002}", Sz("ActiveMovie Filter")}},
     ""},
    {"FindsTheManagerAmongOtherClasses",
     {{"{10000000-0000-0000-0000-000000000001}", Sz("Some Filter")},
      {"{20000000-0000-0000-0000-000000000002}", Sz(ClassManagerName)},
      {"{30000000-0000-0000-0000-000000000003}", Sz("Another")}},
     "{20000000-0000-0000-0000-000000000002}"},
    {"OtherLetterCaseMatches",
     {{"{20000000-0000-0000-0000-00000000000a}", Sz("activemovie filter class manager")}},
     "{20000000-0000-0000-0000-00000000000a}"},
    {"ExtraCharactersDoNotMatch",
     {{"{20000000-0000-0000-0000-000000000001}", Sz("ActiveMovie Filter Class Manager ")},
      {"{20000000-0000-0000-0000-000000000002}", Sz("xActiveMovie Filter Class Manager")}},
     ""},
    // Created in reverse order: enumeration order, not creation order, rules.
    {"FirstInEnumerationOrderWins",
     {{"{B0000000-0000-0000-0000-000000000002}", Sz(ClassManagerName)},
      {"{a0000000-0000-0000-0000-000000000001}", Sz("ACTIVEMOVIE FILTER CLASS MANAGER")}},
     "{a0000000-0000-0000-0000-000000000001}"},
    {"DefaultValuesThatCannotMatchAreSkipped",
     {{"{10000000-0000-0000-0000-000000000001}", Sz(ClassManagerName), REG_EXPAND_SZ},
      {"{10000000-0000-0000-0000-000000000002}", Sz(ClassManagerName), REG_BINARY},
      {"{10000000-0000-0000-0000-000000000003}", Sz(std::string(400, 'A'))},
      {"{10000000-0000-0000-0000-000000000007}", Sz(std::string(260, 'A'))},  // one byte past
      {"{10000000-0000-0000-0000-000000000008}", Sz(std::string(259, 'A'))},  // fills it
      {"{10000000-0000-0000-0000-000000000004}", "", REG_SZ, nullptr},
      {"{10000000-0000-0000-0000-000000000005}", Sz(ClassManagerName), REG_SZ, "Name"},
      {"{10000000-0000-0000-0000-000000000006}", Sz(ClassManagerName)}},
     "{10000000-0000-0000-0000-000000000006}"},
    {"ValueStoredWithoutTerminatorStillMatches",
     {{"{10000000-0000-0000-0000-000000000001}", ClassManagerName}},
     "{10000000-0000-0000-0000-000000000001}"},
    {"ANameThatIsNotAClassIdentifierIsStillAClassKey",
     {{"Manager Key", Sz(ClassManagerName)}},
     "Manager Key"},
};

class LookupTest : public ::testing::TestWithParam<LookupRow> {
 protected:
  ScratchKey root{"rf-lookup-"};

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

TEST_P(LookupTest, FindsTheFirstClassKeyNamedTheManager) {
  for (const ClassKey& key : GetParam().keys) {
    if (key.valueName) {
      test_support::SetValue(HKEY_CLASSES_ROOT, root.Below(key.name), key.valueName, key.type,
                             key.bytes);
    } else {
      test_support::CreateKey(HKEY_CLASSES_ROOT, root.Below(key.name));
    }
  }
  EXPECT_EQ(GetParam().found, Find());
}

INSTANTIATE_TEST_SUITE_P(Rows, LookupTest, ::testing::ValuesIn(kLookups),
                         [](const ::testing::TestParamInfo<LookupRow>& row) {
                           return std::string(row.param.name);
                         });

TEST(RunRemovalTest, ReturnsZeroAndResolvesTheLongPathFunction) {
  pfnGetLongPathName = nullptr;
  EXPECT_EQ(0, RunRemoval());
  EXPECT_NE(nullptr, pfnGetLongPathName);
}

}  // namespace
