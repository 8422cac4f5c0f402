// Known folders, places, client data, accessors, custom controls and modes.
#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"

using namespace qv;
using qvtest::FakePlatform;

namespace {

struct Extras : ::testing::Test {
  std::shared_ptr<FakePlatform> p = std::make_shared<FakePlatform>();
  std::unique_ptr<CmnDialogEx> Make(int32_t generation) {
    p->generation = generation;
    return std::make_unique<CmnDialogEx>(p);
  }
  bool Logged(const std::string& entry) const {
    return std::find(p->dialogLog.begin(), p->dialogLog.end(), entry) != p->dialogLog.end();
  }
};

TEST(KnownFolders, CatalogueBounds) {
  EXPECT_EQ(CmnDialogEx::GetKnownFolderGUID(0), "{008ca0b1-55b4-4c56-b8a8-4de4b299d3be}");
  EXPECT_EQ(CmnDialogEx::GetKnownFolderGUID(27), "{FDD39AD0-238F-46AF-ADB4-6C85480369C7}");
  EXPECT_EQ(CmnDialogEx::GetKnownFolderGUID(104), "{A52BBA46-E9E1-435f-B3D9-28DAA648C0F6}");
  EXPECT_EQ(CmnDialogEx::GetKnownFolderGUID(105), "");
  EXPECT_EQ(CmnDialogEx::GetKnownFolderGUID(-1), "");
  for (int32_t i = 0; i <= 104; ++i) EXPECT_EQ(CmnDialogEx::GetKnownFolderGUID(i).size(), 38u) << i;
}

TEST_F(Extras, ClientDataGuid) {
  auto d = Make(10);
  EXPECT_EQ(d->CreateClientDataGUID(""), "");
  EXPECT_EQ(d->CreateClientDataGUID("", "App", "Client"), "");
  const std::string g = d->CreateClientDataGUID("Open", "Quorvelpack", "Client");
  EXPECT_EQ(g, "{9F9A6617-A1D5-0F3B-C792-98270EBCC496}");
  EXPECT_EQ(g, d->CreateClientDataGUID("Open", "Quorvelpack", "Client"));
  // An empty text gives the CRC start value.
  EXPECT_EQ(d->CreateClientDataGUID("Dlg", "App", ""), "{9F9A6617-FFFF-FFFF-FF5E-39CEFDA3B881}");
  // No AppID: the program's title.
  EXPECT_EQ(d->CreateClientDataGUID("Dlg"), d->CreateClientDataGUID("Dlg", "TestApp"));
  EXPECT_NE(d->CreateClientDataGUID("Dlg", "A", "B"), d->CreateClientDataGUID("Dlg", "B", "A"));
}

TEST_F(Extras, ResetClientData) {
  auto d = Make(10);
  d->ResetClientData("");
  d->ResetClientData("{12345678-1234-1234-1234-123456789ABC}");
  d->ResetClientData("not a guid");
  EXPECT_EQ(p->clearedClients, (std::vector<std::string>{"", "{12345678-1234-1234-1234-123456789ABC}"}));
  auto old = Make(5);
  old->ResetClientData("");
  EXPECT_EQ(p->clearedClients.size(), 2u);
}

TEST_F(Extras, NavigationPlaces) {
  auto d = Make(10);
  EXPECT_FALSE(d->SetNavFolders(true, {std::string("nowhere"), std::monostate{}, std::intptr_t{99}}));
  EXPECT_FALSE(d->SetNavFolders(true, {}));
  EXPECT_TRUE(d->SetNavFolders(true, {std::string("C:\\data"), std::monostate{}, std::intptr_t{5},
                                      std::string("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}")}));
  EXPECT_TRUE(d->SetNavFolders(false, {}));  // places already exist
  p->script.results = {"C:\\a"};
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("place top C:\\data"));
  EXPECT_TRUE(Logged("place top C:\\Users\\u\\Documents"));

  EXPECT_TRUE(d->SetNavFoldersEx(false, {std::string("C:\\data"), std::string("Données"), std::string("D:\\x")}));
  EXPECT_EQ(p->aliases, (std::vector<std::pair<std::string, std::string>>{{"C:\\data", "Données"}}));
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_TRUE(Logged("place bottom C:\\data"));
  EXPECT_FALSE(Logged("place bottom D:\\x"));
  d->Clear();
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_FALSE(Logged("place bottom C:\\data"));

  auto old = Make(5);
  EXPECT_FALSE(old->SetNavFolders(true, {std::string("C:\\data")}));
}

TEST_F(Extras, AccessorsWithoutADialog) {
  auto d = Make(10);
  int32_t size = 5, count = 5;
  EXPECT_EQ(d->IFileDialog(), nullptr);
  EXPECT_EQ(d->IFileDialog_IFolderView2(), nullptr);
  EXPECT_EQ(d->IFileDialog_GetViewMode(size), 0);
  EXPECT_FALSE(d->IFileDialog_SetViewMode(4, 48));
  EXPECT_EQ(d->IFileDialog_GetHwnd(), 0);
  EXPECT_EQ(d->IFileDialog_GetCurrentFolder(), nullptr);
  EXPECT_EQ(d->IFileDialog_GetCurrentSelection(true, count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(d->IShellItem_Action(nullptr, 0), 0);
  EXPECT_EQ(d->IShellItem_GetDisplayName(nullptr, SIGDN_FILESYSPATH_), "");
  EXPECT_EQ(d->IShellItemArray_Action(nullptr, 0), 0);
}

TEST_F(Extras, AccessorsWhileShowing) {
  auto d = Make(6);
  p->script.results = {"C:\\d\\a.txt", "C:\\d\\b.txt"};
  d->DialogOnInit = [&](std::intptr_t) {
    EXPECT_NE(d->IFileDialog(), nullptr);
    EXPECT_EQ(d->IFileDialog_GetHwnd(), 0x1234);
    EXPECT_TRUE(d->IFileDialog_IFolderView2());
    int32_t size = 0;
    EXPECT_EQ(d->IFileDialog_GetViewMode(size), 4);
    EXPECT_EQ(size, 48);
    EXPECT_FALSE(d->IFileDialog_SetViewMode(0, 48));
    EXPECT_FALSE(d->IFileDialog_SetViewMode(4, -2));
    EXPECT_TRUE(d->IFileDialog_SetViewMode(0x18, -1));  // low four bits; 8 becomes 4 on generation 6
    int32_t count = 0;
    auto selection = d->IFileDialog_GetCurrentSelection(true, count);
    EXPECT_EQ(count, 2);
    ShellObjectPtr item;
    EXPECT_EQ(d->IShellItemArray_Action(selection, 0), 2);
    EXPECT_EQ(d->IShellItemArray_Action(selection, 1, 5, &item), 2);  // past the end: the count
    EXPECT_EQ(d->IShellItemArray_Action(selection, 1, 1, &item), -1);
    EXPECT_EQ(d->IShellItem_GetDisplayName(item, SIGDN_NORMALDISPLAY_), "b.txt");
    EXPECT_EQ(d->IShellItem_GetDisplayName(item, SIGDN_FILESYSPATH_), "C:\\d\\b.txt");
    ShellObjectPtr parent;
    EXPECT_EQ(d->IShellItem_Action(item, 1, &parent), -1);
    EXPECT_EQ(d->IShellItem_GetDisplayName(parent, SIGDN_DESKTOPABSOLUTEPARSING_), "C:\\d");
    EXPECT_EQ(d->IShellItem_Action(item, 1), 0);  // no variable
    EXPECT_EQ(d->IShellItem_Action(item, 2, &parent), 0);  // no stream on a plain path
    auto single = d->IFileDialog_GetCurrentSelection(false, count);
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<ShellItem>(single));
  };
  ASSERT_TRUE(d->ShowOpen(0, 1));
  EXPECT_TRUE(Logged("viewmode 4 -1"));
}

TEST_F(Extras, ControlsAddRules) {
  auto d = Make(6);
  EXPECT_FALSE(d->Controls_Add(0, 0, 4, "x"));             // neither id above 0
  EXPECT_FALSE(d->Controls_Add(0, 0x10000000, 4, "x"));    // id too large
  EXPECT_FALSE(d->Controls_Add(0x10000000, 1, 4, "x"));    // container too large
  EXPECT_FALSE(d->Controls_Add(0, 1, 4, "  "));            // blank caption
  EXPECT_TRUE(d->Controls_Add(0, 1, 4, "Check"));
  EXPECT_FALSE(d->Controls_Add(0, 1, 5, "Again"));         // id in use
  EXPECT_FALSE(d->Controls_Add(7, 2, 5, "Text"));          // no group 7
  EXPECT_FALSE(d->Controls_Add(1, 2, 5, "Text"));          // 1 is not a group
  EXPECT_TRUE(d->Controls_Add(7, 0, 0, "Group"));          // a group
  EXPECT_TRUE(d->Controls_Add(7, 2, 5, "Text"));
  EXPECT_FALSE(d->Controls_Add(7, 3, 1, "OK"));            // OK button never in a group
  EXPECT_TRUE(d->Controls_Add(0, 3, 1, "Go"));
  EXPECT_FALSE(d->Controls_Add(0, 4, 1, "Again"));         // one OK entry
  EXPECT_FALSE(d->Controls_Add(0, 5, 2, "", {}));          // combo needs items
  EXPECT_TRUE(d->Controls_Add(7, 5, 2, "", {"a", "b", "c"}));
  EXPECT_TRUE(d->Controls_Add(0, 6, 7, ""));               // edit box: empty caption allowed
  EXPECT_TRUE(d->Controls_Add(0, 8, 6));                   // separator
  EXPECT_FALSE(d->Controls_Add(0, 9, 10, "Annuler"));      // Cancel label: generation 7 and above
  EXPECT_FALSE(d->Controls_Add(7, 10, 11, "Nom :"));       // file-name label never in a group
  EXPECT_TRUE(d->Controls_Add(0, 10, 11, "Nom :"));
  EXPECT_FALSE(d->Controls_Add(0, 11, 12, "x"));           // no such type

  int32_t n = -1;
  EXPECT_EQ(d->Controls_TypeOf(7, n), 0);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(d->Controls_TypeOf(5, n), 2);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(d->Controls_TypeOf(1, n), 4);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(d->Controls_TypeOf(99, n), -1);
  EXPECT_EQ(d->Controls_TypeOf(-1, n), -1);

  auto seven = Make(7);
  EXPECT_TRUE(seven->Controls_Add(0, 9, 10, "Annuler"));
  EXPECT_FALSE(seven->Controls_Add(0, 10, 10, "Encore"));
  auto old = Make(5);
  EXPECT_FALSE(old->Controls_Add(0, 1, 4, "Check"));
  EXPECT_EQ(old->Controls_TypeOf(1, n), -1);
  // Clear drops the table.
  d->Clear();
  EXPECT_EQ(d->Controls_TypeOf(1, n), -1);
}

TEST_F(Extras, ControlsReachTheDialogAndComeBack) {
  auto d = Make(7);
  ASSERT_TRUE(d->Controls_Add(0, 1, 4, "Check"));
  ASSERT_TRUE(d->Controls_Add(7, 0, 0, "Group"));
  ASSERT_TRUE(d->Controls_Add(7, 5, 2, "", {"a", "b"}));
  ASSERT_TRUE(d->Controls_Add(0, 6, 7, "initial"));
  ASSERT_TRUE(d->Controls_PropertySet(5, ctlSelectedItem, int32_t{1}));
  ASSERT_TRUE(d->Controls_PropertySet(1, ctlState, int32_t{1}));
  ASSERT_TRUE(d->Controls_PropertySet(1, ctlProminent, true));
  EXPECT_FALSE(d->Controls_PropertySet(1, ctlSelectedItem, int32_t{0}));  // not a list
  std::vector<std::string> calls;
  p->script.results = {"C:\\a"};
  p->script.duringShow = [&](ItemDialogSink* sink) {
    auto& cz = p->lastDialog->customize;
    calls = cz.calls;
    cz.checks[static_cast<uint32_t>(-1)] = true;
    cz.selections[static_cast<uint32_t>(-5)] = 0;
    cz.edits[static_cast<uint32_t>(-6)] = "typed";
    (void)sink;
  };
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(calls, (std::vector<std::string>{"check -1 Check off", "state -1 1", "prominent -1", "group -7 Group",
                                             "combo -5", "item -5 0 a", "item -5 1 b", "select -5 1", "endgroup",
                                             "edit -6 initial"}));
  EXPECT_EQ(std::get<bool>(d->Controls_PropertyGet(1, ctlChecked)), true);
  EXPECT_EQ(std::get<int32_t>(d->Controls_PropertyGet(5, ctlSelectedItem)), 0);
  EXPECT_EQ(std::get<std::string>(d->Controls_PropertyGet(6, ctlEditText)), "typed");

  // No customisation interface: the table is dropped and the show fails quietly.
  p->script.customizable = false;
  d->CancelError(true);
  EXPECT_FALSE(d->ShowOpen());
  int32_t n = 0;
  EXPECT_EQ(d->Controls_TypeOf(1, n), -1);
}

TEST_F(Extras, ControlEventsReportCallerIds) {
  auto d = Make(7);
  ASSERT_TRUE(d->Controls_Add(0, 3, 9, "Push"));
  ASSERT_TRUE(d->Controls_Add(0, 4, 4, "Check"));
  std::vector<std::string> seen;
  d->DialogButtonClicked = [&](int32_t id) { seen.push_back("button " + std::to_string(id)); };
  d->DialogCheckBoxChanged = [&](int32_t id, bool on) { seen.push_back("check " + std::to_string(id) + (on ? " on" : " off")); };
  p->script.results = {"C:\\a"};
  p->script.duringShow = [&](ItemDialogSink* sink) {
    sink->OnButtonClicked(static_cast<uint32_t>(-3));
    sink->OnCheckButtonToggled(static_cast<uint32_t>(-4), true);
  };
  ASSERT_TRUE(d->ShowOpen(0, 1));  // bit 0 only: no control events
  EXPECT_TRUE(seen.empty());
  ASSERT_TRUE(d->ShowOpen(0, 2));
  EXPECT_EQ(seen, (std::vector<std::string>{"button 3", "check 4 on"}));
}

TEST_F(Extras, ReadOnlyOption) {
  auto d = Make(7);
  p->shellString = "";
  ASSERT_TRUE(d->Controls_AddReadOnlyOption(2, true, true));
  EXPECT_FALSE(d->Controls_AddReadOnlyOption(3, true, false));  // only one
  EXPECT_EQ(std::get<std::string>(d->Controls_PropertyGet(2, ctlCaption)), "Open as &read-only");
  p->script.results = {"C:\\a"};
  p->script.duringShow = [&](ItemDialogSink*) {
    p->lastDialog->customize.checks[static_cast<uint32_t>(-2)] = false;
  };
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FlagsDialog() & 1, 0);

  auto drop = Make(7);
  ASSERT_TRUE(drop->Controls_AddReadOnlyOption(2, false, false, "", ""));
  EXPECT_FALSE(drop->Controls_Add(0, 3, 1, "OK"));  // the option took the OK button
  int32_t n = 0;
  EXPECT_EQ(drop->Controls_TypeOf(2, n), 1);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(std::get<std::string>(drop->Controls_PropertyGet(2, ctlCaption, 0)), "Open");
  EXPECT_EQ(std::get<std::string>(drop->Controls_PropertyGet(2, ctlCaption, 1)), "Open as &read-only");
  p->script.duringShow = [&](ItemDialogSink*) {
    p->lastDialog->customize.selections[static_cast<uint32_t>(-2)] = 1;
  };
  ASSERT_TRUE(drop->ShowOpen());
  EXPECT_EQ(drop->FlagsDialog() & 1, 1);
}

TEST_F(Extras, CustomModes) {
  auto d = Make(7);
  EXPECT_FALSE(d->Controls_SetCustomMode(0x5000));
  ASSERT_TRUE(d->Controls_SetCustomMode(0x8000));
  EXPECT_FALSE(d->Controls_SetCustomMode(0xA000));  // once
  int32_t n = 0;
  EXPECT_EQ(d->Controls_TypeOf(0, n), -1);
  d->FlagsDialog(0x20 | 0x1000);
  // The OK hook collects the current folder and closes the dialog.
  p->script.results = {};
  p->script.duringShow = [&](ItemDialogSink* sink) {
    ASSERT_TRUE(sink);
    p->lastDialog->folder = "C:\\picked";
    EXPECT_EQ(sink->OnFileOk(), 1);
    EXPECT_TRUE(sink->OnOkButtonClick());
  };
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileName(), "C:\\picked");
  EXPECT_TRUE(Logged("oklabel Select Folder"));
  EXPECT_TRUE(Logged("namelabel Folder: "));
  EXPECT_TRUE(Logged("options " + std::to_string(0x1000)));  // pick-folders removed

  // A collecting mode: the add button collects, the own button ends.
  auto c = Make(7);
  ASSERT_TRUE(c->Controls_SetCustomMode(0x1000, "", "", true, "%S choisis"));
  int added = 0;
  c->DialogAddBasketItem = [&](const ShellItemArrayPtr& items, bool& reject) {
    ++added;
    reject = items->Count() == 0;
  };
  std::vector<std::string> calls;
  p->script.results = {"C:\\d\\a", "C:\\d\\b"};
  p->script.duringShow = [&](ItemDialogSink* sink) {
    EXPECT_EQ(sink->OnFileOk(), 1);
    EXPECT_EQ(sink->OnFileOk(), 1);  // the same items are collected once
    sink->OnButtonClicked(0x80000000u);
    calls = p->lastDialog->customize.calls;
  };
  ShellObjectPtr rtn;
  ASSERT_TRUE(c->ShowOpen(0, 0, &rtn));
  EXPECT_EQ(added, 2);
  EXPECT_EQ(c->FileName(), std::string("C:\\d\\a\0C:\\d\\b", 13));
  EXPECT_NE(std::find(calls.begin(), calls.end(), "group -2147483647 0000 choisis"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "button -2147483648 OK"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "label -2147483647 2 choisis"), calls.end());
  EXPECT_EQ(c->Controls_TypeOf(0, n), -1);
  EXPECT_EQ(n, 2);

  // Nothing collected: a cancel.
  p->script.duringShow = nullptr;
  auto e = Make(7);
  ASSERT_TRUE(e->Controls_SetCustomMode(0x3000));
  EXPECT_FALSE(e->ShowOpen());
  EXPECT_EQ(p->lastError, kChooserCancelled);
}

}  // namespace
