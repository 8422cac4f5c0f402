#include "engine/ZipEngine.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <new>
#include <set>
#include <thread>
#include <system_error>
#include <vector>

#include "engine/EntryNames.h"
#include "engine/FileSystem.h"
#include "engine/SourceTree.h"
#include "engine/TempNames.h"
#include "engine/TreeAccess.h"
#include "engine/Extractor.h"
#include "engine/PathText.h"
#include "engine/PackPipeline.h"
#include "engine/PendingFile.h"
#include "engine/ZipDirectory.h"
#include "engine/WinZipAes.h"
#include "engine/ZipWriter.h"
#include "support/process.h"
#include "support/text.h"

namespace qv {
namespace {

// 7-Zip refuses passwords of this many bytes or more.
constexpr size_t kMaxPasswordBytes = 100;
// Progress is raised at least this often while data moves, even when the
// percentage has not changed: the handlers pump the UI's events from it, and
// the caller's thread has no other moment to draw the dialog, take a click
// or answer the desktop (its accessibility bus included) while the workers
// take every core.
constexpr auto kProgressHeartbeat = std::chrono::milliseconds(10);
// How long the writer waits on the workers before it raises the heartbeat and
// polls AbortCheck again: a cancel is seen within this time.
constexpr auto kPieceWait = std::chrono::milliseconds(10);

using pathtext::kWindowsNames;
using pathtext::Join;
using pathtext::StripTrailingSeparators;

}  // namespace

struct ZipEngine::Impl {
  ZipEngine& owner;
  std::string errorText;
  int32_t codePage = fs::DefaultNameCodePage();
  // libdeflate's level 7, measured on the benchmark's corpora against
  // 7-Zip's deflate: level 6 leaves archives 1.2 to 3.4 % larger than 7-Zip's,
  // 7 within about 1 %, 8 and 9 gain a few tenths more for 15 to 25 % more
  // time; and with AES, time goes to the key derivations as much as to deflate.
  int32_t level = 7;
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

    return WriteOwn(total);
  }

  // Waits for the workers' next piece, raising the heartbeat and polling
  // AbortCheck while they are busy. Null when the handler asked to stop.
  std::unique_ptr<packing::Piece> Await(packing::Pipeline& pipeline, Progress& progress) {
    for (;;) {
      if (auto piece = pipeline.Next(kPieceWait)) return piece;
      if (pipeline.Failed()) return nullptr;
      if (!progress.Add(0) || AskAbort()) return nullptr;
    }
  }

  std::string OutOfMemory() const {
    return "Mémoire insuffisante pour écrire l'archive « " + archivePath + " ».";
  }

  bool WriteOwn(int64_t total) {
    PendingFile out(archivePath);
    if (!out.Create())
      return Fail("Impossible de créer un fichier dans le dossier de « " + archivePath + " ».");
    const std::string writeFailed =
        "Impossible d'écrire l'archive « " + archivePath + " » (disque plein ?).";
    const std::string cancelled = "Opération annulée.";
    Progress progress(*this, total);
    if (!progress.Start()) return Fail(cancelled);
    zipwrite::ZipWriter zip(out.file());
    packing::Options options;
    options.level = level;
    options.threads = threads;
    const bool encrypt = cipher == kCipherAes;
    const int bits = keyBits == 128 || keyBits == 192 ? keyBits : 256;
    if (encrypt) {
      options.password = archivePassword;
      options.keyBits = bits;
    }
    // Declared after the file: on every way out (an exception from a handler
    // too) the workers are stopped and joined before the file is discarded.
    packing::Pipeline pipeline(planned, options);
    for (const Planned& p : planned) {
      if (p.isDir) {
        if (!zip.AddFolder(p.name, p.mtime)) return Fail(writeFailed);
        if (!progress.Add(entrynames::kEntryWeight) || AskAbort()) return Fail(cancelled);
        continue;
      }
      std::unique_ptr<packing::Piece> piece = Await(pipeline, progress);
      if (!piece) return Fail(pipeline.Failed() ? OutOfMemory() : cancelled);
      if (!piece->error.empty()) return Fail(piece->error);
      zipwrite::Entry entry;
      entry.name = p.name;
      entry.mtime = p.mtime;
      entry.size = static_cast<uint64_t>(p.size);
      if (encrypt) entry.aesStrength = winzipaes::StrengthCode(bits);
      if (piece->whole) {
        entry.method = piece->method;
        entry.crc = piece->crc;
        entry.compressedSize = piece->data.size();
        if (!zip.Add(entry, piece->data.data())) return Fail(writeFailed);
        if (!progress.Add(p.size)) return Fail(cancelled);
      } else {
        entry.method = zipwrite::kDeflated;
        uint64_t pieces = packing::PieceCount(p.size);
        uint64_t bound = zipwrite::DeflateBound(entry.size, pieces) +
                         (encrypt ? winzipaes::Overhead(bits) : 0);
        if (!zip.Begin(entry, bound)) return Fail(writeFailed);
        // The cipher runs through the whole compressed stream, so the pieces
        // of a large file are encrypted here, in order.
        winzipaes::Encryptor aes;
        if (encrypt) {
          std::vector<uint8_t> head;
          std::string why = packing::StartEncryption(archivePassword, bits, aes, head);
          if (!why.empty()) return Fail(why);
          if (!zip.Append(head.data(), head.size())) return Fail(writeFailed);
        }
        uint32_t crc = static_cast<uint32_t>(crc32(0, Z_NULL, 0));
        for (;;) {
          if (encrypt) aes.Encrypt(piece->data.data(), piece->data.size());
          if (!zip.Append(piece->data.data(), piece->data.size())) return Fail(writeFailed);
          crc = static_cast<uint32_t>(
              crc32_combine(crc, piece->crc, static_cast<z_off_t>(piece->rawSize)));
          if (!progress.Add(static_cast<int64_t>(piece->rawSize)) || AskAbort())
            return Fail(cancelled);
          if (piece->last) break;
          piece = Await(pipeline, progress);
          if (!piece) return Fail(pipeline.Failed() ? OutOfMemory() : cancelled);
          if (!piece->error.empty()) return Fail(piece->error);
        }
        // A file still growing would be archived cut short, and the folder
        // may be sent to the trash after this run.
        if (packing::HasMoreThan(*piece->source, p.size))
          return Fail("Le fichier « " + p.path + " » a changé pendant la compression.");
        if (encrypt) {
          uint8_t mac[winzipaes::kMacBytes];
          if (!aes.Finish(mac)) return Fail("Le chiffrement AES n'est pas disponible.");
          if (!zip.Append(mac, sizeof mac)) return Fail(writeFailed);
        }
        if (!zip.End(crc)) return Fail(writeFailed);
      }
      if (!progress.Add(entrynames::kEntryWeight) || AskAbort()) return Fail(cancelled);
    }
    if (!zip.Finish()) return Fail(writeFailed);
    // The folder may be deleted right after this: the archive must be on the disk.
    if (!out.Commit(true, 0, false)) return Fail(writeFailed);
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
  bool ok = false;
  try {
    ok = m.WriteArchive();
  } catch (const std::bad_alloc&) {
    // The file and the workers are gone with the stack: the old archive stays.
    ok = m.Fail(m.OutOfMemory());
  } catch (const std::system_error&) {
    // Not one worker thread could be started.
    ok = m.Fail(m.OutOfMemory());
  }
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
