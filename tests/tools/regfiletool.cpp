// regfiletool: .reg files loaded, saved and looked into from the command line,
// for
// the shell tests that trade .reg files with Wine.
//
//   regfiletool resave IN OUT        load IN (any .reg), save it as OUT
//   regfiletool dump FILE [KEY]      keys and values, values sorted by name, as
//                                 text that compares across exporters
//   regfiletool export FILE KEY OUT  the subtree KEY of FILE alone, as regedit
//                                 exports one key
//   regfiletool sample OUT KEY       a .reg file whose subtree KEY holds every
//   type
//                                 and awkward names and data
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "base/RegistryNames.h"
#include "base/Unicode.h"
#include "base/ValueTypes.h"
#include "regfile/RegFile.h"
#include "tools/RegTree.h"

using namespace corvane::base;
using corvane::regfile::ReadRegFile;
using corvane::regfile::RegSink;
using corvane::regfile::RegWriter;
using corvane::tools::RegTree;
using corvane::tools::RegTreeKey;
using corvane::tools::RegTreeValue;
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

void Load(const char* path, RegTree& tree) {
  const std::string bytes = Slurp(path);
  const std::string err = tree.Read(Span(bytes), path);
  if (!err.empty()) {
    std::cerr << err << "\n";
    std::exit(1);
  }
}

void Save(const RegTree& tree, const char* path) {
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

void Dump(const RegTreeKey& key, const std::u16string& path,
          std::ostream& out) {
  out << "[" << Show(path) << "]\n";
  std::vector<const RegTreeValue*> values;
  for (const RegTreeValue& v : key.Values()) values.push_back(&v);
  std::sort(values.begin(), values.end(), [](auto* a, auto* b) {
    return CompareNames(a->name, b->name) < 0;
  });
  for (const RegTreeValue* v : values) {
    out << "  \"" << Show(v->name) << "\" " << v->type << " ";
    char buf[4];
    for (BYTE b : v->data)
      std::snprintf(buf, sizeof buf, "%02x", b), out << buf;
    out << "\n";
  }
  for (const RegTreeKey* child : key.Children()) {
    Dump(*child, Join(path, child->Name()), out);
  }
}

void Export(const RegTreeKey& key, const std::u16string& path, RegWriter& w) {
  w.Key(path);
  for (const RegTreeValue& v : key.Values()) w.Value(v.name, v.type, v.data);
  for (const RegTreeKey* child : key.Children()) {
    Export(*child, Join(path, child->Name()), w);
  }
}

// UTF-16LE with its terminator.
std::vector<BYTE> Le(std::u16string_view s) {
  std::vector<BYTE> b;
  for (char16_t c : s) b.push_back(BYTE(c)), b.push_back(BYTE(c >> 8));
  b.push_back(0), b.push_back(0);
  return b;
}

// Values in sorted name order, so that a file written from this tree and
// the same subtree exported by `reg export` (which sorts) can match byte
// for byte.
void Sample(RegTreeKey& k) {
  std::vector<BYTE> big(300);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = BYTE(i * 13);
  k.SetValue(u"", kRegSz, Le(u"default"));
  k.SetValue(u"binary", kRegBinary, big);
  k.SetValue(u"binary empty", kRegBinary, {});
  k.SetValue(u"dword", kRegDword, {0x78, 0x56, 0x34, 0x12});
  k.SetValue(u"dword big endian", kRegDwordBigEndian, {1, 2, 3, 4});
  k.SetValue(u"expand", kRegExpandSz, Le(u"%SystemRoot%\\system32;%PATH%"));
  k.SetValue(u"multi", kRegMultiSz, Le(std::u16string(u"one\0two\0", 8)));
  k.SetValue(u"none", kRegNone, {0xDE, 0xAD});
  k.SetValue(u"quote \" and \\ backslash", kRegSz,
             Le(u"C:\\Program Files\\\"x\""));
  k.SetValue(u"qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
  k.SetValue(u"string", kRegSz, Le(u"plain text"));
  k.SetValue(u"string empty", kRegSz, Le(u""));
  k.SetValue(Utf8ToUtf16("unicode \xCE\xA9 \xE2\x98\x83 \xF0\x9F\x98\x80"),
             kRegSz,
             Le(Utf8ToUtf16("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 \xE2\x98\x83 "
                            "\xF0\x9F\x98\x80 caf\xC3\xA9")));
  k.CreateChild(u"empty child");
  k.CreateChild(Utf8ToUtf16("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87 \xE2\x98\x83"))
      .SetValue(u"v", kRegDword, {1, 0, 0, 0});
}

int Usage() {
  std::cerr
      << "usage: regfiletool resave IN OUT | dump FILE [KEY] | export FILE "
         "KEY OUT | sample OUT KEY\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string cmd = argv[1];
  RegTree tree;
  if (cmd == "resave" && argc == 4) {
    Load(argv[2], tree);
    Save(tree, argv[3]);
  } else if (cmd == "dump" && (argc == 3 || argc == 4)) {
    Load(argv[2], tree);
    const std::u16string key =
        Utf8ToUtf16(argc == 4 ? argv[3] : "HKEY_CURRENT_USER");
    const RegTreeKey* found = tree.Find(key);
    if (found == nullptr) {
      std::cerr << argv[3] << ": no such key\n";
      return 1;
    }
    Dump(*found, key, std::cout);
  } else if (cmd == "export" && argc == 5) {
    Load(argv[2], tree);
    const std::u16string key = Utf8ToUtf16(argv[3]);
    const RegTreeKey* found = tree.Find(key);
    if (found == nullptr) {
      std::cerr << argv[3] << ": no such key\n";
      return 1;
    }
    RegWriter w;
    Export(*found, key, w);
    Spit(argv[4], w.Finish());
  } else if (cmd == "sample" && argc == 4) {
    RegTreeKey* key = tree.Create(Utf8ToUtf16(argv[3]));
    if (key == nullptr) {
      std::cerr << argv[3] << ": unknown root key\n";
      return 1;
    }
    Sample(*key);
    Save(tree, argv[2]);
  } else {
    return Usage();
  }
  return 0;
}
