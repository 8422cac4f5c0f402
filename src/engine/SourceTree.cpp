#include "engine/SourceTree.h"

#include <algorithm>
#include <set>

#include "engine/EntryNames.h"
#include "support/text.h"

namespace qv::sourcetree {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

bool IsSep(char c) { return c == fs::kSep || c == '/'; }

bool IsDriveRoot(const std::string& p) {
  return kWindows && p.size() == 3 && p[1] == ':' && IsSep(p[2]);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (IsSep(folder.back())) return folder + name;
  return folder + fs::kSep + name;
}

// "photo.jpg" → "photo (2).jpg"; a leading dot does not start an extension.
std::string Numbered(const std::string& name, int n) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) dot = name.size();
  return name.substr(0, dot) + " (" + std::to_string(n) + ")" + name.substr(dot);
}

class Walker {
 public:
  Walker(const Request& r, const Events& e, std::vector<Item>& items, std::string& error)
      : r_(r), e_(e), items_(items), error_(error) {}

  Outcome Run() {
    if (fs::IsVolumeRoot(r_.folder))
      return Fail("Le dossier « " + r_.folder +
                  " » est la racine d'un disque entier : il ne peut pas être compressé.");
    if (!OutsideArchiveFolder(r_.folder)) return Outcome::kFailed;
    return Walk(r_.folder, r_.prefix);
  }

 private:
  Outcome Fail(std::string why) {
    error_ = std::move(why);
    return Outcome::kFailed;
  }

  // Identities, not texts: "/data/x//", a link or a bind mount may all name
  // the folder the archive goes to.
  bool OutsideArchiveFolder(const std::string& folder) {
    fs::Identity id;
    if (!r_.archiveFolder || !fs::FolderIdentity(folder, id) || !(id == *r_.archiveFolder))
      return true;
    Fail("L'archive « " + r_.archivePath + " » serait écrite dans le dossier à compresser « " +
         folder + " ».");
    return false;
  }

  Outcome Walk(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    std::string why;
    if (!fs::ListNames(folder, names, why))
      return Fail("Impossible de lire le dossier « " + folder + " » : " + why + ".");
    std::sort(names.begin(), names.end());
    std::vector<std::string> entries = EntryNames(names);
    for (size_t i = 0; i < names.size(); ++i) {
      if (++sinceCheck_ >= 64) {
        sinceCheck_ = 0;
        if (e_.abort && e_.abort()) return Outcome::kAborted;
      }
      const std::string path = Join(folder, names[i]);
      fs::Lookup l = fs::Look(path, false);
      if (l.kind == fs::Lookup::kAbsent) continue;  // removed since the listing
      if (l.kind == fs::Lookup::kFailed)
        return Fail("Impossible d'examiner « " + path + " » : " + l.reason + ".");
      fs::Status st = l.status;
      if (st.isLink) {
        fs::Lookup t = fs::Look(path, true);
        if (t.kind == fs::Lookup::kFailed)
          return Fail("Impossible d'examiner « " + path + " » : " + t.reason + ".");
        // A dangling link has nothing to read; a link to a folder is not
        // followed (it could loop, or lead to the whole disk).
        if (t.kind == fs::Lookup::kAbsent || !t.status.isFile) continue;
        st = t.status;
      }
      std::string name = prefix.empty() ? entries[i] : prefix + "/" + entries[i];
      if (st.isDir) {
        if (!r_.recurse) continue;
        if (!OutsideArchiveFolder(path)) return Outcome::kFailed;
        items_.push_back({path, name + "/", true, 0, st.mtime});
        Outcome o = Walk(path, name);
        if (o != Outcome::kDone) return o;
      } else if (st.isFile) {
        if (!entrynames::MatchPattern(names[i], r_.mask, kWindows)) continue;
        if (e_.include && !e_.include(path, st.size)) continue;
        items_.push_back({path, name, false, st.size, st.mtime});
      }
      // Anything else (a FIFO, a socket, a device) holds no data to archive,
      // and reading it could wait forever.
    }
    return Outcome::kDone;
  }

  const Request& r_;
  const Events& e_;
  std::vector<Item>& items_;
  std::string& error_;
  int sinceCheck_ = 0;
};

}  // namespace

Outcome Collect(const Request& request, const Events& events, std::vector<Item>& items,
                std::string& error) {
  return Walker(request, events, items, error).Run();
}

std::string ReadableName(std::string_view raw) {
  if (entrynames::IsValidUtf8(raw)) return std::string(raw);
  if (!kWindows) return entrynames::DecodeCodePage(raw, 1252);
  std::u32string cps = Utf8ToUtf32(raw);
  for (char32_t& c : cps)
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
  return Utf32ToUtf8(cps);
}

std::vector<std::string> EntryNames(const std::vector<std::string>& raw) {
  std::vector<std::string> out(raw.size());
  std::set<std::string> taken;
  for (size_t i = 0; i < raw.size(); ++i)
    if (entrynames::IsValidUtf8(raw[i])) taken.insert(out[i] = raw[i]);
  for (size_t i = 0; i < raw.size(); ++i) {
    if (entrynames::IsValidUtf8(raw[i])) continue;
    std::string readable = ReadableName(raw[i]), name = readable;
    for (int n = 2; taken.count(name) != 0; ++n) name = Numbered(readable, n);
    taken.insert(out[i] = name);
  }
  return out;
}

std::string PrefixUnder(const std::string& folder, const std::string& root) {
  std::string r = WithoutTrailingSeparators(root);
  if (r.empty() || folder.size() <= r.size() || folder.compare(0, r.size(), r) != 0) return {};
  if (!IsSep(folder[r.size()]) && !IsSep(r.back())) return {};
  std::string prefix;
  size_t i = r.size();
  while (i < folder.size()) {
    while (i < folder.size() && IsSep(folder[i])) ++i;
    size_t j = i;
    while (j < folder.size() && !IsSep(folder[j])) ++j;
    if (j > i) {
      if (!prefix.empty()) prefix += '/';
      prefix += ReadableName(std::string_view(folder).substr(i, j - i));
    }
    i = j;
  }
  return prefix;
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsSep(path.back()) && !IsDriveRoot(path)) path.pop_back();
  return path;
}

std::string FolderOf(const std::string& path) {
  size_t p = path.find_last_of(kWindows ? "\\/" : "/");
  if (p == std::string::npos) return ".";
  std::string folder = path.substr(0, p + 1);
  return WithoutTrailingSeparators(folder);
}

}  // namespace qv::sourcetree
