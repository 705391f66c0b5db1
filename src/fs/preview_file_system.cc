#include "fs/preview_file_system.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_map>

#include "fs/paths.h"
#include "platform/path_syntax.h"
#include "platform/user_folders.h"

namespace twinmere {
namespace {

// Items made here get inode numbers no real item of these tests' and users'
// file systems comes near.
constexpr uint64_t kFirstMadeInode = uint64_t{1} << 62;

FileTime Now() {
  return FileTime{std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count()};
}

std::string Join(const std::string& folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string path = folder;
  if (path.back() != '/') path += '/';
  path.append(name);
  return path;
}

// The length of the root that `path` begins with, where the preview keeps
// a tree of its own: "/", and on Windows "C:/" or "//server/share/" too. A
// bare drive ("C:name") goes by the working folder of that drive, which only
// the system knows: the preview takes it for a name of the working folder.
size_t RootLength(std::string_view path) {
  const size_t root = PathRootLength(path);
  return root > 0 && path[root - 1] == ':' ? 0 : root;
}

// The key of a root's tree: its text, ASCII letters in lower case (drive
// letters and server names ignore case); empty for the working folder.
std::string RootKey(std::string_view path) {
  std::string key(path.substr(0, RootLength(path)));
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

// The components of a path below its root: its names, "." and ".."
// included, empty ones (doubled or trailing "/") left out.
std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = RootLength(path);
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsDots(std::string_view name) {
  return name == "." || name == "..";
}

// The error of a lookup on the way to an item: a FIFO, socket or device
// (which no lookup describes) where a folder of the path should be makes
// the path's folder no folder, as opening it would say.
ErrorCode NotAFolderOnTheWay(ErrorCode code, bool last) {
  return code == kErrNotSupported && !last ? kErrPathNotFound : code;
}

// A name with its ASCII letters in one case: what folders that compare
// names ignoring case go by here (vfat's, and the test file system's, rule).
std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

}  // namespace

struct PreviewFileSystem::Node {
  enum class State : uint8_t {
    Real,     // as on the real file system (a folder with changes below it)
    Changed,  // present, and as `info` says
    Gone,     // not there any more
  };
  State state = State::Real;
  // Made here: no real item stands behind it (a copy, a new folder).
  bool made = false;
  int8_t ignore_case = -1;  // folders: how names compare in it; -1 not known yet
  // Listed after the real entries, in the order of this number: an item
  // made, or renamed, here (0: at its place among the real entries).
  uint64_t appended = 0;
  Node* parent = nullptr;
  ItemInfo info;  // info.name is the name as stored
  // Where a real item renamed to this name lies on the real file system.
  std::unique_ptr<std::string> moved_from;
  std::unique_ptr<std::string> link_text;  // a made link's text
  std::unique_ptr<Security> security;      // the security given to it
  struct Children {
    std::vector<std::unique_ptr<Node>> order;  // in the order the nodes were made
    std::unordered_map<std::string, Node*> exact;
    std::unordered_multimap<std::string, Node*> folded;
  };
  std::unique_ptr<Children> children;
  std::string root_path;  // the real path of a root ("/", or "" for the working folder)
};

// What Resolve found for a path.
struct PreviewFileSystem::Found {
  Node* node = nullptr;  // the item's node; null for an item no node stands for
  ItemInfo info;
  // The item's path on the real file system: the path as given wherever
  // that names it, empty for an item made here.
  std::string real;
};

namespace {

using Node = PreviewFileSystem::Node;

Node* ExactChild(const Node& folder, std::string_view name) {
  if (!folder.children) return nullptr;
  const auto it = folder.children->exact.find(std::string(name));
  return it == folder.children->exact.end() ? nullptr : it->second;
}

}  // namespace

// ---- listing -----------------------------------------------------------------

// The real entries of a folder in their order, each as the preview sees it
// (a changed one as changed, a removed one left out), then the items made in
// it. What the real listing read ahead is passed on only for items and
// counterparts that nothing was changed for.
class PreviewFileSystem::Reader final : public FolderReader {
 public:
  Reader(PreviewFileSystem& fs, Node* folder, std::unique_ptr<FolderReader> real)
      : fs_(fs), folder_(folder), real_(std::move(real)) {
    if (folder_ != nullptr && folder_->children) {
      for (const auto& child : folder_->children->order) {
        if (child->appended != 0 && child->state == Node::State::Changed)
          made_.push_back(child.get());
      }
      std::sort(made_.begin(), made_.end(),
                [](const Node* a, const Node* b) { return a->appended < b->appended; });
    }
  }

  ErrorCode Next(ItemInfo& item) override {
    while (real_ != nullptr && !real_done_) {
      const ErrorCode code = real_->Next(item);
      if (code == kErrNoMoreEntries) {
        real_done_ = true;
        break;
      }
      if (code != 0) return code;
      Node* node = folder_ == nullptr ? nullptr : ExactChild(*folder_, item.name);
      if (node == nullptr || node->state == Node::State::Real) {
        from_real_ = true;
        return 0;
      }
      if (node->state == Node::State::Gone || node->appended != 0) continue;
      item = node->info;
      from_real_ = false;
      return 0;
    }
    while (next_ < made_.size()) {
      Node* node = made_[next_++];
      if (node->state != Node::State::Changed) continue;
      item = node->info;
      from_real_ = false;
      return 0;
    }
    return kErrNoMoreEntries;
  }

  bool Detailed() const override { return !from_real_ || real_->Detailed(); }
  bool AheadCounterpart(const std::string& path, ItemInfo& info, bool& detailed) override {
    return from_real_ && fs_.Untouched(path) && real_->AheadCounterpart(path, info, detailed);
  }
  bool AheadItemSecurity(Security& security, ErrorCode& code) override {
    return from_real_ && real_->AheadItemSecurity(security, code);
  }
  bool AheadCounterpartSecurity(const std::string& path, Security& security,
                                ErrorCode& code) override {
    return from_real_ && fs_.Untouched(path) &&
           real_->AheadCounterpartSecurity(path, security, code);
  }

 private:
  PreviewFileSystem& fs_;
  Node* folder_;
  std::unique_ptr<FolderReader> real_;
  bool real_done_ = false;
  bool from_real_ = false;
  std::vector<Node*> made_;  // the items listed after the real ones, in order
  size_t next_ = 0;
};

// ---- the tree of changes -------------------------------------------------------

PreviewFileSystem::PreviewFileSystem(FileSystem& real)
    : real_(real), next_inode_(kFirstMadeInode) {}

PreviewFileSystem::~PreviewFileSystem() = default;

PreviewFileSystem::Node* PreviewFileSystem::RootOf(const std::string& path, bool make) {
  const std::string key = RootKey(path);
  const auto found = roots_.find(key);
  if (found != roots_.end()) return found->second.get();
  if (!make) return nullptr;
  auto root = std::make_unique<Node>();
  const std::string real = key.empty() ? "." : path.substr(0, key.size());
  root->root_path = key.empty() ? "" : real;
  root->info.kind = ItemKind::Folder;
  root->info.name = real;
  real_.Lookup(real, root->info);
  return (roots_[key] = std::move(root)).get();
}

bool PreviewFileSystem::IgnoresCase(Node& folder) {
  if (folder.ignore_case < 0) {
    if (folder.made) {
      folder.ignore_case = folder.parent != nullptr && IgnoresCase(*folder.parent) ? 1 : 0;
    } else {
      const std::string real = RealPath(folder);
      folder.ignore_case = real_.NamesIgnoreCase(real.empty() ? "." : real) ? 1 : 0;
    }
  }
  return folder.ignore_case > 0;
}

std::string PreviewFileSystem::RealPath(const Node& node) const {
  if (node.parent == nullptr) return node.root_path;
  if (node.moved_from) return *node.moved_from;
  return Join(RealPath(*node.parent), node.info.name);
}

// The node of `name` in `folder`: the one of exactly that name unless it is
// gone; in a folder that compares names ignoring case, one whose name is
// equal ignoring case and that is there; else a gone one (the item is not
// there any more), or none.
static Node* FindChild(PreviewFileSystem::Node& folder, std::string_view name, bool ignore_case) {
  if (!folder.children) return nullptr;
  Node* hit = ExactChild(folder, name);
  if (hit != nullptr && hit->state != Node::State::Gone) return hit;
  if (ignore_case) {
    const auto range = folder.children->folded.equal_range(Folded(name));
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second->state != Node::State::Gone) return it->second;
      if (hit == nullptr) hit = it->second;
    }
  }
  return hit;
}

PreviewFileSystem::Node* PreviewFileSystem::MakeChild(Node& folder, const ItemInfo& info,
                                                      bool real) {
  if (!folder.children) folder.children = std::make_unique<Node::Children>();
  auto node = std::make_unique<Node>();
  node->parent = &folder;
  node->info = info;
  node->made = !real;
  node->state = real ? Node::State::Real : Node::State::Changed;
  node->appended = real ? 0 : next_append_++;
  Node* raw = node.get();
  Node::Children& children = *folder.children;
  children.exact[info.name] = raw;
  children.folded.emplace(Folded(info.name), raw);
  children.order.push_back(std::move(node));
  return raw;
}

ErrorCode PreviewFileSystem::Resolve(const std::string& path, bool make, Found& found) {
  found = Found{};
  Node* root = RootOf(path, make);
  const std::vector<std::string_view> parts = Components(path);
  // Nothing was changed on this side of the root: the real file system answers.
  if (root == nullptr || (!make && !root->children) || parts.empty()) {
    found.real = path;
    if (parts.empty()) found.node = root;
    return real_.Lookup(path, found.info);
  }
  bool dots = false;
  for (std::string_view part : parts) dots = dots || IsDots(part);

  // The folders walked so far: a node each, or (below the last node) the
  // real item found.
  struct Frame {
    Node* node;
    std::string real;  // empty for a node made here
    ItemInfo info;
  };
  std::vector<Frame> frames;
  frames.push_back({root, root->root_path, root->info});
  bool moved = false;  // a renamed folder was passed: real paths are built
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    const bool last = i + 1 == parts.size();
    if (part == ".") continue;
    if (part == "..") {
      if (frames.size() > 1) {
        frames.pop_back();
      } else if (root->root_path.empty()) {
        // Above the working folder: nothing was changed there.
        found.real = path;
        return real_.Lookup(path, found.info);
      }
      moved = true;
      continue;
    }
    Frame& frame = frames.back();
    if (frame.info.kind != ItemKind::Folder) {
      if (frame.node != nullptr || frame.info.kind != ItemKind::Link) {
        return frame.info.kind == ItemKind::Link ? kErrLinkInPath : kErrPathNotFound;
      }
      // A real link among the folders: the real file system knows what it does.
    }
    if (frame.node != nullptr) {
      Node& folder = *frame.node;
      Node* child = FindChild(folder, part, folder.children && IgnoresCase(folder));
      if (child == nullptr && !folder.made) {
        // Not changed here: the real item, unless the name found there is
        // that of a node (an alias, a name in another case).
        const std::string real_path = Join(frame.real, part);
        if (!make && !dots && !moved && !last) {
          found.real = path;
          return real_.Lookup(path, found.info);
        }
        ItemInfo info;
        if (const ErrorCode code = real_.Lookup(real_path, info); code != 0)
          return NotAFolderOnTheWay(code, last);
        child = FindChild(folder, info.name, folder.children && IgnoresCase(folder));
        if (child == nullptr) {
          if (make) {
            child = MakeChild(folder, info, true);
          } else {
            frames.push_back({nullptr, moved ? Join(frame.real, info.name) : real_path, info});
            continue;
          }
        }
      }
      if (child == nullptr || child->state == Node::State::Gone) return kErrNotFound;
      std::string real;
      if (!child->made) {
        if (child->moved_from) moved = true;
        real = moved ? RealPath(*child) : Join(frame.real, part);
      }
      frames.push_back({child, std::move(real), child->info});
      continue;
    }
    // Below the nodes: the real items, one by one.
    const std::string real_path = Join(frame.real, part);
    ItemInfo info;
    if (const ErrorCode code = real_.Lookup(real_path, info); code != 0)
      return NotAFolderOnTheWay(code, last);
    frames.push_back({nullptr, real_path, info});
  }
  const Frame& item = frames.back();
  found.node = item.node;
  found.info = item.info;
  if (item.node == nullptr || !item.node->made) found.real = moved || dots ? item.real : path;
  return 0;
}

ErrorCode PreviewFileSystem::NodeOf(const std::string& path, Node*& node) {
  Found found;
  if (const ErrorCode code = Resolve(path, true, found); code != 0) return code;
  if (found.node == nullptr) return kErrNotFound;  // the working folder's parents: not kept
  node = found.node;
  return 0;
}

ErrorCode PreviewFileSystem::ParentOf(const std::string& path, Node*& folder, std::string& name) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const size_t slash = trimmed.rfind('/');
  name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name.empty() || IsDots(name)) return kErrInvalidArgument;
  const std::string above = slash == std::string::npos ? "." : trimmed.substr(0, slash + 1);
  if (const ErrorCode code = NodeOf(above, folder); code != 0)
    return NotAFolderOnTheWay(code, false);
  if (folder->info.kind == ItemKind::Link) return kErrLinkInPath;
  if (folder->info.kind != ItemKind::Folder) return kErrPathNotFound;
  return 0;
}

// Whether what the real file system read ahead for `path` is still what the
// preview shows there: the folders on the way are where they were (a folder
// whose own mode or times changed still is), and the item itself is as real.
bool PreviewFileSystem::Untouched(const std::string& path) const {
  const auto root = roots_.find(RootKey(path));
  Node* node = root == roots_.end() ? nullptr : root->second.get();
  if (node == nullptr || !node->children) return true;
  for (std::string_view part : Components(path)) {
    if (IsDots(part)) return false;
    Node* child = FindChild(*node, part, node->ignore_case > 0);
    if (child == nullptr) return true;
    if (child->state == Node::State::Gone || child->made || child->moved_from) return false;
    node = child;
  }
  return node->state == Node::State::Real;
}

// Items were added to, removed from or renamed in `folder`: its times change.
void PreviewFileSystem::Touch(Node& folder) {
  if (folder.parent == nullptr) return;  // a root is never inside a synchronized tree
  Change(folder);
  folder.info.modify_time = folder.info.change_time = Now();
}

void PreviewFileSystem::Change(Node& node) {
  node.state = Node::State::Changed;
}

void PreviewFileSystem::Remove(Node& node) {
  node.state = Node::State::Gone;
  node.children.reset();
  node.link_text.reset();
  node.security.reset();
}

ErrorCode PreviewFileSystem::ListNode(Node& folder, bool& empty) {
  empty = true;
  if (!folder.made) {
    std::unique_ptr<FolderReader> real;
    if (const ErrorCode code = real_.OpenFolder(Join(RealPath(folder), ""), real); code != 0)
      return code;
    ItemInfo item;
    for (ErrorCode code = real->Next(item); code != kErrNoMoreEntries; code = real->Next(item)) {
      if (code != 0) return code;
      const Node* node = ExactChild(folder, item.name);
      if (node == nullptr || node->state != Node::State::Gone) {
        empty = false;
        return 0;
      }
    }
  }
  if (folder.children) {
    for (const auto& child : folder.children->order) {
      if (child->state == Node::State::Changed) {
        empty = false;
        break;
      }
    }
  }
  return 0;
}

std::string PreviewFileSystem::NearestRealFolder(const std::string& path) {
  std::string folder = path;
  for (int depth = 0; depth < 4096; ++depth) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    Found found;
    if (Resolve(folder, false, found) == 0 && found.info.IsFolder() && !found.real.empty())
      return found.real;
    if (folder.size() <= RootLength(folder)) return folder;
    const std::string parent = ParentFolder(folder);
    if (parent.empty()) return ".";
    folder = parent;
  }
  return folder;
}

// ---- FileSystem ----------------------------------------------------------------

void PreviewFileSystem::SetConfinedRoots(const std::vector<std::string>& roots) {
  real_.SetConfinedRoots(roots);
}

void PreviewFileSystem::ExpectWalk(const std::string& folder, const WalkPlan& plan) {
  Found found;
  if (Resolve(folder, false, found) == 0 && found.real == folder) real_.ExpectWalk(folder, plan);
}

ErrorCode PreviewFileSystem::OpenFolder(const std::string& folder,
                                        std::unique_ptr<FolderReader>& reader) {
  Found found;
  if (const ErrorCode code = Resolve(folder, false, found); code != 0) return code;
  if (!found.info.IsFolder()) return kErrPathNotFound;
  std::unique_ptr<FolderReader> real;
  if (!found.real.empty()) {
    if (const ErrorCode code =
            real_.OpenFolder(found.real == folder ? folder : Join(found.real, ""), real);
        code != 0)
      return code;
  }
  reader = std::make_unique<Reader>(*this, found.node, std::move(real));
  return 0;
}

ErrorCode PreviewFileSystem::Lookup(const std::string& path, ItemInfo& info) {
  Found found;
  if (const ErrorCode code = Resolve(path, false, found); code != 0) return code;
  info = found.info;
  return 0;
}

ErrorCode PreviewFileSystem::CreateFolder(const std::string& path) {
  Node* node = nullptr;
  if (const ErrorCode code = CreateItem(path, ItemKind::Folder, 0755, 0, node); code != 0)
    return code;
  node->ignore_case = IgnoresCase(*node->parent) ? 1 : 0;
  return 0;
}

ErrorCode PreviewFileSystem::RemoveFolder(const std::string& path) {
  Node* node = nullptr;
  if (const ErrorCode code = NodeOf(path, node); code != 0) return code;
  if (!node->info.IsFolder()) return kErrPathNotFound;
  if (node->parent == nullptr) return kErrBusy;
  bool empty = true;
  if (const ErrorCode code = ListNode(*node, empty); code != 0) return code;
  // What no listing shows (a FIFO, a socket, a device) stays there.
  if (!empty || HoldsUnlistedItems(path)) return kErrNotEmpty;
  Remove(*node);
  Touch(*node->parent);
  return 0;
}

ErrorCode PreviewFileSystem::DeleteFile(const std::string& path) {
  Node* node = nullptr;
  if (const ErrorCode code = NodeOf(path, node); code != 0) return code;
  if (node->info.IsFolder()) return kErrIsAFolder;
  if (node->parent == nullptr) return kErrBusy;
  Remove(*node);
  Touch(*node->parent);
  return 0;
}

ErrorCode PreviewFileSystem::Rename(const std::string& from, const std::string& to,
                                    RenameMode mode) {
  Node* source = nullptr;
  if (const ErrorCode code = NodeOf(from, source); code != 0) return code;
  if (source->parent == nullptr) return kErrBusy;
  Node* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ParentOf(to, folder, name); code != 0) return code;
  for (const Node* above = folder; above != nullptr; above = above->parent) {
    if (above == source) return kErrInvalidArgument;  // into itself
  }
  if (source->info.device != folder->info.device) return kErrCrossDevice;
  Found existing;
  if (Resolve(to, false, existing) == 0) {
    const bool same = existing.node == source;
    if (!same) {
      if (mode == RenameMode::NoReplace) return kErrAlreadyExists;
      if (existing.info.IsFolder() || source->info.IsFolder()) return kErrIsAFolder;
    }
    if (same && source->info.name == name && source->parent == folder) return 0;
    if (!same) {
      // The item replaced goes (found perhaps under another letter case).
      Node* replaced = nullptr;
      if (const ErrorCode code = NodeOf(to, replaced); code != 0) return code;
      Remove(*replaced);
    }
  }
  // What moves: the item with everything it holds.
  const std::string real_from = source->made ? std::string() : RealPath(*source);
  ItemInfo info = source->info;
  info.name = name;
  info.short_name.clear();
  info.change_time = Now();
  std::unique_ptr<Node::Children> children = std::move(source->children);
  std::unique_ptr<std::string> link_text = std::move(source->link_text);
  std::unique_ptr<Security> security = std::move(source->security);
  const bool made = source->made;
  const int8_t ignore_case = source->ignore_case;
  Remove(*source);
  Node* target = ExactChild(*folder, name);
  if (target == nullptr) {
    target = MakeChild(*folder, info, false);
  } else {
    target->info = info;
    target->appended = next_append_++;
  }
  target->made = made;
  target->moved_from = made ? nullptr : std::make_unique<std::string>(real_from);
  target->children = std::move(children);
  if (target->children) {
    for (const auto& child : target->children->order) child->parent = target;
  }
  target->link_text = std::move(link_text);
  target->security = std::move(security);
  target->ignore_case = ignore_case;
  Change(*target);
  Touch(*source->parent);
  Touch(*folder);
  return 0;
}

ErrorCode PreviewFileSystem::CreateItem(const std::string& path, ItemKind kind, uint32_t mode,
                                        uint64_t size, Node*& node) {
  Node* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ParentOf(path, folder, name); code != 0) return code;
  Found existing;
  if (Resolve(path, false, existing) == 0) return kErrAlreadyExists;
  ItemInfo info;
  info.name = name;
  info.kind = kind;
  info.mode = mode;
  info.size = size;
  info.access_time = info.modify_time = info.change_time = Now();
  info.uid = CurrentUserId();
  info.gid = CurrentGroupId();
  info.device = folder->info.device;
  info.inode = next_inode_++;
  node = ExactChild(*folder, name);
  if (node == nullptr) {
    node = MakeChild(*folder, info, false);
  } else {
    node->info = info;
    node->made = true;
    node->moved_from.reset();
    node->appended = next_append_++;
  }
  Change(*node);
  Touch(*folder);
  return 0;
}

ErrorCode PreviewFileSystem::CreateNewFile(const std::string& path) {
  Node* node = nullptr;
  return CreateItem(path, ItemKind::File, 0644, 0, node);
}

ErrorCode PreviewFileSystem::WriteNewFile(const std::string& path, std::string_view contents) {
  Node* node = nullptr;
  return CreateItem(path, ItemKind::File, 0644, contents.size(), node);
}

ErrorCode PreviewFileSystem::SetMode(const std::string& path, uint32_t mode) {
  Node* node = nullptr;
  if (const ErrorCode code = NodeOf(path, node); code != 0) return code;
  if (node->info.kind == ItemKind::Link) return 0;
  const uint32_t kept = Abilities(path).kept_mode_bits;
  node->info.mode = ModeOnVolume(mode, node->info.mode, kept);
  node->info.change_time = Now();
  Change(*node);
  return 0;
}

ErrorCode PreviewFileSystem::SetTimes(const std::string& path, FileTime access, FileTime modify) {
  Node* node = nullptr;
  if (const ErrorCode code = NodeOf(path, node); code != 0) return code;
  node->info.access_time = access;
  node->info.modify_time = modify;
  node->info.change_time = Now();
  Change(*node);
  return 0;
}

ErrorCode PreviewFileSystem::CopyFile(const std::string& from, const std::string& to,
                                      const CopyOptions& options) {
  Found source;
  if (const ErrorCode code = Resolve(from, false, source); code != 0) return code;
  if (source.info.IsFolder()) return kErrIsAFolder;
  std::string text;
  if (source.info.kind == ItemKind::Link) {
    if (const ErrorCode code = ReadLink(from, text); code != 0) return code;
  }
  if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
  Node* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ParentOf(to, folder, name); code != 0) return code;
  Found existing;
  const bool exists = Resolve(to, false, existing) == 0;
  if (exists && existing.info.IsFolder()) return kErrIsAFolder;
  if (exists && options.no_replace) return kErrAlreadyExists;
  if (options.old_kept != nullptr) *options.old_kept = false;
  if (exists && options.keep_old_as != nullptr) {
    // The old item gets its further name first, as a copy of what it is.
    if (const ErrorCode code = CopyFile(to, *options.keep_old_as, CopyOptions{}); code != 0)
      return code;
    if (options.old_kept != nullptr) *options.old_kept = true;
  }
  const VolumeAbilities volume = Abilities(to);

  ItemInfo info = source.info;
  info.name = exists ? existing.info.name : name;
  info.short_name.clear();
  info.device = folder->info.device;
  info.inode = next_inode_++;
  info.change_time = Now();
  const uint32_t wanted = options.security != nullptr ? options.security_mode : source.info.mode;
  info.mode = ModeOnVolume(wanted, exists ? existing.info.mode : 0755, volume.kept_mode_bits);
  if (!options.carry_owner) {
    info.uid = CurrentUserId();
    info.gid = CurrentGroupId();
  }
  if (info.kind == ItemKind::Link && !volume.sets_link_times) {
    info.access_time = info.modify_time = info.change_time;
  }
  std::unique_ptr<Security> security;
  if (options.security != nullptr && KeepsSecurity(to)) {
    security = std::make_unique<Security>(*options.security);
    info.uid = security->uid;
    info.gid = security->gid;
    if (options.security_given != nullptr) *options.security_given = true;
  }
  if (options.progress != nullptr) options.progress->SetProgress(info.size);

  // The copy takes the name of the item it replaces: a new item in its place.
  Node* node = nullptr;
  if (exists && existing.node != nullptr && existing.node->parent == folder) {
    node = existing.node;
  } else {
    node = ExactChild(*folder, info.name);
  }
  if (node == nullptr) {
    node = MakeChild(*folder, info, false);
    if (exists) node->appended = 0;  // in the place of a real item
  } else {
    node->info = info;
    if (!exists) node->appended = next_append_++;
  }
  node->made = true;
  node->moved_from.reset();
  node->children.reset();
  node->link_text = info.kind == ItemKind::Link ? std::make_unique<std::string>(text) : nullptr;
  node->security = std::move(security);
  Change(*node);
  Touch(*folder);
  return 0;
}

ErrorCode PreviewFileSystem::CopyFolderAttributes(const std::string& from, const std::string& to,
                                                  const CopyOptions& /*options*/) {
  for (const std::string* path : {&from, &to}) {
    Found found;
    if (const ErrorCode code = Resolve(*path, false, found); code != 0) return code;
    if (found.info.kind == ItemKind::Link) return kErrLinkInPath;
    if (!found.info.IsFolder()) return kErrPathNotFound;
  }
  return 0;
}

VolumeAbilities PreviewFileSystem::Abilities(const std::string& path) {
  VolumeAbilities abilities;
  KnownAbilities(path, abilities);
  return abilities;
}

// A volume whose abilities only a trial would tell is taken to keep all
// modes: the trial would write a file into the folder.
bool PreviewFileSystem::KnownAbilities(const std::string& path, VolumeAbilities& abilities) {
  std::string folder = path;
  while (folder.size() > std::max<size_t>(RootLength(folder), 1) && folder.back() == '/')
    folder.pop_back();
  const std::string parent = ParentFolder(folder);
  folder = parent.empty() ? std::string(".") : parent;
  if (!real_.KnownAbilities(Join(NearestRealFolder(folder), "."), abilities)) {
    abilities = VolumeAbilities{};
    abilities.sets_link_times = false;
    abilities.rename_keeps_times = false;
  }
  return true;
}

bool PreviewFileSystem::NamesIgnoreCase(const std::string& folder) {
  Found found;
  if (Resolve(folder, false, found) == 0 && found.node != nullptr) return IgnoresCase(*found.node);
  return real_.NamesIgnoreCase(NearestRealFolder(folder));
}

// Such items are never made, moved or removed here.
bool PreviewFileSystem::HoldsUnlistedItems(const std::string& folder) {
  Found found;
  return Resolve(folder, false, found) == 0 && found.info.IsFolder() && !found.real.empty() &&
         real_.HoldsUnlistedItems(found.real);
}

ErrorCode PreviewFileSystem::ReadLink(const std::string& path, std::string& text) {
  Found found;
  if (const ErrorCode code = Resolve(path, false, found); code != 0) return code;
  if (found.info.kind != ItemKind::Link) return kErrInvalidArgument;
  if (found.node != nullptr && found.node->link_text) {
    text = *found.node->link_text;
    return 0;
  }
  if (found.real.empty()) return kErrInvalidArgument;
  return real_.ReadLink(found.real, text);
}

ErrorCode PreviewFileSystem::ReadFileText(const std::string& path, size_t limit,
                                          std::string& text) {
  text.clear();
  Found found;
  if (const ErrorCode code = Resolve(path, false, found); code != 0) return code;
  if (found.info.IsFolder()) return kErrIsAFolder;
  if (found.info.kind != ItemKind::File) return kErrNotSupported;
  if (found.node == nullptr || (!found.node->made && found.node->state == Node::State::Real))
    return real_.ReadFileText(found.real, limit, text);
  return 0;
}

namespace {

class PreviewLock final : public FileLock {};

}  // namespace

ErrorCode PreviewFileSystem::CreateLockedFile(const std::string& path, std::string_view contents,
                                              std::unique_ptr<FileLock>& lock) {
  lock.reset();
  if (const ErrorCode code = WriteNewFile(path, contents); code != 0) return code;
  lock = std::make_unique<PreviewLock>();
  return 0;
}

ErrorCode PreviewFileSystem::LockFile(const std::string& path, size_t limit, std::string& contents,
                                      std::unique_ptr<FileLock>& lock) {
  lock.reset();
  contents.clear();
  Found found;
  if (const ErrorCode code = Resolve(path, false, found); code != 0) return code;
  if (found.info.kind != ItemKind::File) return kErrNotSupported;
  if (found.node == nullptr || (!found.node->made && found.node->state == Node::State::Real))
    return real_.LockFile(found.real, limit, contents, lock);
  lock = std::make_unique<PreviewLock>();
  return 0;
}

ErrorCode PreviewFileSystem::ReadSecurity(const std::string& path, Security& security) {
  Found found;
  if (const ErrorCode code = Resolve(path, false, found); code != 0) return code;
  if (found.node != nullptr && found.node->security) {
    security = *found.node->security;
    return 0;
  }
  if (!found.real.empty() && (found.node == nullptr || !found.node->made)) {
    if (const ErrorCode code = real_.ReadSecurity(found.real, security); code != 0) return code;
  } else {
    security = Security{};
  }
  security.uid = found.info.uid;
  security.gid = found.info.gid;
  return 0;
}

ErrorCode PreviewFileSystem::WriteSecurity(const std::string& path, const Security& security) {
  Node* node = nullptr;
  if (const ErrorCode code = NodeOf(path, node); code != 0) return code;
  node->security = std::make_unique<Security>(security);
  node->info.uid = security.uid;
  node->info.gid = security.gid;
  node->info.change_time = Now();
  Change(*node);
  return 0;
}

bool PreviewFileSystem::KeepsSecurity(const std::string& path) {
  return real_.KeepsSecurity(NearestRealFolder(path));
}

ErrorCode PreviewFileSystem::LocateFolder(const std::string& folder, FolderPlace& place) {
  Found found;
  if (Resolve(folder, false, found) == 0 && !found.real.empty())
    return real_.LocateFolder(found.real, place);
  // A folder made here lies where the real folder nearest to it lies, and
  // as far below it as its path says.
  const std::string nearest = NearestRealFolder(folder);
  if (const ErrorCode code = real_.LocateFolder(nearest, place); code != 0) return code;
  std::string rest = folder.size() > nearest.size() ? folder.substr(nearest.size()) : "";
  for (std::string_view part : Components(rest)) {
    if (IsDots(part)) continue;
    place.path = Join(place.path == "/" ? "/" : place.path, part);
  }
  return 0;
}

ErrorCode PreviewFileSystem::SyncFileSystem(const std::string& /*path*/) {
  return 0;
}

std::vector<WrittenFileSystem> PreviewFileSystem::WrittenFileSystems() const {
  return {};
}

}  // namespace twinmere
