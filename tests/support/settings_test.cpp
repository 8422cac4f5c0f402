#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <vector>

#include "support/modQuorvelRegSettings.h"
#include "support/settings_ini.h"
#include "tempdir.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

class Settings : public testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (home_ / "etc").c_str(), 1);
  }
  std::string File(const std::string& app = "Quorvelpack") const {
    return home_ / ("config/" + app + "/Settings.ini");
  }
  test::TempDir home_;
};

// Runs `call` and returns the numbered error it raised.
NumberedError Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const NumberedError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return NumberedError(0, "", "");
}

TEST_F(Settings, NamesAreCheckedInOrderBeforeAnythingIsTouched) {
  auto e = Raised([] { SaveSettingString("   ", "", "", "v"); });
  EXPECT_EQ(static_cast<uint32_t>(e.Number()), 0x800403E8u);
  EXPECT_EQ(e.Number(), -2147220504);
  EXPECT_EQ(e.Description(), "AppName doit être renseigné");

  e = Raised([] { SaveSettingString("App", "  ", "", "v"); });
  EXPECT_EQ(static_cast<uint32_t>(e.Number()), 0x800403E9u);
  EXPECT_EQ(e.Description(), "Section doit être renseigné");

  e = Raised([] { SaveSettingString("App", "Data", " ", "v"); });
  EXPECT_EQ(static_cast<uint32_t>(e.Number()), 0x800403EAu);
  EXPECT_EQ(e.Description(), "Key doit être renseigné");

  e = Raised([] { GetSettingString("", "Data", "K", "d"); });
  EXPECT_EQ(e.Description(), "AppName doit être renseigné");
  e = Raised([] { GetSettingString("App", "", "K", "d"); });
  EXPECT_EQ(e.Description(), "Section doit être renseigné");
  e = Raised([] { GetSettingString("App", "Data", "  ", "d", true); });
  EXPECT_EQ(static_cast<uint32_t>(e.Number()), 0x800403EAu);
  EXPECT_EQ(e.Description(), "Key  doit être renseigné");

  EXPECT_FALSE(fs::exists(home_ / "config"));
  EXPECT_FALSE(fs::exists(home_ / "etc"));
}

TEST_F(Settings, DefaultOnlyWhenNothingIsStored) {
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "défaut"), "défaut");
  SaveSettingString("Quorvelpack", "Autre", "X", "1");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "défaut"), "défaut");
  SaveSettingString("Quorvelpack", "Data", "Y", "1");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "défaut"), "défaut");
  SaveSettingString("Quorvelpack", "Data", "LastDir", "");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "défaut"), "");
  SaveSettingString("Quorvelpack", "Data", "LastDir", "/home/anne");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "défaut"), "/home/anne");
  EXPECT_EQ(GetSettingString("Quorvelunpack", "Data", "LastDir", "d"), "d");
}

TEST_F(Settings, ApplicationAndSectionAreTrimmedTheKeyIsNot) {
  SaveSettingString("  Quorvelpack ", "  Data  ", "LastDir", "a");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "a");
  SaveSettingString("Quorvelpack", "Data", " LastDir ", "b");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "a");
  EXPECT_EQ(GetSettingString("Quorvelpack", " Data", " LastDir ", "d"), "b");
  EXPECT_TRUE(fs::exists(File()));
}

TEST_F(Settings, MachineWideIsASeparateStore) {
  SaveSettingString("Quorvelpack", "Data", "LastDir", "machine", true);
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d", false), "d");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d", true), "machine");
  EXPECT_TRUE(fs::exists(home_ / "etc/Quorvelpack/Settings.ini"));
}

TEST_F(Settings, AValueOfAnotherTypeRaisesTheNonStringError) {
  test::WriteText(File(), "[Data]\nLastDir:2=%HOME%/x\nOther:1=texte\n");
  auto e = Raised([] { GetSettingString("Quorvelpack", "Data", "LastDir", "d"); });
  EXPECT_EQ(static_cast<uint32_t>(e.Number()), 0x800407D2u);
  EXPECT_EQ(e.Description(), "Les données de la clef de registre ne sont pas une chaine de caractères");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "Other", "d"), "texte");
  SaveSettingString("Quorvelpack", "Data", "Other", "t2");  // keeps the typed value
  EXPECT_THROW(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), NumberedError);
  SaveSettingString("Quorvelpack", "Data", "LastDir", "/x");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "/x");
}

TEST_F(Settings, HostileNamesAndValuesRoundTripExactly) {
  const std::vector<std::string> values = {
      "C:\\Data\\été",  "a=b=c",         "[Data]",   "ligne 1\nligne 2\r\n", "  blancs autour  ",
      "\\x41\\n\\",     "#pas un commentaire", ";",  "\t",                    " ",
      "clé → 🎉",       std::string("nul\0au milieu", 13), "k:2=v", "]",       "\x7f\x01"};
  const std::vector<std::string> keys = {"k=ey", "[k]", " k ", "k:2", "#k", ";k", "ключ", "a\\b", "\nk"};
  for (std::size_t i = 0; i < values.size(); ++i)
    SaveSettingString("Quorvelpack", "Sec]tion [x]", keys[i % keys.size()] + std::to_string(i), values[i]);
  SaveSettingString("Quorvelpack", "Data", "LastDir", "/stays");
  for (std::size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(GetSettingString("Quorvelpack", "Sec]tion [x]", keys[i % keys.size()] + std::to_string(i), "d"),
              values[i])
        << i;
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "/stays");
  // Every entry still sits on one line of its group.
  auto doc = settings::ParseIni(test::ReadText(File()));
  ASSERT_EQ(doc.sections.size(), 2u);
  EXPECT_EQ(doc.sections[0].entries.size(), values.size());
}

TEST_F(Settings, HandWrittenLayoutIsRead) {
  test::WriteText(File(), "\xEF\xBB\xBF; édité à la main\r\n[ Data ]\r\n  LastDir =  /home/x  \r\nbroken line\r\n"
                          "[Data]\r\nLastDir=/home/y\r\n");
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "/home/y");
}

TEST_F(Settings, ALinkedFileStaysALink) {
  test::WriteText(home_ / "dotfiles/qv.ini", "[Data]\nLastDir=/a\n");
  fs::create_directories(home_ / "config/Quorvelpack");
  fs::create_symlink(home_ / "dotfiles/qv.ini", File());
  SaveSettingString("Quorvelpack", "Data", "LastDir", "/b");
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "/b");
  EXPECT_NE(test::ReadText(home_ / "dotfiles/qv.ini").find("LastDir=/b"), std::string::npos);
}

TEST_F(Settings, ConcurrentWritersLoseNoUpdate) {
  constexpr int kWriters = 6, kKeys = 15;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        for (int k = 0; k < kKeys; ++k)
          SaveSettingString("Quorvelpack", "Data", "w" + std::to_string(w) + "k" + std::to_string(k),
                            "valeur " + std::to_string(w * 100 + k));
      } catch (...) {
        status = 3;
      }
      _exit(status);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto doc = settings::ParseIni(test::ReadText(File()));
  ASSERT_EQ(doc.sections.size(), 1u);
  EXPECT_EQ(doc.sections[0].entries.size(), static_cast<std::size_t>(kWriters * kKeys));
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k)
      EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "w" + std::to_string(w) + "k" + std::to_string(k), "?"),
                "valeur " + std::to_string(w * 100 + k));
  for (auto& entry : fs::directory_iterator(home_ / "config/Quorvelpack"))
    EXPECT_TRUE(entry.path().filename() == "Settings.ini" || entry.path().filename() == ".Settings.ini.lock")
        << entry.path();
}

TEST_F(Settings, AStoreThatCannotBeOpenedRaisesWithTheSystemCode) {
  test::WriteText(home_ / "config/Quorvelpack", "un fichier, pas un dossier");
  auto e = Raised([] { SaveSettingString("Quorvelpack", "Data", "LastDir", "/x"); });
  EXPECT_EQ(e.Number(), ErrorNumber(2000 + ENOTDIR));
  EXPECT_EQ(e.Description(), "Impossible d'ouvrir ou de créer la clef de registre");
  e = Raised([] { GetSettingString("Quorvelpack", "Data", "LastDir", "d"); });
  EXPECT_EQ(e.Number(), ErrorNumber(2000 + ENOTDIR));
  EXPECT_EQ(e.Description(), "Impossible d'ouvrir cette clef de registre");
}

TEST_F(Settings, AReadOnlyFolderRaisesPermissionDenied) {
  SaveSettingString("Quorvelpack", "Data", "LastDir", "/old");
  fs::remove(home_ / "config/Quorvelpack/.Settings.ini.lock");
  // Permissions do not bind root: the attempt runs as an ordinary user.
  const uid_t user = geteuid() == 0 ? 65534 : geteuid();
  if (geteuid() == 0)
    for (auto& entry : fs::recursive_directory_iterator(home_.path()))
      (void)!::chown(entry.path().c_str(), user, user);
  (void)!::chown(home_.path().c_str(), user, user);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (::setgid(user) != 0 || ::setuid(user) != 0)) _exit(6);
    ::chmod((home_ / "config/Quorvelpack").c_str(), 0500);
    try {
      SaveSettingString("Quorvelpack", "Data", "LastDir", "/x");
    } catch (const NumberedError& e) {
      bool right = e.Number() == ErrorNumber(2000 + EACCES) &&
                   e.Description() == "Impossible d'ouvrir ou de créer la clef de registre";
      _exit(right ? 0 : 4);
    }
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "/old");
}

TEST_F(Settings, AFailedWriteLeavesTheOldFileWhole) {
  SaveSettingString("Quorvelpack", "Data", "LastDir", "/old");
  const std::string before = test::ReadText(File());
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // A disk that takes no more than a few bytes per file.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &lim);
    try {
      SaveSettingString("Quorvelpack", "Data", "LastDir", "/nouveau/et/bien/plus/long");
    } catch (const NumberedError& e) {
      bool right = e.Number() == ErrorNumber(2000 + EFBIG) &&
                   e.Description() == "Impossible d'écrire la clef de registre";
      _exit(right ? 0 : 4);
    }
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(test::ReadText(File()), before);
  EXPECT_EQ(GetSettingString("Quorvelpack", "Data", "LastDir", "d"), "/old");
  int files = 0;
  for ([[maybe_unused]] auto& entry : fs::directory_iterator(home_ / "config/Quorvelpack")) ++files;
  EXPECT_EQ(files, 2);  // the file and its lock, no temporary left over
}

}  // namespace
}  // namespace qv
