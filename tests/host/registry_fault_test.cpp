// The registry layer and the lookup under conditions only the stand-in can
// make: protected keys and values, names past the platform's limits,
// injected failures, and an exact count of open handles.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "platform/host/standin_control.h"
#include "registry/key_tree.h"
#include "registry/registry_key.h"
#include "removal/removal_run.h"
#include "support/host/standin_fixture.h"
#include "support/test_registry.h"

namespace {

class HostRegistryTest : public test_support::OnFreshStandin<> {
 protected:
  // A tree below "T\Doomed", values at every level, beside "T\Kept".
  void BuildTree() {
    for (const char* key : {"T\\Doomed", "T\\Doomed\\A", "T\\Doomed\\A\\A1", "T\\Doomed\\B",
                            "T\\Doomed\\C\\C1\\C2"}) {
      standin::SetString(key, "", "default");
      standin::SetString(key, "Named", "v");
    }
    standin::SetString("T\\Kept", "Named", "v");
  }

  Status DeleteDoomed() {
    RegistryKey key(HKEY_CLASSES_ROOT, "T");
    return key.DeleteKeyTree("Doomed");
  }

  // The passes of the tree deletion on `path`, opened as the deletion opens
  // every key of a tree.
  static LONG SubKeyPass(const char* path) {
    RegistryKey key;
    key.Open(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
    KeyTreeDeletion deletion;
    return deletion.DeleteAllSubKeys(key);
  }
  static LONG ValuePass(const char* path) {
    RegistryKey key;
    key.Open(HKEY_CLASSES_ROOT, path, KEY_ALL_ACCESS, REG_OPTION_OPEN_LINK);
    return KeyTreeDeletion::DeleteAllValues(key);
  }
};

// A key is checked for a link, and emptied of its named values, only when
// its deletion failed: a tree that goes without a failure costs neither.
TEST_F(HostRegistryTest, OnlyAKeyThatStaysIsCheckedForALinkAndEmptied) {
  BuildTree();
  standin::SetString("T\\Doomed\\C\\C1\\C2\\C3", "Named", "v");
  EXPECT_EQ(0, DeleteDoomed());
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegQueryValueExA));
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegEnumValueA));
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegDeleteValueA));

  standin::Reset();
  BuildTree();
  standin::FailOnKey(standin::Call::NtDeleteKey, "T\\Doomed\\A", STATUS_ACCESS_DENIED);
  EXPECT_EQ(static_cast<Status>(0x80070005), DeleteDoomed());
  // "A" and, in turn, "Doomed" stay. The walk goes forward: "A" is met
  // once, and each is checked and emptied once.
  EXPECT_EQ(2u, standin::CallCount(standin::Call::RegQueryValueExA));
  EXPECT_EQ(2u, standin::CallCount(standin::Call::RegDeleteValueA));
  EXPECT_EQ(
      "T\nT\\Doomed\n  \"\" type 1 [default\\x00]\nT\\Doomed\\A\n"
      "  \"\" type 1 [default\\x00]\nT\\Kept\n  \"Named\" type 1 [v\\x00]\n",
      standin::Dump());
}

// The calls a tree deletion makes: a key expected to be a leaf is tried for
// deletion at once, one expected to have n sub-keys right after its n-th
// went, and only a key whose sub-keys are not known is counted first;
// expectations are kept per level up to the deepest remembered one.
struct TreeCallsRow {
  const char* what;
  std::vector<std::string> keys;  // below "T\Doomed"
  int chainDepth;                 // and a chain of this many levels below "T\Doomed\chain"
  uint64_t opens, enums, deletions, counts = 0;  // counts: sub-key counts asked for
};

// `count` sub-keys below each of `parents`.
std::vector<std::string> WithChildren(std::vector<std::string> parents, int count) {
  std::vector<std::string> keys;
  for (const std::string& parent : parents)
    for (int i = 0; i < count; ++i) keys.push_back(parent + "\\k" + std::to_string(i));
  return keys;
}

class TreeCallCountTest : public HostRegistryTest,
                          public ::testing::WithParamInterface<TreeCallsRow> {};

TEST_P(TreeCallCountTest, EachKeyCostsTheCallsItsExpectationsAllow) {
  const TreeCallsRow& row = GetParam();
  standin::CreateKey("T\\Doomed");
  for (const std::string& key : row.keys) standin::CreateKey("T\\Doomed\\" + key);
  std::string chain = "T\\Doomed";
  for (int i = 0; i < row.chainDepth; ++i) chain += "\\c";
  if (row.chainDepth) standin::CreateKey(chain);
  RegistryKey parent(HKEY_CLASSES_ROOT, "T");
  uint64_t parentOpens = standin::CallCount(standin::Call::RegOpenKeyExA);
  EXPECT_EQ(0, parent.DeleteKeyTree("Doomed"));
  EXPECT_EQ("T\n", standin::Dump());
  EXPECT_EQ(row.opens, standin::CallCount(standin::Call::RegOpenKeyExA) - parentOpens);
  EXPECT_EQ(row.enums, standin::CallCount(standin::Call::RegEnumKeyExA));
  EXPECT_EQ(row.deletions, standin::CallCount(standin::Call::NtDeleteKey));
  EXPECT_EQ(row.counts, standin::CallCount(standin::Call::RegQueryInfoKeyA));
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegQueryValueExA));
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegEnumValueA));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TreeCallCountTest,
    ::testing::Values(TreeCallsRow{"leaf", {}, 0, 1, 0, 1, 0},
                      TreeCallsRow{"threeLeaves", {"a", "b", "c"}, 0, 4, 3, 5, 1},
                      TreeCallsRow{"siblingsOfEveryShape",
                                   {"a\\x", "b\\x", "b\\y", "b\\z", "c\\x", "d", "e\\x\\y", "e\\z",
                                    "f\\x\\y", "g"},
                                   0,
                                   18,
                                   22,
                                   24,
                                   6},
                      TreeCallsRow{"equalSiblings", {"a\\x", "b\\x", "c\\x"}, 0, 7, 6, 9, 2},
                      TreeCallsRow{"siblingsAtTheMostCountedSubKeys",
                                   WithChildren({"a", "b", "c"}, 254), 0, 766, 765, 768, 2},
                      TreeCallsRow{"namesOfOneCharacterAndStartingWithAControlCharacter",
                                   {"\x01", "\x01x\\y", "q\x01"},
                                   0,
                                   5,
                                   5,
                                   7,
                                   2},
                      TreeCallsRow{"chainDeeperThanTheRememberedLevels",
                                   {},
                                   KeyTreeDeletion::kLevels + 3,
                                   516,
                                   515,
                                   1028,
                                   516}),

    [](const ::testing::TestParamInfo<TreeCallsRow>& row) { return std::string(row.param.what); });

// How the native deletion is found decides what a link in the tree costs:
// found, the link goes as a link; missing (or its result cannot be
// folded), the link stays with its value and its ancestors, and every
// ordinary key beside it still goes. The target is never touched.
struct NativeLookupRow {
  const char* what;
  std::function<void()> arrange;
  bool linksGo;
};

class NativeLookupTest : public HostRegistryTest,
                         public ::testing::WithParamInterface<NativeLookupRow> {};

TEST_P(NativeLookupTest, LinkGoesOnlyThroughTheNativeDeletion) {
  const NativeLookupRow& row = GetParam();
  const std::string root = standin::kClassesRootNtPath;
  BuildTree();
  standin::SetString("Outside\\Leaf", "n", "keep");
  standin::SetString("Outside\\Victim\\Child", "n", "keep");
  standin::CreateLink("T\\Doomed\\A\\Leaf", root + "\\Outside\\Leaf");
  standin::CreateLink("T\\Doomed\\Victim", root + "\\Outside\\Victim");
  standin::CreateLink("T\\Doomed\\Dangling", root + "\\Outside\\Missing");
  // "Outside" sorts before "T": the dump's lines up to "T".
  auto outsidePart = [](const std::string& dump) { return dump.substr(0, dump.find("\nT\n")); };
  std::string outside = outsidePart(standin::Dump());
  row.arrange();
  {
    RegistryKey parent(HKEY_CLASSES_ROOT, "T\\Doomed");
    EXPECT_EQ(row.linksGo ? 0 : StatusFromError(ERROR_PROC_NOT_FOUND),
              parent.DeleteKeyTree("Dangling"));
  }
  EXPECT_EQ(row.linksGo ? 0 : StatusFromError(ERROR_ACCESS_DENIED), DeleteDoomed());
  standin::ClearFaults();
  EXPECT_EQ(outside, outsidePart(standin::Dump()));
  EXPECT_TRUE(standin::KeyExists("T\\Kept"));
  EXPECT_EQ(!row.linksGo, standin::KeyExists("T\\Doomed\\A\\Leaf"));
  EXPECT_EQ(!row.linksGo, standin::KeyExists("T\\Doomed\\Victim"));
  EXPECT_EQ(!row.linksGo, standin::KeyExists("T\\Doomed\\Dangling"));
  EXPECT_FALSE(standin::KeyExists("T\\Doomed\\A\\A1"));
  EXPECT_FALSE(standin::KeyExists("T\\Doomed\\B"));
  EXPECT_FALSE(standin::KeyExists("T\\Doomed\\C"));
  if (!row.linksGo) {
    EXPECT_FALSE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\Doomed", "Named"));
    std::string target;
    EXPECT_TRUE(standin::ResolvePath("T\\Doomed\\Victim", true, &target));
    EXPECT_EQ("Outside\\Victim", target);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, NativeLookupTest,
    ::testing::Values(NativeLookupRow{"found", [] {}, true},
                      NativeLookupRow{"NtDeleteKeyMissing",
                                      [] { standin::SetNtDeleteKeyPresent(false); }, false},
                      NativeLookupRow{"foldMissing",
                                      [] {
                                        // the first lookup of each deletion is the fold's
                                        for (int n = 1; n <= 3; n += 2)
                                          standin::FailCall(standin::Call::GetProcAddress, n,
                                                            ERROR_PROC_NOT_FOUND);
                                      },
                                      false},
                      NativeLookupRow{"ntdllNotFound",
                                      [] {
                                        for (int n = 1; n <= 2; ++n)
                                          standin::FailCall(standin::Call::GetModuleHandleA, n,
                                                            ERROR_MOD_NOT_FOUND);
                                      },
                                      false}),
    [](const ::testing::TestParamInfo<NativeLookupRow>& row) {
      return std::string(row.param.what);
    });

// A deletion made in memory that held something else still expects every
// key to be a leaf at first.
TEST_F(HostRegistryTest, DeletionInDirtyMemoryStartsExpectingLeaves) {
  standin::CreateKey("T\\Doomed");
  alignas(KeyTreeDeletion) unsigned char storage[sizeof(KeyTreeDeletion)];
  std::memset(storage, 0x5A, sizeof storage);
  KeyTreeDeletion* deletion = new (storage) KeyTreeDeletion;
  RegistryKey parent(HKEY_CLASSES_ROOT, "T");
  EXPECT_EQ(0, deletion->DeleteTree(parent.Handle(), "Doomed"));
  EXPECT_EQ(0u, standin::CallCount(standin::Call::RegEnumKeyExA));
  EXPECT_EQ(1u, standin::CallCount(standin::Call::NtDeleteKey));
  deletion->~KeyTreeDeletion();
}

// What the value pass leaves on a key that stays ("T\Doomed", whose
// sub-key "Protected" refuses every access), and on a link in the tree.
// Under Wine a key stays so above an owned key (e2e_test.py,
// MachineStateTest): test_owned_leaf_in_the_class_key leaves on the class key
// a value named like a link's gone, a name of 259 characters gone and one of
// 260 kept (the rows valueNamedLikeALinksOfAnotherType and
// valueNamesUpToTheBufferGoAndLongerOnesStay), and
// test_owned_leaves_deep_in_the_instance_entry an entry without a default
// value emptied (everyNamedValueGoesWithoutADefaultOne). The other rows'
// faults only the stand-in makes.
struct SurvivorRow {
  const char* what;
  std::function<void()> arrange;
  std::string keyPath;
  std::vector<std::string> gone, kept;
};

class SurvivorValuesTest : public HostRegistryTest,
                           public ::testing::WithParamInterface<SurvivorRow> {};

TEST_P(SurvivorValuesTest, NamedValuesGoUnlessTheKeyMayBeALink) {
  const SurvivorRow& row = GetParam();
  standin::DenyAccess("T\\Doomed\\Protected");
  row.arrange();
  DeleteDoomed();
  standin::ClearFaults();
  for (const std::string& name : row.gone)
    EXPECT_FALSE(test_support::ValueExists(HKEY_CLASSES_ROOT, row.keyPath, name)) << name;
  HKEY key = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, row.keyPath.c_str(),
                                         REG_OPTION_OPEN_LINK, KEY_READ, &key));
  for (const std::string& name : row.kept)
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr))
        << name.size() << " " << name.substr(0, 8);
  RegCloseKey(key);
}

const std::string kLink = "SymbolicLinkValue";

INSTANTIATE_TEST_SUITE_P(
    Rows, SurvivorValuesTest,
    ::testing::Values(SurvivorRow{"valueNamedLikeALinksOfAnotherType",
                                  [] {
                                    standin::SetString("T\\Doomed", kLink, "text");
                                    standin::SetString("T\\Doomed", "Named", "v");
                                  },
                                  "T\\Doomed",
                                  {kLink, "Named"},
                                  {}},
                      SurvivorRow{"linkWhoseDeletionFailsKeepsItsTarget",
                                  [] {
                                    standin::CreateLink(
                                        "T\\Doomed\\Link",
                                        std::string(standin::kClassesRootNtPath) + "\\Outside");
                                    standin::SetString("Outside", "Named", "v");
                                    standin::FailOnKey(standin::Call::NtDeleteKey,
                                                       "T\\Doomed\\Link", STATUS_ACCESS_DENIED);
                                  },
                                  "T\\Doomed\\Link",
                                  {},
                                  {kLink}},
                      SurvivorRow{"keyWhoseKindCannotBeToldKeepsItsValues",
                                  [] {
                                    standin::SetString("T\\Doomed", "Named", "v");
                                    standin::FailOnKey(standin::Call::RegQueryValueExA, "T\\Doomed",
                                                       ERROR_ACCESS_DENIED);
                                  },
                                  "T\\Doomed",
                                  {},
                                  {"Named"}},
                      SurvivorRow{"everyNamedValueGoesWithoutADefaultOne",
                                  [] {
                                    for (const char* name : {"a", "b", "c", "d"})
                                      standin::SetString("T\\Doomed", name, "v");
                                  },
                                  "T\\Doomed",
                                  {"a", "b", "c", "d"},
                                  {}},
                      SurvivorRow{"valueNamesUpToTheBufferGoAndLongerOnesStay",
                                  [] {
                                    for (size_t length : {258, 259, 260, 261})
                                      standin::SetString("T\\Doomed", std::string(length, 'v'),
                                                         "x");
                                  },
                                  "T\\Doomed",
                                  {std::string(258, 'v'), std::string(259, 'v')},
                                  {std::string(260, 'v'), std::string(261, 'v')}}),
    [](const ::testing::TestParamInfo<SurvivorRow>& row) { return std::string(row.param.what); });

// Under Wine: MachineStateTest's
// test_owned_key_with_a_sub_key_in_the_class_key_and_owned_instance_entry.
TEST_F(HostRegistryTest, ProtectedSubKeyIsPassedOverAndEverythingElseGoes) {
  BuildTree();
  standin::DenyAccess("T\\Doomed\\A");
  EXPECT_EQ(StatusFromError(ERROR_ACCESS_DENIED), DeleteDoomed());
  // Only the protected key (untouched, with its tree) and its parent stay.
  EXPECT_TRUE(standin::KeyExists("T\\Doomed\\A\\A1"));
  EXPECT_FALSE(standin::KeyExists("T\\Doomed\\B"));
  EXPECT_FALSE(standin::KeyExists("T\\Doomed\\C"));
  EXPECT_TRUE(standin::KeyExists("T\\Kept"));
  // The parent that survives keeps its default value and loses its named
  // one; below the protected key nothing was touched.
  EXPECT_TRUE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\Doomed", ""));
  EXPECT_FALSE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\Doomed", "Named"));
  EXPECT_TRUE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\Doomed\\A\\A1", "Named"));
}

// Under Wine: MachineStateTest's test_owned_leaf_in_the_class_key.
TEST_F(HostRegistryTest, SurvivorOfAFailedDeletionKeepsItsDefaultValueOnly) {
  standin::SetString("T\\Doomed", "", "default");
  for (const char* name : {"x", "Named", "yz"}) standin::SetString("T\\Doomed", name, "v");
  standin::DenyAccess("T\\Doomed\\Protected");
  EXPECT_EQ(StatusFromError(ERROR_ACCESS_DENIED), DeleteDoomed());
  for (const char* name : {"x", "Named", "yz"})
    EXPECT_FALSE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\Doomed", name)) << name;
  char value[16] = {};
  DWORD size = sizeof value;
  HKEY key = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "T\\Doomed", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_SUCCESS,
            RegQueryValueExA(key, "", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size));
  RegCloseKey(key);
  EXPECT_STREQ("default", value);
}

// Under Wine: the owned key that grants deletion in MachineStateTest's
// test_owned_leaves_deep_in_the_instance_entry.
TEST_F(HostRegistryTest, ChildlessKeyRefusingFullAccessStillGoes) {
  standin::SetString("T\\Doomed", "Named", "v");
  RegistryKey key(HKEY_CLASSES_ROOT, "T");
  // Only the first open of "Doomed" is refused; one with fewer rights works.
  standin::FailCall(standin::Call::RegOpenKeyExA, 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(0, key.DeleteKeyTree("Doomed"));
  EXPECT_FALSE(standin::KeyExists("T\\Doomed"));
  EXPECT_TRUE(standin::KeyExists("T"));
}

// Sub-key and value names at the name buffer's size inside a deleted tree:
// up to 259 characters they go, from 260 on the pass ends there.
class TreeNameLengthTest : public HostRegistryTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(TreeNameLengthTest, NamesThatFitGoAndLongerOnesEndThePass) {
  size_t length = GetParam();
  standin::SetString("T\\Doomed\\" + std::string(length, 'k'), std::string(length, 'v'), "x");
  standin::SetString("T\\Doomed", std::string(length, 'w'), "x");
  bool fits = length < MAX_PATH;
  EXPECT_EQ(fits ? 0 : StatusFromError(ERROR_ACCESS_DENIED), DeleteDoomed());
  EXPECT_EQ(!fits, standin::KeyExists("T\\Doomed"));
  EXPECT_TRUE(standin::KeyExists("T"));
}

INSTANTIATE_TEST_SUITE_P(Boundary, TreeNameLengthTest, ::testing::Values(258, 259, 260, 261));

// Under Wine, in MachineStateTest: an owned key before a deletable one in
// test_owned_leaves_deep_in_the_instance_entry, one last in
// test_owned_leaf_in_the_class_key.
TEST_F(HostRegistryTest, ProtectedKeysOnBothSidesOfDeletableOnesStillEnd) {
  for (int i = 0; i < 10; ++i) standin::CreateKey("T\\Doomed\\k" + std::to_string(i));
  standin::DenyAccess("T\\Doomed\\k0");
  standin::DenyAccess("T\\Doomed\\k5");
  standin::DenyAccess("T\\Doomed\\k9");
  DeleteDoomed();
  EXPECT_EQ("T\nT\\Doomed\nT\\Doomed\\k0\nT\\Doomed\\k5\nT\\Doomed\\k9\n", standin::Dump());
}

TEST_F(HostRegistryTest, ProtectedValueIsPassedOverAndTheOthersGo) {
  standin::SetString("T\\Doomed", "a", "1");
  standin::ProtectValue("T\\Doomed", "b");
  standin::SetString("T\\Doomed", "c", "3");
  EXPECT_EQ(0, DeleteDoomed());  // the key goes with its remaining value
  EXPECT_FALSE(standin::KeyExists("T\\Doomed"));
}

TEST_F(HostRegistryTest, ValuePassEndsWhenEveryDeletionFails) {
  for (const char* name : {"a", "b", "c"}) standin::SetString("T\\K", name, "x");
  for (int n = 1; n <= 3; ++n)
    standin::FailCall(standin::Call::RegDeleteValueA, n, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, ValuePass("T\\K"));
}

// Another process adds a value at each deletion: the pass meets as many
// values as the key had when it began, and those added meanwhile stay.
TEST_F(HostRegistryTest, ValuePassEndsWhileAnotherProcessKeepsAddingValues) {
  for (const char* name : {"a", "b", "c"}) standin::SetString("T\\K", name, "x");
  int added = 0;
  standin::SetCallHook([&added](standin::Call call) {
    if (call == standin::Call::RegDeleteValueA)
      standin::SetString("T\\K", "z" + std::to_string(added++), "x");
  });
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, ValuePass("T\\K"));
  standin::SetCallHook(nullptr);
  EXPECT_EQ(3, added);
  EXPECT_FALSE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\K", "a"));
  EXPECT_TRUE(test_support::ValueExists(HKEY_CLASSES_ROOT, "T\\K", "z0"));
}

TEST_F(HostRegistryTest, SubKeyPassWalksToTheEndAndRemembersFromLevelZero) {
  // A chain one level deeper than the remembered levels below "T\K": each
  // key with a sub-key costs a failed deletion first, down to the last
  // remembered level.
  std::string chain = "T\\K";
  for (int i = 0; i <= KeyTreeDeletion::kLevels; ++i) chain += "\\c";
  standin::CreateKey(chain);
  standin::CreateKey("T\\K\\leaf");
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, SubKeyPass("T\\K"));
  EXPECT_EQ("T\nT\\K\n", standin::Dump());
  EXPECT_EQ(1025u, standin::CallCount(standin::Call::NtDeleteKey));
}

TEST_F(HostRegistryTest, SubKeyPassEndsWhenDeletionsFailRepeatedly) {
  for (const char* name : {"a", "b", "c"}) standin::CreateKey(std::string("T\\K\\") + name);
  // Every deletion fails: without passing over failed entries the pass
  // would meet "a" at index 0 for ever.
  for (int n = 1; n <= 50; ++n)
    standin::FailCall(standin::Call::NtDeleteKey, n, STATUS_ACCESS_DENIED);
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, SubKeyPass("T\\K"));
  EXPECT_TRUE(standin::KeyExists("T\\K\\b"));
}

// Another process adds a sub-key each time the walk opens one: the walk
// still ends, having met twice the sub-keys the key had, and what was
// added meanwhile stays.
TEST_F(HostRegistryTest, WalkEndsWhileAnotherProcessKeepsAddingSubKeys) {
  for (int i = 0; i < 10; ++i) standin::CreateKey("T\\Doomed\\k" + std::to_string(i));
  int added = 0;
  standin::SetOpenHook([&added](const std::string& path) {
    if (path != "T\\Doomed" && path.compare(0, 9, "T\\Doomed\\") == 0)
      standin::CreateKey("T\\Doomed\\z" + std::to_string(added++));
  });
  EXPECT_NE(0, DeleteDoomed());
  standin::SetOpenHook(nullptr);
  EXPECT_EQ(2 * 10, added);
  EXPECT_TRUE(standin::KeyExists("T\\Doomed"));
}

// A sub-key that another process takes away makes the walk pass over the
// next one, even beside one that stays; one more pass meets it, and no
// more passes follow.
TEST_F(HostRegistryTest, VanishedSubKeyCostsOneMorePass) {
  for (const char* name : {"a", "b", "c", "d"})
    standin::CreateKey(std::string("T\\Doomed\\") + name);
  standin::DenyAccess("T\\Doomed\\a");
  standin::SetOpenHook([](const std::string& path) {
    if (path == "T\\Doomed\\b") standin::RemoveKey(path);
  });
  EXPECT_NE(0, DeleteDoomed());
  standin::SetOpenHook(nullptr);
  EXPECT_EQ("T\nT\\Doomed\nT\\Doomed\\a\n", standin::Dump());
  // Counted: the sub-keys of "Doomed" before each of two passes, of "b"
  // once (gone by then), and the values of "Doomed", which stays.
  EXPECT_EQ(4u, standin::CallCount(standin::Call::RegQueryInfoKeyA));
}

// A key whose sub-keys cannot be counted is not walked: it stays with
// them all, and only its named values go.
TEST_F(HostRegistryTest, KeyWhoseSubKeysCannotBeCountedIsNotWalked) {
  standin::CreateKey("T\\Doomed\\a");
  standin::CreateKey("T\\Doomed\\b");
  standin::FailOnKey(standin::Call::RegQueryInfoKeyA, "T\\Doomed", ERROR_ACCESS_DENIED);
  EXPECT_NE(0, DeleteDoomed());
  EXPECT_TRUE(standin::KeyExists("T\\Doomed\\a"));
  EXPECT_TRUE(standin::KeyExists("T\\Doomed\\b"));
}

TEST_F(HostRegistryTest, OverlongSubKeyNameEndsThePassWithMoreData) {
  standin::CreateKey("T\\Doomed\\" + std::string(300, 'L'));
  standin::CreateKey("T\\Doomed\\short");
  EXPECT_EQ(ERROR_MORE_DATA, SubKeyPass("T\\Doomed"));
  // The name sorts first, so nothing after it was reached.
  EXPECT_TRUE(standin::KeyExists("T\\Doomed\\short"));
  EXPECT_EQ(StatusFromError(ERROR_ACCESS_DENIED), DeleteDoomed());
}

// Under Wine: the owned instance entry of MachineStateTest's
// test_owned_key_with_a_sub_key_in_the_class_key_and_owned_instance_entry.
TEST_F(HostRegistryTest, KeyAskedForThatRefusesEveryAccessStaysWhenEmpty) {
  standin::DenyAccess("T\\Doomed");
  // The protected key refuses deletion too.
  EXPECT_EQ(StatusFromError(ERROR_ACCESS_DENIED), DeleteDoomed());
  EXPECT_TRUE(standin::KeyExists("T\\Doomed"));
}

TEST_F(HostRegistryTest, ReopeningReleasesExactlyOneHandle) {
  standin::CreateKey("A");
  standin::CreateKey("B");
  {
    RegistryKey key(HKEY_CLASSES_ROOT, "A");
    EXPECT_EQ(1u, standin::OpenHandleCount());
    key.Open(HKEY_CLASSES_ROOT, "B", KEY_ALL_ACCESS);
    EXPECT_EQ(1u, standin::OpenHandleCount());
    key.Open(HKEY_CLASSES_ROOT, "missing", KEY_ALL_ACCESS);
    EXPECT_EQ(0u, standin::OpenHandleCount());
    key.Open(HKEY_CLASSES_ROOT, nullptr, KEY_ALL_ACCESS);
    EXPECT_EQ(0u, standin::OpenHandleCount());
  }
}

TEST_F(HostRegistryTest, QueryWithoutHandleMakesNoRegistryCall) {
  RegistryKey key;
  char buffer[MAX_PATH];
  key.QueryStringValue("", "", buffer, MAX_PATH);
  EXPECT_EQ(0u, standin::CallCount(standin::Call::Any));
}

TEST_F(HostRegistryTest, SubKeyNameOf260OrMoreCharactersEndsTheLookup) {
  standin::SetString("CLSID\\" + std::string(260, 'A'), "", "x");
  standin::SetString("CLSID\\{10000000-0000-0000-0000-000000000000}", "", ClassManagerName);
  RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
  RegistryKey probeKey;
  char nameBuffer[MAX_PATH + 8];
  std::memset(nameBuffer, 0x5A, sizeof nameBuffer);
  char valueBuffer[MAX_PATH];
  char managerClsid[MAX_PATH];
  FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, managerClsid);
  EXPECT_STREQ("", managerClsid);
  for (size_t i = MAX_PATH; i < sizeof nameBuffer; ++i) ASSERT_EQ(0x5A, nameBuffer[i]);
}

TEST_F(HostRegistryTest, LongestFittingNameIsStillMatched) {
  std::string name(259, 'A');
  standin::SetString("CLSID\\" + name, "", ClassManagerName);
  RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
  RegistryKey probeKey;
  char nameBuffer[MAX_PATH], valueBuffer[MAX_PATH], managerClsid[MAX_PATH];
  FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, managerClsid);
  EXPECT_EQ(name, managerClsid);
}

TEST_F(HostRegistryTest, DeniedClassKeyNeverMatches) {
  standin::SetString("CLSID\\{10000000-0000-0000-0000-000000000001}", "", ClassManagerName);
  standin::DenyAccess("CLSID\\{10000000-0000-0000-0000-000000000001}");
  standin::SetString("CLSID\\{10000000-0000-0000-0000-000000000002}", "", ClassManagerName);
  RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
  RegistryKey probeKey;
  char nameBuffer[MAX_PATH], valueBuffer[MAX_PATH], managerClsid[MAX_PATH];
  FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, managerClsid);
  EXPECT_STREQ("{10000000-0000-0000-0000-000000000002}", managerClsid);
}

TEST_F(HostRegistryTest, LookupOpensEveryClassKeyOnceAndClosesThem) {
  for (int i = 0; i < 20; ++i) standin::CreateKey("CLSID\\k" + std::to_string(i));
  {
    RegistryKey clsidKey(HKEY_CLASSES_ROOT, "CLSID");
    RegistryKey probeKey;
    char nameBuffer[MAX_PATH], valueBuffer[MAX_PATH], managerClsid[MAX_PATH];
    FindClassManager(clsidKey, probeKey, nameBuffer, valueBuffer, managerClsid);
    EXPECT_STREQ("", managerClsid);
    // The class root and the last class key visited.
    EXPECT_EQ(2u, standin::OpenHandleCount());
  }
  EXPECT_EQ(21u, standin::CallCount(standin::Call::RegOpenKeyExA));
  EXPECT_EQ(21u, standin::CallCount(standin::Call::RegCloseKey));
}

}  // namespace
