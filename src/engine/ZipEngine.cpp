#include "engine/ZipEngine.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "engine/EntryNames.h"
#include "engine/FileSystem.h"
#include "engine/SourceTree.h"
#include "engine/TempNames.h"
#include "engine/TreeAccess.h"
#include "engine/Extractor.h"
#include "engine/PathText.h"
#include "engine/PendingFile.h"
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

using pathtext::FilePtr;
using pathtext::kWindowsNames;
using pathtext::Join;
using pathtext::StripTrailingSeparators;

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
  int32_t threads = 0;

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
  std::shared_ptr<const reading::OpenedArchive> opened;
  std::string openFailure;  // why the last OpenArchive refused the archive
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
  int32_t Extract(const std::string& folder, bool newerOnly) {
    errorText.clear();
    allExtracted = false;
    if (!opened) {
      errorText = openFailure.empty() ? "Aucune archive n'est ouverte." : openFailure;
      return kExtractNotOpen;
    }
    std::optional<Progress> progress;
    reading::Hooks hooks;
    hooks.abortRequested = [this] { return AskAbort(); };
    hooks.begin = [&](int64_t total) {
      progress.emplace(*this, total);
      return progress->Start();
    };
    hooks.advance = [&](int64_t amount) { return progress->Add(amount); };
    hooks.finish = [&] { progress->Finish(); };
    hooks.toBeUnzipped = owner.ToBeUnzipped;
    // The handlers may close the archive while this runs (the program ending
    // from inside an event): the extraction holds its own reference.
    int workers = threads;
    if (workers == 0) workers = static_cast<int>(std::min(16u, std::thread::hardware_concurrency()));
    reading::Outcome o = reading::Extract(opened, folder, newerOnly, extractPassword, codePage,
                                          std::max(workers, 1), hooks);
    errorText = o.errorText;
    allExtracted = o.allExtracted;
    return o.result;
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
  m.openFailure.clear();
  m.allExtracted = false;
  std::string why;
  if (fs::TargetStatus(archivePath).isFile) m.opened = reading::Open(archivePath, why);
  if (!m.opened) {
    // A reason that names an entry is given as it is; without a directory
    // the file is simply not a zip archive we can read.
    bool named = why.find("élément") != std::string::npos;
    m.errorText = named ? why
                        : "Le fichier « " + archivePath + " » n'est pas une archive zip lisible.";
    m.openFailure = m.errorText;
    return 0;
  }
  return 1;
}

int32_t ZipEngine::HasProtectedEntries() {
  if (!impl_->opened) return 0;
  for (const zipdir::Entry& e : impl_->opened->directory.entries)
    if (e.encrypted()) return 1;
  return 0;
}

int32_t ZipEngine::ArchiveCipher() {
  if (!impl_->opened) return kCipherNone;
  int32_t cipher = kCipherNone;
  for (const zipdir::Entry& e : impl_->opened->directory.entries) {
    if (e.aes()) return kCipherAes;
    if (e.encrypted()) cipher = kCipherZipCrypto;
  }
  return cipher;
}

void ZipEngine::SetExtractPassword(const std::string& password) {
  impl_->extractPassword = password;
}

int32_t ZipEngine::PasswordMatches() {
  if (!impl_->opened) return 0;
  return reading::PasswordOpens(*impl_->opened, impl_->extractPassword);
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
  // An extraction in progress holds the archive itself, so this is safe even
  // from inside one of its events.
  impl_->opened.reset();
}

int64_t ZipEngine::EntryCount() const {
  return impl_->opened ? static_cast<int64_t>(impl_->opened->directory.entries.size()) : 0;
}

int32_t ZipEngine::AllEntriesExtracted() const { return impl_->allExtracted ? 1 : 0; }

int32_t ZipEngine::NameCodePage() const { return impl_->codePage; }
void ZipEngine::NameCodePage(int32_t codePage) { impl_->codePage = codePage; }
int32_t ZipEngine::CompressionLevel() const { return impl_->level; }
void ZipEngine::CompressionLevel(int32_t level) { impl_->level = std::clamp(level, 1, 9); }
int32_t ZipEngine::Threads() const { return impl_->threads; }
void ZipEngine::Threads(int32_t count) { impl_->threads = std::clamp(count, 0, 16); }

}  // namespace qv
