// The stand-in's key tree and the control calls that shape it directly.

#include "platform/host/key_tree.h"

#include "platform/host/standin_control.h"

namespace standin_impl {

namespace {

// A chain of links longer than this resolves to nothing, as a loop would.
const int kMaxLinkChain = 16;

void MarkDeleted(Node& node) {
  node.deleted = true;
  for (auto& child : node.children) MarkDeleted(*child.second);
}

void DumpNode(const Node& node, const std::string& path, std::string* out) {
  if (!path.empty()) {
    *out += path;
    *out += '\n';
  }
  for (const auto& entry : node.values) {
    const Value& v = entry.second;
    *out += "  \"" + v.name + "\" type " + std::to_string(v.type) + " [" +
            helpers::Escape(v.data, "\\x", "\\") + "]\n";
  }
  for (const auto& child : node.children) {
    DumpNode(*child.second, path.empty() ? child.second->name : path + "\\" + child.second->name,
             out);
  }
}

}  // namespace

std::shared_ptr<Node>& Root() {
  static std::shared_ptr<Node> root = std::make_shared<Node>();
  return root;
}

std::shared_ptr<Node>& UserRoot() {
  static std::shared_ptr<Node> root = std::make_shared<Node>();
  return root;
}

void ResetTree() {
  MarkDeleted(*Root());
  Root() = std::make_shared<Node>();
  MarkDeleted(*UserRoot());
  UserRoot() = std::make_shared<Node>();
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('\\', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::shared_ptr<Node> Child(const Node& node, const std::string& name) {
  auto it = node.children.find(Upper(name));
  return it == node.children.end() ? nullptr : it->second;
}

std::shared_ptr<Node> Walk(std::shared_ptr<Node> from, const std::string& path, Links links,
                           int chain) {
  std::vector<std::string> parts = SplitPath(path);
  // A link has no sub-keys of its own: a path below one held as itself
  // goes on from its target.
  if (from->link && !parts.empty() && links != Links::Raw) {
    from = LinkTarget(*from, chain + 1);
    if (!from) return nullptr;
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    from = Child(*from, parts[i]);
    if (!from) return nullptr;
    bool last = i + 1 == parts.size();
    if (from->link && (links == Links::Follow || (links == Links::FollowButTheLast && !last))) {
      from = LinkTarget(*from, chain + 1);
      if (!from) return nullptr;
    }
  }
  return from;
}

std::shared_ptr<Node> AddChild(const std::shared_ptr<Node>& parent, const std::string& name) {
  auto child = std::make_shared<Node>();
  child->name = name;
  child->parent = parent.get();
  parent->children.insert(std::make_pair(Upper(name), child));
  return child;
}

std::shared_ptr<Node> Ensure(std::shared_ptr<Node> from, const std::string& path) {
  for (const std::string& part : SplitPath(path)) {
    if (from->link) from = LinkTarget(*from, 1);
    if (!from) return nullptr;
    std::shared_ptr<Node> next = Child(*from, part);
    from = next ? next : AddChild(from, part);
  }
  return from;
}

void Unlink(Node& node) {
  MarkDeleted(node);
  if (node.parent) node.parent->children.erase(Upper(node.name));
  node.parent = nullptr;
}

Value* FindValue(Node& node, const char* name) {
  auto seq = node.valueSeq.find(Upper(name ? name : ""));
  if (seq == node.valueSeq.end()) return nullptr;
  auto it = node.values.find(seq->second);
  return it == node.values.end() ? nullptr : &it->second;
}

const char kLinkValueName[] = "SymbolicLinkValue";

// A link's target is an NT path held as UTF-16 in its SymbolicLinkValue.
// Only targets below the classes root are modelled; any other is dangling.
std::shared_ptr<Node> LinkTarget(Node& link, int chain) {
  if (chain > kMaxLinkChain) return nullptr;
  const Value* v = FindValue(link, kLinkValueName);
  if (!v || v->type != REG_LINK) return nullptr;
  std::string target;
  for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
    if (v->data[i + 1] != 0 || v->data[i] == 0) return nullptr;  // ASCII only
    target += v->data[i];
  }
  std::string upper = Upper(target);
  for (const char* rootPath : {standin::kClassesRootNtPath, standin::kUserClassesNtPath}) {
    std::string root = Upper(rootPath);
    if (upper.compare(0, root.size(), root) != 0) continue;
    if (upper.size() > root.size() && upper[root.size()] != '\\') continue;
    std::shared_ptr<Node> from = rootPath == standin::kClassesRootNtPath ? Root() : UserRoot();
    return Walk(from, target.substr(root.size()), Links::Follow, chain);
  }
  return nullptr;
}

bool Refuses(const Node& node, REGSAM access) {
  return node.protectedKey && (access & ~node.allowedAccess) != 0;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

void StoreValue(Node& node, const std::string& name, DWORD type, const std::string& data) {
  std::string upper = Upper(name);
  auto seq = node.valueSeq.find(upper);
  if (seq != node.valueSeq.end()) {
    Value& v = node.values.find(seq->second)->second;
    v.type = type;
    v.data = data;
    return;
  }
  uint64_t n = node.nextSeq++;
  Value v;
  v.name = name;
  v.type = type;
  v.data = data;
  node.values.insert(std::make_pair(n, v));
  node.valueSeq[upper] = n;
}

}  // namespace standin_impl

// ---------------------------------------------------------------------------
// Control interface: the registry as tests shape it.

namespace standin {

using namespace standin_impl;

const char kClassesRootNtPath[] = "\\Registry\\Machine\\Software\\Classes";
const char kUserClassesNtPath[] = "\\Registry\\User\\S-1-5-21-1-2-3-1001_Classes";

void CreateKey(const std::string& path) { Ensure(Root(), path); }

void SetValue(const std::string& keyPath, const std::string& name, DWORD type,
              const std::string& bytes) {
  if (std::shared_ptr<Node> node = Ensure(Root(), keyPath)) StoreValue(*node, name, type, bytes);
}

void SetString(const std::string& keyPath, const std::string& name, const std::string& text,
               bool withTerminator) {
  SetValue(keyPath, name, REG_SZ, withTerminator ? text + std::string(1, '\0') : text);
}

void RemoveKey(const std::string& path) {
  std::shared_ptr<Node> node = Walk(Root(), path, Links::Raw);
  if (node && node != Root()) Unlink(*node);
}

bool KeyExists(const std::string& path) { return Walk(Root(), path, Links::Raw) != nullptr; }

namespace {

// A link at `path` below `root`, as CreateLink makes one.
void CreateLinkBelow(const std::shared_ptr<Node>& root, const std::string& path,
                     const std::string& target) {
  // A link is always a new key: the key in its place goes first, with
  // everything below it, as another party would delete it.
  std::vector<std::string> parts = SplitPath(path);
  if (parts.empty()) return;
  std::string name = parts.back();
  parts.pop_back();
  std::string parentPath;
  for (const std::string& part : parts) parentPath += part + "\\";
  std::shared_ptr<Node> parent = Ensure(root, parentPath);
  if (parent && parent->link) parent = LinkTarget(*parent, 1);
  if (!parent) return;
  if (std::shared_ptr<Node> old = Child(*parent, name)) Unlink(*old);
  std::shared_ptr<Node> node = AddChild(parent, name);
  node->link = true;
  std::string utf16;
  for (char c : target) {
    utf16 += c;
    utf16 += '\0';
  }
  StoreValue(*node, kLinkValueName, REG_LINK, utf16);
}

}  // namespace

void CreateLink(const std::string& path, const std::string& target) {
  CreateLinkBelow(Root(), path, target);
}

void CreateUserLink(const std::string& path, const std::string& target) {
  CreateLinkBelow(UserRoot(), path, target);
}

bool ResolvePath(const std::string& path, bool followLast, std::string* resolved) {
  std::shared_ptr<Node> node =
      Walk(Root(), path, followLast ? Links::Follow : Links::FollowButTheLast);
  resolved->clear();
  if (!node) return false;
  for (const Node* n = node.get(); n->parent; n = n->parent)
    *resolved = resolved->empty() ? n->name : n->name + "\\" + *resolved;
  return true;
}

void DenyAccess(const std::string& keyPath, REGSAM allowed) {
  if (std::shared_ptr<Node> node = Ensure(Root(), keyPath)) {
    node->protectedKey = true;
    node->allowedAccess = allowed;
  }
}

void AllowAccess(const std::string& keyPath) {
  if (std::shared_ptr<Node> node = Walk(Root(), keyPath, Links::Raw)) node->protectedKey = false;
}

void ProtectValue(const std::string& keyPath, const std::string& name) {
  std::shared_ptr<Node> node = Ensure(Root(), keyPath);
  if (!node) return;
  if (!FindValue(*node, name.c_str())) StoreValue(*node, name, REG_SZ, "");
  FindValue(*node, name.c_str())->protectedFromDelete = true;
}

std::string Dump() {
  std::string out;
  DumpNode(*Root(), "", &out);
  return out;
}

void CreateUserKey(const std::string& path) { Ensure(UserRoot(), path); }

void SetUserValue(const std::string& keyPath, const std::string& name, DWORD type,
                  const std::string& bytes) {
  if (std::shared_ptr<Node> node = Ensure(UserRoot(), keyPath))
    StoreValue(*node, name, type, bytes);
}

void SetUserString(const std::string& keyPath, const std::string& name, const std::string& text) {
  SetUserValue(keyPath, name, REG_SZ, text + std::string(1, '\0'));
}

bool UserKeyExists(const std::string& path) {
  return Walk(UserRoot(), path, Links::Raw) != nullptr;
}

void DenyUserAccess(const std::string& keyPath, REGSAM allowed) {
  if (std::shared_ptr<Node> node = Ensure(UserRoot(), keyPath)) {
    node->protectedKey = true;
    node->allowedAccess = allowed;
  }
}

std::string DumpUser() {
  std::string out;
  DumpNode(*UserRoot(), "", &out);
  return out;
}

}  // namespace standin
