// RegistryKey against the platform's registry: open, re-open, attach,
// close, string reads and value deletion. Runs on both builds.

#include "registry/registry_key.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/test_registry.h"

namespace {

using test_support::ScratchKey;

const unsigned char kSentinel = 0xCC;

class RegistryKeyTest : public ::testing::Test {
 protected:
  ScratchKey scratch{"rf-key-"};

  std::string Below(const std::string& relative) { return scratch.Below(relative); }
};

TEST(StatusFromErrorTest, FoldsTheCodeIntoTheLowWord) {
  EXPECT_EQ(0, StatusFromError(0));
  EXPECT_EQ(static_cast<Status>(0x80070002u), StatusFromError(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(static_cast<Status>(0x800700EAu), StatusFromError(ERROR_MORE_DATA));
  EXPECT_EQ(static_cast<Status>(0x80070103u), StatusFromError(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(static_cast<Status>(0x80072345u), StatusFromError(0x12345));
}

TEST_F(RegistryKeyTest, EmptyObjectHoldsNothing) {
  RegistryKey key;
  EXPECT_EQ(nullptr, key.Handle());
  EXPECT_EQ(nullptr, key.Parent());
  EXPECT_STREQ("", key.Path());
  key.Close();
  key.Close();
  EXPECT_EQ(nullptr, key.Handle());
}

TEST_F(RegistryKeyTest, EmptyObjectHoldsNothingWhateverMemoryItOccupies) {
  alignas(RegistryKey) unsigned char memory[sizeof(RegistryKey)];
  std::memset(memory, '#', sizeof memory);
  RegistryKey* key = new (memory) RegistryKey();
  EXPECT_EQ(nullptr, key->Handle());
  EXPECT_EQ(nullptr, key->Parent());
  EXPECT_STREQ("", key->Path());
  key->~RegistryKey();
}

TEST_F(RegistryKeyTest, OpensAnExistingMultiLevelPath) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, Below("a\\b\\c"));
  RegistryKey key;
  std::string path = Below("A\\B\\C");
  EXPECT_EQ(0, key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_ALL_ACCESS));
  EXPECT_NE(nullptr, key.Handle());
  EXPECT_EQ(HKEY_CLASSES_ROOT, key.Parent());
  EXPECT_STREQ(path.c_str(), key.Path());
}

TEST_F(RegistryKeyTest, MissingPathGivesMappedNotFoundAndKeepsThePath) {
  RegistryKey key;
  std::string path = Below("missing\\deeper");
  EXPECT_EQ(StatusFromError(ERROR_FILE_NOT_FOUND),
            key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_ALL_ACCESS));
  EXPECT_EQ(nullptr, key.Handle());
  EXPECT_EQ(HKEY_CLASSES_ROOT, key.Parent());
  EXPECT_STREQ(path.c_str(), key.Path());
  // The object stays usable.
  test_support::CreateKey(HKEY_CLASSES_ROOT, Below("present"));
  EXPECT_EQ(0, key.Open(HKEY_CLASSES_ROOT, Below("present").c_str(), KEY_ALL_ACCESS));
  EXPECT_NE(nullptr, key.Handle());
}

TEST_F(RegistryKeyTest, ReopeningClosesTheHeldKeyEvenWhenTheNewOpenFails) {
  test_support::CreateKey(HKEY_CLASSES_ROOT, Below("first"));
  RegistryKey key(HKEY_CLASSES_ROOT, Below("first").c_str());
  HKEY first = key.Handle();
  ASSERT_NE(nullptr, first);
  key.Open(HKEY_CLASSES_ROOT, Below("absent").c_str(), KEY_ALL_ACCESS);
  EXPECT_EQ(nullptr, key.Handle());
  // Already closed by the object: a second close is refused.
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(first));
}

TEST_F(RegistryKeyTest, ConstructionWithoutPathOpensANewHandleOnTheParent) {
  RegistryKey key(scratch.Handle(), nullptr);
  ASSERT_NE(nullptr, key.Handle());
  EXPECT_NE(scratch.Handle(), key.Handle());
  EXPECT_STREQ("", key.Path());
  key.Close();
  // The parent's own handle is still open.
  test_support::SetString(scratch.Handle(), "", "v", "still open");
  EXPECT_TRUE(test_support::ValueExists(HKEY_CLASSES_ROOT, scratch.Path(), "v"));
}

TEST_F(RegistryKeyTest, ConstructionWithoutPathOnAPredefinedRootAliasesIt) {
  RegistryKey key(HKEY_CLASSES_ROOT, nullptr);
  EXPECT_EQ(HKEY_CLASSES_ROOT, key.Handle());
  key.Close();
  EXPECT_EQ(nullptr, key.Handle());
  EXPECT_TRUE(test_support::KeyExists(HKEY_CLASSES_ROOT, scratch.Path()));
}

TEST_F(RegistryKeyTest, AttachingWithoutPathNeverClosesTheParent) {
  RegistryKey key;
  EXPECT_EQ(0, key.Open(scratch.Handle(), nullptr, KEY_ALL_ACCESS));
  EXPECT_EQ(scratch.Handle(), key.Handle());
  EXPECT_STREQ("", key.Path());
  key.Close();
  EXPECT_EQ(nullptr, key.Handle());
  test_support::SetString(scratch.Handle(), "", "v", "parent still open");
  EXPECT_TRUE(test_support::ValueExists(HKEY_CLASSES_ROOT, scratch.Path(), "v"));
}

TEST_F(RegistryKeyTest, PathTooLongToHoldOpensNothing) {
  // What is left of an over-long path must never be opened instead.
  std::string path = scratch.Path() + "\\" + std::string(300, 'k');
  RegistryKey key(HKEY_CLASSES_ROOT, path.c_str());
  EXPECT_EQ(nullptr, key.Handle());
  EXPECT_EQ(StatusFromError(ERROR_MORE_DATA),
            key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_ALL_ACCESS));
  EXPECT_EQ(nullptr, key.Handle());
  EXPECT_LT(std::strlen(key.Path()), static_cast<size_t>(MAX_PATH));
}

TEST_F(RegistryKeyTest, AttachingAfterAnOpenForgetsTheOldPath) {
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  ASSERT_STRNE("", key.Path());
  EXPECT_EQ(0, key.Open(scratch.Handle(), nullptr, KEY_ALL_ACCESS));
  EXPECT_STREQ("", key.Path());
}

// A key whose whole path below HKEY_CLASSES_ROOT is exactly `length`
// characters long, opened by the constructor and by Open (after an open of
// another key, whose path must not linger). Up to 259 characters it opens;
// from 260 on nothing is opened and the path is empty.
class PathLengthTest : public RegistryKeyTest, public ::testing::WithParamInterface<size_t> {
 protected:
  std::string PathOfLength(size_t length) {
    std::string path = scratch.Path() + "\\" + std::string(200, 'a') + "\\";
    path += std::string(length - path.size(), 'b');
    // Made below the sandbox's handle: the whole path may be too long for
    // the platform to take in one piece.
    test_support::CreateKey(scratch.Handle(), path.substr(scratch.Path().size() + 1));
    return path;
  }
};

TEST_P(PathLengthTest, OpensUpTo259CharactersAndNothingFrom260) {
  size_t length = GetParam();
  std::string path = PathOfLength(length);
  ASSERT_EQ(length, path.size());
  bool fits = length < MAX_PATH;

  RegistryKey constructed(HKEY_CLASSES_ROOT, path.c_str());
  EXPECT_EQ(fits, constructed.Handle() != nullptr);
  EXPECT_EQ(fits ? path : "", constructed.Path());

  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(fits ? 0 : StatusFromError(ERROR_MORE_DATA),
            key.Open(HKEY_CLASSES_ROOT, path.c_str(), KEY_ALL_ACCESS));
  EXPECT_EQ(fits, key.Handle() != nullptr);
  EXPECT_EQ(fits ? path : "", key.Path());
}

INSTANTIATE_TEST_SUITE_P(Boundary, PathLengthTest, ::testing::Values(258, 259, 260, 261));

// CopyString at the edges of the destination's size; guard bytes follow it.
TEST(CopyStringTest, CopiesOnlyWhatFitsWithItsTerminator) {
  struct Case {
    DWORD size;
    const char* source;
    bool fits;
  } cases[] = {{0, "", false},   {0, "x", false},    {1, "", true},       {1, "x", false},
               {4, "abc", true}, {4, "abcd", false}, {4, "abcde", false}, {260, "", true}};
  for (const Case& c : cases) {
    char memory[300];
    std::memset(memory, '#', sizeof memory);
    EXPECT_EQ(c.fits, CopyString(memory, c.size, c.source)) << c.size << " " << c.source;
    if (c.size > 0) {
      EXPECT_EQ(c.fits ? std::string(c.source) : "", std::string(memory));
    }
    for (size_t i = c.size; i < sizeof memory; ++i) ASSERT_EQ('#', memory[i]) << "overrun at " << i;
  }
  char same[8] = "inplace";
  EXPECT_TRUE(CopyString(same, sizeof same, same));
  EXPECT_STREQ("inplace", same);
}

TEST_F(RegistryKeyTest, DeleteValueRemovesOnlyThatValue) {
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "Gone", "x");
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "Kept", "y");
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  EXPECT_EQ(0, key.DeleteValue("gone"));
  EXPECT_EQ(StatusFromError(ERROR_FILE_NOT_FOUND), key.DeleteValue("gone"));
  EXPECT_FALSE(test_support::ValueExists(HKEY_CLASSES_ROOT, scratch.Path(), "Gone"));
  EXPECT_TRUE(test_support::ValueExists(HKEY_CLASSES_ROOT, scratch.Path(), "Kept"));
}

// QueryStringValue over the shapes a stored value can take. The buffer is
// followed by guard bytes that must survive every read.
struct StringCase {
  const char* label;
  DWORD type;
  std::string stored;  // exact bytes; absent when `present` is false
  bool present;
  std::string expected;
};

class QueryStringValueTest : public RegistryKeyTest,
                             public ::testing::WithParamInterface<StringCase> {};

TEST_P(QueryStringValueTest, ReadsTerminatedWithinTheBufferOrFallsBack) {
  const StringCase& c = GetParam();
  if (c.present) test_support::SetValue(HKEY_CLASSES_ROOT, scratch.Path(), "", c.type, c.stored);
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  ASSERT_NE(nullptr, key.Handle());

  unsigned char memory[MAX_PATH + 16];
  std::memset(memory, kSentinel, sizeof memory);
  char* buffer = reinterpret_cast<char*>(memory);
  char* result = key.QueryStringValue("", "fallback", buffer, MAX_PATH);

  EXPECT_EQ(buffer, result);
  EXPECT_EQ(c.expected, std::string(buffer)) << c.label;
  for (size_t i = MAX_PATH; i < sizeof memory; ++i)
    ASSERT_EQ(kSentinel, memory[i]) << "overrun at " << i;
}

const std::string k259(259, 'p');
const std::string k260(260, 'p');

INSTANTIATE_TEST_SUITE_P(
    Shapes, QueryStringValueTest,
    ::testing::Values(
        StringCase{"plain", REG_SZ, std::string("C:\\x.dll\0", 9), true, "C:\\x.dll"},
        StringCase{"missing", REG_SZ, "", false, "fallback"},
        StringCase{"expand", REG_EXPAND_SZ, std::string("%S%\\x\0", 6), true, "fallback"},
        StringCase{"dword", REG_DWORD, std::string("\1\0\0\0", 4), true, "fallback"},
        StringCase{"binary", REG_BINARY, std::string("ab\0", 3), true, "fallback"},
        StringCase{"too long", REG_SZ, std::string(300, 'q') + '\0', true, "fallback"},
        StringCase{"fills buffer with NUL", REG_SZ, k259 + '\0', true, k259},
        StringCase{"no NUL, shorter", REG_SZ, "C:\\x.dll", true, "C:\\x.dll"},
        StringCase{"no NUL, 259 bytes", REG_SZ, k259, true, k259},
        StringCase{"no NUL, fills buffer", REG_SZ, k260, true, "fallback"},
        StringCase{"one byte past the buffer", REG_SZ, k260 + '\0', true, "fallback"},
        StringCase{"no NUL, one byte past", REG_SZ, k260 + 'p', true, "fallback"},
        StringCase{"zero bytes", REG_SZ, "", true, ""},
        StringCase{"embedded NUL", REG_SZ, std::string("ab\0cd\0", 6), true, "ab"}),
    [](const ::testing::TestParamInfo<StringCase>& param) {
      std::string name;
      for (const char* p = param.param.label; *p; ++p)
        name += (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
      return name;
    });

// QueryStringValue into buffers of a few bytes: the stored value and the
// fallback each at, below and past the buffer's size. Nothing is written
// at or after `size` bytes.
struct SizedCase {
  DWORD size;
  std::string stored;  // exact bytes of a REG_SZ default value
  const char* fallback;
  std::string expected;  // "#" for a buffer left untouched
};

class QueryStringValueSizeTest : public RegistryKeyTest,
                                 public ::testing::WithParamInterface<SizedCase> {};

TEST_P(QueryStringValueSizeTest, FitsWithTheTerminatorOrFallsBack) {
  const SizedCase& c = GetParam();
  test_support::SetValue(HKEY_CLASSES_ROOT, scratch.Path(), "", REG_SZ, c.stored);
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  // The buffer sits at the start of its own array, so that reading before
  // it is caught as well as writing after it.
  std::string memory(c.size + 8, '#');
  std::vector<char> buffer(memory.begin(), memory.end());
  key.QueryStringValue("", c.fallback, buffer.data(), c.size);
  std::string read(buffer.data(), c.size);
  EXPECT_EQ(c.expected, c.size == 0 ? "#" : read.substr(0, read.find('\0')))
      << c.size << " bytes, stored " << c.stored.size();
  for (size_t i = c.size; i < buffer.size(); ++i) ASSERT_EQ('#', buffer[i]) << "overrun at " << i;
}

INSTANTIATE_TEST_SUITE_P(Sizes, QueryStringValueSizeTest,
                         ::testing::Values(SizedCase{0, std::string("ab\0", 3), "fb", "#"},
                                           SizedCase{0, "", "fb", "#"},
                                           SizedCase{1, std::string(1, '\0'), "fb", ""},
                                           SizedCase{1, std::string("a\0", 2), "", ""},
                                           SizedCase{4, std::string("abc\0", 4), "fb", "abc"},
                                           SizedCase{4, "abc", "fb", "abc"},
                                           SizedCase{4, "abcd", "fb", "fb"},
                                           SizedCase{4, std::string("abcd\0", 5), "fb", "fb"},
                                           SizedCase{4, std::string("abcd\0", 5), "thr", "thr"},
                                           SizedCase{4, std::string("abcd\0", 5), "four", ""},
                                           SizedCase{4, std::string("abcd\0", 5), "fives", ""}));

TEST_F(RegistryKeyTest, QueryWithoutHandleGivesTheFallback) {
  RegistryKey key;
  char buffer[MAX_PATH];
  std::memset(buffer, 'z', sizeof buffer);
  EXPECT_STREQ("fb", key.QueryStringValue("", "fb", buffer, MAX_PATH));
}

TEST_F(RegistryKeyTest, NamedValueIsReadByName) {
  test_support::SetString(HKEY_CLASSES_ROOT, scratch.Path(), "ThreadingModel", "Both");
  RegistryKey key(HKEY_CLASSES_ROOT, scratch.Path().c_str());
  char buffer[MAX_PATH];
  EXPECT_STREQ("Both", key.QueryStringValue("threadingmodel", "", buffer, MAX_PATH));
  EXPECT_STREQ("", key.QueryStringValue("", "", buffer, MAX_PATH));
}

}  // namespace
