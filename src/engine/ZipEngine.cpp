#include "engine/ZipEngine.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "engine/EntryNames.h"
#include "engine/FileSystem.h"
#include "engine/SourceTree.h"
#include "engine/TempNames.h"
#include "engine/TreeAccess.h"
#include "engine/ZipDirectory.h"
#include "support/process.h"
#include "support/text.h"

namespace qv {
namespace {

// 7-Zip refuses passwords of this many bytes or more.
constexpr size_t kMaxPasswordBytes = 100;
// Data moves in chunks of this size: AbortCheck is polled between two of them.
constexpr size_t kChunk = size_t{1} << 20;
// Progress is raised at least this often while data moves, even when the
// percentage has not changed, so a handler that pumps UI events keeps the
// dialog alive during a long file.
constexpr auto kProgressHeartbeat = std::chrono::milliseconds(250);

#ifdef _WIN32
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == fs::kSep || folder.back() == '/') return folder + name;
  return folder + fs::kSep + name;
}

std::string ParentOf(const std::string& path) {
  size_t p = path.find_last_of(kWindowsNames ? "\\/" : "/");
  if (p == std::string::npos) return std::string();
  if (p == 0) return path.substr(0, 1);
  return path.substr(0, p);
}

std::string StripTrailingSeparators(std::string s) {
  while (s.size() > 1 && (s.back() == fs::kSep || s.back() == '/')) s.pop_back();
  return s;
}

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct EntryDeleter {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};
using EntryPtr = std::unique_ptr<archive_entry, EntryDeleter>;

// A libarchive writer that never reaches the disk unless it was closed
// successfully: on any other way out (failure, abort, an exception from an
// event handler) it is failed first, so freeing it writes nothing more.
class WriteHandle {
 public:
  WriteHandle() : a_(archive_write_new()) {}
  ~WriteHandle() {
    if (!a_) return;
    if (!closed_) archive_write_fail(a_);
    archive_write_free(a_);
  }
  WriteHandle(const WriteHandle&) = delete;
  WriteHandle& operator=(const WriteHandle&) = delete;
  archive* get() const { return a_; }
  bool Close() {
    closed_ = archive_write_close(a_) == ARCHIVE_OK;
    return closed_;
  }

 private:
  archive* a_;
  bool closed_ = false;
};

class ReadHandle {
 public:
  ReadHandle() : a_(archive_read_new()) {}
  ~ReadHandle() {
    if (a_) archive_read_free(a_);
  }
  ReadHandle(const ReadHandle&) = delete;
  ReadHandle& operator=(const ReadHandle&) = delete;
  archive* get() const { return a_; }

 private:
  archive* a_;
};

// A file written under a temporary name beside its target and renamed over
// it only when complete. Until then the temporary file is removed whatever
// happens: on failure, on an exception unwinding through the engine, and when
// the process ends from inside an event (the cleanup registered here).
class PendingFile {
 public:
  explicit PendingFile(std::string target) : target_(std::move(target)) {}
  ~PendingFile() { Discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool Create() {
    std::string dir = ParentOf(target_);
    // What a killed run left in this folder goes before we add our own.
    static std::set<std::string> cleaned;
    if (cleaned.insert(dir).second) tempnames::RemoveStale(dir.empty() ? "." : dir);
    for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
      temp_ = Join(dir, tempnames::New());
      file_ = fs::CreateNew(temp_);
    }
    if (!file_) return false;
    std::setvbuf(file_, nullptr, _IOFBF, 256 * 1024);
    cleanupId_ = AddCleanup([this] { Drop(); });
    return true;
  }
  std::FILE* file() const { return file_; }
  const std::string& temp() const { return temp_; }

  // Closes the file, gives it its time and puts it in place.
  bool Commit(bool sync, int64_t mtime, bool setTime) {
    if (!file_) return false;
    bool ok = sync ? fs::SyncFile(file_) : std::fflush(file_) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    if (ok && setTime) fs::SetModificationTime(temp_, mtime);
    ok = ok && fs::ReplaceFile(temp_, target_);
    if (ok) {
      temp_.clear();
      Forget();
    }
    return ok;
  }

  void Discard() {
    Drop();
    Forget();
  }

 private:
  void Drop() {
    if (file_) {
      std::fclose(file_);
      file_ = nullptr;
    }
    if (!temp_.empty()) {
      fs::RemoveFile(temp_);
      temp_.clear();
    }
  }
  void Forget() {
    if (cleanupId_) {
      RemoveCleanup(cleanupId_);
      cleanupId_ = 0;
    }
  }

  std::string target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  int cleanupId_ = 0;
};

la_ssize_t WriteToPending(archive* a, void* client, const void* buffer, size_t length) {
  auto* pending = static_cast<PendingFile*>(client);
  std::FILE* f = pending->file();
  if (!f || std::fwrite(buffer, 1, length, f) != length) {
    archive_set_error(a, EIO, "écriture impossible (disque plein ?)");
    return -1;
  }
  return static_cast<la_ssize_t>(length);
}

}  // namespace

struct ZipEngine::Impl {
  ZipEngine& owner;
  std::string errorText;
  int32_t codePage = fs::DefaultNameCodePage();
  int32_t level = 6;

  // Writing.
  using Planned = sourcetree::Item;
  bool prepared = false;
  std::string archivePath;
  int32_t cipher = kCipherNone;
  int32_t keyBits = 256;
  std::string archivePassword;
  std::string entryRoot;
  std::vector<Planned> planned;
  std::string collectError;  // the tree could not be read completely
  bool collectAborted = false;

  // Reading.
  bool open = false;
  std::string openPath;
  std::vector<zipdir::Entry> directory;
  std::set<std::string> utf8Names;  // names known to be UTF-8 (flag or Unicode path field)
  std::string extractPassword;
  bool allExtracted = false;  // the last extraction left every entry on disk

  explicit Impl(ZipEngine& o) : owner(o) {}

  // ---- events -------------------------------------------------------------
  bool AskAbort() {
    int32_t abort = 0;
    if (owner.AbortCheck) owner.AbortCheck(abort);
    return abort != 0;
  }

  // Byte-weighted percentage, raised when it changes or when a heartbeat is due.
  class Progress {
   public:
    Progress(Impl& impl, int64_t total) : impl_(impl), total_(std::max<int64_t>(total, 1)) {}
    // False when the handler asked to stop.
    bool Start() { return Raise(0); }
    bool Add(int64_t amount) {
      done_ += amount;
      int32_t pct = static_cast<int32_t>(std::min<int64_t>(99, done_ * 100 / total_));
      auto now = std::chrono::steady_clock::now();
      if (pct > last_ || now - lastTime_ >= kProgressHeartbeat) return Raise(pct);
      return true;
    }
    bool Finish() { return Raise(100); }

   private:
    bool Raise(int32_t pct) {
      pct = std::max(pct, last_);
      last_ = pct;
      lastTime_ = std::chrono::steady_clock::now();
      int32_t abort = 0;
      if (impl_.owner.PercentDone) impl_.owner.PercentDone(pct, abort);
      return abort == 0;
    }
    Impl& impl_;
    int64_t total_;
    int64_t done_ = 0;
    int32_t last_ = 0;
    std::chrono::steady_clock::time_point lastTime_ = std::chrono::steady_clock::now();
  };

  // ---- writing ------------------------------------------------------------
  bool Fail(const std::string& text) {
    errorText = text;
    return false;
  }

  // The name goes in as UTF-16 on Windows: libarchive turns a UTF-8 name into
  // the C runtime's code page first, which has no "’" or "€" and leaves it
  // without a name at all. Through the wide form it converts straight to the
  // UTF-8 that hdrcharset asks for. Elsewhere the name is valid UTF-8 (the
  // collection made it so) and the locale scope makes it convert as such.
  static void SetEntryName(archive_entry* e, const std::string& name) {
#ifdef _WIN32
    std::u16string wide = Utf8ToUtf16(name);
    archive_entry_copy_pathname_w(e, reinterpret_cast<const wchar_t*>(wide.c_str()));
#else
    archive_entry_set_pathname_utf8(e, name.c_str());
#endif
  }

  bool WriteFailed(archive* a) {
    const char* why = archive_error_string(a);
    return Fail("Impossible d'écrire l'archive « " + archivePath + " »" +
                (why ? std::string(" : ") + why : std::string(" (disque plein ?)")) + ".");
  }

  bool WriteArchive() {
    if (!prepared) return Fail("Aucune archive n'a été préparée.");
    if (collectAborted) return Fail("Opération annulée.");
    if (!collectError.empty()) return Fail(collectError);
    bool encrypt = cipher == kCipherAes;
    if (encrypt && archivePassword.empty()) return Fail("Le mot de passe de l'archive est vide.");
    // 7-Zip takes at most 99 bytes of a password: it could not open the archive.
    if (encrypt && archivePassword.size() >= kMaxPasswordBytes)
      return Fail("Le mot de passe est trop long (" + std::to_string(kMaxPasswordBytes) +
                  " octets ou plus en UTF-8) : 7-Zip ne pourrait pas ouvrir l'archive.");
    if (AskAbort()) return Fail("Opération annulée.");

    int64_t total = 0;
    for (const Planned& p : planned) total += p.size + entrynames::kEntryWeight;

    fs::Utf8LocaleScope locale;
    PendingFile out(archivePath);
    if (!out.Create())
      return Fail("Impossible de créer un fichier dans le dossier de « " + archivePath + " ».");
    WriteHandle w;
    archive* a = w.get();
    archive_write_set_format_zip(a);
    archive_write_set_bytes_per_block(a, 64 * 1024);
    archive_write_set_bytes_in_last_block(a, 1);
    std::string levelText = std::to_string(std::clamp(level, 1, 9));
    if (archive_write_set_format_option(a, "zip", "hdrcharset", "UTF-8") != ARCHIVE_OK ||
        archive_write_set_format_option(a, "zip", "compression-level", levelText.c_str()) !=
            ARCHIVE_OK)
      return Fail(std::string("Moteur zip : ") + archive_error_string(a));
    if (encrypt) {
      const char* method = keyBits == 128 ? "aes128" : "aes256";
      if (archive_write_set_format_option(a, "zip", "encryption", method) != ARCHIVE_OK ||
          archive_write_set_passphrase(a, archivePassword.c_str()) != ARCHIVE_OK)
        return Fail("Le chiffrement AES n'est pas disponible.");
    }
    if (archive_write_open2(a, &out, nullptr, WriteToPending, nullptr, nullptr) != ARCHIVE_OK)
      return Fail("Impossible d'écrire l'archive « " + archivePath + " ».");

    Progress progress(*this, total);
    if (!progress.Start()) return Fail("Opération annulée.");
    std::vector<unsigned char> buf(kChunk);
    for (const Planned& p : planned) {
      EntryPtr entry(archive_entry_new());
      SetEntryName(entry.get(), p.name);
      archive_entry_set_mtime(entry.get(), static_cast<time_t>(p.mtime), 0);
      FilePtr in;
      size_t first = 0;
      int64_t size = 0;
      if (p.isDir) {
        archive_entry_set_filetype(entry.get(), AE_IFDIR);
        archive_entry_set_perm(entry.get(), 0755);
      } else {
        std::string why;
        in.reset(fs::OpenRegularFile(p.path, size, why));
        if (!in) return Fail("Impossible de lire le fichier « " + p.path + " » : " + why + ".");
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), size);
        first = std::fread(buf.data(), 1, static_cast<size_t>(std::min<int64_t>(size, kChunk)),
                           in.get());
        if (std::ferror(in.get()))
          return Fail("Impossible de lire le fichier « " + p.path + " ».");
      }
      if (archive_write_header(a, entry.get()) != ARCHIVE_OK)
        return WriteFailed(a);

      int64_t left = size;
      size_t n = first;
      while (!p.isDir) {
        if (n > 0) {
          if (archive_write_data(a, buf.data(), n) != static_cast<la_ssize_t>(n))
            return WriteFailed(a);
          left -= static_cast<int64_t>(n);
          if (!progress.Add(static_cast<int64_t>(n)) || AskAbort())
            return Fail("Opération annulée.");
        }
        if (left <= 0) {
          // A file still growing would be archived cut short, and the folder
          // may be sent to the trash after this run.
          if (std::fgetc(in.get()) != EOF)
            return Fail("Le fichier « " + p.path + " » a changé pendant la compression.");
          break;
        }
        n = std::fread(buf.data(), 1, static_cast<size_t>(std::min<int64_t>(left, kChunk)),
                       in.get());
        if (n == 0)
          return Fail(std::ferror(in.get())
                          ? "Impossible de lire le fichier « " + p.path + " »."
                          : "Le fichier « " + p.path + " » a changé pendant la compression.");
      }
      if (archive_write_finish_entry(a) != ARCHIVE_OK)
        return WriteFailed(a);
      if (!progress.Add(entrynames::kEntryWeight) || AskAbort()) return Fail("Opération annulée.");
    }
    if (!w.Close()) return WriteFailed(a);
    // The folder may be deleted right after this: the archive must be on the disk.
    if (!out.Commit(true, 0, false))
      return Fail("Impossible d'écrire l'archive « " + archivePath + " » (disque plein ?).");
    progress.Finish();
    return true;
  }

  // ---- reading ------------------------------------------------------------
  bool OpenReader(ReadHandle& r, bool withPassword) { return OpenReader(r, withPassword, openPath); }
  bool OpenReader(ReadHandle& r, bool withPassword, const std::string& path) {
    archive* a = r.get();
    archive_read_support_format_zip_seekable(a);
    if (withPassword && !extractPassword.empty())
      archive_read_add_passphrase(a, extractPassword.c_str());
#ifdef _WIN32
    // Names without the UTF-8 flag come through Latin-1, which gives their
    // bytes back unchanged; NameOf decodes them.
    archive_read_set_format_option(a, "zip", "hdrcharset", "ISO-8859-1");
#endif
#ifdef _WIN32
    // The narrow form takes the ANSI code page, not UTF-8.
    std::u16string wide = Utf8ToUtf16(path);
    return archive_read_open_filename_w(a, reinterpret_cast<const wchar_t*>(wide.c_str()),
                                        64 * 1024) == ARCHIVE_OK;
#else
    return archive_read_open_filename(a, path.c_str(), 64 * 1024) == ARCHIVE_OK;
#endif
  }
  // Names stored without the UTF-8 flag: tools on Linux and macOS put UTF-8
  // there anyway (valid UTF-8 with accents is next to impossible in a legacy
  // code page), Windows tools the OEM code page.
  std::string DecodeName(const std::string& raw) const {
    if (entrynames::IsValidUtf8(raw)) return raw;
    return entrynames::DecodeCodePage(raw, codePage);
  }

  std::string NameOf(archive_entry* e) const {
#ifdef _WIN32
    const char* u = archive_entry_pathname_utf8(e);
    if (!u) return std::string();
    if (utf8Names.count(u)) return u;
    std::string raw;
    for (char32_t c : Utf8ToUtf32(u)) raw += static_cast<char>(c <= 0xFF ? c : '?');
    return DecodeName(raw);
#else
    const char* raw = archive_entry_pathname(e);
    if (raw) return DecodeName(raw);
    const char* u = archive_entry_pathname_utf8(e);
    return u ? u : std::string();
#endif
  }

  std::map<std::string, int64_t> CompressedSizes() const {
    std::map<std::string, int64_t> sizes;
    for (const zipdir::Entry& d : directory) {
      std::string n = d.utf8() ? d.rawName : DecodeName(d.rawName);
      sizes.emplace(n, static_cast<int64_t>(d.compressedSize));
    }
    return sizes;
  }

  struct Plan {
    std::string name;
    int type = 0;  // AE_IFREG, AE_IFDIR, or other (refused)
    bool refused = false;
    bool write = false;
    bool present = false;  // skipped because the same file is already there
    std::vector<std::string> parts;
    int64_t size = 0;
    int64_t mtime = 0;
  };

  int32_t Extract(const std::string& folderIn, bool newerOnly) {
    errorText.clear();
    allExtracted = false;
    if (!open) {
      errorText = "Aucune archive n'est ouverte.";
      return kExtractNotOpen;
    }
    std::string folder = StripTrailingSeparators(folderIn);
    // The handlers may close the archive while this runs (the program ending
    // from inside an event): everything needed is taken now.
    const std::string archive = openPath;
    const std::map<std::string, int64_t> compressed = CompressedSizes();
    // Files from a downloaded archive are downloaded files too.
    const std::string zone = fs::ReadZone(archive);
    fs::Utf8LocaleScope locale;

    // First pass: names, types, what is to be written, and the total weight.
    std::vector<Plan> plans;
    const bool empty = directory.empty();  // libarchive does not read an archive without entries
    if (!empty) {
      ReadHandle r;
      if (!OpenReader(r, false, archive)) {
        errorText = "Impossible de lire l'archive « " + archive + " ».";
        return kExtractFailed;
      }
      archive_entry* e = nullptr;
      int rc;
      while ((rc = archive_read_next_header(r.get(), &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
        Plan p;
        p.name = NameOf(e);
        p.type = static_cast<int>(archive_entry_filetype(e));
        p.size = archive_entry_size(e);
        p.mtime = static_cast<int64_t>(archive_entry_mtime(e));
        bool link = archive_entry_hardlink(e) != nullptr || archive_entry_symlink(e) != nullptr;
        p.refused = link || (p.type != AE_IFREG && p.type != AE_IFDIR) ||
                    !entrynames::SafeParts(p.name, kWindowsNames, p.parts);
        if (!p.refused) {
          p.write = true;
          if (newerOnly) {
            fs::Status st = fs::LinkStatus(Join(folder, JoinParts(p.parts)));
            if (p.type == AE_IFREG && st.exists && st.isFile &&
                !entrynames::IsNewer(p.mtime, st.mtime)) {
              p.write = false;
              p.present = st.size == p.size && !entrynames::IsNewer(st.mtime, p.mtime);
            }
            if (p.type == AE_IFDIR && st.isDir) p.write = p.present = false;  // already there
            if (p.type == AE_IFDIR && st.isDir) p.present = true;
          }
        }
        plans.push_back(std::move(p));
      }
      if (rc != ARCHIVE_EOF) {
        errorText = "L'archive « " + archive + " » est endommagée.";
        return kExtractFailed;
      }
    }
    int64_t total = 0;
    for (const Plan& p : plans)
      if (p.write) total += p.size + entrynames::kEntryWeight;

    if (!fs::MakeFolder(folder) && !fs::TargetStatus(folder).isDir) {
      errorText = "Impossible de créer le dossier « " + folder + " ».";
      return kExtractFailed;
    }

    int32_t written = 0;
    int failures = 0;
    std::set<const Plan*> writtenNames;  // the entries this call put on disk
    std::vector<std::pair<std::string, int64_t>> folderTimes;
    Progress progress(*this, total);
    if (!progress.Start() || AskAbort()) return Aborted();

    if (empty) {
      progress.Finish();
      allExtracted = true;
      return 0;
    }
    ReadHandle r;
    if (!OpenReader(r, true, archive)) {
      errorText = "Impossible de lire l'archive « " + archive + " ».";
      return kExtractFailed;
    }
    std::vector<unsigned char> buf(kChunk);
    archive_entry* e = nullptr;
    for (const Plan& p : plans) {
      int rc = archive_read_next_header(r.get(), &e);
      if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) {
        errorText = "L'archive « " + archive + " » est endommagée.";
        return kExtractFailed;
      }
      if (p.refused) {
        ++failures;
        errorText = "Élément refusé (hors du dossier de destination) : « " + p.name + " ».";
        continue;
      }
      if (!p.write) continue;
      int32_t exclude = 0;
      if (owner.ToBeUnzipped) {
        auto c = compressed.find(p.type == AE_IFDIR ? p.name + "/" : p.name);
        if (c == compressed.end()) c = compressed.find(p.name);
        owner.ToBeUnzipped(p.name, c == compressed.end() ? p.size : c->second, p.size, exclude);
      }
      if (exclude != 0) continue;

      std::string target;
      if (!PrepareFolders(folder, p, target)) {
        ++failures;
        continue;
      }
      if (p.type == AE_IFDIR) {
        fs::Status st = fs::LinkStatus(target);
        if (st.isLink || (st.exists && !st.isDir) || !fs::MakeFolder(target)) {
          ++failures;
          errorText = "Impossible de créer le dossier « " + target + " ».";
          continue;
        }
        folderTimes.emplace_back(target, p.mtime);
        ++written;
        writtenNames.insert(&p);
        if (!progress.Add(entrynames::kEntryWeight) || AskAbort()) return Aborted();
        continue;
      }
      if (fs::LinkStatus(target).isDir) {
        ++failures;
        errorText = "Un dossier porte déjà le nom « " + target + " ».";
        continue;
      }
      PendingFile out(target);
      if (!out.Create()) {
        ++failures;
        errorText = "Impossible de créer le fichier « " + target + " ».";
        continue;
      }
      bool ok = true;
      for (;;) {
        la_ssize_t n = archive_read_data(r.get(), buf.data(), buf.size());
        if (n == 0) break;
        if (n < 0) {
          ok = false;
          const char* why = archive_error_string(r.get());
          errorText = "Élément illisible ou endommagé « " + p.name + " »" +
                      (why ? std::string(" : ") + why : std::string()) + ".";
          break;
        }
        if (std::fwrite(buf.data(), 1, static_cast<size_t>(n), out.file()) !=
            static_cast<size_t>(n)) {
          ok = false;
          errorText = "Impossible d'écrire le fichier « " + target + " » (disque plein ?).";
          break;
        }
        if (!progress.Add(n) || AskAbort()) return Aborted();
      }
      if (ok && !out.Commit(false, p.mtime, true)) {
        ok = false;
        errorText = "Impossible d'écrire le fichier « " + target + " » (disque plein ?).";
      }
      if (!ok) {
        out.Discard();
        ++failures;
        continue;
      }
      if (!zone.empty()) {
        // The mark goes on the file in place (a stream does not always follow
        // a rename); writing it touches the file, so its time is set again.
        fs::WriteZone(target, zone);
        fs::SetModificationTime(target, p.mtime);
      }
      ++written;
      writtenNames.insert(&p);
      if (!progress.Add(entrynames::kEntryWeight) || AskAbort()) return Aborted();
    }
    // Folders last, deepest first: writing into a folder changes its time.
    std::sort(folderTimes.begin(), folderTimes.end(),
              [](const auto& x, const auto& y) { return x.first.size() > y.first.size(); });
    for (const auto& [path, mtime] : folderTimes) fs::SetModificationTime(path, mtime);
    if (failures > 0) return kExtractFailed;
    progress.Finish();
    allExtracted = std::all_of(plans.begin(), plans.end(), [&](const Plan& p) {
      return p.present || (p.write && writtenNames.count(&p) != 0);
    });
    return written;
  }

  int32_t Aborted() {
    errorText = "Opération annulée.";
    return kExtractAborted;
  }

  static std::string JoinParts(const std::vector<std::string>& parts) {
    std::string s;
    for (const std::string& p : parts) {
      if (!s.empty()) s += fs::kSep;
      s += p;
    }
    return s;
  }

  // Creates the folders on the way to an entry; refuses to go through a link
  // or anything that is not a folder, so nothing can land outside `folder`.
  bool PrepareFolders(const std::string& folder, const Plan& p, std::string& target) {
    std::string path = folder;
    for (size_t i = 0; i + 1 < p.parts.size(); ++i) {
      path = Join(path, p.parts[i]);
      fs::Status st = fs::LinkStatus(path);
      if (st.isLink) {
        errorText = "Élément refusé (lien symbolique sur le chemin) : « " + p.name + " ».";
        return false;
      }
      if (st.exists && !st.isDir) {
        errorText = "Un fichier porte déjà le nom du dossier « " + path + " ».";
        return false;
      }
      if (!st.exists && !fs::MakeFolder(path)) {
        errorText = "Impossible de créer le dossier « " + path + " ».";
        return false;
      }
    }
    target = Join(path, p.parts.back());
    return true;
  }

  int32_t CheckPassword() {
    if (directory.empty()) return 1;
    fs::Utf8LocaleScope locale;
    // The smallest non-empty encrypted entry, found by libarchive's own view.
    int64_t bestSize = -1;
    int bestIndex = -1, firstEncrypted = -1;
    {
      ReadHandle r;
      if (!OpenReader(r, false)) return 0;
      archive_entry* e = nullptr;
      int index = 0;
      int rc;
      while ((rc = archive_read_next_header(r.get(), &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
        if (archive_entry_is_data_encrypted(e)) {
          if (firstEncrypted < 0) firstEncrypted = index;
          int64_t size = archive_entry_size(e);
          if (size > 0 && (bestSize < 0 || size < bestSize)) {
            bestSize = size;
            bestIndex = index;
          }
        }
        ++index;
      }
      if (rc != ARCHIVE_EOF) return 0;
    }
    // Nothing encrypted: any password opens it. Only empty encrypted entries:
    // nothing secret to protect, but their own check must still pass.
    if (firstEncrypted < 0) return 1;
    if (bestIndex < 0) bestIndex = firstEncrypted;
    ReadHandle r;
    if (!OpenReader(r, true)) return 0;
    archive_entry* e = nullptr;
    for (int i = 0; i <= bestIndex; ++i) {
      int rc = archive_read_next_header(r.get(), &e);
      if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) return 0;
    }
    // Reading to the end is what checks the CRC (ZipCrypto) or the
    // authentication code (AES): a wrong password that passes the one-byte
    // check still fails here.
    std::vector<unsigned char> buf(64 * 1024);
    for (;;) {
      la_ssize_t n = archive_read_data(r.get(), buf.data(), buf.size());
      if (n == 0) return 1;
      if (n < 0) return 0;
    }
  }
};

ZipEngine::ZipEngine() : impl_(std::make_unique<Impl>(*this)) {}
ZipEngine::~ZipEngine() = default;

int32_t ZipEngine::PrepareArchive(const std::string& archivePath) {
  Impl& m = *impl_;
  m.errorText.clear();
  m.prepared = false;
  m.planned.clear();
  m.collectError.clear();
  m.collectAborted = false;
  m.cipher = kCipherNone;
  m.keyBits = 256;
  m.archivePassword.clear();
  m.entryRoot.clear();
  std::string path = StripTrailingSeparators(archivePath);
  if (path.empty() || fs::LinkStatus(path).isDir) {
    m.errorText = "Chemin d'archive invalide : « " + archivePath + " ».";
    return 0;
  }
  // A name the file system cannot hold would only fail at the final rename,
  // once the whole folder has been compressed.
  if (fs::NameTooLong(path)) {
    m.errorText = "Le nom de l'archive « " + path + " » est trop long pour le système de fichiers.";
    return 0;
  }
  // The folder must take a new file: try one now rather than fail at the end.
  {
    PendingFile probe(path);
    if (!probe.Create()) {
      m.errorText = "Impossible de créer un fichier dans le dossier de « " + path + " ».";
      return 0;
    }
  }
  m.archivePath = path;
  m.prepared = true;
  return 1;
}

std::string ZipEngine::ErrorText() const { return impl_->errorText; }
void ZipEngine::SetCipher(int32_t method) { impl_->cipher = method; }
void ZipEngine::SetKeyBits(int32_t bits) { impl_->keyBits = bits; }
void ZipEngine::SetArchivePassword(const std::string& password) {
  impl_->archivePassword = password;
}
void ZipEngine::SetEntryRoot(const std::string& folder) {
  impl_->entryRoot = sourcetree::WithoutTrailingSeparators(folder);
}

int32_t ZipEngine::AddTree(const std::string& pattern, int32_t recurse) {
  Impl& m = *impl_;
  m.errorText.clear();
  size_t cut = pattern.find_last_of(kWindowsNames ? "\\/" : "/");
  std::string folder = cut == std::string::npos ? std::string(".") : pattern.substr(0, cut + 1);
  std::string mask = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
  if (mask.empty()) mask = "*";
  // "D:\" and "/" keep their separator: "D:" alone is the current folder of D.
  folder = sourcetree::WithoutTrailingSeparators(folder);
  std::string error;
  fs::Lookup top = fs::Look(folder, true);
  if (top.kind == fs::Lookup::kFailed)
    error = "Impossible d'examiner le dossier « " + folder + " » : " + top.reason + ".";
  else if (!top.status.isDir)
    error = "Le dossier « " + folder + " » est introuvable.";
  if (!error.empty()) {
    m.collectError = m.errorText = error;
    return 0;
  }
  sourcetree::Request request;
  request.folder = folder;
  request.prefix = sourcetree::PrefixUnder(folder, m.entryRoot);
  request.mask = mask;
  request.recurse = recurse != 0;
  fs::Identity archiveFolder;
  if (m.prepared && fs::FolderIdentity(sourcetree::FolderOf(m.archivePath), archiveFolder)) {
    request.archiveFolder = archiveFolder;
    request.archivePath = m.archivePath;
  }
  sourcetree::Events events;
  events.abort = [&m] { return m.AskAbort(); };
  events.include = [this](const std::string& path, int64_t size) {
    int32_t exclude = 0;
    if (ToBeAdded) ToBeAdded(path, size, exclude);
    return exclude == 0;
  };
  switch (sourcetree::Collect(request, events, m.planned, error)) {
    case sourcetree::Outcome::kDone: return 1;
    case sourcetree::Outcome::kAborted:
      m.collectAborted = true;
      m.errorText = "Opération annulée.";
      return 0;
    case sourcetree::Outcome::kFailed: break;
  }
  // The write that follows fails for the same reason: never a partial archive.
  m.collectError = m.errorText = error;
  return 0;
}

int32_t ZipEngine::WriteAndClose() {
  Impl& m = *impl_;
  m.errorText.clear();
  bool ok = m.WriteArchive();
  // Whatever happened, this archive is finished with.
  m.prepared = false;
  m.planned.clear();
  if (WriteZipEnd) WriteZipEnd();
  return ok ? 1 : 0;
}

int32_t ZipEngine::OpenArchive(const std::string& archivePath) {
  Impl& m = *impl_;
  CloseArchive();
  m.errorText.clear();
  std::vector<zipdir::Entry> dir;
  if (!fs::TargetStatus(archivePath).isFile || !zipdir::Read(archivePath, dir)) {
    m.errorText = "Le fichier « " + archivePath + " » n'est pas une archive zip lisible.";
    return 0;
  }
  m.openPath = archivePath;
  fs::Utf8LocaleScope locale;
  ReadHandle r;
  if (!dir.empty() && !m.OpenReader(r, false)) {
    m.errorText = "Le fichier « " + archivePath + " » n'est pas une archive zip lisible.";
    m.openPath.clear();
    return 0;
  }
  m.directory = std::move(dir);
  m.utf8Names.clear();
  for (const zipdir::Entry& d : m.directory) {
    if (d.utf8()) m.utf8Names.insert(d.rawName);
    if (!d.unicodePath.empty()) m.utf8Names.insert(d.unicodePath);
  }
  m.open = true;
  return 1;
}

int32_t ZipEngine::HasProtectedEntries() {
  for (const zipdir::Entry& e : impl_->directory)
    if (e.encrypted()) return 1;
  return 0;
}

int32_t ZipEngine::ArchiveCipher() {
  int32_t cipher = kCipherNone;
  for (const zipdir::Entry& e : impl_->directory) {
    if (e.aes()) return kCipherAes;
    if (e.encrypted()) cipher = kCipherZipCrypto;
  }
  return cipher;
}

void ZipEngine::SetExtractPassword(const std::string& password) {
  impl_->extractPassword = password;
}

int32_t ZipEngine::PasswordMatches() {
  if (!impl_->open) return 0;
  return impl_->CheckPassword();
}

int32_t ZipEngine::ExtractNewer(const std::string& folder) {
  int32_t r = impl_->Extract(folder, true);
  if (UnzipEnd) UnzipEnd();
  return r;
}

int32_t ZipEngine::ExtractAll(const std::string& folder) {
  int32_t r = impl_->Extract(folder, false);
  if (UnzipEnd) UnzipEnd();
  return r;
}

void ZipEngine::CloseArchive() {
  // An extraction in progress reads through its own handles, so this is safe
  // even from inside one of its events.
  impl_->open = false;
  impl_->openPath.clear();
  impl_->directory.clear();
  impl_->utf8Names.clear();
}

int64_t ZipEngine::EntryCount() const {
  return impl_->open ? static_cast<int64_t>(impl_->directory.size()) : 0;
}

int32_t ZipEngine::AllEntriesExtracted() const { return impl_->allExtracted ? 1 : 0; }

int32_t ZipEngine::NameCodePage() const { return impl_->codePage; }
void ZipEngine::NameCodePage(int32_t codePage) { impl_->codePage = codePage; }
int32_t ZipEngine::CompressionLevel() const { return impl_->level; }
void ZipEngine::CompressionLevel(int32_t level) { impl_->level = std::clamp(level, 1, 9); }

}  // namespace qv
