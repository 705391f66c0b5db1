#include "support/memory_file_system.h"

#include <algorithm>

namespace twinmere {

struct MemoryFileSystem::Node {
  ItemKind kind = ItemKind::File;
  std::string name;
  std::string short_name;
  uint32_t mode = 0644;
  FileTime access_time;
  FileTime modify_time;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint64_t inode = 0;
  const Volume* volume = nullptr;  // the volume the item lies on
  std::string data;                // contents of a file, text of a link
  Security acls;                   // only the ACL parts are used; owner and group live above
  std::vector<std::unique_ptr<Node>> children;
};

namespace {

constexpr uint64_t kDevice = 0x4d454d;  // "MEM"
constexpr uint64_t kChunkBytes = uint64_t{1} << 20;

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperText(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = Upper(c);
  return out;
}

// Characters allowed in an 8.3 name besides letters and digits.
bool ShortChar(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x80) return false;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("$%'-_@~`!(){}^#&").find(c) != std::string_view::npos;
}

// A name that is already a valid 8.3 name needs no alias.
bool IsShortName(const std::string& name) {
  const auto dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  if (dot != std::string::npos && ext.empty()) return false;
  for (char c : base + ext)
    if (!ShortChar(c)) return false;
  return true;
}

// The part of `text` that may appear in an alias, upper case.
std::string ShortPart(const std::string& text, size_t limit) {
  std::string out;
  for (char c : text) {
    if (out.size() == limit) break;
    if (c == ' ' || c == '.') continue;
    out.push_back(ShortChar(c) ? Upper(c) : '_');
  }
  return out;
}

bool Contains(const MemoryFileSystem::Node& folder, const MemoryFileSystem::Node* target);

}  // namespace

class MemoryFolderReader : public FolderReader {
 public:
  explicit MemoryFolderReader(MemoryFileSystem& fs, std::string folder, std::vector<ItemInfo> items)
      : fs_(fs), folder_(std::move(folder)), items_(std::move(items)) {}
  ErrorCode Next(ItemInfo& item) override {
    if (const ErrorCode code = fs_.Injected(MemoryOp::ReadFolder, folder_); code != 0) return code;
    if (next_ >= items_.size()) return kErrNoMoreEntries;
    item = items_[next_++];
    return 0;
  }

 private:
  MemoryFileSystem& fs_;
  std::string folder_;
  std::vector<ItemInfo> items_;
  size_t next_ = 0;
};

MemoryFileSystem::MemoryFileSystem(MemoryFileSystemOptions options)
    : root_(std::make_unique<Node>()) {
  volumes_.push_back(Volume{options, kDevice});
  root_->volume = &volumes_.front();
  root_->kind = ItemKind::Folder;
  root_->mode = 0755;
  root_->inode = 1;
}

MemoryFileSystem::~MemoryFileSystem() = default;

void MemoryFileSystem::SetConfinedRoots(const std::vector<std::string>&) {
  // Links are never followed anywhere here.
  written_.clear();
}

std::vector<WrittenFileSystem> MemoryFileSystem::WrittenFileSystems() const {
  return written_;
}

void MemoryFileSystem::NoteWritten(const Volume& volume, const std::string& folder) {
  for (const WrittenFileSystem& written : written_)
    if (written.device == volume.device) return;
  written_.push_back({volume.device, folder});
}

// The folder of an item created, removed or renamed at `path`.
void MemoryFileSystem::NoteEntryWritten(const std::string& path) {
  const size_t end = path.find_last_not_of('/');
  const size_t slash = end == std::string::npos ? 0 : path.rfind('/', end);
  const std::string folder = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
  NoteWritten(VolumeOf(folder), folder);
}

ErrorCode MemoryFileSystem::Injected(MemoryOp op, const std::string& path) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->op != op || (!it->path.empty() && it->path != path)) continue;
    if (it->after > 0) {
      --it->after;
      return 0;
    }
    const ErrorCode code = it->code;
    if (--it->count <= 0) faults_.erase(it);
    return code;
  }
  return 0;
}

void MemoryFileSystem::FailNext(MemoryOp op, ErrorCode code, const std::string& path, int count,
                                int after) {
  faults_.push_back(Fault{op, code, path, count, after});
}

void MemoryFileSystem::SetByteBudget(uint64_t bytes) {
  budget_ = bytes_copied_ + bytes;
}

bool MemoryFileSystem::NamesEqual(const Volume& volume, const std::string& a,
                                  const std::string& b) {
  return volume.options.case_insensitive ? UpperText(a) == UpperText(b) : a == b;
}

MemoryFileSystem::Node* MemoryFileSystem::FindChild(const Node& folder,
                                                    const std::string& name) const {
  for (const auto& child : folder.children)
    if (child->name == name) return child.get();
  for (const auto& child : folder.children) {
    if (NamesEqual(*folder.volume, child->name, name)) return child.get();
    // Short names compare ignoring case, as Windows does.
    if (!child->short_name.empty() && UpperText(child->short_name) == UpperText(name))
      return child.get();
  }
  return nullptr;
}

ErrorCode MemoryFileSystem::ResolveParent(const std::string& path, Node*& parent,
                                          std::string& name) const {
  if (path.empty() || path[0] != '/') return kErrNotFound;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  Node* current = root_.get();
  name.clear();
  if (parts.empty()) {
    parent = nullptr;
    return 0;
  }
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    Node* child = FindChild(*current, parts[i]);
    if (child == nullptr) return kErrNotFound;
    if (child->kind == ItemKind::Link) return kErrLinkInPath;
    if (child->kind != ItemKind::Folder) return kErrPathNotFound;
    current = child;
  }
  parent = current;
  name = parts.back();
  return 0;
}

ErrorCode MemoryFileSystem::Resolve(const std::string& path, Node*& node, Node** parent) const {
  Node* folder = nullptr;
  std::string name;
  if (const ErrorCode code = ResolveParent(path, folder, name); code != 0) return code;
  if (parent) *parent = folder;
  if (folder == nullptr) {
    node = root_.get();
    return 0;
  }
  node = FindChild(*folder, name);
  return node ? 0 : kErrNotFound;
}

void MemoryFileSystem::AssignShortName(Node& folder, Node& node) const {
  node.short_name.clear();
  if (!folder.volume->options.short_names || IsShortName(node.name)) return;
  const auto dot = node.name.rfind('.');
  const bool has_ext = dot != std::string::npos && dot > 0;
  const std::string base = ShortPart(has_ext ? node.name.substr(0, dot) : node.name, 8);
  const std::string ext = has_ext ? ShortPart(node.name.substr(dot + 1), 3) : std::string();
  auto taken = [&](const std::string& candidate) {
    for (const auto& child : folder.children) {
      if (child.get() == &node) continue;
      if (UpperText(child->name) == candidate || UpperText(child->short_name) == candidate)
        return true;
    }
    return false;
  };
  for (int n = 1; n < 1000000; ++n) {
    std::string tail(1, '~');
    tail += std::to_string(n);
    std::string candidate(base, 0, 8 - tail.size());
    candidate += tail;
    if (!ext.empty()) {
      candidate.push_back('.');
      candidate += ext;
    }
    if (!taken(candidate)) {
      node.short_name = candidate;
      return;
    }
  }
}

void MemoryFileSystem::FillInfo(const Node& node, ItemInfo& info) const {
  info.name = node.name;
  info.short_name = node.short_name;
  info.kind = node.kind;
  info.mode = node.kind == ItemKind::Link ? 0777 : node.mode;
  info.size = node.kind == ItemKind::Folder ? 0 : node.data.size();
  info.access_time = node.access_time;
  info.modify_time = node.modify_time;
  info.change_time = node.modify_time;  // kept by none of the items here
  info.uid = node.uid;
  info.gid = node.gid;
  info.device = node.volume->device;
  info.inode = node.inode;
}

ErrorCode MemoryFileSystem::OpenFolder(const std::string& folder,
                                       std::unique_ptr<FolderReader>& reader) {
  opened_.push_back(folder);
  if (const ErrorCode code = Injected(MemoryOp::OpenFolder, folder); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(folder, node); code != 0) return code;
  if (node->kind == ItemKind::Link) return kErrLinkInPath;
  if (node->kind != ItemKind::Folder) return kErrNotAFolder;
  std::vector<ItemInfo> items;
  for (const auto& child : node->children) {
    items.emplace_back();
    FillInfo(*child, items.back());
  }
  reader = std::make_unique<MemoryFolderReader>(*this, folder, std::move(items));
  return 0;
}

ErrorCode MemoryFileSystem::Lookup(const std::string& path, ItemInfo& info) {
  ++lookup_count_;
  if (const ErrorCode code = Injected(MemoryOp::Lookup, path); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  FillInfo(*node, info);
  return 0;
}

ErrorCode MemoryFileSystem::AddNode(const std::string& path, std::unique_ptr<Node> node,
                                    bool make_parents) {
  Node* parent = nullptr;
  std::string name;
  ErrorCode code = ResolveParent(path, parent, name);
  if (code == kErrNotFound && make_parents) {
    const auto slash = path.find_last_of('/', path.find_last_not_of('/'));
    if (slash != std::string::npos && slash > 0) {
      code = AddFolder(path.substr(0, slash));
      if (code == kErrAlreadyExists) code = 0;
      if (code == 0) code = ResolveParent(path, parent, name);
    }
  }
  if (code != 0) return code;
  if (parent == nullptr) return kErrAlreadyExists;  // the root
  if (FindChild(*parent, name) != nullptr) return kErrAlreadyExists;
  node->name = name;
  node->inode = next_inode_++;
  node->volume = parent->volume;
  AssignShortName(*parent, *node);
  parent->children.push_back(std::move(node));
  return 0;
}

ErrorCode MemoryFileSystem::AddFolder(const std::string& path, uint32_t mode, FileTime time) {
  auto node = std::make_unique<Node>();
  node->kind = ItemKind::Folder;
  node->mode = mode & 07777;
  node->access_time = node->modify_time = time;
  return AddNode(path, std::move(node), true);
}

ErrorCode MemoryFileSystem::AddFile(const std::string& path, const std::string& contents,
                                    FileTime time, uint32_t mode) {
  auto node = std::make_unique<Node>();
  node->kind = ItemKind::File;
  node->mode = mode & 07777;
  node->data = contents;
  node->access_time = node->modify_time = time;
  return AddNode(path, std::move(node), true);
}

ErrorCode MemoryFileSystem::AddLink(const std::string& path, const std::string& text,
                                    FileTime time) {
  auto node = std::make_unique<Node>();
  node->kind = ItemKind::Link;
  node->mode = 0777;
  node->data = text;
  node->access_time = node->modify_time = time;
  return AddNode(path, std::move(node), true);
}

std::optional<std::string> MemoryFileSystem::ReadContents(const std::string& path) const {
  Node* node = nullptr;
  if (Resolve(path, node) != 0 || node->kind == ItemKind::Folder) return std::nullopt;
  return node->data;
}

bool MemoryFileSystem::Exists(const std::string& path) const {
  Node* node = nullptr;
  return Resolve(path, node) == 0;
}

std::vector<std::string> MemoryFileSystem::Names(const std::string& folder) const {
  std::vector<std::string> names;
  Node* node = nullptr;
  if (Resolve(folder, node) != 0 || node->kind != ItemKind::Folder) return names;
  for (const auto& child : node->children) names.push_back(child->name);
  return names;
}

ErrorCode MemoryFileSystem::CreateFolder(const std::string& path) {
  if (const ErrorCode code = Injected(MemoryOp::CreateFolder, path); code != 0) return code;
  auto node = std::make_unique<Node>();
  node->kind = ItemKind::Folder;
  node->mode = 0755;
  const ErrorCode code = AddNode(path, std::move(node), false);
  if (code == 0) NoteEntryWritten(path);
  return code;
}

ErrorCode MemoryFileSystem::CreateNewFile(const std::string& path) {
  if (const ErrorCode code = Injected(MemoryOp::CreateNewFile, path); code != 0) return code;
  auto node = std::make_unique<Node>();
  node->kind = ItemKind::File;
  node->mode = 0644;
  const ErrorCode code = AddNode(path, std::move(node), false);
  if (code == 0) NoteEntryWritten(path);
  return code;
}

ErrorCode MemoryFileSystem::WriteNewFile(const std::string& path, std::string_view contents) {
  if (const ErrorCode code = Injected(MemoryOp::WriteNewFile, path); code != 0) return code;
  auto node = std::make_unique<Node>();
  node->kind = ItemKind::File;
  node->mode = 0644;
  node->data = std::string(contents);
  const ErrorCode code = AddNode(path, std::move(node), false);
  if (code == 0) NoteEntryWritten(path);
  return code;
}

ErrorCode MemoryFileSystem::RemoveFolder(const std::string& path) {
  if (const ErrorCode code = Injected(MemoryOp::RemoveFolder, path); code != 0) return code;
  Node* node = nullptr;
  Node* parent = nullptr;
  if (const ErrorCode code = Resolve(path, node, &parent); code != 0) return code;
  if (parent == nullptr) return kErrBusy;
  if (node->kind != ItemKind::Folder) return kErrNotAFolder;
  if (!node->children.empty()) return kErrNotEmpty;
  std::erase_if(parent->children, [node](const auto& child) { return child.get() == node; });
  NoteEntryWritten(path);
  return 0;
}

ErrorCode MemoryFileSystem::DeleteFile(const std::string& path) {
  if (const ErrorCode code = Injected(MemoryOp::DeleteFile, path); code != 0) return code;
  Node* node = nullptr;
  Node* parent = nullptr;
  if (const ErrorCode code = Resolve(path, node, &parent); code != 0) return code;
  if (parent == nullptr || node->kind == ItemKind::Folder) return kErrIsAFolder;
  std::erase_if(parent->children, [node](const auto& child) { return child.get() == node; });
  NoteEntryWritten(path);
  return 0;
}

ErrorCode MemoryFileSystem::Rename(const std::string& from, const std::string& to,
                                   RenameMode mode) {
  if (const ErrorCode code = Injected(MemoryOp::Rename, from); code != 0) return code;
  Node* node = nullptr;
  Node* from_parent = nullptr;
  if (const ErrorCode code = Resolve(from, node, &from_parent); code != 0) return code;
  if (from_parent == nullptr) return kErrBusy;
  Node* to_parent = nullptr;
  std::string to_name;
  if (const ErrorCode code = ResolveParent(to, to_parent, to_name); code != 0) return code;
  if (to_parent == nullptr) return kErrBusy;
  // A folder cannot move below itself.
  if (node->kind == ItemKind::Folder && (to_parent == node || Contains(*node, to_parent)))
    return kErrInvalidArgument;
  if (to_parent->volume != node->volume) return kErrCrossDevice;
  Node* existing = FindChild(*to_parent, to_name);
  if (existing != nullptr && existing != node) {
    if (mode == RenameMode::NoReplace) return kErrAlreadyExists;
    if (existing->kind == ItemKind::Folder &&
        (node->kind != ItemKind::Folder || !existing->children.empty()))
      return existing->kind == ItemKind::Folder && node->kind == ItemKind::Folder ? kErrNotEmpty
                                                                                  : kErrIsAFolder;
    if (existing->kind != ItemKind::Folder && node->kind == ItemKind::Folder) return kErrNotAFolder;
    std::erase_if(to_parent->children,
                  [existing](const auto& child) { return child.get() == existing; });
  }
  std::unique_ptr<Node> moving;
  for (auto& child : from_parent->children)
    if (child.get() == node) moving = std::move(child);
  std::erase_if(from_parent->children, [](const auto& child) { return child == nullptr; });
  moving->name = to_name;
  AssignShortName(*to_parent, *moving);
  to_parent->children.push_back(std::move(moving));
  NoteEntryWritten(to);
  return 0;
}

namespace {
bool Contains(const MemoryFileSystem::Node& folder, const MemoryFileSystem::Node* target) {
  for (const auto& child : folder.children)
    if (child.get() == target || Contains(*child, target)) return true;
  return false;
}
}  // namespace

ErrorCode MemoryFileSystem::SetMode(const std::string& path, uint32_t mode) {
  if (const ErrorCode code = Injected(MemoryOp::SetMode, path); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  if (node->kind != ItemKind::Link)
    node->mode = ModeOnVolume(mode, node->mode, node->volume->options.kept_mode_bits);
  NoteWritten(*node->volume, path);
  return 0;
}

ErrorCode MemoryFileSystem::SetTimes(const std::string& path, FileTime access, FileTime modify) {
  if (const ErrorCode code = Injected(MemoryOp::SetTimes, path); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  node->access_time = access;
  node->modify_time = modify;
  NoteWritten(*node->volume, path);
  return 0;
}

ErrorCode MemoryFileSystem::CopyFile(const std::string& from, const std::string& to,
                                     const CopyOptions& options) {
  if (const ErrorCode code = Injected(MemoryOp::CopyFile, from); code != 0) return code;
  Node* source = nullptr;
  if (const ErrorCode code = Resolve(from, source); code != 0) return code;
  if (source->kind == ItemKind::Folder) return kErrIsAFolder;
  Node* to_parent = nullptr;
  std::string to_name;
  if (const ErrorCode code = ResolveParent(to, to_parent, to_name); code != 0) return code;
  if (to_parent == nullptr) return kErrIsAFolder;
  Node* existing = FindChild(*to_parent, to_name);
  if (existing != nullptr && existing->kind == ItemKind::Folder) return kErrIsAFolder;
  if (existing != nullptr && options.no_replace) return kErrAlreadyExists;

  const uint64_t size = source->data.size();
  uint64_t done = 0;
  do {
    if (options.stop != nullptr && options.stop->load() != 0) return kErrCancelled;
    const uint64_t chunk = std::min(kChunkBytes, size - done);
    if (budget_ && bytes_copied_ + done + chunk > *budget_) return kErrNoSpace;
    done += chunk;
    if (options.progress != nullptr && (chunk > 0 || source->kind == ItemKind::Link))
      options.progress->SetProgress(done);
  } while (done < size);
  bytes_copied_ += size;

  if (options.old_kept != nullptr) *options.old_kept = false;
  if (existing != nullptr && options.keep_old_as != nullptr) {
    // A copy of the old item, as a hard link or a fail-safe copy would give.
    Node* keep_parent = nullptr;
    std::string keep_name;
    if (const ErrorCode code = ResolveParent(*options.keep_old_as, keep_parent, keep_name);
        code != 0)
      return code;
    if (keep_parent == nullptr || keep_parent->kind != ItemKind::Folder) return kErrNotAFolder;
    if (FindChild(*keep_parent, keep_name) != nullptr) return kErrAlreadyExists;
    auto kept = std::make_unique<Node>();
    kept->kind = existing->kind;
    kept->name = keep_name;
    kept->mode = existing->mode;
    kept->access_time = existing->access_time;
    kept->modify_time = existing->modify_time;
    kept->uid = existing->uid;
    kept->gid = existing->gid;
    kept->inode = next_inode_++;
    kept->volume = keep_parent->volume;
    kept->data = existing->data;
    kept->acls = existing->acls;
    AssignShortName(*keep_parent, *kept);
    keep_parent->children.push_back(std::move(kept));
    NoteEntryWritten(*options.keep_old_as);
    if (options.old_kept != nullptr) *options.old_kept = true;
  }

  const MemoryFileSystemOptions& volume = to_parent->volume->options;
  auto copy = std::make_unique<Node>();
  copy->kind = source->kind;
  copy->mode = ModeOnVolume(source->mode, 0755, volume.kept_mode_bits);
  copy->data = source->data;
  if (source->kind != ItemKind::Link || volume.sets_link_times) {
    copy->access_time = source->access_time;
    copy->modify_time = source->modify_time;
  }
  copy->uid = options.carry_owner ? source->uid : 0;
  copy->gid = options.carry_owner ? source->gid : 0;
  copy->inode = next_inode_++;
  copy->volume = to_parent->volume;
  // The existing item keeps its stored name when it is replaced, as Windows does.
  copy->name = existing != nullptr ? existing->name : to_name;
  if (existing != nullptr) {
    copy->short_name = existing->short_name;
    for (auto& child : to_parent->children)
      if (child.get() == existing) child = std::move(copy);
  } else {
    AssignShortName(*to_parent, *copy);
    to_parent->children.push_back(std::move(copy));
  }
  NoteEntryWritten(to);
  return 0;
}

ErrorCode MemoryFileSystem::CopyFolderAttributes(const std::string& from, const std::string& to,
                                                 const CopyOptions&) {
  for (const std::string* path : {&from, &to}) {
    Node* node = nullptr;
    if (const ErrorCode code = Resolve(*path, node); code != 0) return code;
    if (node->kind != ItemKind::Folder) return kErrNotAFolder;
  }
  return 0;
}

ErrorCode MemoryFileSystem::ReadSecurity(const std::string& path, Security& security) {
  if (const ErrorCode code = Injected(MemoryOp::ReadSecurity, path); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  security = node->acls;
  security.uid = node->uid;
  security.gid = node->gid;
  if (node->kind != ItemKind::Folder) {
    security.has_default_acl = false;
    security.default_acl.clear();
  }
  return 0;
}

ErrorCode MemoryFileSystem::WriteSecurity(const std::string& path, const Security& security) {
  if (const ErrorCode code = Injected(MemoryOp::WriteSecurity, path); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  node->uid = security.uid;
  node->gid = security.gid;
  NoteWritten(*node->volume, path);
  if (node->kind == ItemKind::Link) return 0;
  node->acls = security;
  if (node->kind != ItemKind::Folder) {
    node->acls.has_default_acl = false;
    node->acls.default_acl.clear();
  }
  return 0;
}

const MemoryFileSystem::Volume& MemoryFileSystem::VolumeOf(const std::string& path) const {
  std::string existing = path;
  Node* node = nullptr;
  while (Resolve(existing, node) != 0) {
    const auto slash = existing.find_last_of('/', existing.find_last_not_of('/'));
    if (slash == std::string::npos || slash == 0) {
      node = root_.get();
      break;
    }
    existing.resize(slash);
  }
  return *node->volume;
}

bool MemoryFileSystem::KeepsSecurity(const std::string& path) {
  return VolumeOf(path).options.keeps_security;
}

VolumeAbilities MemoryFileSystem::Abilities(const std::string& path) {
  const MemoryFileSystemOptions& options = VolumeOf(path).options;
  return VolumeAbilities{options.kept_mode_bits, options.sets_link_times, true};
}

bool MemoryFileSystem::KnownAbilities(const std::string& path, VolumeAbilities& abilities) {
  abilities = Abilities(path);
  return true;
}

bool MemoryFileSystem::NamesIgnoreCase(const std::string& folder) {
  return VolumeOf(folder).options.case_insensitive;
}

ErrorCode MemoryFileSystem::ReadLink(const std::string& path, std::string& text) {
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  if (node->kind != ItemKind::Link) return kErrInvalidArgument;
  text = node->data;
  return 0;
}

ErrorCode MemoryFileSystem::ReadFileText(const std::string& path, size_t limit, std::string& text) {
  text.clear();
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  if (node->kind == ItemKind::Folder) return kErrIsAFolder;
  if (node->kind != ItemKind::File) return kErrNotSupported;
  if (node->data.size() > limit) return kErrFileTooLarge;
  text = node->data;
  return 0;
}

namespace {

class MemoryLock final : public FileLock {
 public:
  MemoryLock(std::set<uint64_t>& locked, uint64_t inode) : locked_(locked), inode_(inode) {
    locked_.insert(inode_);
  }
  ~MemoryLock() override { locked_.erase(inode_); }

 private:
  std::set<uint64_t>& locked_;
  uint64_t inode_;
};

}  // namespace

ErrorCode MemoryFileSystem::CreateLockedFile(const std::string& path, std::string_view contents,
                                             std::unique_ptr<FileLock>& lock) {
  lock.reset();
  if (const ErrorCode code = WriteNewFile(path, contents); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  lock = std::make_unique<MemoryLock>(locked_, node->inode);
  return 0;
}

ErrorCode MemoryFileSystem::LockFile(const std::string& path, size_t limit, std::string& contents,
                                     std::unique_ptr<FileLock>& lock) {
  lock.reset();
  contents.clear();
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  if (node->kind != ItemKind::File) return kErrNotSupported;
  if (locked_.contains(node->inode)) return kErrInUse;
  contents = node->data.substr(0, limit);
  lock = std::make_unique<MemoryLock>(locked_, node->inode);
  return 0;
}

ErrorCode MemoryFileSystem::SyncFileSystem(const std::string& path) {
  if (const ErrorCode code = Injected(MemoryOp::SyncFileSystem, path); code != 0) return code;
  Node* node = nullptr;
  if (const ErrorCode code = Resolve(path, node); code != 0) return code;
  if (node->kind != ItemKind::Folder) return kErrNotAFolder;
  synced_.push_back(path);
  return 0;
}

namespace {
void SetVolumeBelow(MemoryFileSystem::Node& node, const MemoryFileSystem::Volume* volume) {
  node.volume = volume;
  for (auto& child : node.children) SetVolumeBelow(*child, volume);
}
}  // namespace

ErrorCode MemoryFileSystem::SetVolume(const std::string& folder,
                                      const MemoryFileSystemOptions& options) {
  Node* node = nullptr;
  if (Resolve(folder, node) != 0) {
    if (const ErrorCode code = AddFolder(folder); code != 0) return code;
    if (const ErrorCode code = Resolve(folder, node); code != 0) return code;
  }
  if (node->kind != ItemKind::Folder) return kErrNotAFolder;
  volumes_.push_back(Volume{options, kDevice + volumes_.size()});
  SetVolumeBelow(*node, &volumes_.back());
  return 0;
}

}  // namespace twinmere
