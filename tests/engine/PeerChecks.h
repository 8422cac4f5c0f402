// The other zip tools of the machine as judges of an archive: 7-Zip (7zz),
// Info-ZIP (unzip), bsdtar and Python's zipfile. Each check answers an
// AssertionResult carrying the tool's own words, so a failure says what the
// tool found; the tests also prove each check fails on a damaged archive.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ZipTestUtil.h"

#ifndef QV_ZIP_INSPECT
#error "QV_ZIP_INSPECT must name tests/engine/zip_inspect.py"
#endif

namespace qvtest {

inline std::string PasswordOption(const std::string& password) {
  return password.empty() ? std::string() : " -p" + Quote(password);
}

inline ::testing::AssertionResult ToolSays(int status, const std::string& cmd, const std::string& out) {
  if (status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << cmd << " (status " << status << "):\n"
                                       << out.substr(0, 4000);
}

inline ::testing::AssertionResult SevenZipTests(const std::string& archive,
                                                const std::string& password = "") {
  std::string out, cmd = "7zz t" + PasswordOption(password) + " " + Quote(archive) + " </dev/null";
  return ToolSays(Shell(cmd, &out), cmd, out);
}

inline ::testing::AssertionResult UnzipTests(const std::string& archive) {
  std::string out, cmd = "unzip -tq " + Quote(archive);
  return ToolSays(Shell(cmd, &out), cmd, out);
}

inline ::testing::AssertionResult SevenZipExtracts(const std::string& archive, const std::string& dest,
                                                   const std::string& password = "") {
  std::string out, cmd = "7zz x -y" + PasswordOption(password) + " -o" + Quote(dest) + " " +
                         Quote(archive) + " </dev/null";
  return ToolSays(Shell(cmd, &out), cmd, out);
}

inline ::testing::AssertionResult BsdtarExtracts(const std::string& archive, const std::string& dest) {
  stdfs::create_directories(dest);
  std::string out, cmd = "bsdtar -xf " + Quote(archive) + " -C " + Quote(dest);
  return ToolSays(Shell(cmd, &out), cmd, out);
}

inline std::set<std::string> Lines(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

// The names of a tree as its archive must list them: "dir/" for folders.
inline std::set<std::string> EntryNames(const std::map<std::string, std::string>& tree) {
  std::set<std::string> names;
  for (auto& [name, data] : tree) names.insert(name);
  return names;
}

inline ::testing::AssertionResult SameNames(const std::string& tool, const std::set<std::string>& got,
                                            const std::set<std::string>& want) {
  if (got == want) return ::testing::AssertionSuccess();
  auto r = ::testing::AssertionFailure();
  r << tool << " lists other names than the tree's;";
  int shown = 0;
  for (auto& n : want)
    if (!got.count(n) && ++shown <= 10) r << "\n  missing: " << n;
  for (auto& n : got)
    if (!want.count(n) && ++shown <= 20) r << "\n  unexpected: " << n;
  return r;
}

inline ::testing::AssertionResult BsdtarLists(const std::string& archive,
                                              const std::set<std::string>& want) {
  std::string out, cmd = "bsdtar -tf " + Quote(archive);
  if (int status = Shell(cmd + " 2>/dev/null", &out); status != 0) return ToolSays(status, cmd, out);
  return SameNames("bsdtar", Lines(out), want);
}

// Modification times of every file and folder of `a` agree with `b`'s within
// the 2 s of DOS times.
inline ::testing::AssertionResult TimesClose(const std::string& a, const std::string& b) {
  auto r = ::testing::AssertionSuccess();
  bool ok = true;
  for (auto& [rel, data] : Tree(a)) {
    std::string p = rel.back() == '/' ? rel.substr(0, rel.size() - 1) : rel;
    int64_t ta = MTime(a + "/" + p), tb = MTime(b + "/" + p);
    if (std::llabs(ta - tb) > 2) {
      if (ok) r = ::testing::AssertionFailure();
      ok = false;
      r << "\n  " << p << ": " << ta << " against " << tb;
    }
  }
  return r;
}

// What Python's zipfile reads in an archive (see zip_inspect.py).
struct ZipView {
  struct Entry {
    std::string name;
    uint32_t flags = 0, crc = 0;
    uint64_t size = 0, compressed = 0;
    bool zip64Central = false, zip64Local = false, localAgrees = false;
  };
  bool read = false;       // the script could open the archive
  std::string testzip;     // "ok", or what testzip() found
  std::string raw;         // the script's output, for messages
  uint64_t count = 0;      // entries in the directory
  bool zip64End = false;   // a zip64 end record precedes the end record
  std::vector<Entry> entries;

  std::set<std::string> Names() const {
    std::set<std::string> n;
    for (const Entry& e : entries) n.insert(e.name);
    return n;
  }
  const Entry* Find(const std::string& name) const {
    for (const Entry& e : entries)
      if (e.name == name) return &e;
    return nullptr;
  }
};

inline std::string FromHex(const std::string& hex) {
  std::string s;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    s += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return s;
}

// testzip() runs only when `test` (it cannot read encrypted entries).
inline ZipView Inspect(const std::string& archive, bool test = true) {
  ZipView v;
  std::string cmd = std::string("python3 ") + Quote(QV_ZIP_INSPECT) + (test ? " " : " --no-test ") +
                    Quote(archive);
  v.read = Shell(cmd, &v.raw) == 0;
  std::istringstream in(v.raw);
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string kind;
    f >> kind;
    if (kind == "testzip") {
      std::string what, rest;
      f >> what;
      std::getline(f, rest);
      v.testzip = what == "ok" ? what : what + (what == "bad" ? " " + FromHex(rest.substr(1)) : rest);
    } else if (kind == "end") {
      int z64 = 0;
      f >> v.count >> z64;
      v.zip64End = z64 != 0;
    } else if (kind == "entry") {
      ZipView::Entry e;
      std::string hexName;
      int zc = 0, zl = 0, ag = 0;
      f >> std::hex >> e.flags >> std::dec >> e.size >> e.compressed >> std::hex >> e.crc >> std::dec >>
          zc >> zl >> ag >> hexName;
      e.zip64Central = zc;
      e.zip64Local = zl;
      e.localAgrees = ag;
      e.name = FromHex(hexName);
      v.entries.push_back(e);
    }
  }
  return v;
}

// zipfile opens the archive, reads every entry back with its CRC (unless
// encrypted) and decodes the names the tree has: a name stored without the
// UTF-8 flag comes out as code page 437 and fails here.
inline ::testing::AssertionResult ZipfileAgrees(const std::string& archive,
                                                const std::set<std::string>& want,
                                                bool encrypted = false) {
  ZipView v = Inspect(archive, !encrypted);
  if (!v.read) return ::testing::AssertionFailure() << "zipfile cannot read " << archive << ":\n" << v.raw.substr(0, 4000);
  if (!encrypted && v.testzip != "ok")
    return ::testing::AssertionFailure() << "zipfile's testzip(): " << v.testzip;
  if (v.count != want.size())
    return ::testing::AssertionFailure() << "zipfile counts " << v.count << " entries, not " << want.size();
  return SameNames("zipfile", v.Names(), want);
}

}  // namespace qvtest
