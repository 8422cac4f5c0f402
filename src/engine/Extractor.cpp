#include "engine/Extractor.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/AesEntryReader.h"
#include "engine/EntryNames.h"
#include "engine/FileSystem.h"
#include "engine/PathText.h"
#include "engine/PendingFile.h"
#include "engine/WorkerThreads.h"
#include "engine/ZipEngine.h"
#include "support/process.h"
#include "support/text.h"

namespace qv::reading {
namespace {

// Data move in chunks of this size: a stop request is seen between two of
// them, and a stop waits for every worker to end its chunk (a quarter of a
// megabyte takes a few milliseconds, even decrypted on a slow machine).
constexpr size_t kChunk = size_t{1} << 18;

using pathtext::FilePtr;
using pathtext::Join;
using pathtext::kWindowsNames;
using pathtext::StripTrailingSeparators;

// What libarchive reads: the archive's bytes up to its directory, then the
// directory we rebuilt from the entries we validated. libarchive finds the
// end record and walks the directory itself, so this is how it comes to see
// exactly our entries, in the order of their data (its own order).
class VirtualSource {
 public:
  // `tail` (a directory rebuilt for some of the entries) must outlive the source.
  VirtualSource(FilePtr file, uint64_t head, const std::string& tail)
      : file_(std::move(file)),
        head_(head),
        tail_(tail),
        size_(head_ + tail_.size()),
        buffer_(256 * 1024) {
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  }

  static la_ssize_t Read(archive* a, void* self, const void** out) {
    auto* s = static_cast<VirtualSource*>(self);
    if (s->pos_ < s->head_) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(s->buffer_.size(), s->head_ - s->pos_));
      if (!fs::Seek(s->file_.get(), static_cast<int64_t>(s->pos_), SEEK_SET) ||
          std::fread(s->buffer_.data(), 1, n, s->file_.get()) != n) {
        archive_set_error(a, EIO, "read failed");
        return -1;
      }
      *out = s->buffer_.data();
      s->pos_ += n;
      return static_cast<la_ssize_t>(n);
    }
    if (s->pos_ >= s->size_) return 0;
    size_t off = static_cast<size_t>(s->pos_ - s->head_);
    size_t n = std::min(s->tail_.size() - off, s->buffer_.size());
    *out = s->tail_.data() + off;
    s->pos_ += n;
    return static_cast<la_ssize_t>(n);
  }

  static la_int64_t Seek(archive*, void* self, la_int64_t offset, int whence) {
    auto* s = static_cast<VirtualSource*>(self);
    int64_t base = whence == SEEK_SET   ? 0
                   : whence == SEEK_CUR ? static_cast<int64_t>(s->pos_)
                                        : static_cast<int64_t>(s->size_);
    int64_t to = base + offset;
    if (to < 0) return ARCHIVE_FATAL;
    s->pos_ = std::min<uint64_t>(static_cast<uint64_t>(to), s->size_);
    return static_cast<la_int64_t>(s->pos_);
  }

  static la_int64_t Skip(archive*, void* self, la_int64_t request) {
    auto* s = static_cast<VirtualSource*>(self);
    if (request <= 0) return 0;
    uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(request), s->size_ - s->pos_);
    s->pos_ += n;
    return static_cast<la_int64_t>(n);
  }

 private:
  FilePtr file_;
  uint64_t head_;
  const std::string& tail_;
  uint64_t size_;
  uint64_t pos_ = 0;
  std::vector<unsigned char> buffer_;
};

class Reader {
 public:
  Reader() : a_(archive_read_new()) {}
  ~Reader() {
    if (a_) archive_read_free(a_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  archive* get() const { return a_; }

  bool Open(const OpenedArchive& oa, const std::string& password) {
    return Open(oa, oa.rebuiltTail, password);
  }
  // Only the entries `tail` (a directory rebuilt from some of them) lists.
  bool Open(const OpenedArchive& oa, const std::string& tail, const std::string& password) {
    FilePtr f(fs::OpenRead(oa.path));
    if (!f || !a_) return false;
    source_ = std::make_unique<VirtualSource>(std::move(f), oa.directory.directoryStart, tail);
    archive_read_support_format_zip_seekable(a_);
    // Resource forks stay ordinary entries: every entry of ours is seen.
    archive_read_set_format_option(a_, "zip", "mac-ext", nullptr);
    // Names are ours (DecodedName); this only spares libarchive conversions
    // that fail on bytes of another code page.
    archive_read_set_format_option(a_, "zip", "hdrcharset", "ISO-8859-1");
    if (!password.empty()) archive_read_add_passphrase(a_, password.c_str());
    archive_read_set_read_callback(a_, &VirtualSource::Read);
    archive_read_set_seek_callback(a_, &VirtualSource::Seek);
    archive_read_set_skip_callback(a_, &VirtualSource::Skip);
    archive_read_set_callback_data(a_, source_.get());
    return archive_read_open1(a_) == ARCHIVE_OK;
  }

  // The next entry; false at the end or when libarchive cannot go on.
  bool Next(archive_entry*& e, int& rc) {
    rc = archive_read_next_header(a_, &e);
    return rc == ARCHIVE_OK || rc == ARCHIVE_WARN;
  }

 private:
  archive* a_;
  std::unique_ptr<VirtualSource> source_;
};

// Whether libarchive's entry is the one of ours at the same place: for a
// file, the same size. Otherwise the two readers disagree on the archive,
// which is then not extracted.
bool SameEntry(archive_entry* e, const zipdir::Entry& d) {
  if (archive_entry_filetype(e) != AE_IFREG || d.isDir() || d.isLink()) return true;
  return !archive_entry_size_is_set(e) ||
         archive_entry_size(e) == static_cast<int64_t>(d.uncompressedSize);
}

// Whether libarchive makes of the entry what we make of it (a folder, a
// file); a link or a special file in either view is never written.
bool SameType(archive_entry* e, const zipdir::Entry& d) {
  auto type = archive_entry_filetype(e);
  if (d.isLink() || d.isSpecial() || (type != AE_IFREG && type != AE_IFDIR)) return false;
  return (type == AE_IFDIR) == d.isDir();
}

// Reads the current entry's data to the end (which is what checks the CRC
// or the authentication code). False when it does not decrypt or check.
bool ReadThrough(archive* a) {
  std::vector<unsigned char> buf(64 * 1024);
  for (;;) {
    la_ssize_t n = archive_read_data(a, buf.data(), buf.size());
    if (n == 0) return true;
    if (n < 0) return false;
  }
}


// No file system here takes a name longer than 255 units: bytes on Linux,
// UTF-16 code units on Windows. Said as such, rather than as the disk-full
// failure the rename would otherwise report.
bool PartTooLong(const std::string& part) {
  if (kWindowsNames) return Utf8ToUtf16(part).size() > 255;
  return part.size() > 255;
}

// Nor a path longer than its calls take: PATH_MAX (4096 bytes with the
// final NUL) on Linux, 32,767 UTF-16 units behind the "\\?\" prefix on
// Windows. Deeper names could only be made one folder at a time, and no
// other program could open them.
bool PathTooLong(const std::string& folder, const std::vector<std::string>& parts) {
  const size_t limit = kWindowsNames ? 32767 - 4 : 4095;
  auto units = [](const std::string& s) {
    return kWindowsNames ? Utf8ToUtf16(s).size() : s.size();
  };
  size_t length = units(folder);
  for (const std::string& part : parts) {
    length += 1 + units(part);
    if (length > limit) return true;
  }
  return false;
}

struct Plan {
  const zipdir::Entry* entry = nullptr;
  std::string name;
  std::vector<std::string> parts;
  bool isDir = false;
  std::string refusal;  // why it is not written, when it is refused
  bool write = false;
  bool present = false;  // (update only) the same file or the folder is already there
  bool kept = false;     // (update only) not written: what is on disk is as new or newer
  bool written = false;
  int64_t size = 0;
  int64_t mtime = 0;
  bool timeKnown = true;  // false: the entry names no real time, the file keeps the time it is written
  // Set by the worker that had the entry (each plan has one at most).
  std::string error;       // why writing it failed
  std::string folderPath;  // (folders) where it is, for its time at the end
  enum class Broken { no, unreadable, damaged } broken = Broken::no;  // the run cannot go on
};

// Every place on disk the entries' names lead to, as a tree: two names that
// reach one node are one file on disk (each part compared under the file
// system's key). A tree rather than the key of every leading part of each
// name: names thousands of folders deep then cost their length, not its square.
class NameTree {
 public:
  struct Node {
    const Plan* file = nullptr;    // the entry written as a file there
    const Plan* folder = nullptr;  // the first entry that needs a folder there
  };
  NameTree() : nodes_(1) {}
  // The node under `parent` for `part`, made when absent.
  size_t Child(size_t parent, const std::string& part) {
    auto [at, made] = children_.try_emplace({parent, fs::NameKey(part)}, nodes_.size());
    if (made) nodes_.emplace_back();
    return at->second;
  }
  Node& operator[](size_t node) { return nodes_[node]; }

 private:
  std::map<std::pair<size_t, std::string>, size_t> children_;
  std::vector<Node> nodes_;
};

// The chain of folders a worker is in, held open from the destination down:
// going from a/b/c to a/b/d closes c and enters d from b, so each folder is
// walked once however many files it holds, and every step is taken from the
// open folder above it, never by a path a link planted meanwhile could divert.
class FolderWalk {
 public:
  FolderWalk(const fs::Folder& root, bool create) : root_(root), create_(create) {}

  // The folder `depth` parts down `parts`. On failure nullptr, with the
  // failed step and the path it was taken to.
  const fs::Folder* Reach(const std::vector<std::string>& parts, size_t depth, fs::Folder::Step& step,
                          std::string& failedPath) {
    size_t keep = 0;
    while (keep < depth && keep < names_.size() && names_[keep] == parts[keep]) ++keep;
    chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(keep), chain_.end());
    names_.resize(keep);
    for (size_t i = keep; i < depth; ++i) {
      const fs::Folder& from = i == 0 ? root_ : chain_[i - 1];
      fs::Folder next;
      step = from.Enter(parts[i], next, create_);
      if (step != fs::Folder::Step::ok) {
        failedPath = Join(from.path(), parts[i]);
        return nullptr;
      }
      chain_.push_back(std::move(next));
      names_.push_back(parts[i]);
    }
    step = fs::Folder::Step::ok;
    return depth == 0 ? &root_ : &chain_[depth - 1];
  }

 private:
  const fs::Folder& root_;
  bool create_;
  std::vector<std::string> names_;
  std::vector<fs::Folder> chain_;  // chain_[i] is the folder names_[0..i]
};

// Entries handed to one worker together, read by a reader of their own that
// sees only them (a directory rebuilt from just these entries).
struct Batch {
  std::vector<size_t> items;  // plan indices, in the order of the data
  std::string tail;
  int64_t work = 0;
};

// One extraction's workers: each pulls the next batch and writes its
// entries; what each entry came to is left in its plan, so the outcome is
// read in archive order at the end, the same whatever the number of workers.
class Run {
 public:
  // Takes the bytes just written; false when the run is to stop.
  using Progressed = std::function<bool(int64_t)>;

  Run(const OpenedArchive& a, std::vector<Plan>& plans, const fs::Folder& root,
      const std::string& password, const std::string& zone)
      : archive_(a), plans_(plans), root_(root), password_(password), zone_(zone) {}

  std::vector<Batch> batches;  // handed out the largest first, so no large one is left for the end
  std::atomic<bool> stop{false};

  // Works until no batch is left or the run is to stop.
  void Work(const Progressed& progressed) {
    fs::Utf8LocaleScope locale;  // libarchive's conversions follow the thread's locale
    std::vector<unsigned char> buf(kChunk);
    FolderWalk walk(root_, true);
    FilePtr archiveFile;  // for the AES entries, which we read ourselves
    while (!stop) {
      size_t b = next_.fetch_add(1);
      if (b >= batches.size()) return;
      const Batch& batch = batches[b];
      Reader r;
      if (!r.Open(archive_, batch.tail, password_)) {
        Broke(plans_[batch.items.front()], Plan::Broken::unreadable);
        return;
      }
      archive_entry* e = nullptr;
      int rc = 0;
      for (size_t i : batch.items) {
        if (stop) return;
        Plan& p = plans_[i];
        if (!r.Next(e, rc) || !SameEntry(e, *p.entry)) {
          Broke(p, Plan::Broken::damaged);
          return;
        }
        if (!WriteEntry(p, r.get(), walk, buf, progressed, archiveFile)) {
          stop = true;
          return;
        }
      }
    }
  }

 private:
  void Broke(Plan& p, Plan::Broken why) {
    p.broken = why;
    stop = true;
  }

  // False when the run is to stop; what the entry came to is in its plan.
  bool WriteEntry(Plan& p, archive* r, FolderWalk& walk, std::vector<unsigned char>& buf,
                  const Progressed& progressed, FilePtr& archiveFile) {
    fs::Folder::Step step{};
    std::string stepPath;
    const fs::Folder* at =
        walk.Reach(p.parts, p.isDir ? p.parts.size() : p.parts.size() - 1, step, stepPath);
    if (!at) {
      switch (step) {
        case fs::Folder::Step::link:
          p.error = "Élément refusé (lien symbolique sur le chemin) : « " + p.name + " ».";
          break;
        case fs::Folder::Step::notFolder:
          p.error = "Un fichier porte déjà le nom du dossier « " + stepPath + " ».";
          break;
        default:
          p.error = "Impossible de créer le dossier « " + stepPath + " ».";
          break;
      }
      return true;
    }
    if (p.isDir) {
      p.folderPath = at->path();
      p.written = true;
      return progressed(entrynames::kEntryWeight);
    }
    const std::string& leaf = p.parts.back();
    const std::string target = Join(at->path(), leaf);
    if (at->StatusOf(leaf).isDir) {
      p.error = "Un dossier porte déjà le nom « " + target + " ».";
      return true;
    }
    AesEntryReader aes;
    const bool ours = AesEntryReader::Handles(*p.entry);
    std::string why;
    if (ours) {
      if (!archiveFile) archiveFile.reset(fs::OpenRead(archive_.path));
      if (!aes.Open(archiveFile.get(), *p.entry, password_, why)) {
        p.error = "Élément illisible ou endommagé « " + p.name + " » : " + why + ".";
        return true;
      }
    }
    PendingFile file(*at, leaf);
    if (!file.Create()) {
      p.error = "Impossible de créer le fichier « " + target + " ».";
      return true;
    }
    std::string error;
    int64_t left = p.size;
    for (;;) {
      int64_t n = ours ? aes.Read(buf.data(), buf.size(), why)
                       : static_cast<int64_t>(archive_read_data(r, buf.data(), buf.size()));
      if (n == 0) break;
      if (n < 0) {
        if (!ours) {
          const char* lib = archive_error_string(r);
          why = lib ? lib : "";
        }
        error = "Élément illisible ou endommagé « " + p.name + " »" +
                (why.empty() ? std::string() : " : " + why) + ".";
        break;
      }
      // Never more than the directory declares: the space was counted on it.
      if (n > left) {
        error = "Élément endommagé « " + p.name + " » : ses données dépassent la taille annoncée.";
        break;
      }
      if (std::fwrite(buf.data(), 1, static_cast<size_t>(n), file.file()) !=
          static_cast<size_t>(n)) {
        error = "Impossible d'écrire le fichier « " + target + " » (disque plein ?).";
        break;
      }
      left -= n;
      if (!progressed(n) || stop) return false;  // the pending file goes with `file`
    }
    if (error.empty() && left != 0)
      error = "Élément endommagé « " + p.name +
              " » : ses données sont plus courtes que la taille annoncée.";
    if (error.empty() && !file.Commit(false, p.mtime, p.timeKnown))
      error = "Impossible d'écrire le fichier « " + target + " » (disque plein ?).";
    if (!error.empty()) {
      file.Discard();
      p.error = std::move(error);
      return true;
    }
    if (!zone_.empty()) {
      // The mark goes on the file in place (a stream does not always follow
      // a rename); writing it touches the file, so its time is set again.
      fs::WriteZone(target, zone_);
      if (p.timeKnown) at->SetTime(leaf, p.mtime);
    }
    p.written = true;
    return progressed(entrynames::kEntryWeight);
  }

  const OpenedArchive& archive_;
  std::vector<Plan>& plans_;
  const fs::Folder& root_;
  const std::string& password_;
  const std::string& zone_;
  std::atomic<size_t> next_{0};
};

// The worker threads of a run. The events stay on the caller's thread, which
// waits here and raises them from what the workers report. Whatever way the
// caller leaves (an exception from a handler included), the workers are
// stopped and joined first; so is it when the process ends from inside an
// event, before the cleanups that remove the workers' temporary files run.
class Workers {
 public:
  Workers(Run& run, int count) : run_(run) {
    cleanup_ = AddEarlyCleanup([this] { StopAndJoin(); });
    running_ = count;
    try {
      for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Body(); });
    } catch (...) {
      StopAndJoin();
      RemoveCleanup(cleanup_);
      throw;
    }
  }
  ~Workers() {
    StopAndJoin();
    RemoveCleanup(cleanup_);
  }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Waits at most `wait` for the workers to end; true when they all have.
  bool Wait(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> hold(lock_);
    return ended_.wait_for(hold, wait, [this] { return running_ <= 0; });
  }
  // Bytes written since the last call.
  int64_t TakeProgress() { return progress_.exchange(0); }
  bool failed() const { return failed_; }

  void StopAndJoin() {
    run_.stop = true;
    std::lock_guard<std::mutex> hold(joinLock_);
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
  }

 private:
  void Body() {
    workers::LowerThisThreadPriority();
    try {
      run_.Work([this](int64_t n) {
        progress_ += n;
        return !run_.stop;
      });
    } catch (...) {
      // Out of memory or threads: nothing certain of the run remains.
      failed_ = true;
      run_.stop = true;
    }
    std::lock_guard<std::mutex> hold(lock_);
    // The count drops after the last bytes were counted, so that a caller
    // that saw it at zero finds them all in TakeProgress.
    --running_;
    ended_.notify_all();
  }

  Run& run_;
  int cleanup_ = 0;
  std::vector<std::thread> threads_;
  std::mutex joinLock_;
  std::mutex lock_;
  std::condition_variable ended_;
  int running_ = 0;
  std::atomic<int64_t> progress_{0};
  std::atomic<bool> failed_{false};
};

// Cuts the entries to write (in the order of their data) into contiguous
// batches of roughly equal work, several per worker so that the work
// balances, the largest first; the cuts and the order depend on the sizes
// only. Making a file (create, rename,
// time) costs about what inflating this many bytes does, so a folder of small
// notes is shared out as well as a large file is.
constexpr int64_t kFileWork = int64_t{64} << 10;

std::vector<Batch> MakeBatches(const OpenedArchive& a, const std::vector<Plan>& plans, int workers) {
  auto work = [](const Plan& p) { return p.size + kFileWork; };
  int64_t total = 0;
  for (const Plan& p : plans)
    if (p.write) total += work(p);
  const int64_t target = std::max<int64_t>(total / (int64_t{workers} * 8), int64_t{1} << 20);
  std::vector<Batch> batches;
  int64_t weight = 0;
  for (size_t i = 0; i < plans.size(); ++i) {
    if (!plans[i].write) continue;
    if (batches.empty() || weight >= target) {
      batches.emplace_back();
      weight = 0;
    }
    batches.back().items.push_back(i);
    weight += work(plans[i]);
    batches.back().work = weight;
  }
  for (Batch& b : batches) {
    zipdir::Directory sub;
    sub.directoryStart = a.directory.directoryStart;
    sub.entries.reserve(b.items.size());
    for (size_t i : b.items) sub.entries.push_back(*plans[i].entry);
    b.tail = zipdir::Rebuild(sub);
  }
  std::stable_sort(batches.begin(), batches.end(),
                   [](const Batch& x, const Batch& y) { return x.work > y.work; });
  return batches;
}

// The nearest folder of `path` (itself or a parent) that exists, to ask for
// the free space where the destination will be.
std::string ExistingFolder(std::string path) {
  for (int guard = 0; guard < 4096 && !path.empty(); ++guard) {
    if (fs::TargetStatus(path).isDir) return path;
    size_t cut = path.find_last_of(kWindowsNames ? "\\/" : "/");
    if (cut == std::string::npos) return ".";
    path = cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
  }
  return ".";
}

// What is needed is rounded up and what is free rounded down, so that a
// refusal never reads "1 Mo nécessaires, 1 Mo disponibles".
std::string Megabytes(int64_t bytes, bool up) {
  return std::to_string((bytes + (up ? (1 << 20) - 1 : 0)) >> 20) + " Mo";
}

}  // namespace

std::shared_ptr<const OpenedArchive> Open(const std::string& path, std::string& why) {
  auto a = std::make_shared<OpenedArchive>();
  a->path = path;
  if (!zipdir::Load(path, a->directory, why)) return nullptr;
  a->rebuiltTail = zipdir::Rebuild(a->directory);
  if (!a->directory.entries.empty()) {
    fs::Utf8LocaleScope locale;
    Reader r;
    if (!r.Open(*a, std::string())) {
      why = "L'archive est endommagée : son répertoire est introuvable ou illisible.";
      return nullptr;
    }
  }
  return a;
}

int32_t PasswordOpens(const OpenedArchive& a, const std::string& password) {
  const auto& entries = a.directory.entries;
  // Which entries to decrypt: the smallest AES one, and ZipCrypto ones from
  // the smallest up until 4 bytes of plaintext are covered by CRCs (the CRC
  // of a 1-byte entry lets 1 wrong password in 65,536 through).
  std::vector<size_t> zipCrypto;
  size_t smallestAes = entries.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    const zipdir::Entry& e = entries[i];
    if (!e.encrypted()) continue;
    if (e.aes()) {
      // An empty one only when there is no other: its code covers no data.
      auto rank = [](uint64_t size) { return size == 0 ? UINT64_MAX : size; };
      if (smallestAes == entries.size() ||
          rank(e.uncompressedSize) < rank(entries[smallestAes].uncompressedSize))
        smallestAes = i;
    } else {
      zipCrypto.push_back(i);
    }
  }
  if (smallestAes == entries.size() && zipCrypto.empty()) return 1;
  std::stable_sort(zipCrypto.begin(), zipCrypto.end(), [&](size_t x, size_t y) {
    return entries[x].uncompressedSize < entries[y].uncompressedSize;
  });
  std::vector<bool> check(entries.size(), false);
  if (smallestAes != entries.size()) check[smallestAes] = true;
  uint64_t covered = 0;
  for (size_t i : zipCrypto) {
    if (covered >= 4) break;
    check[i] = true;
    covered += entries[i].uncompressedSize;
  }

  fs::Utf8LocaleScope locale;
  Reader r;
  if (!r.Open(a, password)) return 0;
  archive_entry* e = nullptr;
  int rc = 0;
  size_t last = 0;
  for (size_t i = 0; i < check.size(); ++i)
    if (check[i]) last = i;
  for (size_t i = 0; i <= last; ++i) {
    if (!r.Next(e, rc) || !SameEntry(e, entries[i])) return 0;
    if (check[i] && !ReadThrough(r.get())) return 0;
  }
  return 1;
}

Outcome Extract(std::shared_ptr<const OpenedArchive> a, const std::string& folderIn, bool newerOnly,
                const std::string& password, int32_t codePage, int threads, const Hooks& hooks) {
  Outcome out;
  auto fail = [&](int32_t code, std::string text) {
    out.result = code;
    out.errorText = std::move(text);
    out.allExtracted = false;
    return out;
  };
  auto aborted = [&] { return fail(ZipEngine::kExtractAborted, "Opération annulée."); };
  const std::string folder = StripTrailingSeparators(folderIn);
  const std::string& archivePath = a->path;
  const auto& entries = a->directory.entries;
  // Files from a downloaded archive are downloaded files too.
  const std::string zone = fs::ReadZone(archivePath);
  fs::Utf8LocaleScope locale;

  // First pass: names, types and times, what is to be written, and where
  // two entries would land on the same name.
  std::vector<Plan> plans(entries.size());
  if (!entries.empty()) {
    Reader r;
    if (!r.Open(*a, std::string()))
      return fail(ZipEngine::kExtractFailed,
                  "Impossible de lire l'archive « " + archivePath + " ».");
    archive_entry* e = nullptr;
    int rc = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const zipdir::Entry& d = entries[i];
      Plan& p = plans[i];
      if (!r.Next(e, rc) || !SameEntry(e, d))
        return fail(ZipEngine::kExtractFailed, "L'archive « " + archivePath + " » est endommagée.");
      p.entry = &d;
      p.name = zipdir::DecodedName(d, codePage);
      p.isDir = d.isDir();
      p.size = p.isDir ? 0 : static_cast<int64_t>(d.uncompressedSize);
      const int64_t readTime = static_cast<int64_t>(archive_entry_mtime(e));
      p.mtime = entrynames::EntryTime(readTime, d.dosDate);
      p.timeKnown = !entrynames::UnknownDosTime(readTime, d.dosDate, d.dosTime);
      if (d.isLink() || d.isSpecial() || !SameType(e, d))
        p.refusal =
            "Élément refusé (lien, fichier spécial ou type incohérent) : « " + p.name + " ».";
      else if (!entrynames::SafeParts(p.name, kWindowsNames, p.parts))
        p.refusal = "Élément refusé (hors du dossier de destination) : « " + p.name + " ».";
      else if (std::any_of(p.parts.begin(), p.parts.end(), PartTooLong) ||
               PathTooLong(folder, p.parts))
        p.refusal = "Élément refusé (nom trop long pour le système de fichiers) : « " + p.name +
                    " ».";
    }
    if (r.Next(e, rc))
      return fail(ZipEngine::kExtractFailed, "L'archive « " + archivePath + " » est endommagée.");
  }

  // Names that land on the same file on this system (the same name twice,
  // "a\b" beside "a/b", on Windows a difference of case, trailing dots or
  // characters replaced by "_"): the first one is written, the others are
  // not, and say so. A file and a folder of the same name collide as well.
  {
    NameTree tree;
    std::vector<size_t> path;
    for (Plan& p : plans) {
      if (!p.refusal.empty()) continue;
      const Plan* clash = nullptr;
      path.clear();
      size_t node = 0;
      for (size_t n = 0; n < p.parts.size() && !clash; ++n) {
        node = tree.Child(node, p.parts[n]);
        path.push_back(node);
        bool leaf = n + 1 == p.parts.size();
        clash = tree[node].file;
        if (!clash && leaf && !p.isDir) clash = tree[node].folder;
      }
      if (clash) {
        p.refusal = "Élément non écrit : « " + p.name + " » aurait remplacé « " + clash->name +
                    " », extrait sous le même nom.";
        continue;
      }
      for (size_t n = 0; n + 1 < path.size(); ++n)
        if (!tree[path[n]].folder) tree[path[n]].folder = &p;
      NameTree::Node& leaf = tree[path.back()];
      const Plan*& slot = p.isDir ? leaf.folder : leaf.file;
      if (!slot) slot = &p;
    }
  }

  // What is already there (update only) is asked of the folders themselves,
  // walked once each; a folder that is not there holds nothing, and a link
  // on the way hides nothing (the entry is then refused when written).
  fs::Folder existing;
  const bool destinationThere = newerOnly && fs::Folder::Open(folder, existing);
  FolderWalk look(existing, false);
  int64_t bytesToWrite = 0;
  for (Plan& p : plans) {
    if (!p.refusal.empty()) continue;
    p.write = true;
    if (newerOnly) {
      fs::Folder::Step step{};
      std::string ignored;
      const fs::Folder* at =
          destinationThere ? look.Reach(p.parts, p.parts.size() - 1, step, ignored) : nullptr;
      fs::Status st = at ? at->StatusOf(p.parts.back()) : fs::Status{};
      // An entry of unknown time is not newer than anything: the file on
      // disk stays, and whether it is the entry's own is not known.
      if (!p.isDir && st.exists && st.isFile &&
          (!p.timeKnown || !entrynames::IsNewer(p.mtime, st.mtime))) {
        p.write = false;
        p.kept = true;
        p.present = p.timeKnown && st.size == p.size && !entrynames::IsNewer(st.mtime, p.mtime);
      }
      if (p.isDir && st.isDir) {
        p.write = false;
        p.kept = p.present = true;
      }
    }
    if (p.write) bytesToWrite += p.size;
  }

  // The sizes the directory declares are all that is ever written (longer
  // data are cut off and fail), so their sum is known to fit or not before
  // the first byte.
  int64_t free = fs::FreeSpace(ExistingFolder(folder));
  if (free >= 0 && bytesToWrite > free)
    return fail(ZipEngine::kExtractFailed,
                "Place insuffisante pour décompresser dans « " + folder + " » : " +
                    Megabytes(bytesToWrite, true) + " nécessaires, " + Megabytes(free, false) +
                    " disponibles.");

  // The destination itself is never reached through a link either: what
  // comes out of the archive lands beside it, in the folder named after it.
  if (fs::LinkStatus(folder).isLink)
    return fail(ZipEngine::kExtractFailed, "Le dossier de destination « " + folder +
                                               " » est un lien symbolique : rien n'y est extrait.");
  fs::Folder root;
  if ((!fs::MakeFolder(folder) && !fs::TargetStatus(folder).isDir) ||
      !fs::Folder::Open(folder, root))
    return fail(ZipEngine::kExtractFailed, "Impossible de créer le dossier « " + folder + " ».");

  // Every entry is announced before the workers start (in archive order, on
  // this thread), so that the handler decides what is written before any of
  // it is.
  for (Plan& p : plans) {
    if (!p.write || !hooks.toBeUnzipped) continue;
    int32_t exclude = 0;
    hooks.toBeUnzipped(p.name, static_cast<int64_t>(p.entry->compressedSize), p.size, exclude);
    if (exclude != 0) p.write = false;
  }
  int64_t total = 0;
  for (const Plan& p : plans)
    if (p.write) total += p.size + entrynames::kEntryWeight;

  auto stop = [&] { return hooks.abortRequested && hooks.abortRequested(); };
  if ((hooks.begin && !hooks.begin(total)) || stop()) return aborted();
  auto advance = [&](int64_t n) { return (!hooks.advance || hooks.advance(n)) && !stop(); };

  const int workers = std::max(threads, 1);
  Run run(*a, plans, root, password, zone);
  run.batches = MakeBatches(*a, plans, workers);
  bool stopped = false, failed = false;
  if (workers == 1 || run.batches.size() <= 1) {
    // One worker is this thread: the events come straight from its steps.
    run.Work([&](int64_t n) {
      if (!advance(n)) stopped = true;
      return !stopped;
    });
  } else {
    Workers pool(run, std::min<int>(workers, static_cast<int>(run.batches.size())));
    // The events, from what the workers report: at every step of this loop,
    // which also keeps the heartbeat of a large file going. Often, since the
    // handlers pump the UI's events from them and this thread has no other
    // moment to draw the dialog or answer the desktop.
    constexpr auto kPoll = std::chrono::milliseconds(10);
    for (;;) {
      bool done = pool.Wait(kPoll);
      if (!stopped && !advance(pool.TakeProgress())) {
        stopped = true;
        pool.StopAndJoin();
      }
      if (done || stopped) break;
    }
    pool.StopAndJoin();
    failed = pool.failed();
  }
  if (stopped) return aborted();

  int32_t written = 0;
  int failures = 0;
  std::string firstError;  // the reason reported: the first entry that failed
  std::vector<std::pair<std::string, int64_t>> folderTimes;
  for (const Plan& p : plans) {
    if (p.broken == Plan::Broken::unreadable || failed)
      return fail(ZipEngine::kExtractFailed,
                  "Impossible de lire l'archive « " + archivePath + " ».");
    if (p.broken == Plan::Broken::damaged)
      return fail(ZipEngine::kExtractFailed, "L'archive « " + archivePath + " » est endommagée.");
    const std::string& why = !p.refusal.empty() ? p.refusal : p.error;
    if (!why.empty()) {
      ++failures;
      if (firstError.empty()) firstError = why;
    }
    if (p.written) {
      ++written;
      if (p.isDir && p.timeKnown) folderTimes.emplace_back(p.folderPath, p.mtime);
    }
  }
  // Folders last, deepest first: writing into a folder changes its time.
  std::stable_sort(folderTimes.begin(), folderTimes.end(),
                   [](const auto& x, const auto& y) { return x.first.size() > y.first.size(); });
  for (const auto& [path, mtime] : folderTimes) fs::SetModificationTime(path, mtime);
  if (failures > 0) {
    std::string text = firstError;
    if (failures > 1)
      text += " (" + std::to_string(failures) + " éléments n'ont pas été extraits.)";
    return fail(ZipEngine::kExtractFailed, text);
  }
  out.allExtracted =
      std::all_of(plans.begin(), plans.end(), [](const Plan& p) { return p.present || p.written; });
  // An archive with entries of which none was written nor kept on purpose
  // did not extract.
  if (!plans.empty() && written == 0 &&
      std::none_of(plans.begin(), plans.end(), [](const Plan& p) { return p.kept; }))
    return fail(ZipEngine::kExtractFailed, "Aucun élément de l'archive n'a été extrait.");
  if (hooks.finish) hooks.finish();
  out.result = written;
  return out;
}

}  // namespace qv::reading
