// A prepared SQLite statement that finalizes itself. Results are SQLite's
// own codes (SQLITE_OK, SQLITE_ROW, SQLITE_DONE, ...).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/registry_value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace twinmere {

class SqliteStatement {
 public:
  // Prepares `sql` on `db`; a failure is kept for PrepareResult and Step.
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  int PrepareResult() const { return rc_; }
  // Parameters are numbered from 1; text and blobs are copied.
  void BindText(int index, std::string_view text);
  // By its storage class: an integer, text, a blob (an empty one as a zero
  // blob), anything else as NULL.
  void BindData(int index, const StoredData& data);
  void BindInt(int index, int64_t value);
  // The next step, or the failure of the preparation.
  int Step();
  // Columns are numbered from 0. The bytes of a text or blob column ("" for
  // NULL).
  std::string ColumnText(int column);
  int64_t ColumnInt(int column);
  // The column with its storage class; a real as its text.
  StoredData ColumnData(int column);

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = 0;  // SQLITE_OK
};

}  // namespace twinmere
