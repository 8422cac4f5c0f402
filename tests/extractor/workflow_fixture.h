// What the workflow tests of Quorvelunpack share: a run of frmMain on the
// virtual clock with the scripted dialogs, the real engine, a settings store
// and a shell that only records what it was asked to open.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/workflow_common.h"
#include "engine/ZipEngine.h"
#include "extractor/frmMain.h"
#include "support/modQuorvelRegSettings.h"

namespace qv::unpack::testing {

using namespace qv::testing;  // NOLINT: the shared helpers read as local ones

// Writes `source`'s tree into `zip` with the engine (AES-256 when a password
// is given).
inline void MakeZip(const fs::path& source, const fs::path& zip, const std::string& password = {}) {
  ZipEngine z;
  ASSERT_EQ(z.PrepareArchive(U8(zip)), 1);
  if (!password.empty()) {
    z.SetCipher(ZipEngine::kCipherAes);
    z.SetKeyBits(256);
    z.SetArchivePassword(password);
  }
  z.SetEntryRoot(U8(source));
  ASSERT_EQ(z.AddTree(U8(source) + "/*", 1), 1);
  ASSERT_EQ(z.WriteAndClose(), 1);
}

class Workflow : public WorkflowFixture<frmMain> {
 protected:
  Workflow() : WorkflowFixture("qv_unpack_") {}

  std::string LastDir() { return GetSettingString("Quorvelunpack", "Data", "LastDir", "<none>"); }

  // A source tree of a few files in a subfolder, the archive made from it.
  fs::path MakeSample(const std::string& name, const std::string& password = {}) {
    fs::path src = root_ / "src" / name;
    WriteFile(src / "a.txt", "alpha\n");
    WriteFile(src / "sub" / "b.txt", "bravo\n");
    WriteFile(src / "sub" / "c.bin", Noise(70000, 3));
    fs::path zip = root_ / (name + ".zip");
    MakeZip(src, zip, password);
    return zip;
  }
};

}  // namespace qv::unpack::testing
