// A file written under a temporary name beside its target and renamed over
// it only when complete. Until then the temporary file is removed whatever
// happens: on failure, on an exception unwinding through the engine, and when
// the process ends from inside an event (the cleanup registered here).
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/FileSystem.h"

namespace qv {

class PendingFile {
 public:
  // The target by its path (its folder is opened when the file is created).
  explicit PendingFile(std::string target);
  // The target `name` in a folder already held open: the temporary file, the
  // rename and the time all happen in that very folder.
  PendingFile(const fs::Folder& folder, std::string name);
  ~PendingFile() { Discard(); }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary file in the target's folder; what a killed run of
  // ours left in that folder is removed first (once per folder and process).
  bool Create();
  std::FILE* file() const { return file_; }

  // Closes the file, gives it its time and puts it in place.
  bool Commit(bool sync, int64_t mtime, bool setTime);
  void Discard();

 private:
  void Drop();
  void Forget();

  std::string folderPath_;
  fs::Folder folder_;
  std::string name_;
  std::string temp_;  // the temporary name in folder_
  std::FILE* file_ = nullptr;
  int cleanupId_ = 0;
};

}  // namespace qv
