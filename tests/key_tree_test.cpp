// DeleteKeyTree against the platform's registry: the whole sub-tree goes,
// and nothing beside it changes. Runs on both builds.

#include <gtest/gtest.h>

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

  // Deletes `name` below the scratch key and checks that exactly its tree
  // went.
  void ExpectDeletedAlone(const std::string& name) {
    std::vector<std::string> before = Dump();
    RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
    EXPECT_EQ(0, key.DeleteKeyTree(name.c_str()));
    EXPECT_FALSE(test_support::KeyExists(HKEY_CLASSES_ROOT, scratch.Below(name)));
    EXPECT_EQ(WithoutKey(before, name), Dump());
  }
};

TEST_F(KeyTreeTest, KeyWithNothingInIt) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below("bare"));
  ExpectDeletedAlone("bare");
}

TEST_F(KeyTreeTest, KeyWithOnlyADefaultValue) {
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below("dflt"), "", "value");
  ExpectDeletedAlone("dflt");
}

TEST_F(KeyTreeTest, ThreeLevelsWithValuesAtEachLevel) {
  for (const char* level : {"top", "top\\mid", "top\\mid\\leaf", "top\\mid2"}) {
    std::string path = scratch.Below(level);
    test_support::SetString(HKEY_CLASSES_ROOT, path, "", level);
    test_support::SetString(HKEY_CLASSES_ROOT, path, "Named", "n");
    test_support::SetValue(HKEY_CLASSES_ROOT, path, "Number", REG_DWORD,
                           std::string("\7\0\0\0", 4));
  }
  ExpectDeletedAlone("top");
}

TEST_F(KeyTreeTest, WideKeyWhoseIndicesShiftOnEveryDeletion) {
  for (int i = 0; i < 40; ++i) {
    std::string child = scratch.Below("wide\\child" + std::to_string(i));
    test_support::SetString(HKEY_CLASSES_ROOT, child, "v" + std::to_string(i), "x");
  }
  for (int i = 0; i < 20; ++i)
    test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below("wide"), "value" + std::to_string(i),
                            "x");
  ExpectDeletedAlone("wide");
}

// Each key is expected to have as many sub-keys as its last sibling had:
// siblings with more, fewer and none, and names of one character.
TEST_F(KeyTreeTest, SiblingsWithMoreAndFewerSubKeysThanTheOneBefore) {
  for (const char* level : {"grow\\a\\x", "grow\\b\\x", "grow\\b\\y", "grow\\b\\z", "grow\\c\\x",
                            "grow\\d", "grow\\e\\x\\y", "grow\\f\\x\\y\\z"})
    test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below(level), "v", "x");
  ExpectDeletedAlone("grow");
}

TEST_F(KeyTreeTest, NameInOtherLetterCase) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below("MixedCase\\Child"));
  std::vector<std::string> before = Dump();
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(0, key.DeleteKeyTree("mixedcase"));
  EXPECT_EQ(WithoutKey(before, "MixedCase"), Dump());
}

TEST_F(KeyTreeTest, MissingKeyGivesNotFoundAndChangesNothing) {
  std::vector<std::string> before = Dump();
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(StatusFromError(ERROR_FILE_NOT_FOUND), key.DeleteKeyTree("absent"));
  EXPECT_EQ(before, Dump());
}

TEST_F(KeyTreeTest, ObjectWhoseOpenFailedDeletesRelativeToItsParent) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below("target\\sub"));
  std::vector<std::string> before = Dump();
  RegistryKey key;
  key.Open(scratch.Handle(), "no such key", KEY_ALL_ACCESS);
  ASSERT_EQ(nullptr, key.Handle());
  EXPECT_EQ(0, key.DeleteKeyTree("target"));
  EXPECT_EQ(WithoutKey(before, "target"), Dump());
}

TEST_F(KeyTreeTest, MultiLevelNameDeletesTheTreeOfTheLastLevelOnly) {
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below("outer\\inner\\leaf"), "v", "x");
  std::vector<std::string> before = Dump();
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(0, key.DeleteKeyTree("outer\\inner"));
  EXPECT_EQ(WithoutKey(before, "outer\\inner"), Dump());
  EXPECT_TRUE(test_support::KeyExists(HKEY_CLASSES_ROOT, scratch.Below("outer")));
}

TEST_F(KeyTreeTest, KeyWithAValueNamedLikeALinksIsAnOrdinaryKey) {
  // A link keeps its target in "SymbolicLinkValue" of type REG_LINK; of
  // another type it is an ordinary value, and its key is walked as usual.
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below("plain"), "SymbolicLinkValue", "text");
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Below("plain\\child"), "SymbolicLinkValue",
                          "more");
  test_support::SetValue(HKEY_CLASSES_ROOT, scratch.Below("plain\\child\\leaf"),
                         "SymbolicLinkValue", REG_BINARY, std::string("\6\0", 2));
  ExpectDeletedAlone("plain");
}

TEST_F(KeyTreeTest, NullNameIsRefusedAndChangesNothing) {
  std::vector<std::string> before = Dump();
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(StatusFromError(ERROR_INVALID_PARAMETER), key.DeleteKeyTree(nullptr));
  EXPECT_EQ(before, Dump());
  EXPECT_TRUE(test_support::KeyExists(HKEY_CLASSES_ROOT, scratch.Path()));
}

}  // namespace
