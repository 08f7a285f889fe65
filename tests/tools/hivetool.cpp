// hivetool: .reg hives loaded, saved and looked into from the command line, for
// the shell tests that trade .reg files with Wine and for timing the reader.
//
//   hivetool resave IN OUT        load IN (any .reg), save it as OUT
//   hivetool dump FILE [KEY]      keys and values, values sorted by name, as
//                                 text that compares across exporters
//   hivetool export FILE KEY OUT  the subtree KEY of FILE alone, as regedit
//                                 exports one key
//   hivetool sample OUT KEY [--no-odd]
//                                 a hive whose subtree KEY holds every type
//                                 and awkward names and data
//   hivetool generate OUT KEYS    a hive of KEYS keys with a few values each
//   hivetool time FILE [ROUNDS]   parse speed of FILE in MB/s
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/RegistryNames.h"
#include "base/Unicode.h"
#include "base/ValueTypes.h"
#include "regfile/RegFile.h"
#include "tools/HiveTree.h"

using namespace corvane::base;
using corvane::regfile::ReadRegFile;
using corvane::regfile::RegSink;
using corvane::regfile::RegWriter;
using corvane::tools::HiveKey;
using corvane::tools::HiveTree;
using corvane::tools::HiveValue;
using BYTE = std::uint8_t;

namespace {

std::string Slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << path << ": can't open\n";
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(in), {}};
}

void Spit(const char* path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out.flush()) {
    std::cerr << path << ": can't write\n";
    std::exit(2);
  }
}

std::span<const std::uint8_t> Span(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

void Load(const char* path, HiveTree& tree) {
  const std::string bytes = Slurp(path);
  const std::string err = tree.Read(Span(bytes), path);
  if (!err.empty()) {
    std::cerr << err << "\n";
    std::exit(1);
  }
}

void Save(const HiveTree& tree, const char* path) {
  std::string bytes;
  const std::string err = tree.Write(bytes);
  if (!err.empty()) {
    std::cerr << path << ": " << err << "\n";
    std::exit(1);
  }
  Spit(path, bytes);
}

// UTF-16 to printable text: ASCII as is, anything else as <xxxx>.
std::string Show(std::u16string_view s) {
  std::string out;
  char buf[16];
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7F && c != '<') {
      out += char(c);
    } else {
      std::snprintf(buf, sizeof buf, "<%04x>", unsigned(c));
      out += buf;
    }
  }
  return out;
}

std::u16string Join(std::u16string_view path, std::u16string_view name) {
  std::u16string r(path);
  r += u'\\';
  r += name;
  return r;
}

void Dump(const HiveKey& key, const std::u16string& path, std::ostream& out) {
  out << "[" << Show(path) << "]\n";
  std::vector<const HiveValue*> values;
  for (const HiveValue& v : key.Values()) values.push_back(&v);
  std::sort(values.begin(), values.end(), [](auto* a, auto* b) {
    return CompareNames(a->name, b->name) < 0;
  });
  for (const HiveValue* v : values) {
    out << "  \"" << Show(v->name) << "\" " << v->type << " ";
    char buf[4];
    for (BYTE b : v->data)
      std::snprintf(buf, sizeof buf, "%02x", b), out << buf;
    out << "\n";
  }
  for (const HiveKey* child : key.Children()) {
    Dump(*child, Join(path, child->Name()), out);
  }
}

void Export(const HiveKey& key, const std::u16string& path, RegWriter& w) {
  w.Key(path);
  for (const HiveValue& v : key.Values()) w.Value(v.name, v.type, v.data);
  for (const HiveKey* child : key.Children()) {
    Export(*child, Join(path, child->Name()), w);
  }
}

std::vector<BYTE> Le(std::u16string_view s, bool terminate = true) {
  std::vector<BYTE> b;
  for (char16_t c : s) b.push_back(BYTE(c)), b.push_back(BYTE(c >> 8));
  if (terminate) b.push_back(0), b.push_back(0);
  return b;
}

// Values in sorted name order, so that a file written from this tree and
// the same subtree exported by `reg export` (which sorts) can match byte
// for byte.
// `odd` adds the values whose data no quoted string or dword can carry
// (Wine's importer rewrites those; ours keeps them).
void Sample(HiveKey& k, bool odd) {
  std::vector<BYTE> big(300);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = BYTE(i * 13);
  k.SetValue(u"", kRegSz, Le(u"default"));
  k.SetValue(u"binary", kRegBinary, big);
  k.SetValue(u"binary empty", kRegBinary, {});
  k.SetValue(u"dword", kRegDword, {0x78, 0x56, 0x34, 0x12});
  k.SetValue(u"dword big endian", kRegDwordBigEndian, {1, 2, 3, 4});
  if (odd) k.SetValue(u"dword short", kRegDword, {1, 2});
  k.SetValue(u"expand", kRegExpandSz, Le(u"%SystemRoot%\\system32;%PATH%"));
  k.SetValue(u"multi", kRegMultiSz, Le(std::u16string(u"one\0two\0", 8)));
  k.SetValue(u"none", kRegNone, {0xDE, 0xAD});
  k.SetValue(u"quote \" and \\ backslash", kRegSz,
             Le(u"C:\\Program Files\\\"x\""));
  k.SetValue(u"qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  k.SetValue(u"string", kRegSz, Le(u"plain text"));
  k.SetValue(u"string empty", kRegSz, Le(u""));
  if (odd) {
    k.SetValue(u"string odd size", kRegSz, {0x41, 0x00, 0x42});
    k.SetValue(u"string unterminated", kRegSz, Le(u"abc", false));
  }
  k.SetValue(Utf8ToUtf16("unicode \xCE\xA9 \xE2\x98\x83 \xF0\x9F\x98\x80"),
             kRegSz,
             Le(Utf8ToUtf16("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 \xE2\x98\x83 "
                            "\xF0\x9F\x98\x80 caf\xC3\xA9")));
  k.CreateChild(u"empty child");
  k.CreateChild(Utf8ToUtf16("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 \xE2\x98\x83"))
      .SetValue(u"v", kRegDword, {1, 0, 0, 0});
}

void Generate(HiveTree& tree, long keys) {
  HiveKey* sw = tree.Create(u"HKEY_CURRENT_USER\\Software");
  HiveKey* group = nullptr;
  for (long i = 0; i < keys; ++i) {
    if (i % 100 == 0) {
      std::string g = "Group ";
      g += std::to_string(i / 100);
      group = &sw->CreateChild(std::u16string(g.begin(), g.end()));
    }
    std::string n = "{";
    n += std::to_string(100000000 + i * 7919);
    n += "-1111-2222-3333-444455556666}";
    HiveKey& k = group->CreateChild(std::u16string(n.begin(), n.end()));
    k.SetValue(u"", kRegSz, Le(u"Some component name"));
    k.SetValue(u"AuthenticationLevel", kRegDword, {1, 0, 0, 0});
    k.SetValue(u"AppID", kRegSz, Le(std::u16string(n.begin(), n.end())));
    std::vector<BYTE> blob(48);
    for (std::size_t j = 0; j < blob.size(); ++j) blob[j] = BYTE(i + j);
    k.SetValue(u"LaunchPermission", kRegBinary, blob);
  }
}

int Usage() {
  std::cerr
      << "usage: hivetool resave IN OUT | dump FILE [KEY] | export FILE "
         "KEY OUT | sample OUT KEY [--no-odd] | generate OUT KEYS | time FILE "
         "[ROUNDS]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  HiveTree tree;
  if (cmd == "resave" && argc == 4) {
    Load(argv[2], tree);
    Save(tree, argv[3]);
  } else if (cmd == "dump" && (argc == 3 || argc == 4)) {
    Load(argv[2], tree);
    const std::u16string key =
        Utf8ToUtf16(argc == 4 ? argv[3] : "HKEY_CURRENT_USER");
    const HiveKey* found = tree.Find(key);
    if (found == nullptr) {
      std::cerr << argv[3] << ": no such key\n";
      return 1;
    }
    Dump(*found, key, std::cout);
  } else if (cmd == "export" && argc == 5) {
    Load(argv[2], tree);
    const std::u16string key = Utf8ToUtf16(argv[3]);
    const HiveKey* found = tree.Find(key);
    if (found == nullptr) {
      std::cerr << argv[3] << ": no such key\n";
      return 1;
    }
    RegWriter w;
    Export(*found, key, w);
    Spit(argv[4], w.Finish());
  } else if (cmd == "sample" && (argc == 4 || argc == 5)) {
    HiveKey* key = tree.Create(Utf8ToUtf16(argv[3]));
    if (key == nullptr) {
      std::cerr << argv[3] << ": unknown root key\n";
      return 1;
    }
    Sample(*key, !(argc == 5 && std::strcmp(argv[4], "--no-odd") == 0));
    Save(tree, argv[2]);
  } else if (cmd == "generate" && argc == 4) {
    Generate(tree, std::atol(argv[3]));
    Save(tree, argv[2]);
  } else if (cmd == "time" && (argc == 3 || argc == 4)) {
    const std::string bytes = Slurp(argv[2]);
    const int rounds = argc == 4 ? std::atoi(argv[3]) : 5;
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
      HiveTree fresh;
      const auto t0 = std::chrono::steady_clock::now();
      const std::string err = fresh.Read(Span(bytes), argv[2]);
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
              .count();
      if (!err.empty()) {
        std::cerr << err << "\n";
        return 1;
      }
      best = std::min(best, s);
    }
    struct Null : RegSink {
      std::string OnKey(std::u16string_view) override { return {}; }
      std::string OnDeleteKey(std::u16string_view) override { return {}; }
      std::string OnValue(std::u16string_view, std::uint32_t,
                          std::span<const std::uint8_t>) override {
        return {};
      }
      std::string OnDeleteValue(std::u16string_view) override { return {}; }
    } null;
    double parse = 1e30;
    for (int i = 0; i < rounds; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      ReadRegFile(Span(bytes), argv[2], null);
      parse = std::min(parse, std::chrono::duration<double>(
                                  std::chrono::steady_clock::now() - t0)
                                  .count());
    }
    std::printf("%.1f MB: load into tree %.1f MB/s, reader alone %.1f MB/s\n",
                bytes.size() / 1e6, bytes.size() / 1e6 / best,
                bytes.size() / 1e6 / parse);
  } else {
    return Usage();
  }
  return 0;
}
