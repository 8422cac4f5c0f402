// The reading side of the engine: an open archive as our own directory
// reader validated it, libarchive fed with exactly those entries (the data
// of WinZip AES entries are read by AesEntryReader), the password check and
// the extraction itself. ZipEngine drives it and turns its
// hooks into the events the workflows handle.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/ZipDirectory.h"

struct archive;

namespace qv::reading {

// What an open archive is. Shared with an extraction in progress, so that
// closing the archive from inside one of its events disturbs nothing.
struct OpenedArchive {
  std::string path;
  zipdir::Directory directory;
  // The directory and end record rebuilt from `directory`, which libarchive
  // reads after the archive's first `directory.directoryStart` bytes.
  std::string rebuiltTail;
};

// Reads the archive's directory; nullptr (and `why`, in French) when it is
// not an archive we accept.
std::shared_ptr<const OpenedArchive> Open(const std::string& path, std::string& why);

// 1 when `password` opens every kind of encrypted entry there is: the
// smallest non-empty AES entry decrypts completely and its authentication code checks;
// ZipCrypto entries, smallest first, decrypt completely with matching CRCs
// until at least 4 bytes of plaintext were checked (or all of them hold
// less). 1 when nothing is encrypted.
int32_t PasswordOpens(const OpenedArchive& a, const std::string& password);

struct Hooks {
  std::function<bool()> abortRequested;         // AbortCheck
  std::function<bool(int64_t total)> begin;     // progress starts; false = stop
  std::function<bool(int64_t amount)> advance;  // false = stop
  std::function<void()> finish;                 // 100 %
  std::function<void(const std::string& name, int64_t compressedSize, int64_t size,
                     int32_t& exclude)>
      toBeUnzipped;
};

struct Outcome {
  int32_t result = 0;  // entries written, or one of ZipEngine's kExtract* values
  std::string errorText;
  bool allExtracted = false;  // every entry is on disk after this run
};

// Extracts with `threads` workers (at least one), each with a reader of its
// own over a disjoint set of entries. Every hook is called on the caller's
// thread: `toBeUnzipped` for every entry to write, in archive order, before
// the first is written; the progress and abort hooks while the workers write.
// The outcome is the same whatever the number of workers.
Outcome Extract(std::shared_ptr<const OpenedArchive> a, const std::string& folder, bool newerOnly,
                const std::string& password, int32_t codePage, int threads, const Hooks& hooks);

}  // namespace qv::reading
