// Reading a subtree at once (SubtreeScan.h): by id order when its keys are
// close together, else by following parents.
#include "platform/emulated/store/SubtreeScan.h"

#include <algorithm>
#include <utility>

namespace corvane::platform::emulated {

LONG SubtreeScan::Load(std::int64_t top, std::size_t limit, KeySink& keys,
                       SubtreeRest& rest) {
  Scan scan = Scan::kGaveUp;
  std::size_t taken = 0;
  if (const LONG status = ScanIds(top, limit, keys, taken, rest.values, scan)) {
    return status;
  }
  if (scan == Scan::kWhole) rest.complete.assign(taken, true);
  if (scan != Scan::kGaveUp) return ERROR_SUCCESS;
  keys.Restart();
  rest.values.clear();
  return Walk(top, limit, keys, rest);
}

// A key is always made after its parent and ids only grow, so a subtree is
// the keys after its top in id order whose parent is already in it. Read in
// id order, both tables are read sequentially, where following parents
// costs index lookups per key. The scan goes on to the end of the table,
// which proves every key's children all came, while the keys read are mostly
// the subtree's; once they are mostly not, it gives up.
LONG SubtreeScan::ScanIds(std::int64_t top, std::size_t limit, KeySink& keys,
                          std::size_t& taken, std::vector<ValueRow>& values,
                          Scan& scan) {
  // Reading this many keys costs less than following parents for a few.
  constexpr std::size_t kFreeScan = 4096;
  scan = Scan::kGaveUp;
  taken = 0;
  KeyRow first;
  bool found = false;
  if (const LONG status = rows_.LoadKey(top, first, found)) return status;
  if (!found) return ERROR_SUCCESS;
  // Whether the key `top` + i is in the subtree; the keys read are dense
  // in that range, or the scan gave up.
  std::vector<bool> in{true};
  const auto within = [&in, top](std::int64_t id) {
    return id >= top && static_cast<std::size_t>(id - top) < in.size() &&
           in[static_cast<std::size_t>(id - top)];
  };
  // The highest id the store gave bounds the keys the scan may take.
  std::int64_t highest = top;
  rows_.HighestKeyId(highest);
  keys.Expect(std::min(limit, static_cast<std::size_t>(highest - top) + 1));
  if (!keys.Take(std::move(first))) {
    scan = Scan::kStopped;
    return ERROR_SUCCESS;
  }
  taken = 1;
  std::int64_t last = top;
  std::size_t read = 0;
  Statements& st = c_.st();
  sqlite3_stmt* s = st.scanKeys.Use(top);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    ++read;
    if (within(sqlite3_column_int64(s, 1))) {
      last = sqlite3_column_int64(s, 0);
      const auto at = static_cast<std::size_t>(last - top);
      if (at >= in.size()) in.resize(std::max(at + 1, 2 * in.size()));
      in[at] = true;
      if (!keys.Take(sql::ColumnKey(s))) {
        st.scanKeys.Done();
        scan = Scan::kStopped;
        return ERROR_SUCCESS;
      }
      if (++taken >= limit) break;
    }
    if (read > kFreeScan && taken * 4 < read) break;
  }
  st.scanKeys.Done();
  if (rc != SQLITE_DONE)
    return rc == SQLITE_ROW ? ERROR_SUCCESS : c_.Status(rc);

  const std::size_t before = values.size();
  rc = st.scanValues.Each(
      [&](sqlite3_stmt* v) {
        if (within(sqlite3_column_int64(v, 0))) {
          values.push_back(sql::ColumnValue(v));
        }
      },
      top, last);
  if (rc != SQLITE_DONE) return c_.Status(rc);
  SortByOrd(values.begin() + static_cast<std::ptrdiff_t>(before), values.end());
  scan = Scan::kWhole;
  return ERROR_SUCCESS;
}

// Following parents through the index: for a subtree whose keys are spread
// among many others, or more than `limit` of them.
LONG SubtreeScan::Walk(std::int64_t top, std::size_t limit, KeySink& keys,
                       SubtreeRest& rest) {
  Statements& st = c_.st();
  sqlite3_stmt* s = st.subtreeKeys.Use(top, limit);
  int rc;
  // Each key's id, parent and whether it has children, in the order read.
  struct Taken {
    std::int64_t id, parent;
    bool parentOfAny;
  };
  std::vector<Taken> taken;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    KeyRow row = sql::ColumnKey(s);
    taken.push_back({row.id, row.parent, sqlite3_column_int(s, 6) != 0});
    if (!keys.Take(std::move(row))) {
      st.subtreeKeys.Done();
      return ERROR_SUCCESS;
    }
  }
  st.subtreeKeys.Done();
  if (const LONG status = c_.Status(rc)) return status;

  // Breadth first, children of a key come in one run after the runs of the
  // keys before it. When the limit cut the list, the parent of the last row
  // may have lost children, and keys after it were never expanded; every
  // key before it has all its children here, and so has every key that has
  // none.
  std::vector<bool>& complete = rest.complete;
  complete.assign(taken.size(), true);
  if (taken.size() >= limit && taken.size() > 1) {
    const std::int64_t cut = taken.back().parent;
    bool after = false;
    for (std::size_t i = 0; i < taken.size(); ++i) {
      if (taken[i].id == cut) after = true;
      if (after && taken[i].parentOfAny) complete[i] = false;
    }
  }
  const std::size_t first = rest.values.size();
  rc = st.subtreeValues.Each(
      [&rest](sqlite3_stmt* v) { rest.values.push_back(sql::ColumnValue(v)); },
      top, limit);
  SortByOrd(rest.values.begin() + static_cast<std::ptrdiff_t>(first),
            rest.values.end());
  return c_.Status(rc);
}

}  // namespace corvane::platform::emulated
