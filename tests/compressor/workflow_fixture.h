// A Quorvelpack run on the virtual clock: the real engine, the scripted
// dialogs, a settings store and a trash under the test's own folders, and a
// shell that only records what it was asked to open.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "compressor/frmMain.h"
#include "engine/ZipEngine.h"
#include "filedialog/ChooserInput.h"
#include "support/eventloop.h"
#include "support/modQuorvelRegSettings.h"
#include "support/modShellExtended.h"
#include "support/process.h"
#include "taskdialog/tdscripted.h"

namespace qv::pack::testing {

namespace fs = std::filesystem;

inline std::string U8(const fs::path& p) {
  auto s = p.u8string();
  return std::string(s.begin(), s.end());
}
inline fs::path P(const std::string& s) { return fs::path(std::u8string(s.begin(), s.end())); }

inline void WriteFile(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}
inline std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// Data deflate cannot shrink, so the write takes several progress steps.
inline std::string Noise(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// Every pass over the events that does not wait costs 1 ms, so the dialog's
// ticks and the scripted user also get their turn while the engine works.
class WorkingClockLoop : public VirtualEventLoop {
 protected:
  bool WaitForInput(int64_t timeoutMs) override {
    if (timeoutMs == 0) {
      Advance(1);
      return false;
    }
    return VirtualEventLoop::WaitForInput(timeoutMs);
  }
};

// The files of a folder, relative path -> content.
using Tree = std::vector<std::pair<std::string, std::string>>;

inline Tree ReadTree(const fs::path& root) {
  Tree t;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) t.emplace_back(U8(fs::relative(e.path(), root)), ReadFile(e.path()));
  std::sort(t.begin(), t.end());
  return t;
}

// What the archive holds, read back with the engine.
inline Tree ReadArchive(const fs::path& zip, const fs::path& scratch,
                        const std::string& password = {}) {
  ZipEngine z;
  if (z.OpenArchive(U8(zip)) != 1) {
    ADD_FAILURE() << "cannot open " << zip;
    return {};
  }
  if (!password.empty()) {
    z.SetExtractPassword(password);
    EXPECT_EQ(z.PasswordMatches(), 1);
  }
  fs::remove_all(scratch);
  EXPECT_GE(z.ExtractAll(U8(scratch)), 0);
  z.CloseArchive();
  return ReadTree(scratch);
}

class Workflow : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv_pack_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "config");
    fs::create_directories(root_ / "work");
    ::setenv("XDG_CONFIG_HOME", U8(root_ / "config").c_str(), 1);
    fs::remove_all(DataHome() / "Trash");
    fs::remove_all(Home());
    fs::create_directories(Home());
    // The chooser's user: no answer (a cancel) unless a case gives some.
    SetChooserInput(&chooser_);
    SetLoop(&loop_);
    ThrowOnEndProcess();
    ui_ = std::make_unique<ScriptedDialogs>();
    ui_->IdleTimeoutMs = 20000;
    SetShellExecuteHook([this](const ShellRequest& r) -> intptr_t {
      opened_.push_back(r.file);
      return 42;
    });
  }

  void TearDown() override {
    form_.reset();
    ui_.reset();
    SetShellExecuteHook({});
    SetEndProcessHandler({});
    SetChooserInput(nullptr);
    RunCleanups();
    SetLoop(nullptr);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  struct Remover : ::testing::Environment {
    explicit Remover(fs::path p) : path(std::move(p)) {}
    void TearDown() override {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
    fs::path path;
  };

  // Runs the whole workflow; answers the exit status it ended with.
  int Run(const std::string& commandLine) {
    form_ = std::make_unique<frmMain>();
    try {
      form_->Form_Load(commandLine);
    } catch (const ProcessEnded& e) {
      endedAtMs_ = loop_.NowMs();
      EXPECT_TRUE(ui_->Errors().empty()) << ui_->Errors().front();
      return e.code;
    }
    ADD_FAILURE() << "the load handler returned instead of ending the process";
    return -1;
  }

  std::string LastDir() { return GetSettingString("Quorvelpack", "Data", "LastDir", "<none>"); }
  const std::vector<ShownDialog>& Shown() { return ui_->Shown(); }
  DialogScript& Dialog(size_t n) { return ui_->Dialog(n); }

  // A folder of a few files, one of them large enough for several progress
  // steps, inside root_/work.
  fs::path MakeFolder(const std::string& name) {
    fs::path f = root_ / "work" / P(name);
    WriteFile(f / "a.txt", "alpha\n");
    WriteFile(f / "sub" / "b.txt", "bravo\n");
    WriteFile(f / "sub" / "c.bin", Noise(600000, 7));
    return f;
  }

  // Names in the folder that holds the archives (temporary files included).
  std::vector<std::string> WorkEntries() {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(root_ / "work")) names.push_back(U8(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

  // The desktop library reads the home and data folders once per process:
  // both live in a folder of the process, emptied for each case and removed
  // at the end.
  static fs::path ProcessFolder() {
    static const fs::path folder = [] {
      fs::path p = fs::temp_directory_path() / ("qv_pack_proc_" + std::to_string(::getpid()));
      fs::create_directories(p / "data");
      fs::create_directories(p / "home");
      ::setenv("XDG_DATA_HOME", U8(p / "data").c_str(), 1);
      ::setenv("HOME", U8(p / "home").c_str(), 1);
      ::testing::AddGlobalTestEnvironment(new Remover(p));
      return p;
    }();
    return folder;
  }
  static fs::path DataHome() { return ProcessFolder() / "data"; }
  static fs::path Home() { return ProcessFolder() / "home"; }
  static fs::path TrashFiles() { return DataHome() / "Trash" / "files"; }

  // What the trash holds.
  std::vector<std::string> Trashed() {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(TrashFiles(), ec))
      names.push_back(U8(e.path().filename()));
    return names;
  }

  WorkingClockLoop loop_;
  ScriptedChooserInput chooser_;
  fs::path root_;
  std::unique_ptr<ScriptedDialogs> ui_;
  std::vector<std::string> opened_;
  std::unique_ptr<frmMain> form_;
  int64_t endedAtMs_ = -1;
};

}  // namespace qv::pack::testing
