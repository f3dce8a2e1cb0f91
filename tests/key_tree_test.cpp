// DeleteKeyTree against the platform's registry: the whole sub-tree goes,
// and nothing beside it changes. Runs on both builds.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "registry/registry_key.h"
#include "support/test_registry.h"

namespace {

using test_support::DumpTree;
using test_support::ScratchKey;
using test_support::WithoutKey;

class KeyTreeTest : public ::testing::Test {
 protected:
  ScratchKey scratch{"rf-tree-"};

  void SetUp() override {
    // A neighbour that must survive every deletion.
    test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below("neighbour\\deep"), "n", "keep");
    test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "", "root value");
  }

  std::vector<std::string> Dump() { return DumpTree(HKEY_CLASSES_ROOT, scratch.Path()); }
};

// Values below the scratch key (paths relative to it): a REG_SZ "v" = "x".
void Values(const ScratchKey& scratch, std::initializer_list<const char*> paths) {
  for (const char* path : paths)
    test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below(path), "v", "x");
}

// A deletion as a table row: the keys below the scratch key, the name
// given to DeleteKeyTree, the error it must return (0 for none) and the
// key whose tree must be all that went (null for nothing).
struct Deletion {
  const char* name;
  void (*arrange)(const ScratchKey& scratch);
  const char* deleted;
  DWORD error;
  const char* gone;
};

const Deletion kDeletions[] = {
    {"KeyWithNothingInIt",
     [](const ScratchKey& s) { test_support::CreateKey(HKEY_CLASSES_ROOT, s.Below("bare")); },
     "bare", 0, "bare"},
    {"KeyWithOnlyADefaultValue",
     [](const ScratchKey& s) {
       test_support::SetString(HKEY_CLASSES_ROOT, s.Below("dflt"), "", "value");
     },
     "dflt", 0, "dflt"},
    {"ThreeLevelsWithValuesAtEachLevel",
     [](const ScratchKey& s) {
       for (const char* level : {"top", "top\\mid", "top\\mid\\leaf", "top\\mid2"}) {
         test_support::SetString(HKEY_CLASSES_ROOT, s.Below(level), "", level);
         test_support::SetString(HKEY_CLASSES_ROOT, s.Below(level), "Named", "n");
         test_support::SetValue(HKEY_CLASSES_ROOT, s.Below(level), "Number", REG_DWORD,
                                std::string("\7\0\0\0", 4));
       }
     },
     "top", 0, "top"},
    {"WideKeyWhoseIndicesShiftOnEveryDeletion",
     [](const ScratchKey& s) {
       for (int i = 0; i < 40; ++i)
         test_support::SetString(HKEY_CLASSES_ROOT, s.Below("wide\\child" + std::to_string(i)),
                                 "v" + std::to_string(i), "x");
       for (int i = 0; i < 20; ++i)
         test_support::SetString(HKEY_CLASSES_ROOT, s.Below("wide"), "value" + std::to_string(i),
                                 "x");
     },
     "wide", 0, "wide"},
    // Each key is expected to have as many sub-keys as its last sibling had:
    // siblings with more, fewer and none, and names of one character.
    {"SiblingsWithMoreAndFewerSubKeysThanTheOneBefore",
     [](const ScratchKey& s) {
       Values(s, {"grow\\a\\x", "grow\\b\\x", "grow\\b\\y", "grow\\b\\z", "grow\\c\\x", "grow\\d",
                  "grow\\e\\x\\y", "grow\\f\\x\\y\\z"});
     },
     "grow", 0, "grow"},
    {"NameInOtherLetterCase",
     [](const ScratchKey& s) {
       test_support::CreateKey(HKEY_CLASSES_ROOT, s.Below("MixedCase\\Child"));
     },
     "mixedcase", 0, "MixedCase"},
    {"MissingKeyGivesNotFoundAndChangesNothing", [](const ScratchKey&) {}, "absent",
     ERROR_FILE_NOT_FOUND, nullptr},
    {"MultiLevelNameDeletesTheTreeOfTheLastLevelOnly",
     [](const ScratchKey& s) { Values(s, {"outer\\inner\\leaf"}); }, "outer\\inner", 0,
     "outer\\inner"},
    // A link keeps its target in "SymbolicLinkValue" of type REG_LINK; of
    // another type it is an ordinary value, and its key is walked as usual.
    {"KeyWithAValueNamedLikeALinksIsAnOrdinaryKey",
     [](const ScratchKey& s) {
       test_support::SetString(HKEY_CLASSES_ROOT, s.Below("plain"), "SymbolicLinkValue", "text");
       test_support::SetString(HKEY_CLASSES_ROOT, s.Below("plain\\child"), "SymbolicLinkValue",
                               "more");
       test_support::SetValue(HKEY_CLASSES_ROOT, s.Below("plain\\child\\leaf"), "SymbolicLinkValue",
                              REG_BINARY, std::string("\6\0", 2));
     },
     "plain", 0, "plain"},
};

class KeyTreeDeletionTest : public KeyTreeTest, public ::testing::WithParamInterface<Deletion> {};

// Exactly the tree of `gone` goes, the neighbour and the rest stay.
TEST_P(KeyTreeDeletionTest, RemovesExactlyItsTree) {
  const Deletion& row = GetParam();
  row.arrange(scratch);
  std::vector<std::string> before = Dump();
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(row.error ? StatusFromError(row.error) : 0, key.DeleteKeyTree(row.deleted));
  EXPECT_EQ(row.gone ? WithoutKey(before, row.gone) : before, Dump());
  if (row.gone) {
    EXPECT_FALSE(test_support::KeyExists(HKEY_CLASSES_ROOT, scratch.Below(row.gone)));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, KeyTreeDeletionTest, ::testing::ValuesIn(kDeletions),
                         [](const ::testing::TestParamInfo<Deletion>& row) {
                           return std::string(row.param.name);
                         });

TEST_F(KeyTreeTest, ObjectWhoseOpenFailedDeletesRelativeToItsParent) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below("target\\sub"));
  std::vector<std::string> before = Dump();
  RegistryKey key;
  key.Open(scratch.Handle(), "no such key", KEY_ALL_ACCESS);
  ASSERT_EQ(nullptr, key.Handle());
  EXPECT_EQ(0, key.DeleteKeyTree("target"));
  EXPECT_EQ(WithoutKey(before, "target"), Dump());
}

TEST_F(KeyTreeTest, NullNameIsRefusedAndChangesNothing) {
  std::vector<std::string> before = Dump();
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(StatusFromError(ERROR_INVALID_PARAMETER), key.DeleteKeyTree(nullptr));
  EXPECT_EQ(before, Dump());
  EXPECT_TRUE(test_support::KeyExists(HKEY_CLASSES_ROOT, scratch.Path()));
}

}  // namespace
