// The zip engine both programs drive: it writes one folder tree into a zip
// archive (optionally AES-256 encrypted) and extracts an archive into a folder.
// Every call is synchronous on the caller's (UI) thread and raises its events
// on that thread, from between its own steps: a handler may pump UI events,
// and may even end the process (qv::EndProcess) from inside an event; the
// engine then leaves neither a partial archive nor a half-written file.
//
// Paths are UTF-8 with the platform separator ('\\' on Windows, '/' elsewhere).
// Results are 32-bit: 1 = success for the writing calls and the queries, an
// entry count (>= 0) or a negative value for the extraction calls.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qv {

class ZipEngine {
 public:
  // Encryption methods as the workflows pass them (SetCipher, ArchiveCipher).
  static constexpr int32_t kCipherNone = 0;
  static constexpr int32_t kCipherZipCrypto = 1;
  static constexpr int32_t kCipherAes = 4;

  // Negative results of the extraction calls.
  static constexpr int32_t kExtractFailed = -1;   // damaged entry, unsupported method, disk error
  static constexpr int32_t kExtractAborted = -2;  // AbortCheck / PercentDone asked to stop
  static constexpr int32_t kExtractNotOpen = -3;  // no archive open

  ZipEngine();
  ~ZipEngine();
  ZipEngine(const ZipEngine&) = delete;
  ZipEngine& operator=(const ZipEngine&) = delete;

  // ---- writing -------------------------------------------------------------
  // Starts a new archive at `archivePath` (nothing is written before
  // WriteAndClose). 1 = ready: the folder exists and is writable.
  int32_t PrepareArchive(const std::string& archivePath);
  // The French description of the last failure ("" when none).
  std::string ErrorText() const;
  // 4 = AES (WinZip AE-2); 0 = none.
  void SetCipher(int32_t method);
  // 128, 192 or 256 with AES.
  void SetKeyBits(int32_t bits);
  void SetArchivePassword(const std::string& password);
  // Entry names are relative to this folder (given without a trailing separator).
  void SetEntryRoot(const std::string& folder);
  // Collects the files matching `pattern` (a folder, a separator and a name
  // pattern with '*' and '?', e.g. "/data/photos/*"); recurse = 1 descends into
  // subfolders. Raises ToBeAdded per file. 1 = success. Left out by design:
  // links to folders (never followed), dangling links, FIFOs, sockets and
  // devices. Anything else that cannot be listed or examined fails the call
  // with its reason; so does a whole disk ("/", a mount point, "D:\", a
  // share) and a tree holding the folder of the prepared archive. Names that
  // are not UTF-8 are stored read as Windows-1252 (numbered when that makes
  // them clash with another name of their folder).
  int32_t AddTree(const std::string& pattern, int32_t recurse);
  // Writes every collected entry, raising PercentDone and AbortCheck, then
  // WriteZipEnd (also after an abort or a failure). 1 = the archive is complete
  // in place; otherwise nothing was left behind, and an older file at the
  // archive's path is untouched (the archive is written under a short
  // temporary name beside it and renamed over it only when complete). An AES
  // password of 100 UTF-8 bytes or more is refused: 7-Zip could not open it. A tree that AddTree could not
  // read completely is a failure here too, never a silently partial archive.
  // When WriteZipEnd is raised the outcome is already known: ErrorText() is ""
  // after a success and describes the failure or the abort otherwise (so a
  // handler can avoid offering to delete a folder that was not archived).
  int32_t WriteAndClose();

  // ---- reading -------------------------------------------------------------
  // 1 = opened: a zip archive whose directory could be read, walked entry by
  // entry, and whose entries each have data of their own before the
  // directory. 0 otherwise, with the reason in ErrorText() (also given by an
  // extraction call made all the same); archives whose entries share data or
  // run into the directory are refused here, before anything is written.
  int32_t OpenArchive(const std::string& archivePath);
  // Nonzero when some entry needs a password.
  int32_t HasProtectedEntries();
  // 4 when some entry is AES-encrypted, 1 for ZipCrypto only, 0 for none.
  int32_t ArchiveCipher();
  void SetExtractPassword(const std::string& password);
  // 1 when the password last set opens the archive: the smallest AES entry
  // decrypts completely and its authentication code checks, and ZipCrypto
  // entries, smallest first, decrypt completely with their CRCs until at
  // least 4 bytes of plaintext were checked (all of them when they hold less).
  int32_t PasswordMatches();
  // Extracts only the entries absent from `folder` or newer than the file
  // there. Entry count written (>= 0, files and folders created), or negative
  // (kExtract*) on failure or abort, with a French reason naming the entry in
  // ErrorText(). Fails at once, writing nothing, when the declared sizes of
  // what is to be written exceed the free space there. Entries that cannot be
  // written safely (a name with "..", a symbolic link, a link on the way),
  // whose data exceed their declared size, or whose name lands on an entry
  // already written by this call (the same name twice, "a\b" beside "a/b",
  // on Windows names that differ by case or trailing dots) are not written
  // and make the result negative; the other entries are still extracted. A
  // non-empty archive of which nothing was written nor kept is a failure.
  // Each file is written under a temporary name and renamed when complete.
  int32_t ExtractNewer(const std::string& folder);
  // Extracts every entry into `folder`, overwriting. As ExtractNewer.
  //
  // Both extraction calls share the entries out among Threads() workers, each
  // reading its own, and raise every event on the caller's thread:
  // ToBeUnzipped for each entry to write, in archive order, before the first
  // byte is written; PercentDone (byte-weighted, at least 4 times a second)
  // and AbortCheck while the workers write. Whatever the number of workers,
  // the result, the reason and the files are the same; a stop request, an
  // exception from a handler or the process ending inside an event stops and
  // joins the workers before anything else, leaving no temporary file.
  int32_t ExtractAll(const std::string& folder);
  // Releases the archive; harmless when none is open.
  void CloseArchive();
  // The number of entries of the open archive, counted in its directory (never
  // taken from the end record alone, whose 16-bit count wraps); 0 when none is
  // open.
  int64_t EntryCount() const;
  // 1 when the last extraction call left every entry of the archive on disk:
  // written by it, or (update only) a folder already there or a file already
  // there with the entry's size and time. Only then may the archive be
  // deleted without losing anything. 0 after a failure, an abort, a skipped
  // entry or when no extraction ran since the archive was opened (closing it
  // keeps the answer, so it can be asked before the file is deleted).
  int32_t AllEntriesExtracted() const;

  // ---- parameters ----------------------------------------------------------
  // Code page of entry names stored without the UTF-8 flag: 850 by default
  // (the OEM code page of French Windows; on Windows, the system's OEM code
  // page). 437, 850 and 1252 are known on every platform.
  int32_t NameCodePage() const;
  void NameCodePage(int32_t codePage);
  // Deflate level 1..9 used when writing (libdeflate's levels; 7 by default).
  int32_t CompressionLevel() const;
  void CompressionLevel(int32_t level);
  // Worker threads for writing and extracting: 0 (the default) means one per
  // core of the machine, at most 16. The events are still raised on the
  // caller's thread only, and an archive written without a password is the
  // same, byte for byte, whatever the number of threads.
  int32_t Threads() const;
  void Threads(int32_t count);

  // ---- events (raised only when set) --------------------------------------
  std::function<void(int32_t& abort)> AbortCheck;
  std::function<void(int32_t percent, int32_t& abort)> PercentDone;
  std::function<void(const std::string& FileName, int64_t fileSize, int32_t& exclude)> ToBeAdded;
  std::function<void(const std::string& FileName, int64_t compressedSize, int64_t uncompressedSize,
                     int32_t& exclude)>
      ToBeUnzipped;
  std::function<void()> WriteZipEnd;
  std::function<void()> UnzipEnd;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qv
