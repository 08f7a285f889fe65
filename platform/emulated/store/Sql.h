// SQLite plumbing of the store: statements prepared once per connection and
// run through one helper that binds, steps and resets; reading rows out of
// a statement; and corvane_fold, the function the name indexes are built on.
#pragma once

#include <sqlite3.h>

#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/emulated/store/Row.h"

namespace corvane::platform::emulated {

// Registers corvane_fold(name) on a connection: every connection of ours
// has it, since the name indexes use it.
int RegisterFold(sqlite3* db);

// A name bound by its fold (see FoldKey in Row.h), as the name indexes look it
// up.
struct Fold {
  explicit Fold(std::u16string_view name) : key(FoldKey(name)) {}
  std::string key;
};

// Bound text, blobs and folds are not copied: a statement is stepped and
// reset before the call that bound them returns, and the caller's buffers
// outlive that.
namespace sql {

template <std::integral T>
void Bind(sqlite3_stmt* s, int i, T number) {
  sqlite3_bind_int64(s, i, static_cast<sqlite3_int64>(number));
}
// An empty name is text all the same (the default value's name is ""),
// never NULL, which an empty view's null pointer would bind.
inline void Bind(sqlite3_stmt* s, int i, std::u16string_view text) {
  sqlite3_bind_text16(s, i, text.empty() ? u"" : text.data(),
                      static_cast<int>(text.size() * sizeof(char16_t)),
                      SQLITE_STATIC);
}
// Text or NULL.
inline void Bind(sqlite3_stmt* s, int i, const std::u16string* text) {
  if (text != nullptr) Bind(s, i, std::u16string_view(*text));
}
inline void Bind(sqlite3_stmt* s, int i, const char* text) {
  if (text != nullptr) sqlite3_bind_text(s, i, text, -1, SQLITE_STATIC);
}
inline void Bind(sqlite3_stmt* s, int i, const Fold& fold) {
  sqlite3_bind_blob(s, i, fold.key.empty() ? "" : fold.key.data(),
                    static_cast<int>(fold.key.size()), SQLITE_STATIC);
}
// A zero-length blob, never NULL: the column says "no bytes", not "none".
inline void Bind(sqlite3_stmt* s, int i, std::span<const BYTE> data) {
  sqlite3_bind_blob(s, i,
                    data.empty() ? static_cast<const void*>("") : data.data(),
                    static_cast<int>(data.size()), SQLITE_STATIC);
}
// A value's six columns as vals holds them, from parameter `i` on; `fold`
// is its name's.
inline void Bind(sqlite3_stmt* s, int i, const ValueRow& row,
                 const Fold& fold) {
  Bind(s, i, row.key);
  Bind(s, i + 1, fold);
  Bind(s, i + 2, row.ord);
  Bind(s, i + 3, std::u16string_view(row.name));
  Bind(s, i + 4, row.type);
  Bind(s, i + 5, std::span<const BYTE>(row.data));
}

std::u16string ColumnText(sqlite3_stmt* s, int i);
// Columns id, parent, name, class, boot, last_write.
KeyRow ColumnKey(sqlite3_stmt* s);
// Columns key, ord, name, type, data.
ValueRow ColumnValue(sqlite3_stmt* s);

}  // namespace sql

// A statement prepared once per connection.
class Stmt {
 public:
  Stmt() = default;
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  int Prepare(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_,
                              nullptr);
  }
  // A statement run once or a few times and dropped with this object.
  int PrepareOnce(sqlite3* db, const char* sql) {
    return sqlite3_prepare_v2(db, sql, -1, &s_, nullptr);
  }

  // Binds `args` to ?1, ?2..., steps once, gives `row` the row when one
  // came, and resets. SQLite's result code.
  template <class Row, class... Args>
  int Run(Row&& row, const Args&... args) {
    sqlite3_stmt* s = Use(args...);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) row(s);
    sqlite3_reset(s_);
    return rc;
  }
  // The same for a statement whose rows (if any) are not read.
  template <class... Args>
  int Exec(const Args&... args) {
    return Run([](sqlite3_stmt*) {}, args...);
  }
  // The same, giving `row` every row.
  template <class Row, class... Args>
  int Each(Row&& row, const Args&... args) {
    sqlite3_stmt* s = Use(args...);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) row(s);
    sqlite3_reset(s_);
    return rc;
  }

  // For a statement read a step at a time: bound, then reset with Done.
  template <class... Args>
  sqlite3_stmt* Use(const Args&... args) {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
    [[maybe_unused]] int i = 1;
    (sql::Bind(s_, i++, args), ...);
    return s_;
  }
  void Done() { sqlite3_reset(s_); }

 private:
  sqlite3_stmt* s_ = nullptr;
};

// Values given to Rows::InsertValues go in groups of this many.
inline constexpr std::size_t kValuesPerInsert = 16;

// Every statement of a connection, prepared when it opens.
struct Statements {
  Stmt deleteLeaf, deleteLeafValues;
  Stmt loadKey, loadChild, loadValues, hasChildren, findValue, subtreeKeys,
      subtreeValues, scanKeys, scanValues, insertKey, setClass, touch, noteOrd,
      touchAndNoteOrd, insertValue, insertValues, updateValue, deleteValue,
      deleteTreeValues, lastKeyId, saveLastKeyId, deleteTreeKeys, noted, note,
      begin, beginWrite, commit, rollback;

  int Prepare(sqlite3* db);
};

}  // namespace corvane::platform::emulated
