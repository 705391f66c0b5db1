// Keys that nobody can foresee, for hashes that must not be made to collide.
#pragma once

#include <cstdint>

namespace twinmere {

// 128 random bits from the system's random source without waiting for it;
// where it gives none, from the clock and the address `salt`.
void DrawRandomKey(uint64_t key[2], const void* salt);

}  // namespace twinmere
