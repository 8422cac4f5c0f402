// A Quorvelpack run on the virtual clock: the real engine, the scripted
// dialogs, a settings store and a trash under the test's own folders, and a
// shell that only records what it was asked to open.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/workflow_common.h"
#include "compressor/frmMain.h"
#include "engine/ZipEngine.h"
#include "filedialog/ChooserInput.h"
#include "support/modQuorvelRegSettings.h"

namespace qv::pack::testing {

using namespace qv::testing;  // NOLINT: the shared helpers read as local ones

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

class Workflow : public WorkflowFixture<frmMain> {
 protected:
  Workflow() : WorkflowFixture("qv_pack_") {}

  void SetUp() override {
    WorkflowFixture::SetUp();
    fs::create_directories(root_ / "work");
    fs::remove_all(DataHome() / "Trash");
    fs::remove_all(Home());
    fs::create_directories(Home());
    // The chooser's user: no answer (a cancel) unless a case gives some.
    SetChooserInput(&chooser_);
  }

  void TearDown() override {
    WorkflowFixture::TearDown();
    SetChooserInput(nullptr);
  }

  struct Remover : ::testing::Environment {
    explicit Remover(fs::path p) : path(std::move(p)) {}
    void TearDown() override {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
    fs::path path;
  };

  std::string LastDir() { return GetSettingString("Quorvelpack", "Data", "LastDir", "<none>"); }

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

  ScriptedChooserInput chooser_;
};

}  // namespace qv::pack::testing
