#include "engine/PackPipeline.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/DeflatePiece.h"
#include "engine/FileSystem.h"
#include "engine/PathText.h"
#include "engine/TreeAccess.h"
#include "engine/WinZipAes.h"
#include "engine/WorkerThreads.h"

namespace qv::packing {

namespace {
std::string Changed(const std::string& path) {
  return "Le fichier « " + path + " » a changé pendant la compression.";
}
std::string Unreadable(const std::string& path) {
  return "Impossible de lire le fichier « " + path + " ».";
}
std::string CannotOpen(const std::string& path, const std::string& why) {
  return "Impossible de lire le fichier « " + path + " » : " + why + ".";
}

uint32_t Crc(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32_z(crc32(0, Z_NULL, 0), p, n));
}
}  // namespace

std::string StartEncryption(const std::string& password, int keyBits,
                            winzipaes::Encryptor& cipher, std::vector<uint8_t>& head) {
  head.resize(winzipaes::SaltBytes(keyBits));
  if (!winzipaes::RandomBytes(head.data(), head.size()))
    return "Le système ne fournit pas de nombres aléatoires pour le chiffrement.";
  if (!cipher.Init(password, keyBits, head.data())) return "Le chiffrement AES n'est pas disponible.";
  head.insert(head.end(), cipher.verifier(), cipher.verifier() + winzipaes::kVerifierBytes);
  return {};
}

std::string Encrypt(const std::string& password, int keyBits, std::vector<uint8_t>& data) {
  winzipaes::Encryptor cipher;
  std::vector<uint8_t> out;
  std::string error = StartEncryption(password, keyBits, cipher, out);
  if (!error.empty()) return error;
  size_t head = out.size();
  out.resize(head + data.size() + winzipaes::kMacBytes);
  if (!data.empty()) std::memcpy(out.data() + head, data.data(), data.size());
  cipher.Encrypt(out.data() + head, data.size());
  if (!cipher.Finish(out.data() + head + data.size()))
    return "Le chiffrement AES n'est pas disponible.";
  data = std::move(out);
  return {};
}

struct Source {
  std::once_flag opened;
  pathtext::FilePtr file;
  std::string error;
};

namespace {
// Opens a large file once, for all its pieces, and checks that it still has
// the size it was listed with (the pieces were cut from that size).
void OpenSource(Source& s, const sourcetree::Item& item) {
  std::call_once(s.opened, [&] {
    int64_t size = 0;
    std::string why;
    s.file.reset(fs::OpenRegularFile(item.path, size, why));
    if (!s.file)
      s.error = CannotOpen(item.path, why);
    else if (size != item.size)
      s.error = Changed(item.path);
  });
}
}  // namespace

uint64_t PieceCount(int64_t size) {
  if (size <= static_cast<int64_t>(kChunk)) return 1;
  return (static_cast<uint64_t>(size) + kChunk - 1) / kChunk;
}

bool HasMoreThan(const Source& source, int64_t size) {
  if (!source.file) return true;
  uint8_t byte = 0;
  return fs::ReadAt(source.file.get(), size, &byte, 1) != 0;
}

Pipeline::Pipeline(const std::vector<sourcetree::Item>& items, const Options& options)
    : items_(items), options_(options) {
  options_.level = std::clamp(options_.level, 1, 9);
  int n = options_.threads;
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  n = std::clamp(n, 1, 16);
  // Enough pieces ahead that no worker waits on the writer, no more.
  budget_ = std::min(2 * static_cast<size_t>(n) + 2, kMaxPiecesAhead) * kChunk;
  threads_.reserve(static_cast<size_t>(n));
  try {
    for (int i = 0; i < n; ++i) threads_.emplace_back([this] { Work(); });
  } catch (...) {
    // Fewer threads than asked still do the whole job; none at all cannot.
    if (threads_.empty()) throw;
  }
}

Pipeline::~Pipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  workReady_.notify_all();
  for (std::thread& t : threads_) t.join();
}

// Under the lock: the input bytes of the next task (0 when none is left).
uint64_t Pipeline::NextJobBytes() {
  while (nextItem_ < items_.size() && items_[nextItem_].isDir) ++nextItem_;
  if (nextItem_ >= items_.size()) return 0;
  uint64_t size = static_cast<uint64_t>(std::max<int64_t>(items_[nextItem_].size, 0));
  return std::min<uint64_t>(size - std::min(size, nextIndex_ * kChunk), kChunk);
}

// Under the lock: the next task in archive order.
bool Pipeline::Claim(Task& task, size_t& slot) {
  uint64_t bytes = NextJobBytes();
  if (nextItem_ >= items_.size()) return false;
  const sourcetree::Item& item = items_[nextItem_];
  uint64_t pieces = PieceCount(item.size);
  task.item = nextItem_;
  task.index = nextIndex_;
  if (pieces > 1) {
    if (nextIndex_ == 0) nextSource_ = std::make_shared<Source>();
    task.source = nextSource_;
  }
  if (++nextIndex_ >= pieces) {
    ++nextItem_;
    nextIndex_ = 0;
    nextSource_.reset();
  }
  queue_.push_back(Slot{nullptr, bytes});
  bytesAhead_ += bytes;
  slot = static_cast<size_t>(claimed_++ - queueBase_);
  return true;
}

void Pipeline::Work() {
  workers::LowerThisThreadPriority();
  try {
    WorkLoop();
  } catch (...) {
    // Out of memory even for the reason (or for the piece that would carry
    // it): the writer learns it from Failed() instead of waiting forever.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failed_ = true;
    }
    pieceReady_.notify_all();
  }
}

void Pipeline::WorkLoop() {
  PieceDeflater deflater(options_.level);
  std::vector<uint8_t> input;  // reused from job to job
  // What waits in the queue keeps its compressed bytes only, not the room
  // the compressor asked for.
  auto fit = [](std::vector<uint8_t>& v) {
    if (v.capacity() > v.size() + v.size() / 4 + 4096) v.shrink_to_fit();
  };
  for (;;) {
    Task task;
    uint64_t sequence = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      size_t slot = 0;
      workReady_.wait(lock, [&] {
        return stop_ || queue_.empty() ||
               (queue_.size() < kMaxJobsAhead && bytesAhead_ + NextJobBytes() <= budget_);
      });
      if (stop_ || !Claim(task, slot)) return;
      sequence = queueBase_ + slot;
    }
    auto piece = std::make_unique<Piece>();
    const sourcetree::Item& item = items_[task.item];
    piece->item = task.item;
    piece->index = task.index;
    piece->source = task.source;
    try {
      if (!task.source) {
        // The whole file in one job: read it and one byte more, which must not come.
        piece->whole = piece->last = true;
        int64_t size = 0;
        std::string why;
        pathtext::FilePtr f(fs::OpenRegularFile(item.path, size, why));
        if (!f) {
          piece->error = CannotOpen(item.path, why);
        } else if (size != item.size) {
          piece->error = Changed(item.path);
        } else {
          size_t n = static_cast<size_t>(size);
          input.resize(n + 1);
          size_t got = std::fread(input.data(), 1, n + 1, f.get());
          if (std::ferror(f.get()))
            piece->error = Unreadable(item.path);
          else if (got != n)
            piece->error = Changed(item.path);
        }
        if (piece->error.empty()) {
          size_t n = static_cast<size_t>(item.size);
          piece->rawSize = n;
          piece->crc = Crc(input.data(), n);
          piece->method = 0;
          if (n > 0) {
            if (!deflater.Run(input.data(), n, true, piece->data)) throw std::bad_alloc();
            // Deflate that does not shrink the data is worth nothing: stored.
            if (piece->data.size() < n) piece->method = 8;
          }
          if (piece->method == 0) piece->data.assign(input.begin(), input.begin() + n);
          fit(piece->data);
          if (!options_.password.empty())
            piece->error = Encrypt(options_.password, options_.keyBits, piece->data);
        }
      } else {
        Source& source = *task.source;
        OpenSource(source, item);
        piece->error = source.error;
        if (piece->error.empty()) {
          uint64_t pieces = PieceCount(item.size);
          piece->last = task.index + 1 == pieces;
          int64_t start = static_cast<int64_t>(task.index * kChunk);
          size_t n = static_cast<size_t>(
              std::min<int64_t>(static_cast<int64_t>(kChunk), item.size - start));
          input.resize(n);
          int64_t got = fs::ReadAt(source.file.get(), start, input.data(), n);
          if (got < 0) {
            piece->error = Unreadable(item.path);
          } else if (static_cast<size_t>(got) != n) {
            piece->error = Changed(item.path);
          } else {
            piece->rawSize = n;
            piece->crc = Crc(input.data(), n);
            piece->method = 8;
            if (!deflater.Run(input.data(), n, piece->last, piece->data)) throw std::bad_alloc();
            fit(piece->data);
          }
        }
      }
    } catch (const std::bad_alloc&) {
      // Give the memory back first, or the reason itself cannot be written.
      std::vector<uint8_t>().swap(piece->data);
      std::vector<uint8_t>().swap(input);
      piece->error = "Mémoire insuffisante pour compresser le fichier « " + item.path + " ».";
    } catch (...) {
      // Nothing may leave a worker thread: the writer reports it in order.
      piece->data.clear();
      piece->error = "Impossible de compresser le fichier « " + item.path + " ».";
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_[static_cast<size_t>(sequence - queueBase_)].piece = std::move(piece);
    }
    pieceReady_.notify_all();
  }
}

std::unique_ptr<Piece> Pipeline::Next(std::chrono::milliseconds wait) {
  std::unique_ptr<Piece> piece;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!pieceReady_.wait_for(lock, wait,
                              [&] { return failed_ || (!queue_.empty() && queue_.front().piece); }))
      return nullptr;
    if (queue_.empty() || !queue_.front().piece) return nullptr;
    piece = std::move(queue_.front().piece);
    bytesAhead_ -= queue_.front().bytes;
    queue_.pop_front();
    ++queueBase_;
  }
  workReady_.notify_all();  // a large piece gone may make room for several small jobs
  return piece;
}

bool Pipeline::Failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

}  // namespace qv::packing
