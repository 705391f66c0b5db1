// A FileSystem that only answers Lookup, from a fixed set of items, for tests
// of path routines. It can behave like a case-insensitive file system and
// knows short aliases. Every other operation fails with kErrNotSupported.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace twinmere::testing {

class FakeLookupFs : public FileSystem {
 public:
  enum class Case { Sensitive, Insensitive };
  explicit FakeLookupFs(Case mode = Case::Sensitive) : mode_(mode) {}

  // Adds an item by its stored path ("/Data/Photos"); missing parents are
  // added as folders. `short_name` is its alias, if any.
  void AddFolder(const std::string& path, const std::string& short_name = "") {
    Add(path, ItemKind::Folder, short_name);
  }
  void AddFile(const std::string& path, const std::string& short_name = "") {
    Add(path, ItemKind::File, short_name);
  }

  int lookups() const { return lookups_; }

  void SetConfinedRoots(const std::vector<std::string>&) override {}
  ErrorCode OpenFolder(const std::string&, std::unique_ptr<FolderReader>&) override {
    return kErrNotSupported;
  }

  ErrorCode Lookup(const std::string& path, ItemInfo& info) override {
    ++lookups_;
    if (path == "/") {
      info = ItemInfo{};
      info.name = "/";
      info.kind = ItemKind::Folder;
      info.mode = 0755;
      return kSuccess;
    }
    if (path.empty() || path.front() != '/') return kErrNotFound;
    std::string resolved;  // stored path of the parent found so far
    const ItemInfo* found = nullptr;
    size_t start = 1;
    while (start <= path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string component = path.substr(start, end - start);
      if (!component.empty()) {
        if (found != nullptr && !found->IsFolder()) return kErrPathNotFound;
        found = Child(resolved, component);
        if (found == nullptr) return kErrNotFound;
        resolved += "/" + found->name;
      }
      start = end + 1;
    }
    if (found == nullptr) return kErrNotFound;
    info = *found;
    return kSuccess;
  }

  ErrorCode CreateFolder(const std::string&) override { return kErrNotSupported; }
  ErrorCode RemoveFolder(const std::string&) override { return kErrNotSupported; }
  ErrorCode DeleteFile(const std::string&) override { return kErrNotSupported; }
  ErrorCode Rename(const std::string&, const std::string&, RenameMode) override {
    return kErrNotSupported;
  }
  ErrorCode CreateNewFile(const std::string&) override { return kErrNotSupported; }
  ErrorCode SetMode(const std::string&, uint32_t) override { return kErrNotSupported; }
  ErrorCode SetTimes(const std::string&, FileTime, FileTime) override { return kErrNotSupported; }
  ErrorCode CopyFile(const std::string&, const std::string&, const CopyOptions&) override {
    return kErrNotSupported;
  }
  ErrorCode ReadSecurity(const std::string&, Security&) override { return kErrNotSupported; }
  ErrorCode WriteSecurity(const std::string&, const Security&) override { return kErrNotSupported; }
  bool KeepsSecurity(const std::string&) override { return false; }

 private:
  static std::string Lower(std::string text) {
    for (char& c : text) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
  }

  bool Same(const std::string& a, const std::string& b) const {
    return mode_ == Case::Insensitive ? Lower(a) == Lower(b) : a == b;
  }

  const ItemInfo* Child(const std::string& parent, const std::string& component) const {
    for (const auto& [stored, item] : items_) {
      if (stored.substr(0, stored.rfind('/')) != parent) continue;
      if (Same(item.name, component)) return &item;
      if (!item.short_name.empty() && Same(item.short_name, component)) return &item;
    }
    return nullptr;
  }

  void Add(const std::string& path, ItemKind kind, const std::string& short_name) {
    const size_t slash = path.rfind('/');
    if (slash > 0 && items_.count(path.substr(0, slash)) == 0) AddFolder(path.substr(0, slash));
    ItemInfo info;
    info.name = path.substr(slash + 1);
    info.short_name = short_name;
    info.kind = kind;
    info.mode = kind == ItemKind::Folder ? 0755 : 0644;
    items_[path] = info;
  }

  Case mode_;
  std::map<std::string, ItemInfo> items_;  // by stored path
  int lookups_ = 0;
};

}  // namespace twinmere::testing
