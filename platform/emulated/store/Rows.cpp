// The store's data access (Rows.h).
#include "platform/emulated/store/Rows.h"

#include <algorithm>
#include <chrono>

#include "platform/emulated/store/Schema.h"

namespace corvane::platform::emulated {

std::uint64_t FileTimeNow() {
  using namespace std::chrono;
  // The Unix epoch is 11644473600 s after FILETIME's.
  const auto since1970 =
      duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(since1970.count() / 100) +
         116444736000000000ull;
}

void SortByOrd(std::vector<ValueRow>::iterator first,
               std::vector<ValueRow>::iterator last) {
  const auto byOrd = [](const ValueRow& a, const ValueRow& b) {
    return a.ord < b.ord;
  };
  while (first != last) {
    const std::int64_t key = first->key;
    const auto end = std::find_if(
        first, last, [key](const ValueRow& v) { return v.key != key; });
    if (!std::is_sorted(first, end, byOrd)) std::sort(first, end, byOrd);
    first = end;
  }
}

LONG Rows::LoadKey(std::int64_t id, KeyRow& row, bool& found) {
  const int rc = c_.st().loadKey.Run(
      [&row](sqlite3_stmt* s) { row = sql::ColumnKey(s); }, id);
  found = rc == SQLITE_ROW;
  return found ? ERROR_SUCCESS : c_.Status(rc);
}

LONG Rows::LoadChild(std::int64_t parent, std::u16string_view name, KeyRow& row,
                     bool& found) {
  const int rc = c_.st().loadChild.Run(
      [&row](sqlite3_stmt* s) { row = sql::ColumnKey(s); }, parent, Fold(name));
  found = rc == SQLITE_ROW;
  return found ? ERROR_SUCCESS : c_.Status(rc);
}

LONG Rows::HasChildren(std::int64_t key, bool& any) {
  const int rc = c_.st().hasChildren.Exec(key);
  any = rc == SQLITE_ROW;
  return any ? ERROR_SUCCESS : c_.Status(rc);
}

LONG Rows::FindValue(std::int64_t key, std::u16string_view name,
                     std::int64_t& ord, bool& found) {
  const int rc = c_.st().findValue.Run(
      [&](sqlite3_stmt* s) {
        found = sqlite3_column_type(s, 0) != SQLITE_NULL;
        ord = sqlite3_column_int64(s, found ? 0 : 1);
      },
      key, Fold(name));
  return rc == SQLITE_ROW ? ERROR_SUCCESS : c_.Status(rc);
}

LONG Rows::LoadValues(std::int64_t key, std::vector<ValueRow>& values) {
  const std::size_t first = values.size();
  const int rc = c_.st().loadValues.Each(
      [&values](sqlite3_stmt* s) { values.push_back(sql::ColumnValue(s)); },
      key);
  SortByOrd(values.begin() + static_cast<std::ptrdiff_t>(first), values.end());
  return c_.Status(rc);
}

LONG Rows::HighestKeyId(std::int64_t& id) {
  const int rc = c_.st().lastKeyId.Run(
      [&id](sqlite3_stmt* s) { id = sqlite3_column_int64(s, 0); });
  return rc == SQLITE_ROW ? ERROR_SUCCESS : c_.Status(rc);
}

LONG Rows::KnowLastKeyId() {
  if (lastKeyId_ != 0) return ERROR_SUCCESS;
  return HighestKeyId(lastKeyId_);
}

LONG Rows::SaveLastKeyId() {
  if (!lastKeyIdChanged_) return ERROR_SUCCESS;
  return c_.Status(c_.st().saveLastKeyId.Exec(lastKeyId_));
}

// The highest id is read once per transaction and saved at its commit.
LONG Rows::InsertKey(std::int64_t parent, std::u16string_view name,
                     const std::u16string* className, bool isVolatile,
                     std::uint64_t time, std::int64_t& id) {
  if (const LONG status = KnowLastKeyId()) return status;
  const std::int64_t newId = lastKeyId_ + 1;
  const int rc =
      c_.st().insertKey.Exec(newId, parent, name, className,
                             isVolatile ? boot_.c_str() : nullptr, time);
  if (rc != SQLITE_DONE) return c_.Status(rc);
  lastKeyId_ = newId;
  lastKeyIdChanged_ = true;
  id = newId;
  c_.Wrote(1);
  return ERROR_SUCCESS;
}

LONG Rows::SetClass(std::int64_t key, std::u16string_view className) {
  const int rc = c_.st().setClass.Exec(key, className);
  c_.MarkWritten();
  return c_.Status(rc);
}

LONG Rows::RenameKey(std::int64_t key, std::u16string_view name,
                     std::uint64_t time) {
  // Rare enough to be prepared when asked for.
  Stmt rename;
  int rc = rename.PrepareOnce(
      c_.db(), "UPDATE keys SET name=?2, last_write=?3 WHERE id=?1");
  if (rc == SQLITE_OK) rc = rename.Exec(key, name, time);
  c_.MarkWritten();
  return c_.Status(rc);
}

LONG Rows::Touch(std::int64_t key, std::uint64_t time) {
  const int rc = c_.st().touch.Exec(key, time);
  c_.MarkWritten();
  return c_.Status(rc);
}

LONG Rows::PutValue(std::int64_t key, std::int64_t ord, bool insert,
                    std::u16string_view name, DWORD type,
                    std::span<const BYTE> data, std::uint64_t time) {
  Statements& st = c_.st();
  const Fold fold(name);
  int rc = insert ? st.insertValue.Exec(key, fold, ord, name, type, data)
                  : st.updateValue.Exec(key, fold, type, data);
  c_.Wrote(1);
  if (rc != SQLITE_DONE) return c_.Status(rc);
  if (insert) {
    rc = time != 0 ? st.touchAndNoteOrd.Exec(key, ord, time)
                   : st.noteOrd.Exec(key, ord);
  } else if (time != 0) {
    rc = st.touch.Exec(key, time);
  }
  return c_.Status(rc);
}

LONG Rows::InsertValues(std::span<const ValueRow> rows) {
  // Each key's highest creation order among them, noted once per run of
  // its values.
  for (std::size_t i = 0; i < rows.size();) {
    std::size_t end = i + 1;
    std::int64_t highest = rows[i].ord;
    while (end < rows.size() && rows[end].key == rows[i].key) {
      highest = std::max(highest, rows[end++].ord);
    }
    const int rc = c_.st().noteOrd.Exec(rows[i].key, highest);
    if (rc != SQLITE_DONE) return c_.Status(rc);
    i = end;
  }
  const std::size_t grouped = rows.size() - rows.size() % kValuesPerInsert;
  // Whole groups in one statement each: a statement's own cost (its
  // cursors opened, run and reset) is then paid once per group.
  Stmt& insert = c_.st().insertValues;
  std::vector<Fold> folds;
  folds.reserve(kValuesPerInsert);
  while (rows.size() >= kValuesPerInsert) {
    folds.clear();
    for (std::size_t i = 0; i < kValuesPerInsert; ++i) {
      folds.emplace_back(rows[i].name);
    }
    sqlite3_stmt* s = insert.Use();
    for (std::size_t i = 0; i < kValuesPerInsert; ++i) {
      sql::Bind(s, static_cast<int>(6 * i + 1), rows[i], folds[i]);
    }
    const int rc = sqlite3_step(s);
    insert.Done();
    if (rc != SQLITE_DONE) return c_.Status(rc);
    rows = rows.subspan(kValuesPerInsert);
  }
  Statements& st = c_.st();
  for (const ValueRow& row : rows) {
    const int rc = st.insertValue.Exec(row.key, Fold(row.name), row.ord,
                                       std::u16string_view(row.name), row.type,
                                       std::span<const BYTE>(row.data));
    if (rc != SQLITE_DONE) return c_.Status(rc);
  }
  c_.Wrote(grouped + rows.size());
  return ERROR_SUCCESS;
}

LONG Rows::DeleteValue(std::int64_t key, std::u16string_view name) {
  const int rc = c_.st().deleteValue.Exec(key, Fold(name));
  c_.MarkWritten();
  return c_.Status(rc);
}

LONG Rows::DeleteTree(std::int64_t key, bool leaf, bool values) {
  Statements& st = c_.st();
  Stmt* const leafSteps[] = {&st.deleteLeafValues, &st.deleteLeaf};
  Stmt* const treeSteps[] = {&st.deleteTreeValues, &st.deleteTreeKeys};
  for (Stmt* stmt : leaf ? leafSteps : treeSteps) {
    if (stmt == &st.deleteLeafValues && !values) continue;
    const int rc = stmt->Exec(key);
    if (rc != SQLITE_DONE) return c_.Status(rc);
  }
  c_.MarkWritten();
  return ERROR_SUCCESS;
}

LONG Rows::Reset() {
  // Ids stay unused after a reset too: the commit saves the highest again.
  if (const LONG status = KnowLastKeyId()) return status;
  lastKeyIdChanged_ = true;
  if (const LONG status =
          c_.Exec("DELETE FROM vals; DELETE FROM keys; DELETE FROM meta")) {
    return status;
  }
  c_.MarkWritten();
  return schema::Seed(c_, boot_);
}

LONG Rows::Noted(const char* name, bool& found) {
  const int rc = c_.st().noted.Exec(name);
  found = rc == SQLITE_ROW;
  return found ? ERROR_SUCCESS : c_.Status(rc);
}

LONG Rows::Note(const char* name, const std::string& value) {
  const int rc = c_.st().note.Exec(name, value.c_str());
  c_.MarkWritten();
  return c_.Status(rc);
}

}  // namespace corvane::platform::emulated
