// The workers behind our zip writer: they read the files of a tree and
// deflate them on every core, and hand the results back in archive order to
// the one thread that writes the archive (the caller's, which also raises
// every event). A file of at most kChunk bytes is one job (read whole,
// deflated, and encrypted when asked: salt, key derivation, cipher and code,
// all in the worker). A larger file is cut in kChunk pieces, pigz's way: each
// piece is deflated on its own (DeflatePiece: libdeflate, the pieces joined
// into one stream, the last one ending it), so the pieces put end to end are
// one deflate stream, the same whatever the number of threads; the writer
// encrypts those in order, since the cipher runs through the whole compressed
// stream.
//
// Bounded: the input bytes of the jobs claimed and not yet taken by the
// writer stay below a fixed budget (each job keeps at most its input's size
// once done), and so does their number, so memory does not grow with the
// tree. Counting bytes rather than jobs keeps a worker busy on small files
// while the file at the head of the queue, up to a chunk, is still being
// deflated by another. Workers only ever read input; stopping them (the
// destructor) waits for each to finish its current piece.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/SourceTree.h"
#include "engine/WinZipAes.h"

namespace qv::packing {

// Bytes of input per job. Independent of the thread count, so the archive is
// too. A piece starts without the data before it (libdeflate takes no
// dictionary): measured on the benchmark's corpora, 512 KiB pieces make
// archives about 1 % smaller than 256 KiB ones, while sixteen workers, their
// compressors and the work ahead (kMaxPiecesAhead) stay below 50 MiB
// (1 MiB pieces gain 0.2 % more and pass 64 MiB).
constexpr size_t kChunk = size_t{512} << 10;
// Chunks' worth of input claimed and not yet written, whatever the number of
// threads; and the most jobs claimed and not yet written.
constexpr size_t kMaxPiecesAhead = 20;
constexpr size_t kMaxJobsAhead = 512;

// Pieces of a file of `size` bytes: one for a file of at most kChunk bytes
// (empty files too), else one per started kChunk.
uint64_t PieceCount(int64_t size);

struct Options {
  int level = 6;    // deflate level 1..9
  int threads = 0;  // 0: one per core, at most 16
  // WinZip AES for files done in one job; empty: no encryption.
  std::string password;
  int keyBits = 256;
};

// Begins an AES entry: a fresh random salt, the keys derived into `cipher`,
// and in `head` what the entry's data start with (salt and verifier). "" on
// success, else the French reason.
std::string StartEncryption(const std::string& password, int keyBits,
                            winzipaes::Encryptor& cipher, std::vector<uint8_t>& head);
// Turns an entry's data into what an AES entry holds: salt, verifier, the
// data encrypted, the authentication code. "" on success, else the reason.
std::string Encrypt(const std::string& password, int keyBits, std::vector<uint8_t>& data);

struct Source;  // a large file open for its pieces

struct Piece {
  size_t item = 0;     // index in the items
  uint64_t index = 0;  // of the piece in its file
  bool whole = false;  // the entry's complete data, as stored in the archive
  bool last = false;   // the file's last piece
  uint16_t method = 0;  // whole: stored (0) or deflated (8)
  uint32_t crc = 0;     // of this piece's uncompressed bytes
  uint64_t rawSize = 0;
  // Compressed (deflate, or stored bytes); for an encrypted whole entry:
  // salt, verifier, encrypted data and authentication code.
  std::vector<uint8_t> data;
  std::string error;  // French, when the file could not be read as it was listed
  std::shared_ptr<Source> source;  // pieces of a large file: the file they came from
};

// True when the file of a large entry still has bytes past `size` (it grew
// while it was read); a read that fails counts as grown.
bool HasMoreThan(const Source& source, int64_t size);

class Pipeline {
 public:
  // `items` outlive the pipeline; folders are left to the writer.
  Pipeline(const std::vector<sourcetree::Item>& items, const Options& options);
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // The next piece in archive order, or null when none came within `wait`.
  std::unique_ptr<Piece> Next(std::chrono::milliseconds wait);
  // A worker ran out of memory where it could not even report it in a piece:
  // the pieces from there on will never come.
  bool Failed();

 private:
  struct Task {
    size_t item = 0;
    uint64_t index = 0;
    std::shared_ptr<Source> source;
  };
  uint64_t NextJobBytes();
  bool Claim(Task& task, size_t& slot);
  void Work();
  void WorkLoop();

  const std::vector<sourcetree::Item>& items_;
  Options options_;
  uint64_t budget_ = 0;  // input bytes ahead of the writer

  std::mutex mutex_;
  std::condition_variable workReady_;   // a slot freed, or stop
  std::condition_variable pieceReady_;  // a piece came in
  bool stop_ = false;
  bool failed_ = false;
  // Where the next task is: item and piece.
  size_t nextItem_ = 0;
  uint64_t nextIndex_ = 0;
  std::shared_ptr<Source> nextSource_;
  // Claimed pieces in archive order; null until their worker is done.
  struct Slot {
    std::unique_ptr<Piece> piece;
    uint64_t bytes = 0;  // the input claimed, given back when the writer takes it
  };
  std::deque<Slot> queue_;
  uint64_t bytesAhead_ = 0;
  uint64_t queueBase_ = 0;  // sequence number of queue_.front()
  uint64_t claimed_ = 0;    // sequence number of the next claim

  std::vector<std::thread> threads_;
};

}  // namespace qv::packing
