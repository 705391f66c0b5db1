#include "platform/folder_set.h"

#include <algorithm>

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
  if (!sealed_ && HashOf(path, hash)) hashes_.push_back(hash);
}

void FolderSet::Seal() {
  std::sort(hashes_.begin(), hashes_.end());
  hashes_.erase(std::unique(hashes_.begin(), hashes_.end()), hashes_.end());
  hashes_.shrink_to_fit();
  sealed_ = true;
}

bool FolderSet::Contains(std::string_view path) const {
  uint64_t hash = 0;
  return sealed_ && HashOf(path, hash) && std::binary_search(hashes_.begin(), hashes_.end(), hash);
}

}  // namespace twinmere
