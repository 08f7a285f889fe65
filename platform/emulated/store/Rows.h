// The store's data access: keys and values read and written one by one
// through a connection's prepared statements. Reads run inside a read or
// write transaction, writes inside a write transaction (Connection).
//
// Key ids are the store's to hand out: one past the highest it ever gave,
// deleted keys included, so that no id is used twice.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulated/store/Connection.h"
#include "platform/emulated/store/Row.h"

namespace corvane::platform::emulated {

class Rows {
 public:
  // `boot`: what a volatile key carries (see schema::BootId).
  Rows(Connection& connection, const std::string& boot)
      : c_(connection), boot_(boot) {}
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;

  LONG LoadKey(std::int64_t id, KeyRow& row, bool& found);
  LONG LoadChild(std::int64_t parent, std::u16string_view name, KeyRow& row,
                 bool& found);
  // In creation order.
  LONG LoadValues(std::int64_t key, std::vector<ValueRow>& values);
  LONG HasChildren(std::int64_t key, bool& any);
  // The value's creation order when the key has it (`found`); otherwise
  // the order a new value of the key takes: one past the highest any of
  // its values was given, deleted ones included.
  LONG FindValue(std::int64_t key, std::u16string_view name, std::int64_t& ord,
                 bool& found);
  // The highest key id the store gave.
  LONG HighestKeyId(std::int64_t& id);

  LONG InsertKey(std::int64_t parent, std::u16string_view name,
                 const std::u16string* className, bool isVolatile,
                 std::uint64_t time, std::int64_t& id);
  LONG SetClass(std::int64_t key, std::u16string_view className);
  // Gives the key another name under the same parent (none of its
  // siblings may have it).
  LONG RenameKey(std::int64_t key, std::u16string_view name,
                 std::uint64_t time);
  LONG Touch(std::int64_t key, std::uint64_t time);
  // Replaces type and data of the value `name`, or inserts it as a new
  // value of creation order `ord` when `insert`. `time`, unless 0, is the
  // key's last-write time from now on.
  LONG PutValue(std::int64_t key, std::int64_t ord, bool insert,
                std::u16string_view name, DWORD type,
                std::span<const BYTE> data, std::uint64_t time = 0);
  // New values, as PutValue inserts them one by one, in fewer statements.
  LONG InsertValues(std::span<const ValueRow> rows);
  LONG DeleteValue(std::int64_t key, std::u16string_view name);
  // The key and everything below it; `leaf`: the key has no subkeys.
  // `values` false: the key is known to have none (a leaf only).
  LONG DeleteTree(std::int64_t key, bool leaf = false, bool values = true);
  // Empties the store back to what a fresh one holds.
  LONG Reset();

  // Notes kept in the store's meta table, by name.
  LONG Noted(const char* name, bool& found);
  LONG Note(const char* name, const std::string& value);

  // The highest id given in this write transaction goes into the store
  // with its commit; a transaction's end forgets it.
  LONG SaveLastKeyId();
  void ForgetLastKeyId() {
    lastKeyId_ = 0;
    lastKeyIdChanged_ = false;
  }

 private:
  LONG KnowLastKeyId();

  Connection& c_;
  const std::string& boot_;
  // The highest key id given, once read in this write transaction (0 until
  // then), and whether the commit must save it.
  std::int64_t lastKeyId_ = 0;
  bool lastKeyIdChanged_ = false;
};

}  // namespace corvane::platform::emulated
