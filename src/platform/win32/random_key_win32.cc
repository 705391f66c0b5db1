#include <chrono>

#include "platform/random_key.h"
#include "platform/win32/windows_api.h"
// After windows.h, which it needs.
#include <bcrypt.h>

namespace twinmere {

void DrawRandomKey(uint64_t key[2], const void* salt) {
  if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(key), 2 * sizeof(uint64_t),
                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0)
    return;
  const auto now =
      static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  key[0] = now ^ 0x736f6d6570736575ull;
  key[1] = reinterpret_cast<uintptr_t>(salt) ^ 0x646f72616e646f6dull;
}

}  // namespace twinmere
