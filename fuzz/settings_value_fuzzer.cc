// Fuzzes the decoding of values read from the settings store: any type number
// and any datum a hand-edited database may hold must decode without a crash,
// and every decoded value must survive being written and read back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/registry_value.h"

namespace {

const char* FuzzEnvironment(const char* name) {
  if (std::strcmp(name, "HOME") == 0) return "/home/fuzz";
  if (std::strcmp(name, "LONG") == 0) return "0123456789012345678901234567890123456789";
  if (std::strcmp(name, "EMPTY") == 0) return "";
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using twinmere::StoredData;
  if (size < 2) return 0;
  const twinmere::GetEnv env = FuzzEnvironment;
  // Byte 0: the type number (signed, so that odd numbers are tried too);
  // byte 1: the storage class; the rest: the datum.
  const int64_t type = static_cast<int8_t>(data[0]);
  StoredData stored;
  stored.storage = static_cast<StoredData::Storage>(data[1] % 5);
  stored.bytes.assign(reinterpret_cast<const char*>(data + 2), size - 2);
  if (stored.storage == StoredData::Storage::kInteger) {
    std::memcpy(&stored.integer, stored.bytes.data(), std::min<size_t>(8, stored.bytes.size()));
  }

  const twinmere::RegistryValue value = twinmere::DecodeStoredValue(type, stored, env);
  if (const std::string* text = value.Text(); text != nullptr && type == 2) {
    if (text->size() > twinmere::kMaxExpandedLength) std::abort();
  }
  if (!value.IsFailure()) {
    twinmere::EncodedValue encoded;
    if (twinmere::EncodeValue(value, &encoded) != 0) std::abort();
    const twinmere::RegistryValue again =
        twinmere::DecodeStoredValue(static_cast<int64_t>(encoded.type), encoded.data, env);
    if (!(again == value)) std::abort();
  }
  (void)twinmere::ExpandEnvironmentText(stored.bytes, env);
  return 0;
}
