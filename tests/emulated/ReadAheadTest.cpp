// A .reg file read on a second thread and played back on the caller's: the
// sink gets what a plain read gives it, in order, across many batches, and a
// fault anywhere in the file wins over the sink's own refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/emulated/import/ReadAhead.h"
#include "regfile/RegFile.h"

namespace corvane::platform::emulated {
namespace {

// Writes down every record; refuses the one numbered `refuseAt`.
class Log : public regfile::RegSink {
 public:
  explicit Log(std::size_t refuseAt = SIZE_MAX) : refuseAt_(refuseAt) {}

  std::string OnKey(std::u16string_view path) override {
    return Note(u"K" + std::u16string(path));
  }
  std::string OnDeleteKey(std::u16string_view path) override {
    return Note(u"D" + std::u16string(path));
  }
  std::string OnValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    std::u16string entry = u"V" + std::u16string(name) + u"/" +
                           static_cast<char16_t>(u'0' + type) + u"/";
    for (const std::uint8_t byte : data) entry += static_cast<char16_t>(byte);
    return Note(entry);
  }
  std::string OnDeleteValue(std::u16string_view name) override {
    return Note(u"X" + std::u16string(name));
  }

  std::vector<std::u16string> records;

 private:
  std::string Note(std::u16string entry) {
    if (records.size() == refuseAt_) return "refused";
    records.push_back(std::move(entry));
    return {};
  }
  std::size_t refuseAt_;
};

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Enough records and data for many batches of either kind.
std::string BigFile() {
  std::string text = "REGEDIT4\r\n\r\n";
  std::string blob = "hex:7f";
  for (int i = 1; i < 300; ++i) blob += ",7f";
  for (int i = 0; i < 12000; ++i) {
    const std::string key =
        "HKEY_CURRENT_USER\\Software\\K" + std::to_string(i);
    text += "[" + key + "]\r\n\"s\"=\"" + std::to_string(i) + "\"\r\n";
    if (i % 3 == 0) text += "\"b\"=" + blob + "\r\n\"s\"=-\r\n";
    if (i % 1000 == 999) text += "[-" + key + "]\r\n";
  }
  return text;
}

TEST(ReadAhead, TheSinkGetsWhatAPlainReadGivesInOrder) {
  const std::string file = BigFile();
  Log plain, ahead;
  ASSERT_EQ(regfile::ReadRegFile(Bytes(file), "big.reg", plain), "");
  EXPECT_EQ(ReadRegFileAhead(Bytes(file), "big.reg", ahead), "");
  EXPECT_GT(plain.records.size(), 30000u);
  EXPECT_EQ(ahead.records, plain.records);
}

TEST(ReadAhead, AFaultAnywhereWinsOverTheSinksRefusal) {
  const std::string file = BigFile();
  Log refusing(5);
  EXPECT_EQ(ReadRegFileAhead(Bytes(file), "big.reg", refusing), "refused");
  EXPECT_EQ(refusing.records.size(), 5u);

  const std::string faulty = file + "[HKEY_NOWHERE\\X]\r\n";
  const std::string where =
      "big.reg:" +
      std::to_string(std::count(file.begin(), file.end(), '\n') + 1) +
      ": unknown root key 'HKEY_NOWHERE'";
  Log early(5), late;
  EXPECT_EQ(ReadRegFileAhead(Bytes(faulty), "big.reg", early), where);
  EXPECT_EQ(ReadRegFileAhead(Bytes(faulty), "big.reg", late), where);
}

}  // namespace
}  // namespace corvane::platform::emulated
