// A set of folders of one tree, kept small: each folder is held as a 64-bit
// hash of its path below the tree's top folder, keyed with a random key drawn
// for each set.
//
// A run uses it for the folders whose every item its exploring phase found
// equal to the counterpart; the phase after it passes over their files.
// Two paths can share a hash: a folder not in the set is taken for one in it
// with a chance of n in 2^64 for a set of n folders, 1 in 18 trillion at a
// million folders; asked about a million such folders, one run is wrong
// once in 18 million runs. Every set draws a new key, so the next run errs
// on another folder, if at all, and names chosen to collide cannot be made.
// Such a mistake leaves a change of that folder's files for the next run,
// which is what happens anyway to a file that changes while a run goes on.
//
// A folder may be added with the names of its subfolders, so that a later
// walk can go into them without listing the folder again: the names are
// kept one after the other in a single string, not as a record per item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace twinmere {

class FolderSet {
 public:
  // An empty set of folders below `top` (a folder path, with or without a
  // trailing "/"), with a new random key.
  explicit FolderSet(std::string_view top);

  // Adds the folder at `path` (below top, or top itself; a trailing "/" is
  // ignored). Paths outside top are not added.
  void Add(std::string_view path);
  // Adds it with the names of its subfolders, in the order a walk goes into
  // them, each followed by a NUL ("" for none).
  void Add(std::string_view path, std::string_view subfolders);
  // Ends the adding. After it, Contains may be called from any number of
  // threads at once.
  void Seal();
  // Whether the folder at `path` (as for Add) was added. False before Seal.
  bool Contains(std::string_view path) const;
  // The subfolders the folder at `path` was added with (as for Add, each
  // name followed by a NUL); false where it was added without them, or not
  // at all. False before Seal.
  bool Subfolders(std::string_view path, std::string_view& names) const;

  size_t Size() const { return hashes_.size(); }
  // The memory the set holds.
  size_t Bytes() const {
    return hashes_.capacity() * sizeof(uint64_t) + starts_.capacity() * sizeof(uint32_t) +
           names_.capacity() + top_.capacity();
  }

 private:
  // The hash of the part of `path` below top; false for a path outside top.
  bool HashOf(std::string_view path, uint64_t& hash) const;

  std::string top_;  // without a trailing "/" ("" for the root folder)
  uint64_t key_[2];
  bool sealed_ = false;
  std::vector<uint64_t> hashes_;  // sorted once sealed
  // Where each folder's names begin in `names_`, beside `hashes_`; empty
  // while no folder came with names. A folder's names end with a second
  // NUL (names are never empty).
  std::vector<uint32_t> starts_;
  std::string names_;
  static constexpr uint32_t kNoNames = UINT32_MAX;
};

// SipHash-2-4 of `bytes` with the 128-bit `key`.
uint64_t SipHash24(const uint64_t key[2], std::string_view bytes);

}  // namespace twinmere
