#include "engine/PendingFile.h"

#include <mutex>
#include <set>

#include "engine/FileSystem.h"
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

bool PendingFile::Create() {
  size_t cut = target_.find_last_of(kSeparators);
  std::string dir = cut == std::string::npos ? std::string() : target_.substr(0, cut == 0 ? 1 : cut);
  {
    static std::mutex lock;
    static std::set<std::string> cleaned;
    std::lock_guard<std::mutex> hold(lock);
    if (cleaned.insert(dir).second) tempnames::RemoveStale(dir.empty() ? "." : dir);
  }
  std::string prefix = dir.empty() ? std::string()
                       : (dir.back() == fs::kSep || dir.back() == '/') ? dir
                                                                       : dir + fs::kSep;
  for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
    temp_ = prefix + tempnames::New();
    file_ = fs::CreateNew(temp_);
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
  if (ok && setTime) fs::SetModificationTime(temp_, mtime);
  ok = ok && fs::ReplaceFile(temp_, target_);
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
    fs::RemoveFile(temp_);
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
