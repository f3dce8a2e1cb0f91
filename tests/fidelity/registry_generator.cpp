#include "fidelity/registry_generator.h"

#include <cstdio>

#include "helpers/registry_writes.h"
#include "helpers/sample_filter.h"
#include "helpers/text.h"
#include "platform/platform.h"
#include "removal/removal_run.h"

namespace fidelity {

namespace {

using helpers::kFilterClsid;
// The longest key name Windows holds (Wine takes one more).
const size_t kMaxKeyName = 255;
// Characters of generated names: none that sorts differently when names
// are compared upper-cased (Windows) or lower-cased (Wine).
const char kNameChars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 -.{}~!#$%&'()+,;=@";

// splitmix64: the same numbers from a seed on every compiler.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1.
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }
  size_t Between(size_t lo, size_t hi) { return lo + Below(hi - lo + 1); }
  // True `percent` times in a hundred.
  bool Chance(unsigned percent) { return Below(1000) < percent * 10u; }
  bool PerMille(unsigned n) { return Below(1000) < n; }

 private:
  uint64_t state_;
};

std::string Guid(Rng& rng) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  const char* digits = rng.Chance(80) ? kUpper : kLower;
  std::string out = "{";
  const int groups[] = {8, 4, 4, 4, 12};
  for (int g = 0; g < 5; ++g) {
    if (g) out += '-';
    for (int i = 0; i < groups[g]; ++i) out += digits[rng.Below(16)];
  }
  return out + "}";
}

std::string RandomText(Rng& rng, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) out += kNameChars[rng.Below(sizeof kNameChars - 1)];
  return out;
}

// A key name: mostly short, sometimes at the limit, now and then past it.
std::string KeyName(Rng& rng) {
  if (rng.Chance(4)) return RandomText(rng, rng.Between(200, kMaxKeyName));
  std::string name = RandomText(rng, rng.Between(1, 16));
  // Neither the platform nor the generator's callers trim: leading and
  // trailing spaces are names of their own.
  return name;
}

std::string ValueName(Rng& rng) {
  if (rng.Chance(15)) return "";
  if (rng.Chance(3)) return RandomText(rng, rng.Between(255, 300));
  return RandomText(rng, rng.Between(1, 20));
}

// `text` with each letter's case chosen at random.
std::string RandomCase(Rng& rng, const std::string& text) {
  std::string out = text;
  int mode = static_cast<int>(rng.Below(4));
  for (char& c : out) {
    bool upper = mode == 1 || (mode == 3 && rng.Chance(50));
    bool lower = mode == 2 || (mode == 3 && !upper);
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Registry and files through the platform calls; after the first refusal
// every further call does nothing.
class Builder {
 public:
  Builder(Rng& rng, const Place& place, Generated* out) : rng_(rng), place_(place), out_(out) {}

  // Creates (or opens) `name` below `parent`: 0 once refused. The caller
  // closes the handle with Close.
  HKEY Key(HKEY parent, const std::string& name) {
    if (out_->refused || !parent) return 0;
    if (name.size() > kMaxKeyName) {
      Refuse("key name of " + std::to_string(name.size()) + " characters");
      return 0;
    }
    HKEY key = 0;
    LONG rc = helpers::CreateKey(parent, name, &key);
    if (rc != ERROR_SUCCESS) {
      Refuse("RegCreateKeyExA " + std::to_string(rc) + " for a name of " +
             std::to_string(name.size()) + " characters");
      return 0;
    }
    ++keys_;
    return key;
  }

  void Close(HKEY key) {
    if (key) RegCloseKey(key);
  }

  // Stores `bytes` exactly: a string without a NUL at its end is stored
  // without one (the byte after the range is not a NUL).
  void Value(HKEY key, const std::string& name, DWORD type, const std::string& bytes) {
    if (out_->refused || !key) return;
    LONG rc = helpers::WriteValue(key, name, type, bytes);
    if (rc != ERROR_SUCCESS)
      Refuse("RegSetValueExA " + std::to_string(rc) + " for a name of " +
             std::to_string(name.size()) + " characters");
  }

  void String(HKEY key, const std::string& name, const std::string& text) {
    Value(key, name, REG_SZ, text + std::string(1, '\0'));
  }

  // A value of a random type and size.
  void RandomValue(HKEY key) {
    std::string name = ValueName(rng_);
    switch (rng_.Below(9)) {
      case 0:
        Value(key, name, REG_SZ, RandomText(rng_, rng_.Below(40)) + std::string(1, '\0'));
        break;
      case 1:
        Value(key, name, REG_SZ, RandomText(rng_, rng_.Between(1, 40)));  // no terminator
        break;
      case 2:
        Value(key, name, REG_EXPAND_SZ, "%SystemRoot%\\" + RandomText(rng_, 8) + std::string(1, 0));
        break;
      case 3:
        Value(key, name, REG_MULTI_SZ, "one" + std::string(1, 0) + "two" + std::string(2, 0));
        break;
      case 4: {
        std::string bytes;
        for (size_t i = rng_.Below(64); i > 0; --i) bytes += static_cast<char>(rng_.Below(256));
        Value(key, name, REG_BINARY, bytes);
        break;
      }
      case 5: {
        std::string bytes;
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>(rng_.Below(256));
        Value(key, name, REG_DWORD, bytes);
        break;
      }
      case 6: {
        std::string bytes;
        for (int i = 0; i < 8; ++i) bytes += static_cast<char>(rng_.Below(256));
        Value(key, name, 11 /* REG_QWORD */, bytes);
        break;
      }
      case 7:
        Value(key, name, rng_.Chance(50) ? REG_SZ : REG_NONE, "");  // empty
        break;
      default:
        Value(key, name, REG_SZ, RandomText(rng_, rng_.Between(250, 400)) + std::string(1, 0));
        break;
    }
  }

  // A link named `name` below `parent` to `target`, a path relative to the
  // run's class root (that need not exist).
  void Link(HKEY parent, const std::string& name, const std::string& target) {
    if (out_->refused || !parent) return;
    LONG rc = helpers::MakeLink(parent, name, place_.rootNtPath + "\\" + target);
    if (rc != ERROR_SUCCESS) {
      Refuse("link " + std::to_string(rc));
      return;
    }
    ++links_;
  }

  // A directory below the file root (`relative` may have several levels).
  void Directory(const std::string& relative) {
    if (out_->refused) return;
    std::string path = place_.fileRoot;
    size_t start = 0;
    while (start < relative.size()) {
      size_t end = relative.find('\\', start);
      if (end == std::string::npos) end = relative.size();
      path += "\\" + relative.substr(start, end - start);
      if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        Refuse("CreateDirectoryA " + std::to_string(GetLastError()) + " at " +
               std::to_string(path.size()) + " characters");
        return;
      }
      start = end + 1;
    }
    out_->files.push_back(relative + "\\");
  }

  // A file below the file root; returns its full path.
  std::string File(const std::string& relative) {
    std::string path = place_.fileRoot + "\\" + relative;
    if (out_->refused) return path;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      Refuse("CreateFileA " + std::to_string(GetLastError()) + " at " +
             std::to_string(path.size()) + " characters");
      return path;
    }
    CloseHandle(file);
    out_->files.push_back(relative);
    return path;
  }

  void Note(const std::string& line) { out_->description += line + "\n"; }
  size_t Keys() const { return keys_; }
  size_t Links() const { return links_; }
  bool Refused() const { return out_->refused; }
  const Place& Where() const { return place_; }
  Generated* Out() { return out_; }

 private:
  void Refuse(const std::string& reason) {
    if (out_->refused) return;
    out_->refused = true;
    out_->reason = reason;
  }

  Rng& rng_;
  const Place& place_;
  Generated* out_;
  size_t keys_ = 0;
  size_t links_ = 0;
};

// A random tree below `key` (already made): up to `budget` keys more.
void Tree(Builder& b, Rng& rng, HKEY key, size_t depth, size_t* budget,
          const std::vector<std::string>& linkTargets) {
  for (size_t v = rng.Below(4); v > 0; --v) b.RandomValue(key);
  if (depth == 0) return;
  for (size_t width = rng.Below(5); width > 0 && *budget > 0 && !b.Refused(); --width) {
    --*budget;
    std::string name = KeyName(rng);
    if (!linkTargets.empty() && rng.Chance(10)) {
      b.Link(key, name, linkTargets[rng.Below(linkTargets.size())]);
      continue;
    }
    HKEY child = b.Key(key, name);
    Tree(b, rng, child, depth - 1, budget, linkTargets);
    b.Close(child);
  }
}

// The default value of "InprocServer32": one kind of path among many.
void ServerValue(Builder& b, Rng& rng, HKEY server) {
  const Place& place = b.Where();
  std::string dir = "Filter Files";
  b.Directory(dir);
  std::string existing = b.File(dir + "\\Sample Filter Server.dll");
  b.File(dir + "\\Neighbour Server.dll");
  std::string kind;
  std::string path = existing;
  DWORD type = REG_SZ;
  bool terminator = true;
  switch (rng.Below(14)) {
    case 0:
      kind = "existing file";
      break;
    case 1:
      kind = "existing file, no terminator";
      terminator = false;
      break;
    case 2:
      kind = "existing file as REG_EXPAND_SZ";
      type = REG_EXPAND_SZ;
      break;
    case 3:
      kind = "missing file";
      path = place.fileRoot + "\\" + dir + "\\Missing Server.dll";
      b.Out()->files.push_back(dir + "\\Missing Server.dll");
      break;
    case 4:
      kind = "directory";
      path = place.fileRoot + "\\" + dir;
      break;
    case 5: {
      kind = "short form";
      char shortPath[MAX_PATH];
      DWORD n = GetShortPathNameA(existing.c_str(), shortPath, MAX_PATH);
      if (n > 0 && n < MAX_PATH) {
        path = shortPath;
        b.Out()->replacements.push_back({path, "<short form of the server>"});
      }
      break;
    }
    case 6: {
      kind = "path near 260 characters";
      std::string deep = "Deep";
      size_t fixed = place.fileRoot.size() + 1 + 4 + 1 + std::string("server.dll").size();
      size_t target = rng.Between(250, 259);
      while (fixed + deep.size() + 40 < target) deep += "\\" + RandomText(rng, 30).substr(0, 30);
      // Directory names must not end in a dot or a space: the system trims
      // those, and the paths would not compare.
      for (char& c : deep)
        if (c == '.' || c == ' ') c = 'x';
      size_t pad = target > fixed + deep.size() + 1 ? target - fixed - deep.size() - 1 : 1;
      deep += "\\" + std::string(pad, 'd');
      b.Directory(deep);
      std::string relative = deep + "\\server.dll";
      path = b.File(relative);
      kind += " (" + std::to_string(path.size()) + ")";
      break;
    }
    case 7:
      kind = "path past 260 characters";
      path = place.fileRoot + "\\" + std::string(rng.Between(260, 300), 'p') + ".dll";
      break;
    case 8:
      kind = "forward slashes";
      for (char& c : path)
        if (c == '\\') c = '/';
      break;
    case 9:
      kind = "trailing dot";
      path += ".";
      break;
    case 10:
      kind = "doubled separator";
      path = place.fileRoot + "\\\\" + dir + "\\Sample Filter Server.dll";
      break;
    case 11:
      kind = "other letter case";
      path = helpers::Upper(existing);
      break;
    case 12:
      kind = "empty";
      path = "";
      break;
    default:
      kind = "binary";
      type = REG_BINARY;
      break;
  }
  b.Value(server, "", type, terminator ? path + std::string(1, '\0') : path);
  b.String(server, "ThreadingModel", "Both");
  b.Note("server: " + kind);
}

std::string ManagerValue(Rng& rng, std::string* kind) {
  *kind = "manager";
  return RandomCase(rng, ClassManagerName);
}

// A class key that comes close to a class manager's without being one.
void Decoy(Builder& b, Rng& rng, HKEY key, std::string* kind) {
  std::string name = RandomCase(rng, ClassManagerName);
  switch (rng.Below(7)) {
    case 0:
      *kind = "trailing space";
      b.String(key, "", name + " ");
      break;
    case 1:
      *kind = "extra character";
      b.String(key, "", "x" + name);
      break;
    case 2:
      *kind = "REG_EXPAND_SZ";
      b.Value(key, "", REG_EXPAND_SZ, name + std::string(1, 0));
      break;
    case 3:
      *kind = "REG_BINARY";
      b.Value(key, "", REG_BINARY, name);
      break;
    case 4:
      *kind = "too long";
      b.String(key, "", name + std::string(rng.Between(230, 300), ' '));
      break;
    case 5:
      *kind = "no terminator";  // still the name: a class manager
      b.Value(key, "", REG_SZ, name);
      break;
    default:
      *kind = "named value, not the default";
      b.String(key, "Name", name);
      break;
  }
}

// Other filters' entries below "Instance", and maybe the filter's own.
void Instances(Builder& b, Rng& rng, HKEY manager, const std::string& managerPath,
               const std::vector<std::string>& outside, size_t* budget) {
  HKEY instance = b.Key(manager, "Instance");
  for (size_t n = rng.Below(4); n > 0; --n) {
    HKEY entry = b.Key(instance, Guid(rng));
    b.String(entry, "FriendlyName", RandomText(rng, 12));
    Tree(b, rng, entry, rng.Below(3), budget, {});
    b.Close(entry);
  }
  if (rng.Chance(75)) {
    if (rng.Chance(8) && !outside.empty()) {
      b.Link(instance, kFilterClsid, outside[rng.Below(outside.size())]);
      b.Note("entry below " + managerPath + ": a link out");
    } else {
      HKEY entry = b.Key(instance, kFilterClsid);
      b.String(entry, "FriendlyName", "Sample Filter");
      b.Value(entry, "FilterData", REG_BINARY,
              std::string(helpers::kFilterData, helpers::kFilterDataSize));
      std::vector<std::string> targets = outside;
      targets.push_back(managerPath);                                               // an ancestor
      targets.push_back(managerPath + "\\Instance\\" + std::string(kFilterClsid));  // itself
      size_t depth = rng.Below(4);
      Tree(b, rng, entry, depth, budget, targets);
      b.Close(entry);
      b.Note("entry below " + managerPath + ", depth " + std::to_string(depth));
    }
  }
  b.Close(instance);
}

}  // namespace

Generated Generate(uint32_t seed, const Place& place) {
  Generated out;
  Rng rng(seed);
  Builder b(rng, place, &out);
  HKEY clsid = b.Key(HKEY_CLASSES_ROOT, "CLSID");

  bool large = rng.PerMille(12);
  size_t classes = large ? rng.Between(1500, 3000) : rng.Between(2, 40);
  std::vector<std::string> names;
  for (size_t i = 0; i < classes; ++i)
    names.push_back(rng.Chance(90) ? Guid(rng) : RandomText(rng, rng.Between(1, 40)));
  size_t plain = 0;
  std::vector<std::string> outside;  // keys outside the filter's trees
  for (size_t i = 0; i < names.size() && !b.Refused(); ++i) {
    HKEY key = b.Key(clsid, names[i]);
    plain += names[i][0] != '{';
    if (rng.Chance(40)) b.String(key, "", RandomText(rng, rng.Below(30)));
    if (rng.Chance(15)) {
      HKEY server = b.Key(key, "InprocServer32");
      b.String(server, "", "C:\\windows\\system32\\" + RandomText(rng, 8) + ".dll");
      b.Close(server);
      outside.push_back("CLSID\\" + names[i] + "\\InprocServer32");
    }
    if (i < 8) outside.push_back("CLSID\\" + names[i]);
    b.Close(key);
  }
  outside.push_back("CLSID\\{00000000-DEAD-0000-0000-000000000000}");  // dangling
  b.Note("class keys: " + std::to_string(classes) + " (" + std::to_string(plain) + " not GUIDs)");

  size_t budget = large ? 400 : 60;
  const size_t managerCounts[] = {0, 1, 1, 1, 1, 1, 2, 2, 3};
  for (size_t m = managerCounts[rng.Below(9)]; m > 0 && !b.Refused(); --m) {
    std::string name = Guid(rng);
    HKEY key = b.Key(clsid, name);
    std::string kind;
    b.String(key, "", ManagerValue(rng, &kind));
    Instances(b, rng, key, "CLSID\\" + name, outside, &budget);
    b.Close(key);
    b.Note("class manager " + name);
  }
  for (size_t d = rng.Below(4); d > 0 && !b.Refused(); --d) {
    std::string name = Guid(rng);
    HKEY key = b.Key(clsid, name);
    std::string kind;
    Decoy(b, rng, key, &kind);
    Instances(b, rng, key, "CLSID\\" + name, outside, &budget);
    b.Close(key);
    b.Note("decoy " + name + ": " + kind);
  }

  if (rng.Chance(88)) {
    std::string classPath = std::string("CLSID\\") + kFilterClsid;
    HKEY filter = b.Key(clsid, kFilterClsid);
    b.String(filter, "", "Sample Filter");
    std::vector<std::string> targets = outside;
    targets.push_back(classPath);  // the tree's own root, an ancestor
    targets.push_back("CLSID");
    if (rng.Chance(90)) {
      if (rng.Chance(5)) {
        // "InprocServer32" itself a link to a sibling's server key.
        HKEY sibling = b.Key(clsid, "{00000000-5E4F-0000-0000-000000000000}");
        HKEY server = b.Key(sibling, "InprocServer32");
        ServerValue(b, rng, server);
        b.Close(server);
        b.Close(sibling);
        b.Link(filter, "InprocServer32",
               "CLSID\\{00000000-5E4F-0000-0000-000000000000}\\InprocServer32");
        b.Note("InprocServer32 is a link out");
      } else {
        HKEY server = b.Key(filter, "InprocServer32");
        ServerValue(b, rng, server);
        b.Close(server);
      }
    }
    size_t depth = rng.Below(6);
    size_t before = b.Keys();
    Tree(b, rng, filter, depth, &budget, targets);
    b.Close(filter);
    b.Note("filter class key: depth " + std::to_string(depth) + ", " +
           std::to_string(b.Keys() - before) + " keys");
  } else {
    b.Note("no filter class key");
  }
  // Now and then a name the real registry cannot hold: a key name of 256
  // characters or more (Wine takes 256, Windows not: the generator refuses
  // every key name past 255 itself, on both builds), or a value name of
  // 16,384 (the platform refuses it, on both).
  size_t refusal = rng.Below(1000);
  if (refusal < 8) {
    b.Close(b.Key(clsid, RandomText(rng, kMaxKeyName + 1)));
  } else if (refusal < 14) {
    b.Close(b.Key(clsid, RandomText(rng, rng.Between(257, 300))));
  } else if (refusal < 20) {
    b.Value(clsid, RandomText(rng, 16384), REG_SZ, std::string(1, '\0'));
  }
  b.Close(clsid);
  b.Note("keys " + std::to_string(b.Keys()) + ", links " + std::to_string(b.Links()));
  return out;
}

}  // namespace fidelity
