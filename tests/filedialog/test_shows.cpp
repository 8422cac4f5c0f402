// Open, save and folder browsing on scripted platform dialogs; error reporting.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "support/errors.h"

using namespace qv;
using qvtest::FakePlatform;

namespace {

const std::string kNul(1, '\0');

struct FakeBrowserWindow : BrowserWindow {
  std::vector<std::string> log;
  std::intptr_t Hwnd() override { return 55; }
  void SetText(const std::string& t) override { log.push_back("text " + t); }
  void SetSelection(const std::string& p) override { log.push_back("select " + p); }
  void EnableOk(bool e) override { log.push_back(e ? "ok on" : "ok off"); }
};

struct Shows : ::testing::Test {
  std::shared_ptr<FakePlatform> p = std::make_shared<FakePlatform>();
  std::unique_ptr<CmnDialogEx> Make(int32_t generation) {
    p->generation = generation;
    auto d = std::make_unique<CmnDialogEx>(p);
    d->Clear();
    return d;
  }
  bool Logged(const std::string& entry) const {
    return std::find(p->dialogLog.begin(), p->dialogLog.end(), entry) != p->dialogLog.end();
  }
};

TEST_F(Shows, ExtractorSettingsGiveOneZipType) {
  auto d = Make(10);
  d->FlagsDialog(6144);
  d->Filter("Zip Files|*.zip");
  d->DefaultExt("zip");
  d->InitDir("C:\\data");
  d->DialogTitle("Sélectionnez un fichier Zip");
  p->script.results = {"C:\\data\\a.zip"};
  std::vector<std::pair<std::string, std::string>> types;
  uint32_t options = 0;
  std::string defExt, title;
  p->script.duringShow = [&](ItemDialogSink*) {
    types = p->lastDialog->types;
    options = p->lastDialog->options;
    defExt = p->lastDialog->defExt;
    title = p->lastDialog->title;
  };
  ASSERT_TRUE(d->ShowOpen(0, 0, nullptr, ""));
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0].first, "Zip Files");
  EXPECT_EQ(types[0].second, "*.zip");
  EXPECT_TRUE(Logged("typeindex 0"));
  EXPECT_EQ(options, 0x1800u);
  EXPECT_EQ(defExt, "zip");
  EXPECT_EQ(title, "Sélectionnez un fichier Zip");
  EXPECT_TRUE(Logged("folder C:\\data"));
  EXPECT_EQ(d->FileName(), "C:\\data\\a.zip");
  EXPECT_EQ(d->FileTitle(), "a.zip");
  EXPECT_EQ(d->IFileDialog(), nullptr);  // no dialog outlives the show
}

TEST_F(Shows, CompressorSettingsPickAFolder) {
  auto d = Make(10);
  d->FlagsDialog(6176);
  p->script.results = {"C:\\Data\\photos"};
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("options 6176"));
  EXPECT_EQ(d->FileName(), "C:\\Data\\photos");

  // Generation 5: the same settings give a file chooser.
  auto old = Make(5);
  old->FlagsDialog(6176);
  p->legacy = [](LegacyRecord& r, LegacyHookSink*) {
    const std::string chosen = "C:\\Data\\file.txt";
    r.file = chosen + std::string(r.file.size() - chosen.size(), '\0');
    r.fileOffset = 8;
    return true;
  };
  ASSERT_TRUE(old->ShowOpen());
  EXPECT_EQ(p->lastLegacy.flags & 0x20, 0);  // no hook, no folder bit
  EXPECT_EQ(p->lastLegacy.flags, 0x1800 | 0x880000);
  EXPECT_EQ(old->FileName(), "C:\\Data\\file.txt");
  EXPECT_EQ(old->FileTitle(), "file.txt");
}

TEST_F(Shows, DefaultAndOddFilters) {
  auto d = Make(10);
  p->script.results = {"C:\\a"};
  std::vector<std::pair<std::string, std::string>> types;
  p->script.duringShow = [&](ItemDialogSink*) { types = p->lastDialog->types; };
  ASSERT_TRUE(d->ShowOpen());
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0].first, "All Files (*.*)");
  EXPECT_EQ(types[0].second, "*.*");

  p->shellString = "Tous les fichiers";
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(types[0].first, "Tous les fichiers (*.*)");

  d->Filter("Zip|*.zip|Third");
  ASSERT_TRUE(d->ShowOpen());
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0].first, "Zip");

  // The single NUL: no type list for open, the default one for save.
  types.clear();
  d->Filter(kNul);
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(types.empty());
  ASSERT_TRUE(d->ShowSave());
  ASSERT_EQ(types.size(), 1u);
  EXPECT_EQ(types[0].second, "*.*");
}

TEST_F(Shows, FolderInFileNameWinsOverInitDir) {
  auto d = Make(10);
  d->FileName("C:\\data\\a.zip");
  d->InitDir("D:\\x");
  p->script.results = {"C:\\data\\a.zip"};
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("folder C:\\data\\"));
  EXPECT_TRUE(Logged("filename a.zip"));

  // A folder that does not exist: the whole name, and InitDir as folder.
  d->FileName("C:\\nowhere\\a.zip");
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("filename C:\\nowhere\\a.zip"));
  EXPECT_TRUE(Logged("folder D:\\x"));
}

TEST_F(Shows, OptionsPerKind) {
  auto d = Make(10);
  p->script.results = {"C:\\a"};
  d->FlagsDialog(0x2 | 0x200 | 0x20 | 0x80 | 0x40 | 0x80000 | 0x800000);
  ASSERT_TRUE(d->ShowSave());
  EXPECT_TRUE(Logged("options " + std::to_string(0x2 | 0x80)));
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("options " + std::to_string(0x200 | 0x20 | 0x80)));
  // FlagsDialog 0: the dialog's own options, with FlagsDialogEx or-ed in.
  d->FlagsDialog(0);
  d->FlagsDialogEx(0x10000000);
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("options " + std::to_string(0x40 | 0x10000000)));
}

TEST_F(Shows, CancelIsQuietOrRaised) {
  auto d = Make(10);
  p->script.showResult = kChooserCancelled;
  d->FileName("C:\\old.txt");
  EXPECT_FALSE(d->ShowOpen());
  EXPECT_EQ(p->lastError, kChooserCancelled);
  EXPECT_EQ(d->FileName(), "");

  d->CancelError(true);
  try {
    d->ShowSave();
    FAIL() << "no error raised";
  } catch (const NumberedError& e) {
    EXPECT_EQ(e.Number(), -2147023673);
    EXPECT_EQ(e.Source(), "Common Dialog Save");
    EXPECT_EQ(e.Description(), "Cancel was selected");
  }
}

TEST_F(Shows, OtherFailureReportsTheLastError) {
  auto d = Make(10);
  p->script.showResult = 0x80004005u;
  p->lastError = 0;
  EXPECT_FALSE(d->ShowOpen());
  EXPECT_EQ(p->lastError, 0u);  // nothing to report
  p->lastError = 5;
  EXPECT_FALSE(d->ShowOpen());
  EXPECT_EQ(p->lastError, 5u);
}

TEST_F(Shows, UncreatableDialogFailsWithoutError) {
  auto d = Make(10);
  d->CancelError(true);
  p->failCreate = true;
  EXPECT_FALSE(d->ShowOpen());
}

TEST_F(Shows, MultipleSelection) {
  auto d = Make(10);
  d->FlagsDialog(0x200 | 0x1800);
  p->script.results = {"C:\\d\\one.txt", "C:\\d\\two.txt", "C:\\d\\three.txt"};
  ShellObjectPtr returned;
  ASSERT_TRUE(d->ShowOpen(0, 0, &returned));
  EXPECT_EQ(d->FileName(), std::string("C:\\d\\one.txt\0C:\\d\\two.txt\0C:\\d\\three.txt", 40));
  EXPECT_EQ(d->FileTitle(), "one.txt");
  auto array = std::dynamic_pointer_cast<ShellItemArray>(returned);
  ASSERT_TRUE(array);
  EXPECT_EQ(array->Count(), 3);

  // One item of a multiple selection is a single result.
  p->script.results = {"C:\\d\\one.txt"};
  ASSERT_TRUE(d->ShowOpen(0, 0, &returned));
  EXPECT_EQ(d->FileName(), "C:\\d\\one.txt");
  EXPECT_TRUE(std::dynamic_pointer_cast<ShellItem>(returned));
}

TEST_F(Shows, ClientGuidForms) {
  auto d = Make(10);
  p->script.results = {"C:\\a"};
  ASSERT_TRUE(d->ShowOpen(0, 0, nullptr, "12345678-1234-1234-1234-123456789ABC"));
  EXPECT_EQ(d->ClientDataGUID(), "{12345678-1234-1234-1234-123456789ABC}");
  EXPECT_TRUE(Logged("clientguid {12345678-1234-1234-1234-123456789ABC}"));
  ASSERT_TRUE(d->ShowOpen(0, 0, nullptr, "{12345678-1234-1234-1234-123456789ABC"));
  EXPECT_EQ(d->ClientDataGUID(), "");
  // Braced and 38 long but not a GUID: kept, not applied.
  ASSERT_TRUE(d->ShowOpen(0, 0, nullptr, "{not-a-guid-but-thirty-eight-chars-xx}"));
  EXPECT_EQ(d->ClientDataGUID(), "{not-a-guid-but-thirty-eight-chars-xx}");
  EXPECT_FALSE(Logged("clientguid {not-a-guid-but-thirty-eight-chars-xx}"));
}

TEST_F(Shows, EventsAndPropertiesInFlight) {
  auto d = Make(10);
  p->script.results = {"C:\\a\\b.txt"};
  std::vector<std::string> seen;
  d->DialogOnInit = [&](std::intptr_t hwnd) {
    seen.push_back("init " + std::to_string(hwnd));
    d->DialogTitle("Changed");  // applied to the showing dialog
    d->FilterIndex(2);
    EXPECT_EQ(d->FilterIndex(), 2);
    d->InitDir("C:\\elsewhere");  // ignored while showing
    d->Clear();                   // ignored while showing
  };
  d->DialogOnFileOk = [&](bool& cancel) {
    seen.push_back("ok");
    cancel = seen.size() == 3;  // refuse the first OK
  };
  d->DialogOnFolderChanging = [&](const ShellItemPtr& f, bool& cancel) {
    seen.push_back("changing " + f->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_));
    cancel = true;
  };
  std::vector<int32_t> answers;
  p->script.duringShow = [&](ItemDialogSink* sink) {
    ASSERT_NE(sink, nullptr);
    answers.push_back(sink->OnFolderChanging(std::make_shared<PathShellItem>("C:\\x", '\\')));
    answers.push_back(sink->OnFileOk());
    answers.push_back(sink->OnFileOk());
  };
  d->Tag("kept");
  ASSERT_TRUE(d->ShowOpen(0, 1));
  EXPECT_EQ(seen, (std::vector<std::string>{"init 4660", "changing C:\\x", "ok", "ok"}));
  EXPECT_EQ(answers, (std::vector<int32_t>{1, 1, 0}));
  EXPECT_TRUE(Logged("title Changed"));
  EXPECT_TRUE(Logged("unadvise"));
  EXPECT_EQ(d->InitDir(), "");
  EXPECT_EQ(d->Tag(), "kept");
  // Without WantEvents nothing is raised.
  seen.clear();
  p->script.duringShow = nullptr;
  ASSERT_TRUE(d->ShowOpen(0, 0));
  EXPECT_TRUE(seen.empty());
}

TEST_F(Shows, AnExceptionFromAHandlerLeavesTheInstanceIdle) {
  auto d = Make(10);
  p->script.results = {"C:\\a"};
  d->DialogOnInit = [](std::intptr_t) { throw std::runtime_error("ended"); };
  EXPECT_THROW(d->ShowOpen(0, 1), std::runtime_error);
  EXPECT_EQ(d->IFileDialog(), nullptr);
  d->InitDir("C:\\data");  // not ignored as during a show
  EXPECT_EQ(d->InitDir(), "C:\\data");
  d->DialogBrowseFoldersInit = [](std::intptr_t) { throw std::runtime_error("ended"); };
  FakeBrowserWindow window;
  p->browse = [&](BrowseRecord&, BrowseSink* sink) -> ShellItemPtr {
    sink->OnBrowseNotify(window, 1, 0, nullptr, "");
    return nullptr;
  };
  EXPECT_THROW(d->ShowBrowseForFolder(0, "", false, 1), std::runtime_error);
  d->Clear();
  EXPECT_EQ(d->InitDir(), "");
}

TEST_F(Shows, CloseDialogFromAnEvent) {
  auto d = Make(10);
  p->script.results = {"C:\\a"};
  EXPECT_FALSE(d->CloseDialog(0, 0));  // nothing showing
  d->DialogOnInit = [&](std::intptr_t) { EXPECT_TRUE(d->CloseDialog(0, 0)); };
  ASSERT_TRUE(d->ShowOpen(0, 1));  // exit code 0 counts as success
  d->DialogOnInit = [&](std::intptr_t) { d->CloseDialog(0, static_cast<int32_t>(kChooserCancelled)); };
  EXPECT_FALSE(d->ShowOpen(0, 1));
  EXPECT_EQ(p->lastError, kChooserCancelled);
}

TEST_F(Shows, Generation0AlwaysRaises) {
  auto d = Make(0);
  for (int i = 0; i < 3; ++i) {
    try {
      if (i == 0) d->ShowOpen();
      if (i == 1) d->ShowSave();
      if (i == 2) d->ShowBrowseForFolder();
      FAIL() << "no error raised";
    } catch (const NumberedError& e) {
      EXPECT_EQ(e.Number(), 65535);
      EXPECT_EQ(e.Source(), "Common Dialog ");
      EXPECT_EQ(e.Description(), "The dialog box could not be created");
    }
  }
}

// ---- legacy choosers ---------------------------------------------------------

TEST_F(Shows, LegacyRecordPreparation) {
  auto d = Make(5);
  d->FileName("C:\\x.txt");
  p->legacy = [](LegacyRecord&, LegacyHookSink*) { return false; };
  p->extendedError = 0;
  EXPECT_FALSE(d->ShowSave());
  EXPECT_EQ(p->lastError, kChooserCancelled);
  const LegacyRecord& r = p->lastLegacy;
  EXPECT_EQ(r.flags, 0x880A | 0x880000);
  EXPECT_EQ(r.maxFile, 520);
  EXPECT_EQ(r.file.size(), 520u);
  EXPECT_EQ(r.file.substr(0, 8), "C:\\x.txt");
  EXPECT_EQ(r.filter, std::string("All Files\0*.*\0", 14));
  EXPECT_FALSE(r.hook);
  EXPECT_EQ(d->Filter(), "All Files|*.*");  // the default stays
  // FileName keeps the padded buffer after a legacy failure.
  EXPECT_EQ(d->FileName().size(), 520u);
  EXPECT_EQ(d->MaxFileSize(), 520);

  // Open with events: hook, and the include-notify bit only with events.
  d->Clear();
  d->FlagsDialog(0x400000 | 0x1000);
  EXPECT_FALSE(d->ShowOpen(0, 0));
  EXPECT_EQ(p->lastLegacy.flags, 0x1000 | 0x880000);
  d->FlagsDialog(0x400000 | 0x1000);
  EXPECT_FALSE(d->ShowOpen(0, 1));
  EXPECT_EQ(p->lastLegacy.flags, 0x400000 | 0x1000 | 0x880000 | 0x20);
  EXPECT_TRUE(p->lastLegacy.hook);
}

TEST_F(Shows, LegacyMultipleSelectionSplitting) {
  auto d = Make(5);
  d->FlagsDialog(0x200 | 0x1800);
  auto chooser = [this](std::string content, int32_t offset) {
    p->legacy = [content, offset](LegacyRecord& r, LegacyHookSink*) {
      r.file = content + std::string(r.file.size() > content.size() ? r.file.size() - content.size() : 0, '\0');
      r.fileOffset = offset;
      return true;
    };
  };
  chooser(std::string("C:\\dir\0a.txt\0b.txt\0", 19), 7);
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileName(), std::string("C:\\dir\\a.txt\0C:\\dir\\b.txt", 25));
  EXPECT_EQ(d->FileTitle(), "a.txt");
  // A drive root already ends in "\": it gets a second one.
  chooser(std::string("C:\\\0a.txt\0b.txt\0", 16), 4);
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileName(), std::string("C:\\\\a.txt\0C:\\\\b.txt", 19));
  // A single file.
  chooser("C:\\dir\\a.txt", 7);
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileName(), "C:\\dir\\a.txt");
  // A buffer filled to its end without the final double NUL.
  p->legacy = [](LegacyRecord& r, LegacyHookSink*) {
    r.file = std::string("C:\\d\0x\0yz", 9);
    r.fileOffset = 5;
    return true;
  };
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileName(), std::string("C:\\d\\x\0C:\\d\\yz", 14));
  // The chooser says success but reports an error for the multiple selection.
  p->extendedError = 0x3003;
  EXPECT_FALSE(d->ShowOpen());
  EXPECT_EQ(p->lastError, 0x3003u);
}

TEST_F(Shows, LegacyHookGrowsTheBuffer) {
  auto d = Make(5);
  d->FlagsDialog(0x200);
  p->legacy = [](LegacyRecord& r, LegacyHookSink* hook) {
    EXPECT_TRUE(hook);
    hook->OnInit(77);
    hook->OnSelChange(r, 100);  // fits: no growth
    EXPECT_EQ(r.maxFile, 520);
    hook->OnSelChange(r, 600);
    EXPECT_EQ(r.maxFile, 780);
    EXPECT_EQ(r.file.size(), 780u);
    return false;
  };
  EXPECT_FALSE(d->ShowOpen());
  EXPECT_EQ(d->MaxFileSize(), 780);
}

TEST_F(Shows, LegacyCloseDialogUsesTheExitCode) {
  auto d = Make(5);
  auto* self = d.get();
  p->legacy = [self](LegacyRecord&, LegacyHookSink* hook) {
    hook->OnInit(77);
    EXPECT_FALSE(self->CloseDialog(0, 9));  // needs the dialog window
    EXPECT_TRUE(self->CloseDialog(77, 9));
    EXPECT_FALSE(self->CloseDialog(77, 10));  // already requested
    return false;
  };
  bool init = false;
  d->DialogXPInit = [&](std::intptr_t hwnd) { init = hwnd == 77; };
  d->CancelError(true);
  try {
    d->ShowOpen(0, 1);
    FAIL();
  } catch (const NumberedError& e) {
    EXPECT_EQ(e.Number(), 9);
    EXPECT_EQ(e.Source(), "Common Dialog Open");
  }
  EXPECT_TRUE(init);
  ASSERT_EQ(p->posted.size(), 1u);
  EXPECT_EQ(p->posted[0], std::make_pair(std::intptr_t{77}, 9));
}

TEST_F(Shows, LegacyHookMessagesBecomeEvents) {
  auto d = Make(5);
  std::vector<std::string> seen;
  d->PreInitMessage = [&](std::intptr_t, uint32_t m, std::intptr_t, std::intptr_t, bool& eat) {
    seen.push_back("pre " + std::to_string(m));
    eat = true;
  };
  d->DialogXPEvent = [&](std::intptr_t h, uint32_t m, std::intptr_t, std::intptr_t, bool& eat) {
    seen.push_back("event " + std::to_string(h) + " " + std::to_string(m));
    eat = m == 7;
  };
  std::vector<bool> eaten;
  p->legacy = [&](LegacyRecord&, LegacyHookSink* hook) {
    eaten.push_back(hook->OnMessage(77, 1, 0, 0, true));
    hook->OnInit(77);
    eaten.push_back(hook->OnMessage(77, 7, 0, 0, false));
    eaten.push_back(hook->OnMessage(77, 8, 0, 0, false));
    return false;
  };
  EXPECT_FALSE(d->ShowOpen(0, 1));
  EXPECT_EQ(seen, (std::vector<std::string>{"pre 1", "event 77 7", "event 77 8"}));
  EXPECT_EQ(eaten, (std::vector<bool>{true, true, false}));
  // Without WantEvents there is no hook at all.
  p->legacy = [](LegacyRecord&, LegacyHookSink* hook) {
    EXPECT_EQ(hook, nullptr);
    return false;
  };
  EXPECT_FALSE(d->ShowOpen(0, 0));
}

TEST_F(Shows, ErrorTable) {
  struct Row {
    uint32_t code;
    int32_t number;
    const char* text;
  };
  const Row rows[] = {
      {0, -2147023673, "Cancel was selected"},
      {kChooserCancelled, -2147023673, "Cancel was selected"},
      {1, 1,
       "The lStructSize member of the initialization structure for the corresponding common dialog box is invalid."},
      {2, 2, "The common dialog box function failed during initialization."},
      {3, 3,
       "The ENABLETEMPLATE flag was set in the Flags member of the initialization structure for the corresponding "
       "common dialog box, but you failed to provide a corresponding template."},
      {4, 4,
       "The ENABLETEMPLATE flag was set in the Flags member of the initialization structure for the corresponding "
       "common dialog box, but you failed to provide a corresponding instance handle."},
      {5, 5, "The common dialog box function failed to load a specified string."},
      {6, 6, "The common dialog box function failed to find a specified resource."},
      {7, 7, "The common dialog box function failed to find a specified resource."},
      {8, 8, "The common dialog box function failed to lock a specified resource."},
      {9, 9, "The common dialog box function was unable to allocate memory for internal structures."},
      {10, 10, "The common dialog box function was unable to lock the memory associated with a handle."},
      {11, 11, "Unknown error code of 11"},
      {12, 12,
       "The RegisterWindowMessage function returned an error code when it was called by the common dialog box "
       "function."},
      {0x3001, 12289, "An attempt to subclass a list box failed because sufficient memory was not available."},
      {0x3002, 12290, "A file name is invalid."},
      {0x3003, 12291, "The PathFileBufferSize is too small for the file name(s) specified by the user."},
      {0xFFFF, 65535, "The dialog box could not be created"},
      {0x4242, 0x4242, "Unknown error code of 16962"},
  };
  for (const Row& row : rows) {
    auto d = Make(5);
    d->CancelError(true);
    const uint32_t code = row.code;
    p->legacy = [](LegacyRecord&, LegacyHookSink*) { return false; };
    p->extendedError = code == kChooserCancelled ? 0 : code;
    try {
      d->ShowOpen();
      ADD_FAILURE() << "no error for " << code;
    } catch (const NumberedError& e) {
      EXPECT_EQ(e.Number(), row.number) << code;
      EXPECT_EQ(e.Description(), row.text) << code;
      EXPECT_EQ(e.Source(), "Common Dialog Open");
    }
  }
}

TEST_F(Shows, MinimumBufferSizeRequired) {
  auto d = Make(5);
  d->CancelError(true);
  d->MaxFileSize(3);
  d->FileName("abc");  // already 3 long: the buffer stays 3
  p->extendedError = 0x3003;
  p->legacy = [](LegacyRecord&, LegacyHookSink*) { return false; };
  EXPECT_THROW(d->ShowOpen(), NumberedError);
  EXPECT_EQ(d->MinimumBufferSizeRequired(), -1);

  d->Clear();
  d->CancelError(true);
  p->legacy = [](LegacyRecord& r, LegacyHookSink*) {
    r.file[0] = static_cast<char>(0x7A);  // the chooser writes the size it needs (122) first
    return false;
  };
  EXPECT_THROW(d->ShowOpen(), NumberedError);
  EXPECT_EQ(d->MinimumBufferSizeRequired(), 0x7A);
  // A new show starts from 0.
  d->CancelError(false);
  p->extendedError = 2;
  EXPECT_FALSE(d->ShowOpen());
  EXPECT_EQ(d->MinimumBufferSizeRequired(), 0);
}

// ---- folder browsing ---------------------------------------------------------

TEST_F(Shows, BrowseFlagsAndCancel) {
  auto d = Make(10);
  int32_t icon = 99;
  EXPECT_FALSE(d->ShowBrowseForFolder(0, "hint", false, 0, &icon));
  EXPECT_EQ(p->lastBrowse.flags, 0x40);
  EXPECT_EQ(d->FlagsFolderBrowsing(), 0x40);
  EXPECT_EQ(p->lastBrowse.hint, "hint");
  EXPECT_FALSE(p->lastBrowse.callback);
  EXPECT_EQ(icon, 0);
  EXPECT_EQ(d->FileName(), "");
  EXPECT_EQ(p->lastError, kChooserCancelled);

  d->FlagsFolderBrowsing(0x80);
  d->ShowBrowseForFolder();
  EXPECT_EQ(p->lastBrowse.flags, 0x40D0);

  d->CancelError(true);
  try {
    d->ShowBrowseForFolder();
    FAIL();
  } catch (const NumberedError& e) {
    EXPECT_EQ(e.Number(), -2147023673);
    EXPECT_EQ(e.Source(), "Common Dialog BrowseForFolder");
    EXPECT_EQ(e.Description(), "Cancel was selected");
  }
}

TEST_F(Shows, BrowseSelectsInitDirTwiceAndReturnsTheFolder) {
  auto d = Make(10);
  d->InitDir("C:\\data");
  FakeBrowserWindow window;
  p->browse = [&](BrowseRecord& r, BrowseSink* sink) -> ShellItemPtr {
    EXPECT_TRUE(r.callback);
    sink->OnBrowseNotify(window, 1, 0, nullptr, "");
    sink->OnBrowseNotify(window, 2, 0, nullptr, "");
    sink->OnBrowseNotify(window, 2, 0, nullptr, "");  // the marker is spent
    r.iconIndex = 17;
    return std::make_shared<PathShellItem>("C:\\data\\sub", '\\');
  };
  int32_t icon = 0;
  ShellObjectPtr item;
  ASSERT_TRUE(d->ShowBrowseForFolder(0, "", false, 0, &icon, &item));
  EXPECT_EQ(window.log, (std::vector<std::string>{"select C:\\data", "select C:\\data"}));
  EXPECT_EQ(d->FileName(), "C:\\data\\sub");
  EXPECT_EQ(d->FileTitle(), "sub");
  EXPECT_EQ(icon, 17);
  EXPECT_TRUE(item);
}

TEST_F(Shows, BrowseEventsTitleAndValidation) {
  auto d = Make(10);
  d->DialogTitle("Titre");
  FakeBrowserWindow window;
  std::vector<std::string> seen;
  d->DialogBrowseFoldersInit = [&](std::intptr_t h) { seen.push_back("init " + std::to_string(h)); };
  d->DialogBrowseFoldersValidateFailed = [&](const std::string& name, bool& close) {
    seen.push_back("invalid " + name);
    close = name == "close";
  };
  d->DialogBrowseFoldersPreInitMessage = [&](std::intptr_t, uint32_t m, std::intptr_t) {
    seen.push_back("pre " + std::to_string(m));
  };
  d->DialogBrowseFoldersEvent = [&](std::intptr_t, uint32_t m, std::intptr_t) {
    seen.push_back("event " + std::to_string(m));
  };
  std::vector<int32_t> answers;
  p->browse = [&](BrowseRecord&, BrowseSink* sink) -> ShellItemPtr {
    answers.push_back(sink->OnBrowseNotify(window, 3, 0, nullptr, ""));
    answers.push_back(sink->OnBrowseNotify(window, 1, 0, nullptr, ""));
    d->DialogTitle("Autre");
    EXPECT_FALSE(d->CloseDialog(0, 0));
    answers.push_back(sink->OnBrowseNotify(window, 4, 0, nullptr, "bad"));
    answers.push_back(sink->OnBrowseNotify(window, 4, 0, nullptr, "close"));
    answers.push_back(sink->OnBrowseNotify(window, 5, 0, nullptr, ""));
    return nullptr;
  };
  EXPECT_FALSE(d->ShowBrowseForFolder(0, "", true, 1));
  EXPECT_EQ(seen, (std::vector<std::string>{"pre 3", "init 55", "invalid bad", "invalid close", "event 5"}));
  EXPECT_EQ(answers, (std::vector<int32_t>{0, 0, 1, 0, 0}));
  EXPECT_EQ(window.log, (std::vector<std::string>{"text Titre", "text Autre", "ok off"}));
}

TEST_F(Shows, RootFolder) {
  auto d = Make(10);
  EXPECT_FALSE(d->SetRootFolder(std::string("bare")));
  EXPECT_TRUE(d->SetRootFolder(std::string("C:/data")));
  p->browse = [](BrowseRecord& r, BrowseSink*) -> ShellItemPtr {
    EXPECT_TRUE(r.root);
    if (r.root) {
      EXPECT_EQ(r.root->DisplayName(SIGDN_DESKTOPABSOLUTEPARSING_), "C:\\data");
    }
    return nullptr;
  };
  d->ShowBrowseForFolder();
  // The root is used once.
  p->browse = [](BrowseRecord& r, BrowseSink*) -> ShellItemPtr {
    EXPECT_FALSE(r.root);
    return nullptr;
  };
  d->ShowBrowseForFolder();

  EXPECT_TRUE(d->SetRootFolder(std::intptr_t{5}));  // special folder 5
  p->browse = [](BrowseRecord& r, BrowseSink*) -> ShellItemPtr {
    EXPECT_TRUE(r.root);
    return nullptr;
  };
  d->ShowBrowseForFolder();
  EXPECT_TRUE(d->SetRootFolder(std::string("::{20D04FE0-3AEA-1069-A2D8-08002B30309D}")));
  EXPECT_TRUE(d->SetRootFolder(std::string("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}")));
  EXPECT_FALSE(d->SetRootFolder(std::intptr_t{0}));
  EXPECT_FALSE(d->SetRootFolder(std::monostate{}));

  // The item dialog takes it as navigation root on generation 7 and above.
  EXPECT_TRUE(d->SetRootFolder(std::string("C:\\data")));
  p->script.results = {"C:\\data\\a"};
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("root C:\\data"));
}

}  // namespace
