#include "settings/sqlite_statement.h"

#include <sqlite3.h>

namespace twinmere {

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) {
  rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
}

SqliteStatement::~SqliteStatement() {
  sqlite3_finalize(stmt_);
}

void SqliteStatement::BindText(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void SqliteStatement::BindData(int index, const StoredData& data) {
  switch (data.storage) {
    case StoredData::Storage::kInteger:
      sqlite3_bind_int64(stmt_, index, data.integer);
      break;
    case StoredData::Storage::kText:
      BindText(index, data.bytes);
      break;
    case StoredData::Storage::kBlob:
      if (data.bytes.empty()) {
        sqlite3_bind_zeroblob(stmt_, index, 0);
      } else {
        sqlite3_bind_blob(stmt_, index, data.bytes.data(), static_cast<int>(data.bytes.size()),
                          SQLITE_TRANSIENT);
      }
      break;
    default:
      sqlite3_bind_null(stmt_, index);
  }
}

void SqliteStatement::BindInt(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
}

int SqliteStatement::Step() {
  return rc_ == SQLITE_OK ? sqlite3_step(stmt_) : rc_;
}

std::string SqliteStatement::ColumnText(int column) {
  const auto* text = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
  const int size = sqlite3_column_bytes(stmt_, column);
  return text == nullptr ? std::string() : std::string(text, static_cast<size_t>(size));
}

int64_t SqliteStatement::ColumnInt(int column) {
  return sqlite3_column_int64(stmt_, column);
}

StoredData SqliteStatement::ColumnData(int column) {
  StoredData data;
  switch (sqlite3_column_type(stmt_, column)) {
    case SQLITE_INTEGER:
      data.storage = StoredData::Storage::kInteger;
      data.integer = sqlite3_column_int64(stmt_, column);
      break;
    case SQLITE_FLOAT: {
      data.storage = StoredData::Storage::kReal;
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
      if (text != nullptr) data.bytes = text;
      break;
    }
    case SQLITE_TEXT:
      data.storage = StoredData::Storage::kText;
      data.bytes = ColumnText(column);
      break;
    case SQLITE_BLOB:
      data.storage = StoredData::Storage::kBlob;
      data.bytes = ColumnText(column);
      break;
    default:
      break;
  }
  return data;
}

}  // namespace twinmere
