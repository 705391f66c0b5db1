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
  // Ends the adding. After it, Contains may be called from any number of
  // threads at once.
  void Seal();
  // Whether the folder at `path` (as for Add) was added. False before Seal.
  bool Contains(std::string_view path) const;

  size_t Size() const { return hashes_.size(); }
  // The memory the set holds.
  size_t Bytes() const { return hashes_.capacity() * sizeof(uint64_t) + top_.capacity(); }

 private:
  // The hash of the part of `path` below top; false for a path outside top.
  bool HashOf(std::string_view path, uint64_t& hash) const;

  std::string top_;  // without a trailing "/" ("" for the root folder)
  uint64_t key_[2];
  bool sealed_ = false;
  std::vector<uint64_t> hashes_;  // sorted once sealed
};

// SipHash-2-4 of `bytes` with the 128-bit `key`.
uint64_t SipHash24(const uint64_t key[2], std::string_view bytes);

}  // namespace twinmere
