// The two cursors against the platform's registry. Runs on both builds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry/registry_key.h"
#include "support/test_registry.h"

namespace {

using test_support::ScratchKey;

template <typename Cursor>
std::vector<std::string> WalkAll(Cursor& cursor) {
  std::vector<std::string> names;
  char name[MAX_PATH];
  for (;;) {
    DWORD length = MAX_PATH;
    LONG rc = cursor.Next(name, &length);
    if (rc != ERROR_SUCCESS) {
      EXPECT_EQ(ERROR_NO_MORE_ITEMS, rc);
      break;
    }
    EXPECT_EQ(std::strlen(name), length);
    names.push_back(name);
  }
  return names;
}

class EnumeratorTest : public ::testing::Test {
 protected:
  ScratchKey scratch{"rf-enum-"};
};

TEST_F(EnumeratorTest, EmptyKeyEndsAtOnceAndStillAdvances) {
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  SubKeyEnumerator keys(key.Handle());
  ValueEnumerator values(key.Handle());
  char name[MAX_PATH] = "untouched";
  DWORD length = MAX_PATH;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, keys.Next(name, &length));
  EXPECT_EQ(1u, keys.Index());
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, values.Next(name, &length));
  EXPECT_EQ(1u, values.Index());
  EXPECT_STREQ("untouched", name);
  EXPECT_EQ(static_cast<DWORD>(MAX_PATH), length);
}

TEST_F(EnumeratorTest, NullHandleGivesThePlatformErrorUnmapped) {
  SubKeyEnumerator keys(nullptr);
  ValueEnumerator values(nullptr);
  char name[MAX_PATH];
  DWORD length = MAX_PATH;
  EXPECT_EQ(ERROR_INVALID_HANDLE, keys.Next(name, &length));
  length = MAX_PATH;
  EXPECT_EQ(ERROR_INVALID_HANDLE, values.Next(name, &length));
  EXPECT_EQ(1u, keys.Index());
}

TEST_F(EnumeratorTest, SubKeysComeSortedWithoutRegardToCaseInTheirOwnCase) {
  for (const char* name : {"beta", "Alpha", "GAMMA", "alpha2", "{0A}", "10", "9"})
    test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below(name));
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  SubKeyEnumerator cursor(key.Handle());
  EXPECT_EQ((std::vector<std::string>{"10", "9", "Alpha", "alpha2", "beta", "GAMMA", "{0A}"}),
            WalkAll(cursor));
}

TEST_F(EnumeratorTest, SettingTheIndexBackToZeroRestartsTheWalk) {
  for (const char* name : {"a", "b", "c"})
    test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below(name));
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  SubKeyEnumerator cursor(key.Handle());
  EXPECT_EQ(3u, WalkAll(cursor).size());
  cursor.SetIndex(0);
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), WalkAll(cursor));
}

TEST_F(EnumeratorTest, RemainingEntriesShiftDownAfterADeletion) {
  for (const char* name : {"a", "b", "c"})
    test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below(name));
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  SubKeyEnumerator cursor(key.Handle());
  char name[MAX_PATH];
  DWORD length = MAX_PATH;
  ASSERT_EQ(ERROR_SUCCESS, cursor.Next(name, &length));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key.Handle(), name));
  cursor.SetIndex(0);
  length = MAX_PATH;
  ASSERT_EQ(ERROR_SUCCESS, cursor.Next(name, &length));
  EXPECT_STREQ("b", name);
}

TEST_F(EnumeratorTest, SubKeyNameThatDoesNotFitLeavesTheBufferAlone) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below("Alpha"));
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  SubKeyEnumerator cursor(key.Handle());
  char name[MAX_PATH];
  std::memset(name, '#', sizeof name);
  DWORD length = 5;  // "Alpha" needs 6 with its terminator
  EXPECT_EQ(ERROR_MORE_DATA, cursor.Next(name, &length));
  EXPECT_EQ(5u, length);
  EXPECT_EQ('#', name[0]);
  EXPECT_EQ(1u, cursor.Index());
  cursor.SetIndex(0);
  length = 6;
  EXPECT_EQ(ERROR_SUCCESS, cursor.Next(name, &length));
  EXPECT_STREQ("Alpha", name);
}

TEST_F(EnumeratorTest, ValueNamesIncludeTheDefaultAsEmpty) {
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "", "default");
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "Second", "2");
  test_support::SetValue(HKEY_CLASSES_ROOT, scratch.Path(), "third", REG_DWORD,
                         std::string("\3\0\0\0", 4));
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  ValueEnumerator cursor(key.Handle());
  std::vector<std::string> names = WalkAll(cursor);
  // The platform lists values in an order of its own: compare as a set.
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"", "Second", "third"}), names);
}

TEST_F(EnumeratorTest, ValueNameThatDoesNotFitFailsWithMoreData) {
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "abcdef", "x");
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  ValueEnumerator cursor(key.Handle());
  char name[MAX_PATH];
  DWORD length = 3;
  EXPECT_EQ(ERROR_MORE_DATA, cursor.Next(name, &length));
  EXPECT_EQ(3u, length);
  EXPECT_EQ(1u, cursor.Index());
}

TEST_F(EnumeratorTest, CursorOnADeletedKeyReportsKeyDeleted) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, scratch.Below("doomed\\child"));
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Below("doomed").c_str());
  ASSERT_NE(nullptr, key.Handle());
  test_support::DeleteTree(HKEY_CLASSES_ROOT, scratch.Below("doomed"));
  SubKeyEnumerator keys(key.Handle());
  ValueEnumerator values(key.Handle());
  char name[MAX_PATH];
  DWORD length = MAX_PATH;
  EXPECT_EQ(ERROR_KEY_DELETED, keys.Next(name, &length));
  length = MAX_PATH;
  EXPECT_EQ(ERROR_KEY_DELETED, values.Next(name, &length));
}

}  // namespace
