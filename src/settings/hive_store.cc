#include "settings/hive_store.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "platform/errors.h"
#include "platform/local_time.h"
#include "platform/own_files.h"
#include "settings/sqlite_statement.h"

namespace twinmere {
namespace {

constexpr int kBusyTimeoutMs = 15000;
constexpr int kSchemaVersion = 1;

constexpr char kCreateSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS vals(path TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL "
    "COLLATE NOCASE, type INTEGER NOT NULL, data, PRIMARY KEY(path, name));"
    "PRAGMA user_version = 1;";

// The upper end of the range of a key's descendants: every path that begins
// with key_path + "\" sorts (ignoring case) at or after the prefix and before
// key_path + "]", "]" being the character that follows "\".
std::string DescendantsEnd(const std::string& key_path) {
  return key_path + "]";
}

int MakeFolders(const std::string& folder) {
  if (folder.empty()) return 0;
  PathFacts facts;
  if (LookUpPath(folder, FinalLink::Follow, facts) == kSuccess)
    return facts.kind == PathKind::Folder ? 0 : kErrNotAFolder;
  const size_t slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const int rc = MakeFolders(folder.substr(0, slash));
    if (rc != 0) return rc;
  }
  const ErrorCode code = MakeFolder(folder, 0700);
  return code == kErrAlreadyExists ? 0 : code;
}

std::string UtcStamp() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  CalendarTime t;
  ToUtcTime(std::chrono::duration_cast<std::chrono::seconds>(now).count(), t);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld%02d%02dT%02d%02d%02dZ", static_cast<long long>(t.year),
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

// A path as the file part of an SQLite URI: "%", "?" and "#" escaped.
std::string UriEscaped(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
      out += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

HiveStore::HiveStore(std::string path, Access access, RegistryNoticeSink notice)
    : path_(std::move(path)), access_(access), notice_(std::move(notice)) {}

HiveStore::~HiveStore() {
  Close();
}

void HiveStore::Close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int HiveStore::ErrnoOf(int sqlite_code) const {
  switch (sqlite_code & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return 0;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kErrInUse;
    case SQLITE_FULL:
      return kErrNoSpace;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return kErrAccessDenied;
    case SQLITE_NOMEM:
      return kErrNoMemory;
    case SQLITE_TOOBIG:
      return kErrValueTooLarge;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR: {
      const int system = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
      return system != 0 ? system : kErrIoFailed;
    }
    default:
      return kErrIoFailed;
  }
}

int HiveStore::Open(bool create) {
  if (db_ != nullptr) {
    // A store deleted or replaced since it was opened (a reset by hand,
    // another process moving a damaged file aside) is opened afresh, so that
    // nothing is written into a file that is no longer there.
    PathFacts facts;
    if (LookUpPath(path_, FinalLink::Follow, facts) == kSuccess && facts.device == checked_dev_ &&
        facts.inode == checked_ino_) {
      return 0;
    }
    Close();
  }
  if (path_.empty()) return kErrNotFound;
  if (given_up_) return kErrIoFailed;
  immutable_ = false;
  int rc = OpenFile(create);
  if (rc != 0) return rc;

  Schema schema = Schema::kForeign;
  rc = CheckSchema(&schema);
  if (rc != 0 && rc != kErrDamaged && rc != kErrInUse && rc != kErrNoMemory) {
    // A store in WAL mode cannot be read by someone who may not write its
    // folder (the machine store, or a per-user store left by "sudo"): read it
    // as an unchanging file instead, without taking part in the locking.
    Close();
    immutable_ = true;
    if (OpenFile(/*create=*/false) != 0 || CheckSchema(&schema) != 0) {
      Close();
      return rc;
    }
    return 0;
  }
  if (rc != 0 && rc != kErrDamaged) {
    Close();
    return rc;
  }
  if (rc == kErrDamaged || schema == Schema::kForeign) {
    if (access_ == Access::kReadOnly) {
      Close();
      return kErrIoFailed;  // not ours to repair: every read gives the marker
    }
    MoveAside();
    if (given_up_) return kErrIoFailed;
    rc = OpenFile(/*create=*/true);
    if (rc != 0) return rc;
    schema = Schema::kEmpty;
  }
  if (schema == Schema::kEmpty && access_ == Access::kReadWrite) {
    rc = CreateSchema();
    if (rc != 0) {
      Close();
      return rc;
    }
  }
  if (access_ == Access::kReadWrite) {
    // WAL lets readers and one writer work at once; failing to switch (a
    // read-only file, another process busy) leaves the rollback journal, which
    // is slower but just as safe.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
  }
  return 0;
}

int HiveStore::OpenFile(bool create) {
  PathFacts facts;
  if (const ErrorCode code = LookUpPath(path_, FinalLink::Follow, facts); code != kSuccess) {
    if (code != kErrNotFound || !create || access_ == Access::kReadOnly) return code;
    const size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) {
      const int rc = MakeFolders(path_.substr(0, slash));
      if (rc != 0) return rc;
    }
  } else if (facts.kind != PathKind::File) {
    return facts.kind == PathKind::Folder ? kErrIsAFolder : kErrInvalidArgument;
  }
  int flags = SQLITE_OPEN_NOMUTEX;
  std::string name = path_;
  if (immutable_) {
    flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
    name = "file:" + UriEscaped(path_) + "?immutable=1";
  } else if (access_ == Access::kReadOnly) {
    flags |= SQLITE_OPEN_READONLY;
  } else {
    flags |= SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  }
  const int rc = sqlite3_open_v2(name.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const int code = ErrnoOf(rc);
    Close();
    return code;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  if (LookUpPath(path_, FinalLink::Follow, facts) == kSuccess) {
    checked_dev_ = facts.device;
    checked_ino_ = facts.inode;
  }
  return 0;
}

// Returns 0 with the schema's state, kErrDamaged when the file is no database (or
// a damaged one), or another error code when it cannot be read now (busy, I/O).
int HiveStore::CheckSchema(Schema* schema) {
  auto damaged = [](int rc) {
    return (rc & 0xff) == SQLITE_NOTADB || (rc & 0xff) == SQLITE_CORRUPT;
  };
  SqliteStatement version(db_, "PRAGMA user_version");
  int rc = version.Step();
  if (damaged(rc)) return kErrDamaged;
  if (rc != SQLITE_ROW) return ErrnoOf(rc);
  const int64_t user_version = version.ColumnInt(0);

  SqliteStatement objects(db_, "SELECT count(*) FROM sqlite_master");
  rc = objects.Step();
  if (damaged(rc)) return kErrDamaged;
  if (rc != SQLITE_ROW) return ErrnoOf(rc);
  if (objects.ColumnInt(0) == 0 && user_version == 0) {
    *schema = Schema::kEmpty;
    return 0;
  }
  if (user_version != kSchemaVersion) {
    *schema = Schema::kForeign;
    return 0;
  }
  auto columns_of = [&](const char* sql, std::string* names) {
    SqliteStatement info(db_, sql);
    int step;
    while ((step = info.Step()) == SQLITE_ROW) *names += info.ColumnText(1) + ",";
    return step == SQLITE_DONE ? SQLITE_OK : step;
  };
  std::string keys, vals;
  rc = columns_of("PRAGMA table_info(keys)", &keys);
  if (rc == SQLITE_OK) rc = columns_of("PRAGMA table_info(vals)", &vals);
  if (damaged(rc)) return kErrDamaged;
  if (rc != SQLITE_OK) return ErrnoOf(rc);
  *schema = keys == "path," && vals == "path,name,type,data," ? Schema::kValid : Schema::kForeign;
  if (*schema != Schema::kValid) return 0;
  // The store is small: a damaged page anywhere is found now, before it
  // makes single values vanish later.
  SqliteStatement check(db_, "PRAGMA quick_check(1)");
  rc = check.Step();
  if (damaged(rc) || (rc == SQLITE_ROW && check.ColumnText(0) != "ok")) return kErrDamaged;
  return rc == SQLITE_ROW ? 0 : ErrnoOf(rc);
}

int HiveStore::CreateSchema() {
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return ErrnoOf(rc);
  // Another process may have created it meanwhile; IF NOT EXISTS keeps theirs.
  rc = sqlite3_exec(db_, kCreateSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    const int code = ErrnoOf(rc);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return code;
  }
  return 0;
}

void HiveStore::MoveAside() {
  Close();
  PathFacts facts;
  if (LookUpPath(path_, FinalLink::Follow, facts) == kSuccess &&
      (facts.device != checked_dev_ || facts.inode != checked_ino_)) {
    return;  // another process already replaced the damaged file
  }
  const std::string base = path_ + ".corrupt-" + UtcStamp();
  std::string aside = base;
  int rc = RenameWithoutReplacing(path_, aside);
  for (int n = 2; rc == kErrAlreadyExists && n < 100; ++n) {
    aside = base + "-" + std::to_string(n);
    rc = RenameWithoutReplacing(path_, aside);
  }
  if (rc == kErrNotFound) return;  // moved by another process
  if (rc != 0) {
    given_up_ = true;
    if (notice_) {
      notice_("Twinmere: the settings file \"" + path_ +
              "\" is damaged and could not be moved aside (" + SystemErrorText(rc) +
              "); settings are not saved.");
    }
    return;
  }
  // The journal files belong to the damaged file: keep them with it, so that
  // the new store does not replay them.
  for (const char* suffix : {"-wal", "-journal"}) {
    const std::string from = path_ + suffix;
    if (LookUpPath(from, FinalLink::Follow, facts) == kSuccess)
      RenameWithoutReplacing(from, aside + suffix);
  }
  RemoveFile(path_ + "-shm");
  if (notice_) {
    notice_("Twinmere: the settings file \"" + path_ +
            "\" was damaged or not a settings store; it was moved to \"" + aside +
            "\" and a new one was started.");
  }
}

int HiveStore::OpenExistingKey(const std::string& key_path) {
  int rc = Open(/*create=*/false);
  if (rc != 0) return rc;
  bool exists = false;
  rc = KeyExists(key_path, &exists);
  if (rc != 0) return rc;
  return exists ? 0 : kErrNotFound;
}

int HiveStore::KeyExists(const std::string& key_path, bool* exists) {
  if (key_path.empty()) {
    *exists = true;
    return 0;
  }
  SqliteStatement query(db_, "SELECT 1 FROM keys WHERE path = ?1");
  query.BindText(1, key_path);
  const int rc = query.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return ErrnoOf(rc);
  *exists = rc == SQLITE_ROW;
  return 0;
}

int HiveStore::HasSubkeys(const std::string& key_path, bool* any) {
  SqliteStatement query(db_, key_path.empty()
                                 ? "SELECT 1 FROM keys WHERE path <> '' LIMIT 1"
                                 : "SELECT 1 FROM keys WHERE path > ?1 AND path < ?2 LIMIT 1");
  if (!key_path.empty()) {
    query.BindText(1, key_path + "\\");
    query.BindText(2, DescendantsEnd(key_path));
  }
  const int rc = query.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return ErrnoOf(rc);
  *any = rc == SQLITE_ROW;
  return 0;
}

int HiveStore::ListSubkeys(const std::string& key_path, std::vector<std::string>* names) {
  int rc = OpenExistingKey(key_path);
  if (rc != 0) return rc;
  const std::string prefix = key_path.empty() ? std::string() : key_path + "\\";
  SqliteStatement query(
      db_, key_path.empty() ? "SELECT path FROM keys WHERE path <> '' ORDER BY path"
                            : "SELECT path FROM keys WHERE path > ?1 AND path < ?2 ORDER BY path");
  if (!key_path.empty()) {
    query.BindText(1, prefix);
    query.BindText(2, DescendantsEnd(key_path));
  }
  while ((rc = query.Step()) == SQLITE_ROW) {
    const std::string path = query.ColumnText(0);
    if (path.size() <= prefix.size()) continue;
    std::string rest = path.substr(prefix.size());
    if (rest.find('\\') == std::string::npos) names->push_back(std::move(rest));
  }
  return rc == SQLITE_DONE ? 0 : ErrnoOf(rc);
}

int HiveStore::ListValues(const std::string& key_path, std::vector<std::string>* names) {
  int rc = OpenExistingKey(key_path);
  if (rc != 0) return rc;
  SqliteStatement query(db_, "SELECT name FROM vals WHERE path = ?1 ORDER BY name");
  query.BindText(1, key_path);
  while ((rc = query.Step()) == SQLITE_ROW) names->push_back(query.ColumnText(0));
  return rc == SQLITE_DONE ? 0 : ErrnoOf(rc);
}

int HiveStore::ReadValue(const std::string& key_path, std::string_view name, int64_t* type,
                         StoredData* data) {
  int rc = OpenExistingKey(key_path);
  if (rc != 0) return rc;
  SqliteStatement query(db_, "SELECT type, data FROM vals WHERE path = ?1 AND name = ?2");
  query.BindText(1, key_path);
  query.BindText(2, name);
  rc = query.Step();
  if (rc == SQLITE_DONE) return kErrNotFound;
  if (rc != SQLITE_ROW) return ErrnoOf(rc);
  *type = query.ColumnInt(0);
  *data = query.ColumnData(1);
  return 0;
}

namespace {

// Runs `body` inside BEGIN IMMEDIATE ... COMMIT; a non-zero result of `body`
// (an error code) rolls everything back.
template <typename Body>
int InTransaction(sqlite3* db, const std::function<int(int)>& errno_of, Body body) {
  int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return errno_of(rc);
  int code = body();
  if (code == 0) {
    rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) code = errno_of(rc);
  }
  if (code != 0 && !sqlite3_get_autocommit(db)) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  return code;
}

}  // namespace

int HiveStore::OpenForWriting(bool create) {
  if (access_ == Access::kReadOnly) return kErrAccessDenied;
  if (const int rc = Open(create); rc != 0) return rc;
  return immutable_ ? kErrAccessDenied : 0;
}

std::function<int(int)> HiveStore::ErrnoMapper() const {
  return [this](int code) { return ErrnoOf(code); };
}

int HiveStore::WriteValue(const std::vector<std::string>& levels, std::string_view name,
                          const EncodedValue& value) {
  if (const int rc = OpenForWriting(/*create=*/true); rc != 0) return rc;
  return InTransaction(db_, ErrnoMapper(), [&]() -> int {
    // Each level is created under its parent's path as stored, so that a key
    // keeps the letter case of the keys above it; an existing key keeps its
    // own, and so does an existing value's name.
    std::string stored_path;
    for (const std::string& level : levels) {
      const std::string path = stored_path.empty() ? level : stored_path + '\\' + level;
      SqliteStatement insert(db_, "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
      insert.BindText(1, path);
      int step = insert.Step();
      if (step != SQLITE_DONE) return ErrnoOf(step);
      SqliteStatement query(db_, "SELECT path FROM keys WHERE path = ?1");
      query.BindText(1, path);
      step = query.Step();
      if (step != SQLITE_ROW) return step == SQLITE_DONE ? kErrIoFailed : ErrnoOf(step);
      stored_path = query.ColumnText(0);
    }
    SqliteStatement upsert(db_,
                           "INSERT INTO vals(path, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                           "ON CONFLICT(path, name) DO UPDATE SET type = excluded.type, "
                           "data = excluded.data");
    upsert.BindText(1, stored_path);
    upsert.BindText(2, name);
    upsert.BindInt(3, static_cast<int64_t>(value.type));
    upsert.BindData(4, value.data);
    const int step = upsert.Step();
    return step == SQLITE_DONE ? 0 : ErrnoOf(step);
  });
}

int HiveStore::DeleteKey(const std::string& key_path) {
  if (access_ == Access::kReadOnly) return kErrAccessDenied;
  if (key_path.empty()) return kErrInvalidArgument;
  if (const int rc = OpenForWriting(/*create=*/false); rc != 0) return rc;
  return InTransaction(db_, ErrnoMapper(), [&]() -> int {
    bool exists = false;
    int code = KeyExists(key_path, &exists);
    if (code != 0) return code;
    if (!exists) return kErrNotFound;
    bool any = false;
    code = HasSubkeys(key_path, &any);
    if (code != 0) return code;
    if (any) return kErrNotEmpty;
    for (const char* sql :
         {"DELETE FROM vals WHERE path = ?1", "DELETE FROM keys WHERE path = ?1"}) {
      SqliteStatement remove(db_, sql);
      remove.BindText(1, key_path);
      const int step = remove.Step();
      if (step != SQLITE_DONE) return ErrnoOf(step);
    }
    return 0;
  });
}

int HiveStore::DeleteValue(const std::string& key_path, std::string_view name) {
  if (const int rc = OpenForWriting(/*create=*/false); rc != 0) return rc;
  return InTransaction(db_, ErrnoMapper(), [&]() -> int {
    bool exists = false;
    const int code = KeyExists(key_path, &exists);
    if (code != 0) return code;
    if (!exists) return kErrNotFound;
    SqliteStatement remove(db_, "DELETE FROM vals WHERE path = ?1 AND name = ?2");
    remove.BindText(1, key_path);
    remove.BindText(2, name);
    const int step = remove.Step();
    if (step != SQLITE_DONE) return ErrnoOf(step);
    return sqlite3_changes(db_) == 0 ? kErrNotFound : 0;
  });
}

}  // namespace twinmere
