#include "engine/PendingFile.h"

#include <mutex>
#include <set>

#include "engine/TempNames.h"
#include "support/process.h"

namespace qv {
namespace {
#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif
}  // namespace

PendingFile::PendingFile(std::string target) {
  size_t cut = target.find_last_of(kSeparators);
  if (cut == std::string::npos) {
    folderPath_ = ".";
    name_ = std::move(target);
  } else {
    folderPath_ = target.substr(0, cut == 0 ? 1 : cut);
    name_ = target.substr(cut + 1);
  }
}

PendingFile::PendingFile(const fs::Folder& folder, std::string name)
    : folderPath_(folder.path()), name_(std::move(name)) {
  folder.Duplicate(folder_);
}

bool PendingFile::Create() {
  if (!folder_.isOpen() && !fs::Folder::Open(folderPath_, folder_)) return false;
  {
    static std::mutex lock;
    static std::set<std::string> cleaned;
    std::lock_guard<std::mutex> hold(lock);
    if (cleaned.insert(folderPath_).second) tempnames::RemoveStale(folderPath_);
  }
  for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
    temp_ = tempnames::New();
    file_ = folder_.CreateNew(temp_);
  }
  if (!file_) {
    temp_.clear();
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, 256 * 1024);
  cleanupId_ = AddCleanup([this] { Drop(); });
  return true;
}

bool PendingFile::Commit(bool sync, int64_t mtime, bool setTime) {
  if (!file_) return false;
  bool ok = sync ? fs::SyncFile(file_) : std::fflush(file_) == 0;
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  if (ok && setTime) folder_.SetTime(temp_, mtime);
  ok = ok && folder_.Rename(temp_, name_);
  if (ok) {
    temp_.clear();
    Forget();
  }
  return ok;
}

void PendingFile::Discard() {
  Drop();
  Forget();
}

void PendingFile::Drop() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    folder_.Remove(temp_);
    temp_.clear();
  }
}

void PendingFile::Forget() {
  if (cleanupId_) {
    RemoveCleanup(cleanupId_);
    cleanupId_ = 0;
  }
}

}  // namespace qv
