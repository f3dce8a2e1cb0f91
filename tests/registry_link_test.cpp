// Registry links met by the tree deletion and by the whole removal. A link
// can lead anywhere in the registry; opened the ordinary way, or deleted by
// name, it is followed. The deletion must remove a link as a link and leave
// the key it leads to exactly as it was. Runs on both builds; the first test
// pins the stand-in's model of links to the platform's own behaviour.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers/sample_filter.h"
#include "registry/registry_key.h"
#include "removal/removal_run.h"
#include "support/isolated_call.h"
#include "support/removal_fixture.h"
#include "support/test_files.h"
#include "support/test_registry.h"

namespace {

using test_support::CreateLink;
using test_support::DumpTree;
using test_support::KeyExists;
using test_support::ScratchKey;
using test_support::SetString;
using test_support::WithoutKey;

// A scratch key with "elsewhere": a key with a sub-key and values, and a
// childless key with a value. Links planted in a tree beside it lead there.
class LinkTest : public ::testing::Test {
 protected:
  ScratchKey scratch{"rf-link-"};

  void SetUp() override {
    SetString(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\victim"), "", "victim");
    SetString(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\victim\\child"), "v", "keep");
    SetString(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\leaf"), "n", "keep");
  }

  void Link(const std::string& at, const std::string& target) {
    CreateLink(HKEY_CLASSES_ROOT, scratch.Below(at), scratch.Below(target));
  }
  std::vector<std::string> Dump() { return DumpTree(HKEY_CLASSES_ROOT, scratch.Path()); }
  Status DeleteBelowScratch(const char* name) {
    RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
    return key.DeleteKeyTree(name);
  }
  HKEY OpenBelowScratch(const std::string& path, DWORD options) {
    HKEY key = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, scratch.Below(path).c_str(), options,
                                           KEY_ALL_ACCESS, &key))
        << path;
    return key;
  }
};

TEST_F(LinkTest, PlatformFollowsALinkUnlessAskedForTheLinkItself) {
  Link("link", "elsewhere\\victim");
  Link("leafLink", "elsewhere\\leaf");

  HKEY followed = OpenBelowScratch("link", 0);
  char value[32] = {};
  DWORD size = sizeof value;
  DWORD type = REG_NONE;
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(followed, "", nullptr, &type, reinterpret_cast<BYTE*>(value), &size));
  EXPECT_STREQ("victim", value);
  RegCloseKey(followed);

  HKEY link = OpenBelowScratch("link", REG_OPTION_OPEN_LINK);
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(link, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(REG_LINK), type);

  // Deleting by name reaches the target: refused while it has a sub-key,
  // done when it has none, and the link stays behind, leading nowhere.
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, scratch.Below("link").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CLASSES_ROOT, scratch.Below("leafLink").c_str()));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\leaf")));
  HKEY dangling = 0;
  EXPECT_EQ(
      ERROR_FILE_NOT_FOUND,
      RegOpenKeyExA(HKEY_CLASSES_ROOT, scratch.Below("leafLink").c_str(), 0, KEY_READ, &dangling));

  // Through a handle on the link itself, the native deletion removes the
  // link and the target stays. (RegDeleteKeyA(link, "") opens the empty
  // name anew without the open-link flag: under Wine that is the link,
  // on Windows its target.)
  EXPECT_EQ(ERROR_SUCCESS, test_support::DeleteHeldKey(link));
  RegCloseKey(link);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\victim\\child")));
  HKEY gone = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CLASSES_ROOT, scratch.Below("link").c_str(),
                                                REG_OPTION_OPEN_LINK, KEY_READ, &gone));
}

// Opens the link at `path` as itself and creates "made" below it. Wine 10
// overflows its stack in the creation when the link leads nowhere.
LONG CreateBelowLinkItself(const std::string& path) {
  HKEY link = 0;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link) !=
      ERROR_SUCCESS)
    return -1;  // not a status of the creation
  HKEY made = 0;
  LONG rc = RegCreateKeyExA(link, "made", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr);
  if (rc == ERROR_SUCCESS) RegCloseKey(made);
  RegCloseKey(link);
  return rc;
}

// Held as itself, a link has no sub-keys of its own: enumerating it finds
// none, and what is created below it goes to its target (nowhere, when it
// leads nowhere; made where a crash cannot end the tests). Nor does an
// existing key become a link. The tree deletion walks a link without a
// check first on the strength of this.
TEST_F(LinkTest, LinkHeldAsItselfHasNoSubKeysOfItsOwn) {
  Link("link", "elsewhere\\victim");
  Link("dangling", "elsewhere\\missing");
  char name[MAX_PATH];
  for (const char* at : {"link", "dangling"}) {
    HKEY link = OpenBelowScratch(at, REG_OPTION_OPEN_LINK);
    DWORD length = MAX_PATH;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(link, 0, name, &length, nullptr, nullptr, nullptr, nullptr))
        << at;
    test_support::ExpectStatusOrWineCrash(
        std::string(at) == "link" ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND, CreateBelowLinkItself,
        scratch.Below(at), std::string("RegCreateKeyExA below the ") + at + " link held as itself");
    length = MAX_PATH;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(link, 0, name, &length, nullptr, nullptr, nullptr, nullptr))
        << at;
    RegCloseKey(link);
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\victim\\made")));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\missing")));
  HKEY key = 0;
  EXPECT_EQ(
      ERROR_ALREADY_EXISTS,
      RegCreateKeyExA(HKEY_CLASSES_ROOT, scratch.Below("elsewhere\\victim").c_str(), 0, nullptr,
                      REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

// A REG_LINK value of the link's value name does not make a key a link: the
// key is walked and goes with everything below it, and what the value
// names is left alone.
TEST_F(LinkTest, OrdinaryKeyHoldingALinkValueGoesWithItsTree) {
  SetString(HKEY_CLASSES_ROOT, scratch.Below("tree\\fake\\sub"), "Named", "x");
  HKEY fake = OpenBelowScratch("tree\\fake", 0);
  std::string target =
      "\\Registry\\Machine\\Software\\Classes\\" + scratch.Below("elsewhere\\victim");
  std::string utf16;
  for (char c : target) {
    utf16 += c;
    utf16 += '\0';
  }
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(fake, "SymbolicLinkValue", 0, REG_LINK,
                                          reinterpret_cast<const BYTE*>(utf16.data()),
                                          static_cast<DWORD>(utf16.size())));
  RegCloseKey(fake);
  std::vector<std::string> before = Dump();

  EXPECT_EQ(0, DeleteBelowScratch("tree"));

  EXPECT_EQ(WithoutKey(before, "tree"), Dump());
}

// A tree with values at every level and one link planted in it.
struct PlantedLink {
  const char* at;      // below the scratch key, inside "tree"
  const char* target;  // below the scratch key
};

class PlantedLinkTest : public LinkTest, public ::testing::WithParamInterface<PlantedLink> {};

TEST_P(PlantedLinkTest, TreeGoesWithTheLinkAndTheTargetStaysAsItWas) {
  for (const char* key : {"tree", "tree\\a", "tree\\a\\b", "tree\\c"}) {
    SetString(HKEY_CLASSES_ROOT, scratch.Below(key), "", key);
    SetString(HKEY_CLASSES_ROOT, scratch.Below(key), "Named", "x");
  }
  Link(GetParam().at, GetParam().target);
  std::vector<std::string> before = Dump();

  EXPECT_EQ(0, DeleteBelowScratch("tree"));

  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, scratch.Below("tree")));
  EXPECT_EQ(WithoutKey(before, "tree"), Dump());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, PlantedLinkTest,
    ::testing::Values(PlantedLink{"tree\\a\\escape", "elsewhere\\victim"},  // has sub-keys
                      PlantedLink{"tree\\a\\leaf", "elsewhere\\leaf"},      // childless
                      PlantedLink{"tree\\a\\b\\loop", "tree"},              // back to the root
                      PlantedLink{"tree\\up", ""},  // to an ancestor of the tree
                      PlantedLink{"tree\\c\\dangling", "elsewhere\\missing"}));

TEST_F(LinkTest, NamedKeyThatIsItselfALinkGoesAlone) {
  Link("alias", "elsewhere\\victim");
  std::vector<std::string> before = Dump();
  EXPECT_EQ(0, DeleteBelowScratch("alias"));
  EXPECT_EQ(WithoutKey(before, "alias"), Dump());
}

class LinkRemovalTest : public test_support::RemovalFixture {
 protected:
  ScratchKey elsewhere{"rf-link-target-"};
};

TEST_F(LinkRemovalTest, LinksInBothTargetsLeaveWhatTheyLeadToAlone) {
  RegisterManager();
  std::string server = RegisterWholeFilter();
  SetString(HKEY_CLASSES_ROOT, elsewhere.Below("child"), "v", "keep");
  std::string classKey = ClassPath(TargetFilterClsid);
  // To the manager's entry for another filter, to the manager's whole class
  // key, back to the filter's class key, and out of the class root.
  CreateLink(HKEY_CLASSES_ROOT, InstanceEntryPath() + "\\Pins\\Shared",
             ClassPath(manager_) + "\\Instance\\" + helpers::kOtherFilterClsid);
  CreateLink(HKEY_CLASSES_ROOT, classKey + "\\Level1\\Manager", ClassPath(manager_));
  CreateLink(HKEY_CLASSES_ROOT, classKey + "\\Level1\\Level2\\Loop", classKey);
  CreateLink(HKEY_CLASSES_ROOT, classKey + "\\Elsewhere", elsewhere.Path());
  auto before = Snapshot();
  auto outside = DumpTree(HKEY_CLASSES_ROOT, elsewhere.Path());

  EXPECT_EQ(0, RunRemoval());

  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_EQ(outside, DumpTree(HKEY_CLASSES_ROOT, elsewhere.Path()));
  EXPECT_FALSE(test_support::FileExists(server));
}

TEST_F(LinkRemovalTest, ClassKeyThatIsALinkGoesAsALink) {
  RegisterManager();
  RegisterInstanceEntry();
  SetString(HKEY_CLASSES_ROOT, elsewhere.Below("Level1"), "", "not the filter's");
  CreateLink(HKEY_CLASSES_ROOT, ClassPath(TargetFilterClsid), elsewhere.Path());
  auto before = Snapshot();
  auto outside = DumpTree(HKEY_CLASSES_ROOT, elsewhere.Path());

  RunRemoval();

  EXPECT_EQ(ExpectedAfter(before), Snapshot());
  EXPECT_EQ(outside, DumpTree(HKEY_CLASSES_ROOT, elsewhere.Path()));
}

}  // namespace
