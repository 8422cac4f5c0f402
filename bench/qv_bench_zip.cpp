// Drives the zip engine the way the programs do, for the benchmark script:
//   qv_bench_zip pack <folder> <archive> [password] [options]
//   qv_bench_zip unpack <archive> <destination> [password] [options]
// Options:
//   --threads N        hand N to ZipEngine::Threads (without it, the engine's default)
//   --progress         print, for the timed call (WriteAndClose or ExtractAll), how often
//                      PercentDone came and the largest silence of the events
//   --cancel-after S   ask to stop S seconds after the timed call began, at the first
//                      AbortCheck or PercentDone from then on, and print how long the
//                      engine took to return from the moment of the request
// Exit status 0 on success (with --cancel-after: the call ended as aborted and left
// nothing behind), 1 on failure, 2 on bad usage, 3 when the call ended before the request.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ZipEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Watches the events of one engine call. The largest gap counts the silence from
// the start of the call to the first event and from the last one to the return,
// since a dialog cannot redraw or cancel then either.
class EventWatch {
 public:
  EventWatch(qv::ZipEngine& zip, double cancelAfter) : cancelAfter_(cancelAfter) {
    zip.PercentDone = [this](int32_t, int32_t& abort) {
      Seen(true);
      if (ShouldAbort()) abort = 1;
    };
    zip.AbortCheck = [this](int32_t& abort) {
      Seen(false);
      if (ShouldAbort()) abort = 1;
    };
  }

  void Begin() { start_ = lastPercent_ = lastAny_ = Clock::now(); }
  void End() {
    end_ = Clock::now();
    maxPercentGap_ = std::max(maxPercentGap_, end_ - lastPercent_);
    maxAnyGap_ = std::max(maxAnyGap_, end_ - lastAny_);
  }

  bool Requested() const { return requested_; }

  void PrintProgress() const {
    double total = Seconds(end_ - start_);
    std::printf("progress seconds=%.3f percent_events=%ld percent_rate=%.1f percent_max_gap=%.3f "
                "abort_checks=%ld any_max_gap=%.3f\n",
                total, percentEvents_, total > 0 ? percentEvents_ / total : 0.0, Seconds(maxPercentGap_),
                abortChecks_, Seconds(maxAnyGap_));
  }

  void PrintCancel() const {
    // From the moment the user would have clicked, not from the event that carried
    // the request: a late event is part of what the user waits for.
    double requestAt = cancelAfter_;
    std::printf("cancel request_at=%.3f delivered_after=%.3f returned_after=%.3f\n", requestAt,
                Seconds(delivered_ - start_) - requestAt, Seconds(end_ - start_) - requestAt);
  }

 private:
  void Seen(bool percent) {
    auto now = Clock::now();
    maxAnyGap_ = std::max(maxAnyGap_, now - lastAny_);
    lastAny_ = now;
    if (percent) {
      maxPercentGap_ = std::max(maxPercentGap_, now - lastPercent_);
      lastPercent_ = now;
      ++percentEvents_;
    } else {
      ++abortChecks_;
    }
  }

  bool ShouldAbort() {
    if (cancelAfter_ < 0) return false;
    if (requested_) return true;
    if (Seconds(Clock::now() - start_) < cancelAfter_) return false;
    requested_ = true;
    delivered_ = Clock::now();
    return true;
  }

  double cancelAfter_;
  Clock::time_point start_, end_, lastPercent_, lastAny_, delivered_;
  Clock::duration maxPercentGap_{}, maxAnyGap_{};
  long percentEvents_ = 0, abortChecks_ = 0;
  bool requested_ = false;
};

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

int Usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s pack <folder> <archive> [password] | unpack <archive> <dest> [password]\n"
               "       [--threads N] [--progress] [--cancel-after SECONDS]\n",
               self);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  int threads = -1;
  bool progress = false;
  double cancelAfter = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--threads" && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else if (a == "--progress") {
      progress = true;
    } else if (a == "--cancel-after" && i + 1 < argc) {
      cancelAfter = std::atof(argv[++i]);
    } else if (a.rfind("--", 0) == 0) {
      return Usage(argv[0]);
    } else {
      args.push_back(a);
    }
  }
  if (args.size() < 3 || args.size() > 4) return Usage(argv[0]);
  const std::string& mode = args[0];
  std::string password = args.size() > 3 ? args[3] : "";

  qv::ZipEngine zip;
  if (threads >= 0) zip.Threads(threads);
  EventWatch watch(zip, cancelAfter);
  int status = 2;
  bool aborted = false;

  if (mode == "pack") {
    std::string folder = args[1];
    const std::string& archive = args[2];
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (zip.PrepareArchive(archive) != 1) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    if (!password.empty()) {
      zip.SetCipher(qv::ZipEngine::kCipherAes);
      zip.SetKeyBits(256);
      zip.SetArchivePassword(password);
    }
    zip.SetEntryRoot(folder);
    if (zip.AddTree(folder + "/*", 1) != 1) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    watch.Begin();
    int32_t r = zip.WriteAndClose();
    watch.End();
    aborted = r != 1 && watch.Requested();
    if (aborted && Exists(archive)) {
      std::fprintf(stderr, "aborted, yet %s exists\n", archive.c_str());
      return 1;
    }
    if (r != 1 && !aborted) std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
    status = r == 1 || aborted ? 0 : 1;
  } else if (mode == "unpack") {
    if (zip.OpenArchive(args[1]) != 1) {
      std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
      return 1;
    }
    if (!password.empty()) {
      zip.SetExtractPassword(password);
      if (zip.PasswordMatches() != 1) {
        std::fprintf(stderr, "wrong password\n");
        return 1;
      }
    }
    watch.Begin();
    int32_t n = zip.ExtractAll(args[2]);
    watch.End();
    aborted = n == qv::ZipEngine::kExtractAborted && watch.Requested();
    if (n < 0 && !aborted) std::fprintf(stderr, "%s\n", zip.ErrorText().c_str());
    status = n >= 0 || aborted ? 0 : 1;
  } else {
    return Usage(argv[0]);
  }

  if (progress) watch.PrintProgress();
  if (cancelAfter >= 0) {
    if (!aborted) {
      std::printf("cancel not reached: the call ended first\n");
      return status == 0 ? 3 : status;
    }
    watch.PrintCancel();
  }
  return status;
}
