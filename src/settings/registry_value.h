// The typed values of the settings store and how they are kept in its database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/user_folders.h"

namespace twinmere {

// Failure codes of the reading operations. A read never raises: it returns a
// RegistryFailure carrying one of these, and the caller falls back to a default.
inline constexpr int32_t kFailEnumKeys = 1032;
inline constexpr int32_t kFailKeyValue = 1033;
inline constexpr int32_t kFailEnumValues = 1035;

// The numbers stored in the `type` column, as the registry numbers its types.
enum class RegistryType : int32_t {
  kText = 1,        // REG_SZ: TEXT
  kExpandText = 2,  // REG_EXPAND_SZ: TEXT with $NAME / ${NAME} references
  kBytes = 3,       // REG_BINARY: BLOB
  kInteger = 4,     // REG_DWORD: INTEGER
  kList = 7,        // REG_MULTI_SZ: BLOB of the texts, each followed by a NUL byte
};

// A read that failed; `code` is one of the kFail... constants.
struct RegistryFailure {
  int32_t code = kFailKeyValue;
  bool operator==(const RegistryFailure&) const = default;
};

// A text whose $NAME and ${NAME} references are expanded when it is read.
// Reading gives the expanded result as a plain text.
struct ExpandText {
  std::string text;
  bool operator==(const ExpandText&) const = default;
};

using RegistryList = std::vector<std::string>;
using RegistryBytes = std::vector<uint8_t>;

enum class ValueKind { kFailure, kText, kExpandText, kInteger, kList, kBytes };

// A tagged value: text, expandable text, 32-bit integer, list of texts, bytes,
// or the failure marker of a read. Callers test the kind rather than the code.
// A boolean becomes the integer -1 (true) or 0 (false), as the registry stores
// it. Floating-point and 64-bit numbers have no constructor: they are refused
// at compile time instead of being truncated.
class RegistryValue {
 public:
  using Variant =
      std::variant<RegistryFailure, std::string, ExpandText, int32_t, RegistryList, RegistryBytes>;

  RegistryValue() = default;  // the failure marker 1033
  RegistryValue(RegistryFailure failure) : value_(failure) {}
  RegistryValue(std::string text) : value_(std::move(text)) {}
  RegistryValue(std::string_view text) : value_(std::string(text)) {}
  RegistryValue(const char* text) : value_(std::string(text)) {}
  RegistryValue(ExpandText text) : value_(std::move(text)) {}
  RegistryValue(int32_t number) : value_(number) {}
  RegistryValue(bool flag) : value_(int32_t{flag ? -1 : 0}) {}
  RegistryValue(RegistryList list) : value_(std::move(list)) {}
  RegistryValue(RegistryBytes bytes) : value_(std::move(bytes)) {}

  ValueKind Kind() const { return static_cast<ValueKind>(value_.index()); }
  bool IsFailure() const { return Kind() == ValueKind::kFailure; }
  // The failure code, or 0 for a value that is not a failure.
  int32_t FailureCode() const;

  // The held value of one kind, or nullptr when the value is of another kind.
  const std::string* Text() const { return std::get_if<std::string>(&value_); }
  const ExpandText* Expandable() const { return std::get_if<ExpandText>(&value_); }
  const int32_t* Integer() const { return std::get_if<int32_t>(&value_); }
  const RegistryList* List() const { return std::get_if<RegistryList>(&value_); }
  const RegistryBytes* Bytes() const { return std::get_if<RegistryBytes>(&value_); }

  const Variant& Get() const { return value_; }
  bool operator==(const RegistryValue&) const = default;

 private:
  Variant value_;
};

// The longest expansion an expandable text may have; a longer one reads as an
// empty text.
inline constexpr size_t kMaxExpandedLength = 259;

// Replaces $NAME and ${NAME} (NAME: letters, digits and "_", not starting with
// a digit) by the variable's value from `getenv_fn`. A reference to an unset
// variable, a lone "$" and an unclosed "${" stay as written; nothing else is
// interpreted (no commands, no quoting). The input ends at its first NUL byte.
// Returns the empty text when the result would exceed kMaxExpandedLength bytes.
// Never fails.
std::string ExpandEnvironmentText(std::string_view text, const GetEnv& getenv_fn);

// The `data` column of one stored value, as SQLite gave it.
struct StoredData {
  enum class Storage { kNull, kInteger, kReal, kText, kBlob };
  Storage storage = Storage::kNull;
  int64_t integer = 0;  // for kInteger
  std::string bytes;    // for kText and kBlob (kReal: its text form)
};

// Turns a stored row (type number and data) into a value. Never fails: a
// missing or empty datum (except an empty text, or an empty list), an unknown
// type number, or an integer that does not fit 32 bits gives the marker
// kFailKeyValue. Texts are taken byte for byte; a list BLOB is split at each
// NUL, where a trailing piece without its NUL still counts as an element.
// Integers from INT32_MIN to UINT32_MAX are accepted, the upper half read as
// the 32-bit pattern (4294967295 is -1). Expandable texts are expanded with
// ExpandEnvironmentText.
RegistryValue DecodeStoredValue(int64_t type, const StoredData& data, const GetEnv& getenv_fn);

// The stored form of a value to be written: its type number and its data.
struct EncodedValue {
  RegistryType type = RegistryType::kText;
  StoredData data;
};
// Returns 0, or kErrInvalidArgument (leaving `out` unspecified) for the failure marker,
// which is no storable kind, and for a list element holding a NUL byte, which
// the list's stored form could not give back.
int EncodeValue(const RegistryValue& value, EncodedValue* out);

}  // namespace twinmere
