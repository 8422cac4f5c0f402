// What the workflow tests of both programs share: a run of a program's frmMain
// on the virtual clock with the scripted dialogs, the real engine, a settings
// store under the test's own folder, and a shell that only records what it
// was asked to open.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/eventloop.h"
#include "support/modShellExtended.h"
#include "support/process.h"
#include "taskdialog/tdscripted.h"

namespace qv::testing {

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
// Data deflate cannot shrink, so the engine has real work to do and the
// write takes several progress steps.
inline std::string Noise(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// A clock on which work costs time: every pass over the events that does not
// wait moves it by 1 ms, so the dialog's timer ticks (and the scripted user)
// also get their turn while the engine works.
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

// A whole run of `Form` (a program's frmMain) per case, in a folder of its own
// named after the case; `prefix` keeps the two programs' folders apart.
template <class Form>
class WorkflowFixture : public ::testing::Test {
 protected:
  explicit WorkflowFixture(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    root_ = fs::temp_directory_path() /
            (prefix_ + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "config");
    ::setenv("XDG_CONFIG_HOME", U8(root_ / "config").c_str(), 1);
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
    RunCleanups();
    SetLoop(nullptr);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Runs the whole workflow; answers the exit status it ended with.
  int Run(const std::string& commandLine) {
    form_ = std::make_unique<Form>();
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

  const std::vector<ShownDialog>& Shown() { return ui_->Shown(); }
  DialogScript& Dialog(size_t n) { return ui_->Dialog(n); }

  WorkingClockLoop loop_;
  fs::path root_;
  std::unique_ptr<ScriptedDialogs> ui_;
  std::vector<std::string> opened_;
  std::unique_ptr<Form> form_;
  int64_t endedAtMs_ = -1;

 private:
  std::string prefix_;
};

}  // namespace qv::testing
