// The stand-in's key tree: keys with case-insensitive names that keep their
// creation case, sub-keys ordered by upper-cased name and found by position
// in O(log n) (O(1) for a walk forward), values in creation order, and
// symbolic links resolved below the classes root.
#pragma once

#include <cstdint>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "helpers/text.h"
#include "platform/host/host_windows.h"

namespace standin_impl {

// An ordered container whose n-th element is found in O(log n).
template <typename K, typename V>
using IndexedMap = __gnu_pbds::tree<K, V, std::less<K>, __gnu_pbds::rb_tree_tag,
                                    __gnu_pbds::tree_order_statistics_node_update>;

// An IndexedMap that remembers the element it last gave by position, so
// that a walk forward one index at a time (the way callers enumerate) and a
// search for the key just enumerated cost O(1) instead of O(log n) each.
// Any insertion or erasure forgets the remembered element.
template <typename K, typename V>
class CursorMap : public IndexedMap<K, V> {
  using Base = IndexedMap<K, V>;
  using Iterator = typename Base::const_iterator;

 public:
  CursorMap() = default;
  CursorMap(const CursorMap& other) : Base(other) {}
  CursorMap& operator=(const CursorMap& other) {
    Forget();
    Base::operator=(other);
    return *this;
  }

  template <typename... Args>
  auto insert(Args&&... args) {
    Forget();
    return Base::insert(std::forward<Args>(args)...);
  }
  template <typename... Args>
  auto erase(Args&&... args) {
    Forget();
    return Base::erase(std::forward<Args>(args)...);
  }
  void clear() {
    Forget();
    Base::clear();
  }
  void swap(CursorMap& other) {
    Forget();
    other.Forget();
    Base::swap(other);
  }

  Iterator find_by_order(size_t n) const {
    if (n == 0) return Remember(0, Base::begin());
    if (known && n == position) return cursor;
    if (known && n == position + 1 && cursor != Base::end()) return Remember(n, std::next(cursor));
    return Remember(n, Base::find_by_order(n));
  }
  Iterator find(const K& key) const {
    if (known && cursor != Base::end() && !(key < cursor->first) && !(cursor->first < key))
      return cursor;
    return Base::find(key);
  }

 private:
  Iterator Remember(size_t n, Iterator it) const {
    known = true;
    position = n;
    cursor = it;
    return it;
  }
  void Forget() { known = false; }

  mutable bool known = false;
  mutable size_t position = 0;
  mutable Iterator cursor;
};

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
  bool protectedFromDelete = false;
};

struct Node {
  std::string name;
  Node* parent = nullptr;
  bool deleted = false;
  bool protectedKey = false;  // only the rights in `allowedAccess` are granted
  REGSAM allowedAccess = 0;
  bool link = false;  // a symbolic link: its target is its SymbolicLinkValue
  CursorMap<std::string, std::shared_ptr<Node>> children;  // by upper name
  IndexedMap<uint64_t, Value> values;                      // creation order
  std::unordered_map<std::string, uint64_t> valueSeq;      // upper name
  uint64_t nextSeq = 0;
};

// The machine's classes root (HKEY_LOCAL_MACHINE\Software\Classes), which
// links lead into and the control calls shape.
std::shared_ptr<Node>& Root();
// The running user's classes root (HKEY_CURRENT_USER\Software\Classes).
std::shared_ptr<Node>& UserRoot();
// Marks every key of both trees deleted (open handles then see
// ERROR_KEY_DELETED) and starts two empty trees.
void ResetTree();

using helpers::Upper;
std::vector<std::string> SplitPath(const std::string& path);
std::shared_ptr<Node> Child(const Node& node, const std::string& name);

// How a walk treats the links it meets on its way.
enum class Links {
  Follow,            // every level, the last included (options 0)
  FollowButTheLast,  // the last level is the link itself (REG_OPTION_OPEN_LINK)
  Raw,               // never: the tree as stored (the control interface)
};

// Walks a relative path below `from`; null when a level is missing or a
// link on the way leads nowhere.
std::shared_ptr<Node> Walk(std::shared_ptr<Node> from, const std::string& path,
                           Links links = Links::Follow, int chain = 0);
// Whether the key's own protection refuses a handle with `access` on it (a
// deletion asks for DELETE). The keys above it are never consulted.
bool Refuses(const Node& node, REGSAM access);
// The key a link leads to, null when it dangles or the chain is too long.
std::shared_ptr<Node> LinkTarget(Node& link, int chain);

std::shared_ptr<Node> AddChild(const std::shared_ptr<Node>& parent, const std::string& name);
// Creates the missing levels of a path as stored, never following a link.
std::shared_ptr<Node> Ensure(std::shared_ptr<Node> from, const std::string& path);
// Takes a key out of the tree and marks it and everything below deleted.
void Unlink(Node& node);

extern const char kLinkValueName[];
Value* FindValue(Node& node, const char* name);
void StoreValue(Node& node, const std::string& name, DWORD type, const std::string& data);
bool IsStringType(DWORD type);

}  // namespace standin_impl
