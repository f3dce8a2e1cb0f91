// DeleteKeyTree against the plain reference deletion (reference_key_tree.h)
// on the same registries, under the same protections and the same changes
// by another party: the whole registry after each, the status, and the
// handles must be the same. Faults here are tied to what a call acts on
// (a key, a value) and last, as protections do, so that two deletions that
// make their calls in different orders meet the same ones. Changes are
// tied to the first opening of a key, which both deletions make in the
// same order. (Faults tied to a call's position, which a different order
// cannot meet alike, are the fault matrix's: there only the run's
// invariants are compared.)

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/reference_key_tree.h"
#include "platform/host/standin_control.h"
#include "registry/registry_key.h"

namespace {

using standin::Call;

const char kParent[] = "T";
const std::string kTree = "T\\Tree";

std::string Nt(const std::string& path) {
  return std::string(standin::kClassesRootNtPath) + "\\" + path;
}

void Values(const std::string& key, int named) {
  standin::SetString(key, "", "default of " + key);
  for (int i = 0; i < named; ++i)
    standin::SetString(key, "v" + std::to_string(i), std::to_string(i));
}

// Siblings of every shape at the same levels (leaves, one sub-key, several,
// a chain), so that every expectation the deletion forms is also wrong at
// times; links out of the tree, to an ancestor, to a childless key and
// nowhere; names at the length limits; and keys beside and outside it.
void BuildRich() {
  Values(kTree, 3);
  Values(kTree + "\\a", 2);
  Values(kTree + "\\a\\leaf1", 1);
  standin::CreateKey(kTree + "\\a\\leaf2");
  Values(kTree + "\\a\\one\\only", 2);
  for (int i = 0; i < 3; ++i) Values(kTree + "\\a\\three\\k" + std::to_string(i), 1);
  standin::CreateKey(kTree + "\\a\\z-leaf");
  std::string chain = kTree + "\\chain";
  for (int level = 0; level < 6; ++level) {
    chain += "\\c" + std::to_string(level);
    Values(chain, level % 3);
  }
  for (int i = 0; i < 5; ++i) standin::CreateKey(kTree + "\\wide\\w" + std::to_string(i));
  standin::CreateLink(kTree + "\\a\\escape", Nt("Outside\\Victim"));
  standin::CreateLink(kTree + "\\chain\\c0\\loop", Nt(kTree));
  standin::CreateLink(kTree + "\\wide\\up", Nt(kParent));
  standin::CreateLink(kTree + "\\wide\\leafLink", Nt("Outside\\Leaf"));
  standin::CreateLink(kTree + "\\dangling", Nt("Outside\\Missing"));
  standin::CreateKey(kTree + "\\names\\" + std::string(255, 'K'));
  standin::CreateKey(kTree + "\\names\\" + std::string(259, 'L'));
  Values(kTree + "\\names\\short", 1);
  Values("T\\Beside", 2);
  Values("Outside\\Victim\\Child", 2);
  Values("Outside\\Leaf", 1);
}

// An overlong sub-key name ends its pass; what sorts after it stays.
void BuildOverlong() {
  BuildRich();
  standin::CreateKey(kTree + "\\names\\" + std::string(260, 'M'));
  standin::CreateKey(kTree + "\\names\\zz\\below");
}

struct Outcome {
  Status status = 0;
  std::string dump;
  size_t openHandles = 0;
  size_t invalidCloses = 0;
};

// One registry, one set of protections, one schedule of changes.
struct Case {
  std::function<void()> build;
  std::string name;  // passed to the deletion, below kParent
  std::function<void()> arm;
  // Changes made when a key is first opened, by its stored path.
  std::function<void(const std::string&)> onFirstOpen;
};

Outcome Run(const Case& c, bool reference) {
  standin::Reset();
  c.build();
  if (c.arm) c.arm();
  std::set<std::string> opened;
  if (c.onFirstOpen)
    standin::SetOpenHook([&](const std::string& path) {
      if (opened.insert(path).second) c.onFirstOpen(path);
    });
  Outcome out;
  if (reference) {
    HKEY parent = 0;
    RegOpenKeyExA(HKEY_CLASSES_ROOT, kParent, 0, KEY_ALL_ACCESS, &parent);
    out.status = reference::DeleteKeyTree(parent, c.name.c_str());
    RegCloseKey(parent);
  } else {
    RegistryKey parent(HKEY_CLASSES_ROOT, kParent);
    out.status = parent.DeleteKeyTree(c.name.c_str());
  }
  out.openHandles = standin::OpenHandleCount();
  out.invalidCloses = standin::InvalidCloseCount();
  standin::SetOpenHook(nullptr);
  standin::ClearFaults();
  out.dump = standin::Dump();
  return out;
}

// Compares both deletions on `c`; describes the first difference.
std::string Compare(const Case& c) {
  Outcome want = Run(c, true);
  Outcome got = Run(c, false);
  std::string problems;
  if (got.status != want.status)
    problems += " status " + std::to_string(got.status) + " not " + std::to_string(want.status);
  if (got.dump != want.dump) problems += " registry differs";
  if (got.openHandles || got.invalidCloses || want.openHandles || want.invalidCloses)
    problems += " handles left open or closed twice";
  return problems;
}

// Keys of the registry as built, and the named values of each.
struct Shape {
  std::vector<std::string> keys;
  std::vector<std::pair<std::string, std::string>> values;
};

Shape ShapeOf(const std::function<void()>& build) {
  standin::Reset();
  build();
  Shape shape;
  std::string dump = standin::Dump();
  std::string current;
  size_t start = 0;
  while (start < dump.size()) {
    size_t end = dump.find('\n', start);
    std::string line = dump.substr(start, end - start);
    start = end + 1;
    if (line.compare(0, 3, "  \"") == 0) {
      std::string name = line.substr(3, line.find('"', 3) - 3);
      if (!name.empty()) shape.values.push_back({current, name});
    } else {
      current = line;
      // The deletion's own parent is held open throughout.
      if (line != kParent) shape.keys.push_back(line);
    }
  }
  standin::Reset();
  return shape;
}

const DWORD kErrors[] = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
                         ERROR_INVALID_HANDLE, ERROR_KEY_DELETED};
const Call kKeyCalls[] = {Call::RegOpenKeyExA, Call::RegEnumKeyExA, Call::RegEnumValueA,
                          Call::RegQueryValueExA, Call::RegDeleteValueA};
// What the native deletion of a held key can give.
const DWORD kNativeErrors[] = {
    static_cast<DWORD>(STATUS_ACCESS_DENIED), static_cast<DWORD>(STATUS_CANNOT_DELETE),
    static_cast<DWORD>(STATUS_INVALID_HANDLE), static_cast<DWORD>(STATUS_KEY_DELETED)};

// Every lasting fault a deletion can meet: every call on every key, each
// value deletion, and opens refused only for full access, with every error.
// Opens refused with ERROR_ACCESS_DENIED, for every right or for full access
// only, are keys owned outside the caller's token, whose outcome
// MachineStateTest's test_owned_* rows check under Wine; the rest only the
// stand-in makes.
std::vector<std::function<void()>> SingleFaults(const Shape& shape) {
  std::vector<std::function<void()>> faults;
  for (const std::string& key : shape.keys) {
    for (DWORD error : kErrors) {
      for (Call call : kKeyCalls) faults.push_back([=] { standin::FailOnKey(call, key, error); });
      faults.push_back([=] {
        standin::FailOnKey(Call::RegOpenKeyExA, key, error, "", DELETE | KEY_QUERY_VALUE);
      });
    }
    for (DWORD status : kNativeErrors)
      faults.push_back([=] { standin::FailOnKey(Call::NtDeleteKey, key, status); });
  }
  for (const auto& value : shape.values)
    faults.push_back([=] {
      standin::FailOnKey(Call::RegDeleteValueA, value.first, ERROR_ACCESS_DENIED, value.second);
    });
  return faults;
}

class EquivalenceTest : public ::testing::Test {
 protected:
  void TearDown() override { standin::Reset(); }

  // Runs `c` with every fault in turn (and, given `pairs`, with that many
  // pairs of them drawn in a fixed order) and reports the differences.
  void ExpectSameUnderEveryFault(Case c, size_t pairs = 0) {
    const std::vector<std::function<void()>> faults = SingleFaults(ShapeOf(c.build));
    size_t failures = 0;
    auto check = [&](const std::string& what) {
      std::string problems = Compare(c);
      if (!problems.empty() && ++failures <= 10) ADD_FAILURE() << what << ":" << problems;
    };
    c.arm = nullptr;
    check("no fault");
    for (size_t i = 0; i < faults.size(); ++i) {
      c.arm = faults[i];
      check("fault " + std::to_string(i));
    }
    uint64_t seed = 0x9E3779B97F4A7C15u;
    for (size_t n = 0; n < pairs; ++n) {
      seed = seed * 6364136223846793005u + 1442695040888963407u;
      size_t a = (seed >> 33) % faults.size();
      size_t b = (seed >> 13) % faults.size();
      c.arm = [&, a, b] {
        faults[a]();
        faults[b]();
      };
      check("faults " + std::to_string(a) + " and " + std::to_string(b));
    }
    EXPECT_EQ(0u, failures) << faults.size() << " faults";
  }
};

TEST_F(EquivalenceTest, RichTreeUnderEveryLastingFaultAndPairsOfThem) {
  ExpectSameUnderEveryFault({BuildRich, "Tree", nullptr, nullptr}, 3000);
}

TEST_F(EquivalenceTest, OverlongNameUnderEveryLastingFault) {
  ExpectSameUnderEveryFault({BuildOverlong, "Tree", nullptr, nullptr});
}

// Each key in turn refusing every access, as an owned key does under Wine
// (MachineStateTest's test_owned_* rows).
TEST_F(EquivalenceTest, ProtectionsOfTheStandInItself) {
  Case c{BuildRich, "Tree", nullptr, nullptr};
  for (const std::string& key : ShapeOf(BuildRich).keys) {
    c.arm = [key] { standin::DenyAccess(key); };
    EXPECT_EQ("", Compare(c)) << "denied " << key;
  }
  for (const auto& value : ShapeOf(BuildRich).values) {
    c.arm = [value] { standin::ProtectValue(value.first, value.second); };
    EXPECT_EQ("", Compare(c)) << "protected " << value.first << " " << value.second;
  }
}

// The key asked for: missing, a link, childless or not, denied full access,
// and paths at the length limit (259, 260 and 261 characters).
TEST_F(EquivalenceTest, TheKeyAskedFor) {
  auto withLong = [] {
    BuildRich();
    // Paths below "T" of 259, 260 and 261 characters.
    const std::string p = std::string("T\\") + std::string(250, 'P') + "\\";
    standin::CreateKey(p + std::string(8, 'Q') + "\\sub");
    standin::CreateKey(p + std::string(9, 'R') + "\\sub");
    standin::CreateKey(p + std::string(10, 'S') + "\\sub");
  };
  const std::string p = std::string(250, 'P') + "\\";
  for (const std::string& name :
       {std::string("Missing"), std::string("Tree\\a\\escape"), std::string("Tree\\dangling"),
        std::string("Tree\\a\\leaf2"), std::string("Tree\\chain"), p + std::string(8, 'Q'),
        p + std::string(9, 'R'), p + std::string(10, 'S')}) {
    Case c{withLong, name, nullptr, nullptr};
    EXPECT_EQ("", Compare(c)) << name.size() << " " << name;
    for (const std::string& denied : {std::string("T\\") + name, kTree + "\\chain\\c0"}) {
      c.arm = [denied] {
        standin::FailOnKey(Call::RegOpenKeyExA, denied, ERROR_ACCESS_DENIED, "",
                           DELETE | KEY_QUERY_VALUE);
      };
      EXPECT_EQ("", Compare(c)) << name << " denying full access to " << denied;
    }
  }
}

// Another party changes the registry when a key is first opened: adds and
// removes sub-keys and values of it, of its parent and of its siblings,
// plants links in it, and takes it away.
TEST_F(EquivalenceTest, ChangesWhenAKeyIsFirstOpened) {
  using Change = std::function<void(const std::string&)>;
  auto parentOf = [](const std::string& path) { return path.substr(0, path.rfind('\\')); };
  const std::vector<Change> changes = {
      [](const std::string& k) { standin::CreateKey(k + "\\Added"); },
      [](const std::string& k) { standin::SetString(k + "\\Added\\deeper", "v", "x"); },
      [](const std::string& k) { standin::SetString(k, "AddedValue", "x"); },
      [=](const std::string& k) { standin::CreateKey(parentOf(k) + "\\0-sibling-before"); },
      [=](const std::string& k) { standin::CreateKey(parentOf(k) + "\\~sibling-after"); },
      [=](const std::string& k) { standin::SetString(parentOf(k), "AddedToParent", "x"); },
      [](const std::string& k) { standin::CreateLink(k + "\\Planted", Nt("Outside\\Victim")); },
      [](const std::string& k) { standin::RemoveKey(k); },
      [=](const std::string& k) { standin::RemoveKey(parentOf(k) + "\\a"); },
      [](const std::string& k) { standin::CreateLink(k, Nt("Outside\\Victim")); },
  };
  const Shape shape = ShapeOf(BuildRich);
  size_t failures = 0;
  for (const std::string& key : shape.keys) {
    if (key.compare(0, kTree.size(), kTree) != 0) continue;
    for (size_t i = 0; i < changes.size(); ++i) {
      Case c{BuildRich, "Tree", nullptr, [&, key, i](const std::string& opened) {
               if (opened == key) changes[i](key);
             }};
      std::string problems = Compare(c);
      if (!problems.empty() && ++failures <= 10)
        ADD_FAILURE() << "change " << i << " at " << key << ":" << problems;
    }
  }
  EXPECT_EQ(0u, failures);
}

}  // namespace
