#include "platform/folder_set.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "platform/random_key.h"

namespace twinmere {
namespace {

uint64_t Rotate(uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

void SipRound(uint64_t v[4]) {
  v[0] += v[1];
  v[1] = Rotate(v[1], 13) ^ v[0];
  v[0] = Rotate(v[0], 32);
  v[2] += v[3];
  v[3] = Rotate(v[3], 16) ^ v[2];
  v[0] += v[3];
  v[3] = Rotate(v[3], 21) ^ v[0];
  v[2] += v[1];
  v[1] = Rotate(v[1], 17) ^ v[2];
  v[2] = Rotate(v[2], 32);
}

uint64_t Load64(const unsigned char* p) {
  uint64_t x = 0;
  for (int i = 7; i >= 0; --i) x = (x << 8) | p[i];
  return x;
}

}  // namespace

uint64_t SipHash24(const uint64_t key[2], std::string_view bytes) {
  uint64_t v[4] = {key[0] ^ 0x736f6d6570736575ull, key[1] ^ 0x646f72616e646f6dull,
                   key[0] ^ 0x6c7967656e657261ull, key[1] ^ 0x7465646279746573ull};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  const size_t whole = n - n % 8;
  for (size_t i = 0; i < whole; i += 8) {
    const uint64_t m = Load64(p + i);
    v[3] ^= m;
    SipRound(v);
    SipRound(v);
    v[0] ^= m;
  }
  uint64_t last = static_cast<uint64_t>(n) << 56;
  for (size_t i = whole; i < n; ++i) last |= static_cast<uint64_t>(p[i]) << (8 * (i - whole));
  v[3] ^= last;
  SipRound(v);
  SipRound(v);
  v[0] ^= last;
  v[2] ^= 0xff;
  for (int i = 0; i < 4; ++i) SipRound(v);
  return v[0] ^ v[1] ^ v[2] ^ v[3];
}

FolderSet::FolderSet(std::string_view top) : top_(top) {
  while (!top_.empty() && top_.back() == '/') top_.pop_back();
  DrawRandomKey(key_, this);
}

bool FolderSet::HashOf(std::string_view path, uint64_t& hash) const {
  if (path.size() < top_.size() || path.compare(0, top_.size(), top_) != 0) return false;
  std::string_view below = path.substr(top_.size());
  if (!below.empty() && below.front() != '/') return false;  // "/top-other", not "/top/..."
  while (!below.empty() && below.front() == '/') below.remove_prefix(1);
  while (!below.empty() && below.back() == '/') below.remove_suffix(1);
  hash = SipHash24(key_, below);
  return true;
}

void FolderSet::Add(std::string_view path) {
  uint64_t hash = 0;
  if (sealed_ || !HashOf(path, hash)) return;
  hashes_.push_back(hash);
  if (!starts_.empty()) starts_.push_back(kNoNames);
}

void FolderSet::Add(std::string_view path, std::string_view subfolders) {
  uint64_t hash = 0;
  if (sealed_ || !HashOf(path, hash)) return;
  if (starts_.empty()) starts_.assign(hashes_.size(), kNoNames);
  hashes_.push_back(hash);
  // Past what an offset can tell, folders come without their names.
  if (names_.size() + subfolders.size() + 1 >= kNoNames) {
    starts_.push_back(kNoNames);
    return;
  }
  starts_.push_back(static_cast<uint32_t>(names_.size()));
  names_.append(subfolders);
  names_.push_back('\0');
}

void FolderSet::Seal() {
  if (starts_.empty()) {
    std::sort(hashes_.begin(), hashes_.end());
    hashes_.erase(std::unique(hashes_.begin(), hashes_.end()), hashes_.end());
  } else {
    std::vector<std::pair<uint64_t, uint32_t>> entries(hashes_.size());
    for (size_t i = 0; i < hashes_.size(); ++i) entries[i] = {hashes_[i], starts_[i]};
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  entries.end());
    hashes_.resize(entries.size());
    starts_.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) std::tie(hashes_[i], starts_[i]) = entries[i];
    starts_.shrink_to_fit();
    names_.shrink_to_fit();
  }
  hashes_.shrink_to_fit();
  sealed_ = true;
}

bool FolderSet::Contains(std::string_view path) const {
  uint64_t hash = 0;
  return sealed_ && HashOf(path, hash) && std::binary_search(hashes_.begin(), hashes_.end(), hash);
}

bool FolderSet::Subfolders(std::string_view path, std::string_view& names) const {
  uint64_t hash = 0;
  if (!sealed_ || starts_.empty() || !HashOf(path, hash)) return false;
  const auto found = std::lower_bound(hashes_.begin(), hashes_.end(), hash);
  if (found == hashes_.end() || *found != hash) return false;
  const uint32_t start = starts_[static_cast<size_t>(found - hashes_.begin())];
  if (start == kNoNames) return false;
  // The names end where a NUL follows a NUL, or at once for none.
  size_t end = start;
  while (names_[end] != '\0') end = names_.find('\0', end) + 1;
  names = std::string_view(names_).substr(start, end - start);
  return true;
}

}  // namespace twinmere
