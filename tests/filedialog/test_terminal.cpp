// The terminal chooser of Linux: scripted answers, line mode through pipes,
// the Documents folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "filedialog/ChooserInput.h"
#include "filedialog/CmnDialogEx.h"
#include "filedialog/xdg.h"

namespace fs = std::filesystem;
using namespace qv;

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& l : lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

struct Terminal : ::testing::Test {
  std::string dir;
  std::string savedHome, savedConfig;
  void SetUp() override {
    char tmpl[] = "/tmp/qv-chooser-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
    fs::create_directories(dir + "/sub");
    fs::create_directories(dir + "/home/Docs");
    std::ofstream(dir + "/a.zip") << "zip";
    std::ofstream(dir + "/Archive.ZIP") << "zip";
    std::ofstream(dir + "/b.txt") << "text";
    if (const char* h = std::getenv("HOME")) savedHome = h;
    if (const char* c = std::getenv("XDG_CONFIG_HOME")) savedConfig = c;
    ::setenv("HOME", (dir + "/home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    fs::create_directories(dir + "/config");
    std::ofstream(dir + "/config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n";
  }
  void TearDown() override {
    SetChooserInput(nullptr);
    ::setenv("HOME", savedHome.c_str(), 1);
    if (savedConfig.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  // The archive choice as the extractor asks it.
  static void ArchiveChooser(CmnDialogEx& d, const std::string& initDir) {
    d.Clear();
    d.FlagsDialog(6144);
    d.InitDir(initDir);
    if (d.InitDir().empty()) d.InitDir(DocumentsFolder());
    d.Filter("Zip Files|*.zip");
    d.DefaultExt("zip");
    d.DialogTitle("Sélectionnez un fichier Zip");
  }
};

TEST_F(Terminal, ModernGenerationAndPosixPaths) {
  CmnDialogEx d;
  EXPECT_EQ(d.Version(), kModernGeneration);
  d.InitDir("/var/tmp");
  EXPECT_EQ(d.InitDir(), "/var/tmp");
  d.InitDir("Documents");
  EXPECT_EQ(d.InitDir(), "");
  d.InitDir("5");
  EXPECT_EQ(d.InitDir(), dir + "/home/Docs");
  d.InitDir("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}");
  EXPECT_EQ(d.InitDir(), dir + "/home/Docs");
}

TEST_F(Terminal, ArchiveMustExistAndTakesTheDefaultExtension) {
  ScriptedChooserInput answers({"missing", "b", "a"});
  SetChooserInput(&answers);
  CmnDialogEx d;
  ArchiveChooser(d, dir);
  ASSERT_TRUE(d.ShowOpen(0, 0, nullptr, ""));
  EXPECT_EQ(d.FileName(), dir + "/a.zip");
  EXPECT_EQ(d.FileTitle(), "a.zip");
  EXPECT_EQ(d.FilterIndex(), 1);
  ASSERT_EQ(answers.Prompts().size(), 3u);
  EXPECT_EQ(answers.Prompts()[0], "Sélectionnez un fichier Zip (Zip Files : *.zip) dans " + dir + " :");
  EXPECT_TRUE(Contains(answers.Transcript(), "Le fichier « " + dir +
                                                 "/missing.zip » est introuvable. Vérifiez le nom du fichier et "
                                                 "réessayez."));
  EXPECT_TRUE(Contains(answers.Transcript(), "« " + dir + "/b.zip » est introuvable"));
}

TEST_F(Terminal, FolderTypedInAFileChooserOpensIt) {
  std::ofstream(dir + "/sub/inner.zip") << "zip";
  ScriptedChooserInput answers({"sub", "inner", "../a.zip"});
  SetChooserInput(&answers);
  CmnDialogEx d;
  ArchiveChooser(d, dir);
  ASSERT_TRUE(d.ShowOpen());
  EXPECT_EQ(d.FileName(), dir + "/sub/inner.zip");
  EXPECT_EQ(answers.Prompts()[1], "Sélectionnez un fichier Zip (Zip Files : *.zip) dans " + dir + "/sub :");
}

TEST_F(Terminal, FilterListingAndCompletion) {
  ScriptedChooserInput answers({"?", std::nullopt});
  SetChooserInput(&answers);
  CmnDialogEx d;
  ArchiveChooser(d, dir);
  EXPECT_FALSE(d.ShowOpen());
  const auto& t = answers.Transcript();
  EXPECT_TRUE(Contains(t, "  sub/"));
  EXPECT_TRUE(Contains(t, "  a.zip"));
  EXPECT_TRUE(Contains(t, "  Archive.ZIP"));  // patterns match whatever the case
  EXPECT_TRUE(Contains(t, "  home/"));
  EXPECT_FALSE(Contains(t, "b.txt"));
  const auto& complete = answers.LastCompleter();
  ASSERT_TRUE(complete);
  EXPECT_EQ(complete("s"), (std::vector<std::string>{"sub/"}));
  EXPECT_EQ(complete(""), (std::vector<std::string>{"Archive.ZIP", "a.zip", "config/", "home/", "sub/"}));
  EXPECT_EQ(complete(dir + "/A"), (std::vector<std::string>{dir + "/Archive.ZIP"}));
  EXPECT_TRUE(complete("b").empty());
}

TEST_F(Terminal, CancelGivesFalseAndAnEmptyFileName) {
  ScriptedChooserInput answers({std::nullopt});
  SetChooserInput(&answers);
  CmnDialogEx d;
  ArchiveChooser(d, dir);
  EXPECT_FALSE(d.ShowOpen());
  EXPECT_EQ(d.FileName(), "");
  d.CancelError(true);
  EXPECT_ANY_THROW(d.ShowOpen());
}

TEST_F(Terminal, FolderChooser) {
  ScriptedChooserInput answers({"nothere", dir + "/a.zip", "sub"});
  SetChooserInput(&answers);
  CmnDialogEx d;
  d.Clear();
  d.FlagsDialog(6176);
  d.InitDir(dir);
  d.DialogTitle("Sélectionnez un dossier à Compresser");
  ASSERT_TRUE(d.ShowOpen());
  EXPECT_EQ(d.FileName(), dir + "/sub");
  EXPECT_EQ(answers.Prompts()[0], "Sélectionnez un dossier à Compresser dans " + dir + " :");
  EXPECT_TRUE(Contains(answers.Transcript(), "Le dossier « " + dir + "/nothere » est introuvable."));
  EXPECT_TRUE(Contains(answers.Transcript(), "« " + dir + "/a.zip » n'est pas un dossier."));
  // Folders only in completion; an empty answer takes the folder shown.
  EXPECT_EQ(answers.LastCompleter()(""), (std::vector<std::string>{"config/", "home/", "sub/"}));
  ScriptedChooserInput empty({""});
  SetChooserInput(&empty);
  ASSERT_TRUE(d.ShowOpen());
  EXPECT_EQ(d.FileName(), dir);
}

TEST_F(Terminal, NoFilterListsEverything) {
  ScriptedChooserInput answers({"?", "b.txt"});
  SetChooserInput(&answers);
  CmnDialogEx d;
  d.FlagsDialog(6144);
  d.InitDir(dir);
  ASSERT_TRUE(d.ShowOpen());
  EXPECT_EQ(d.FileName(), dir + "/b.txt");
  EXPECT_EQ(answers.Prompts()[0], "Ouvrir (Tous les fichiers (*.*)) dans " + dir + " :");
  EXPECT_TRUE(Contains(answers.Transcript(), "  b.txt"));
  EXPECT_EQ(d.Filter(), "");  // the default is not kept on the item dialog
}

TEST_F(Terminal, MultipleSelectionAsQuotedNames) {
  ScriptedChooserInput answers({"\"a\" \"nothere\"", "\"sub\" \"a\"", "\"a\" \"Archive.ZIP\" \"b.txt\""});
  SetChooserInput(&answers);
  CmnDialogEx d;
  ArchiveChooser(d, dir);
  d.FlagsDialog(6144 | 0x200);
  ShellObjectPtr items;
  ASSERT_TRUE(d.ShowOpen(0, 0, &items));
  EXPECT_EQ(d.FileName(), dir + "/a.zip" + std::string(1, '\0') + dir + "/Archive.ZIP" + std::string(1, '\0') + dir +
                              "/b.txt");
  EXPECT_EQ(d.FileTitle(), "a.zip");
  EXPECT_EQ(d.IShellItemArray_Action(items, 0), 3);
  EXPECT_TRUE(Contains(answers.Transcript(), "/nothere.zip » est introuvable"));
  EXPECT_TRUE(Contains(answers.Transcript(), "« " + dir + "/sub » est un dossier."));
}

TEST_F(Terminal, StartsInDocumentsWhenInitDirIsUnusable) {
  ScriptedChooserInput answers({std::nullopt});
  SetChooserInput(&answers);
  CmnDialogEx d;
  d.FlagsDialog(6176);
  d.InitDir(dir + "/gone");  // a path: kept, but it does not exist
  EXPECT_EQ(d.InitDir(), dir + "/gone");
  EXPECT_FALSE(d.ShowOpen());
  EXPECT_EQ(answers.Prompts()[0], "Sélectionner un dossier dans " + dir + "/home/Docs :");
}

TEST_F(Terminal, SaveAsksBeforeReplacing) {
  ScriptedChooserInput answers({"a", "n", "a", "o"});
  SetChooserInput(&answers);
  CmnDialogEx d;
  d.FlagsDialog(0x2 | 0x800);
  d.DefaultExt("zip");
  d.InitDir(dir);
  ASSERT_TRUE(d.ShowSave());
  EXPECT_EQ(d.FileName(), dir + "/a.zip");
  EXPECT_EQ(answers.Remaining(), 0u);
  EXPECT_TRUE(Contains(answers.Transcript(), "« " + dir + "/a.zip » existe déjà. Voulez-vous le remplacer ? (o/n)"));

  ScriptedChooserInput fresh({"nouveau"});
  SetChooserInput(&fresh);
  ASSERT_TRUE(d.ShowSave());
  EXPECT_EQ(d.FileName(), dir + "/nouveau.zip");
  ScriptedChooserInput badPath({"nowhere/x.zip", std::nullopt});
  SetChooserInput(&badPath);
  EXPECT_FALSE(d.ShowSave());
  EXPECT_TRUE(Contains(badPath.Transcript(), "Le chemin « " + dir + "/nowhere » est introuvable."));
}

TEST_F(Terminal, BrowseForFolderStartsInInitDir) {
  ScriptedChooserInput answers({""});
  SetChooserInput(&answers);
  CmnDialogEx d;
  d.InitDir(dir + "/sub");
  d.DialogTitle("Parcourir");
  int32_t icon = -1;
  ASSERT_TRUE(d.ShowBrowseForFolder(0, "Choisissez", false, 0, &icon));
  EXPECT_EQ(d.FileName(), dir + "/sub");
  EXPECT_EQ(icon, 0);
  EXPECT_EQ(answers.Prompts()[0], "Parcourir : Choisissez dans " + dir + "/sub :");
  // A root limits the answers.
  ScriptedChooserInput outside({"/", "sub"});
  SetChooserInput(&outside);
  ASSERT_TRUE(d.SetRootFolder(dir));
  d.InitDir("");
  ASSERT_TRUE(d.ShowBrowseForFolder());
  EXPECT_EQ(d.FileName(), dir + "/sub");
  EXPECT_TRUE(Contains(outside.Transcript(), "est en dehors de « " + dir + " »"));
}

// Line mode on real descriptors: one prompt line out, one answer line in, and
// nothing read past it.
struct Redirect {
  int savedIn = -1, savedOut = -1;
  std::string outFile;
  Redirect(const std::string& input, const std::string& out) : outFile(out) {
    int in[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(in[1]);
    std::fflush(stdout);
    savedIn = ::dup(0);
    savedOut = ::dup(1);
    ::dup2(in[0], 0);
    ::close(in[0]);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::close(fd);
  }
  std::string Rest() {
    std::string rest;
    char c;
    while (::read(0, &c, 1) == 1) rest.push_back(c);
    return rest;
  }
  ~Redirect() {
    std::fflush(stdout);
    ::dup2(savedIn, 0);
    ::dup2(savedOut, 1);
    ::close(savedIn);
    ::close(savedOut);
  }
  std::string Output() const {
    std::ifstream f(outFile);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
};

TEST_F(Terminal, LineModeThroughPipes) {
  CmnDialogEx d;
  ArchiveChooser(d, dir);
  std::string rest, output;
  bool chosen = false;
  {
    Redirect r(dir + "/a\no\n", dir + "/out.txt");
    chosen = d.ShowOpen();
    rest = r.Rest();
    std::fflush(stdout);
    output = r.Output();
  }
  EXPECT_TRUE(chosen);
  EXPECT_EQ(d.FileName(), dir + "/a.zip");
  EXPECT_EQ(rest, "o\n");  // the next dialog's answer is still there
  EXPECT_EQ(output, "Sélectionnez un fichier Zip (Zip Files : *.zip) dans " + dir + " :\n");

  {
    Redirect r("", dir + "/out2.txt");
    chosen = d.ShowOpen();
  }
  EXPECT_FALSE(chosen);  // end of input is a cancel
  {
    Redirect r(dir + "/nope\r\n", dir + "/out3.txt");
    chosen = d.ShowOpen();
    output = r.Output();
  }
  EXPECT_FALSE(chosen);
  EXPECT_NE(output.find("/nope.zip » est introuvable"), std::string::npos);
}

TEST(Xdg, UserDirsText) {
  const std::string text =
      "# comment\n"
      "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/Mes \\\"Docs\\\"\"\r\n"
      "XDG_MUSIC_DIR=\"/srv/musique\"\n"
      "XDG_VIDEOS_DIR=\"$HOME/\"\n"
      "XDG_PICTURES_DIR=\"relative\"\n"
      "XDG_DOWNLOAD_DIR=\"${HOME}/Téléchargements\"\n"
      "XDG_PUBLICSHARE_DIR=\"$HOMEX/y\"\n";
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_DOCUMENTS_DIR", "/home/u"), "/home/u/Mes \"Docs\"");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_DESKTOP_DIR", "/home/u"), "/home/u/Bureau");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_MUSIC_DIR", "/home/u"), "/srv/musique");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_VIDEOS_DIR", "/home/u"), "/home/u");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_PICTURES_DIR", "/home/u"), "");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_DOWNLOAD_DIR", "/home/u"), "/home/u/Téléchargements");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_PUBLICSHARE_DIR", "/home/u"), "");
  EXPECT_EQ(XdgUserDirFromText(text, "XDG_TEMPLATES_DIR", "/home/u"), "");
  EXPECT_EQ(XdgUserDirFromText("XDG_DOCUMENTS_DIR=\"/a\"\nXDG_DOCUMENTS_DIR=\"/b\"\n", "XDG_DOCUMENTS_DIR", "/h"),
            "/b");
}

TEST_F(Terminal, DocumentsFolderFallsBackToHome) {
  EXPECT_EQ(DocumentsFolder(), dir + "/home/Docs");
  fs::remove(dir + "/config/user-dirs.dirs");
  EXPECT_EQ(DocumentsFolder(), dir + "/home");
  ::unsetenv("XDG_CONFIG_HOME");
  fs::create_directories(dir + "/home/.config");
  std::ofstream(dir + "/home/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n";
  EXPECT_EQ(DocumentsFolder(), dir + "/home/Documents");
}

}  // namespace

namespace {

// Another reader (the task dialog renderer) may leave the descriptor
// non-blocking; the chooser still waits for its line.
TEST_F(Terminal, LineModeOnANonBlockingDescriptor) {
  int in[2];
  ASSERT_EQ(::pipe(in), 0);
  ::fcntl(in[0], F_SETFL, ::fcntl(in[0], F_GETFL) | O_NONBLOCK);
  std::fflush(stdout);
  const int savedIn = ::dup(0), savedOut = ::dup(1);
  ::dup2(in[0], 0);
  ::close(in[0]);
  const int out = ::open((dir + "/out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(out, 1);
  ::close(out);
  const std::string answer = dir + "/sub\n";
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    (void)::write(in[1], answer.data(), answer.size());
    ::close(in[1]);
  });
  CmnDialogEx d;
  d.FlagsDialog(6176);
  d.InitDir(dir);
  const bool chosen = d.ShowOpen();
  writer.join();
  std::fflush(stdout);
  ::dup2(savedIn, 0);
  ::dup2(savedOut, 1);
  ::close(savedIn);
  ::close(savedOut);
  EXPECT_TRUE(chosen);
  EXPECT_EQ(d.FileName(), dir + "/sub");
}

// On a terminal: Tab completes, Escape cancels.
struct PtyRun {
  int master = -1;
  pid_t pid = -1;
  std::string seen;
  bool WaitFor(const std::string& text) {
    for (int i = 0; i < 500 && seen.find(text) == std::string::npos; ++i) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 10) > 0) {
        char buf[512];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
      }
    }
    return seen.find(text) != std::string::npos;
  }
  int Status() {
    int status = -1;
    ::waitpid(pid, &status, 0);
    ::close(master);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

PtyRun StartFolderChooser(const std::string& dir) {
  PtyRun run;
  run.pid = ::forkpty(&run.master, nullptr, nullptr, nullptr);
  if (run.pid == 0) {
    CmnDialogEx d;
    d.FlagsDialog(6176);
    d.InitDir(dir);
    d.DialogTitle("Choisir");
    const bool ok = d.ShowOpen();
    ::_exit(!ok ? 3 : d.FileName() == dir + "/sub" ? 0 : 4);
  }
  return run;
}

TEST_F(Terminal, TtyCompletesWithTab) {
  PtyRun run = StartFolderChooser(dir);
  ASSERT_GT(run.pid, 0);
  ASSERT_TRUE(run.WaitFor("> "));
  EXPECT_NE(run.seen.find("Choisir dans " + dir + " :"), std::string::npos);
  ASSERT_EQ(::write(run.master, "su\t", 3), 3);
  ASSERT_TRUE(run.WaitFor("> sub/"));
  ASSERT_EQ(::write(run.master, "\r", 1), 1);
  EXPECT_EQ(run.Status(), 0) << run.seen;
}

TEST_F(Terminal, TtyEscapeCancels) {
  PtyRun run = StartFolderChooser(dir);
  ASSERT_GT(run.pid, 0);
  ASSERT_TRUE(run.WaitFor("> "));
  ASSERT_EQ(::write(run.master, "\x1b", 1), 1);
  EXPECT_EQ(run.Status(), 3) << run.seen;
}

}  // namespace
