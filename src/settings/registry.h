// The registry: a typed key-value store kept in SQLite.
//
// Each hive is one database file. The per-user hive lives in
// $XDG_CONFIG_HOME/twinmere/registry.sqlite3; the machine hive
// /etc/twinmere/registry.sqlite3 is only ever read and is usually absent.
// The file format is meant to be read and edited with the sqlite3 tool:
//
//   CREATE TABLE keys(path TEXT PRIMARY KEY COLLATE NOCASE);
//   CREATE TABLE vals(path TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,
//                     type INTEGER NOT NULL, data, PRIMARY KEY(path, name));
//   PRAGMA user_version = 1;
//
// Key paths are written with backslashes (SOFTWARE\Brevald\Twinmere); `type`
// holds the numbers of RegistryType. A key exists when it has a row in `keys`.
// Key paths and value names compare ignoring the letter case of ASCII letters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/user_folders.h"
#include "settings/registry_value.h"

namespace twinmere {

// The root keys, passed as their handle values.
enum class Hive : uint32_t {
  CurrentUser = 0x80000001,   // HKEY_CURRENT_USER: the per-user store
  LocalMachine = 0x80000002,  // HKEY_LOCAL_MACHINE: the machine store, read-only here
};

// The numbers of the errors raised by writing and deleting.
inline constexpr uint32_t kRegistryErrorBase = 0x80040000;
inline constexpr uint32_t kErrWriting = kRegistryErrorBase + 1030;          // 0x80040406
inline constexpr uint32_t kErrDeletingKey = kRegistryErrorBase + 1031;      // 0x80040407
inline constexpr uint32_t kErrDeletingValue = kRegistryErrorBase + 1034;    // 0x8004040A
inline constexpr uint32_t kErrUnsupportedType = kRegistryErrorBase + 1036;  // 0x8004040C

// The longest key name (one level of a path) and value name that can be written.
inline constexpr size_t kMaxRegistryName = 255;

// Raised by the writing operations. what() is the description.
class RegistryError : public std::runtime_error {
 public:
  // `system_code` is the error code behind the failure (0 for an unsupported kind).
  RegistryError(uint32_t number, std::string source, std::string description, int system_code);

  uint32_t Number() const { return number_; }
  // "Twinmere.Registry.KeyValue", "Twinmere.Registry.DeleteKey" or "Twinmere.Registry.DeleteValue".
  const std::string& Source() const { return source_; }
  // For example "Error 13 writing registry." or "Unsupported data type.".
  std::string Description() const { return what(); }
  int SystemCode() const { return system_code_; }

 private:
  uint32_t number_;
  std::string source_;
  int system_code_;
};

// The database file of each hive. An empty path means "no store": reads give
// the marker, writes fail with kErrNotFound.
struct RegistryPaths {
  std::string user;
  std::string machine;
};

// config + "/twinmere/registry.sqlite3" (empty when the config folder is
// unknown) and "/etc/twinmere/registry.sqlite3". Never fails.
RegistryPaths DefaultRegistryPaths(const UserFolders& folders);

// Receives the one-line notices of the store (a damaged file moved aside).
using RegistryNoticeSink = std::function<void(const std::string& line)>;

struct RegistryContext {
  GetEnv getenv_fn;           // for expandable texts; the process environment when empty
  RegistryNoticeSink notice;  // standard error when empty
};

class HiveStore;

// Reads never raise: they return a RegistryFailure marker. Writes and deletes
// are each one transaction and raise RegistryError with the error code behind the
// failure. Several processes may write the same store at once; a writer waits
// for another (up to several seconds) rather than failing.
//
// A per-user file that is not a database, holds tables other than the ones
// above, or has a damaged page is renamed to
// "registry.sqlite3.corrupt-<UTC time>" with one notice, and a fresh store
// takes its place. A missing per-user store is created (with its folder, mode
// 0700) by the first write, never by a read. A store deleted or replaced while
// in use is opened afresh at the next call. A link at a store's path is
// followed when the store is opened; a damaged store reached through a link has
// the link moved aside, and the file it names is left as it is.
//
// A store in WAL mode that the caller may not write (the machine store, or a
// per-user store created by root) is read without locking, as an unchanging
// file. One Registry object serves one thread at a time; each process (and
// each thread) may have its own.
class Registry {
 public:
  explicit Registry(RegistryPaths paths, RegistryContext context = {});
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // The names of the direct subkeys, in the letter case they were created
  // with, sorted ignoring case; an empty list for a key without subkeys. The
  // marker kFailEnumKeys when the key or the store is missing or unreadable.
  // The empty path is the hive's root.
  RegistryValue EnumKeys(Hive hive, std::string_view key_path) const;

  // The names of the key's values, sorted ignoring case, or kFailEnumValues.
  RegistryValue EnumValues(Hive hive, std::string_view key_path) const;

  // Reading: the value (an expandable text comes back expanded, as a text), or
  // kFailKeyValue when the key, the value or the store is missing, the value is
  // empty or of an unknown type, or the store cannot be read.
  RegistryValue KeyValue(Hive hive, std::string_view key_path, std::string_view value_name) const;

  // Writing: stores the value under the key, creating the key and the missing
  // keys above it. The failure marker raises kErrUnsupportedType ("Unsupported
  // data type.") before the store is touched. Raises kErrWriting ("Error <n>
  // writing registry.") when the store refuses: kErrAccessDenied for the machine hive,
  // kErrNameTooLong for a name over kMaxRegistryName bytes, kErrInvalidArgument for a name or
  // list element holding a NUL byte, or the store's own failure (kErrNoSpace, kErrIoFailed,
  // kErrInUse, a read-only volume...). Nothing is changed when it raises.
  void KeyValue(Hive hive, std::string_view key_path, std::string_view value_name,
                const RegistryValue& value);

  // Deletes a key and its values. Raises kErrDeletingKey ("Error <n> Deleting
  // registry key.") with kErrNotFound for a missing key, kErrNotEmpty for a key with
  // subkeys, kErrInvalidArgument for the root, kErrAccessDenied for the machine hive.
  void DeleteKey(Hive hive, std::string_view key_path);

  // Deletes one value. Raises kErrDeletingValue ("Error <n> Deleting registry
  // value.") with kErrNotFound for a missing key or value, kErrAccessDenied for the machine hive.
  void DeleteValue(Hive hive, std::string_view key_path, std::string_view value_name);

 private:
  HiveStore* StoreFor(Hive hive) const;

  RegistryContext context_;
  std::unique_ptr<HiveStore> user_;
  std::unique_ptr<HiveStore> machine_;
};

}  // namespace twinmere
