// SQLite plumbing of the store (Sql.h): the fold, reading rows, and the
// text of every statement a connection prepares.
#include "platform/emulated/store/Sql.h"

#include "base/RegistryNames.h"

namespace corvane::platform::emulated {
namespace {

// FoldKey into `out`, which has room for three bytes a unit; its length.
std::size_t FoldInto(std::u16string_view name, char* out) {
  char* at = out;
  for (const char16_t unit : name) {
    const char16_t c = base::FoldChar(unit);
    if (c < 0x80) {
      *at++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *at++ = static_cast<char>(0xC0 | (c >> 6));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *at++ = static_cast<char>(0xE0 | (c >> 12));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return static_cast<std::size_t>(at - out);
}

// corvane_fold(name): the key the indexes find and order names by.
void FoldFunction(sqlite3_context* context, int, sqlite3_value** args) {
  const auto* text =
      static_cast<const char16_t*>(sqlite3_value_text16(args[0]));
  const auto units =
      static_cast<std::size_t>(sqlite3_value_bytes16(args[0])) / 2;
  const std::u16string_view name = text != nullptr
                                       ? std::u16string_view(text, units)
                                       : std::u16string_view();
  // Most names fold on the stack; SQLite copies the result.
  char shortFold[3 * 128];
  std::string longFold;
  char* fold = shortFold;
  if (name.size() > 128) {
    longFold.resize(3 * name.size());
    fold = longFold.data();
  }
  sqlite3_result_blob(context, fold, static_cast<int>(FoldInto(name, fold)),
                      SQLITE_TRANSIENT);
}

constexpr const char* kKeyColumns = "id, parent, name, class, boot, last_write";

std::string InsertValuesSql() {
  std::string sql = "INSERT INTO vals(key, fold, ord, name, type, data) VALUES";
  for (std::size_t i = 0; i < kValuesPerInsert; ++i) {
    sql += i == 0 ? "(?,?,?,?,?,?)" : ",(?,?,?,?,?,?)";
  }
  return sql;
}

}  // namespace

std::string FoldKey(std::u16string_view name) {
  // Mostly ASCII: one byte a unit, in a string of the name's length.
  std::string key(name.size(), '\0');
  std::size_t i = 0;
  for (; i < name.size(); ++i) {
    const char16_t c = base::FoldChar(name[i]);
    if (c >= 0x80) break;
    key[i] = static_cast<char>(c);
  }
  if (i == name.size()) return key;
  key.resize(i + 3 * (name.size() - i));
  key.resize(i + FoldInto(name.substr(i), key.data() + i));
  return key;
}

int RegisterFold(sqlite3* db) {
  return sqlite3_create_function_v2(
      db, "corvane_fold", 1,
      SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
      FoldFunction, nullptr, nullptr, nullptr);
}

namespace sql {

std::u16string ColumnText(sqlite3_stmt* s, int i) {
  const void* text = sqlite3_column_text16(s, i);
  const int bytes = sqlite3_column_bytes16(s, i);
  if (text == nullptr) return {};
  return std::u16string(static_cast<const char16_t*>(text),
                        static_cast<std::size_t>(bytes) / sizeof(char16_t));
}

KeyRow ColumnKey(sqlite3_stmt* s) {
  KeyRow row;
  row.id = sqlite3_column_int64(s, 0);
  row.parent = sqlite3_column_int64(s, 1);
  row.name = ColumnText(s, 2);
  row.className = ColumnText(s, 3);
  row.isVolatile = sqlite3_column_type(s, 4) != SQLITE_NULL;
  row.lastWrite = static_cast<std::uint64_t>(sqlite3_column_int64(s, 5));
  return row;
}

ValueRow ColumnValue(sqlite3_stmt* s) {
  ValueRow row;
  row.key = sqlite3_column_int64(s, 0);
  row.ord = sqlite3_column_int64(s, 1);
  row.name = ColumnText(s, 2);
  row.type = static_cast<DWORD>(sqlite3_column_int64(s, 3));
  const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(s, 4));
  row.data.assign(data, data + sqlite3_column_bytes(s, 4));
  return row;
}

}  // namespace sql

int Statements::Prepare(sqlite3* db) {
  const std::string cols = kKeyColumns;
  struct {
    Stmt& stmt;
    std::string sql;
  } all[] = {
      {loadKey, "SELECT " + cols + " FROM keys WHERE id=?1"},
      {loadChild, "SELECT " + cols +
                      " FROM keys WHERE parent=?1 AND corvane_fold(name)=?2"},
      {loadValues, "SELECT key, ord, name, type, data FROM vals WHERE key=?1"},
      {hasChildren, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1"},
      {findValue,
       "SELECT (SELECT ord FROM vals WHERE key=?1 AND fold=?2), "
       "coalesce((SELECT last_ord FROM keys WHERE id=?1), 0) + 1"},
      {lastKeyId,
       "SELECT max(coalesce((SELECT max(id) FROM keys), 0), "
       "coalesce((SELECT value FROM meta WHERE name='last_key_id'), 0))"},
      {saveLastKeyId,
       "INSERT OR REPLACE INTO meta(name, value) VALUES('last_key_id', ?1)"},
      {subtreeKeys,
       "WITH RECURSIVE sub(id, parent, name, class, boot, last_write) AS ("
       "SELECT " +
           cols +
           " FROM keys WHERE id=?1 UNION ALL SELECT k.id, k.parent, k.name, "
           "k.class, k.boot, k.last_write FROM sub JOIN keys k ON "
           "k.parent=sub.id LIMIT ?2) SELECT sub.*, EXISTS(SELECT 1 FROM keys "
           "c WHERE c.parent=sub.id) FROM sub"},
      {scanKeys, "SELECT " + cols + " FROM keys WHERE id>?1 ORDER BY id"},
      {scanValues,
       "SELECT key, ord, name, type, data FROM vals WHERE key>=?1 AND "
       "key<=?2"},
      {deleteLeaf, "DELETE FROM keys WHERE id=?1"},
      {deleteLeafValues, "DELETE FROM vals WHERE key=?1"},
      {subtreeValues,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM sub "
       "JOIN keys k ON k.parent=sub.id LIMIT ?2) SELECT v.key, v.ord, v.name, "
       "v.type, v.data FROM sub JOIN vals v ON v.key=sub.id"},
      {insertKey,
       "INSERT INTO keys(id, parent, name, class, boot, last_write) "
       "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"},
      {setClass, "UPDATE keys SET class=?2 WHERE id=?1"},
      {touch, "UPDATE keys SET last_write=?2 WHERE id=?1"},
      {noteOrd, "UPDATE keys SET last_ord=?2 WHERE id=?1 AND last_ord<?2"},
      {touchAndNoteOrd,
       "UPDATE keys SET last_write=?3, last_ord=max(last_ord, ?2) WHERE "
       "id=?1"},
      {insertValue,
       "INSERT INTO vals(key, fold, ord, name, type, data) "
       "VALUES(?1, ?2, ?3, ?4, ?5, ?6)"},
      {insertValues, InsertValuesSql()},
      {updateValue,
       "UPDATE vals SET type=?3, data=?4 WHERE key=?1 AND fold=?2"},
      {deleteValue, "DELETE FROM vals WHERE key=?1 AND fold=?2"},
      {deleteTreeValues,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k "
       "JOIN sub ON k.parent=sub.id) DELETE FROM vals WHERE key IN sub"},
      {deleteTreeKeys,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k "
       "JOIN sub ON k.parent=sub.id) DELETE FROM keys WHERE id IN sub"},
      {noted, "SELECT 1 FROM meta WHERE name=?1"},
      {note, "INSERT OR REPLACE INTO meta(name, value) VALUES(?1, ?2)"},
      {begin, "BEGIN"},
      {beginWrite, "BEGIN IMMEDIATE"},
      {commit, "COMMIT"},
      {rollback, "ROLLBACK"},
  };
  for (auto& one : all) {
    if (const int rc = one.stmt.Prepare(db, one.sql.c_str())) return rc;
  }
  return SQLITE_OK;
}

}  // namespace corvane::platform::emulated
