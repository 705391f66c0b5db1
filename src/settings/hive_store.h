// One hive of the registry: a SQLite database file. Used by Registry only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/registry.h"
#include "settings/registry_value.h"

struct sqlite3;

namespace twinmere {

// Every operation returns 0 or an error code (platform/errors.h); nothing is thrown. Key paths
// are normalised (levels joined by single backslashes, no leading or trailing
// backslash; "" is the root, which exists whenever the store does).
class HiveStore {
 public:
  enum class Access { kReadOnly, kReadWrite };

  HiveStore(std::string path, Access access, RegistryNoticeSink notice);
  ~HiveStore();
  HiveStore(const HiveStore&) = delete;
  HiveStore& operator=(const HiveStore&) = delete;

  // kErrNotFound when the store or the key is missing.
  int ListSubkeys(const std::string& key_path, std::vector<std::string>* names);
  int ListValues(const std::string& key_path, std::vector<std::string>* names);
  // kErrNotFound when the store, the key or the value is missing.
  int ReadValue(const std::string& key_path, std::string_view name, int64_t* type,
                StoredData* data);

  // One transaction each. kErrAccessDenied for a read-only store.
  int WriteValue(const std::vector<std::string>& levels, std::string_view name,
                 const EncodedValue& value);
  int DeleteKey(const std::string& key_path);
  int DeleteValue(const std::string& key_path, std::string_view name);

 private:
  enum class Schema { kValid, kEmpty, kForeign };

  // Opens the database once. With `create`, a missing file (and its folder) is
  // created; without, a missing file gives kErrNotFound.
  int Open(bool create);
  int OpenFile(bool create);
  int CheckSchema(Schema* schema);
  int CreateSchema();
  void MoveAside();
  void Close();
  int ErrnoOf(int sqlite_code) const;
  int KeyExists(const std::string& key_path, bool* exists);
  // Opens the database (never creating it) and checks that the key exists:
  // 0, kErrNotFound for a missing store or key, or the error of the check.
  int OpenExistingKey(const std::string& key_path);
  // Opens the database for a change: kErrAccessDenied for a store that may not be written.
  int OpenForWriting(bool create);
  // Turns SQLite result codes into error codes, for transactions.
  std::function<int(int)> ErrnoMapper() const;
  int HasSubkeys(const std::string& key_path, bool* any);

  std::string path_;
  Access access_;
  RegistryNoticeSink notice_;
  sqlite3* db_ = nullptr;
  bool immutable_ = false;    // read without locking: the store cannot be written by us
  bool given_up_ = false;     // a damaged file could not be moved aside
  uint64_t checked_dev_ = 0;  // identity of the file whose schema was checked
  uint64_t checked_ino_ = 0;
};

}  // namespace twinmere
