// cTaskDialog on the dialog layer, driven by the scripted renderer on the
// virtual clock.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/eventloop.h"
#include "support/modShellExtended.h"
#include "support/process.h"
#include "support/ui.h"
#include "taskdialog/cTaskDialog.h"
#include "taskdialog/mTDHelper.h"
#include "taskdialog/tdscripted.h"
#include "program_dialogs.h"

namespace qv {
namespace {

class TaskDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLoop(&loop_);
    ui_ = std::make_unique<ScriptedDialogs>(dpi_, dpi_, "Quorvel");
  }
  void TearDown() override {
    EXPECT_TRUE(ui_->Errors().empty()) << ui_->Errors().front();
    ui_.reset();
    SetLoop(nullptr);
  }
  // A dialog that takes its place in the test: created after the layer.
  std::unique_ptr<cTaskDialog> New() {
    auto td = std::make_unique<cTaskDialog>();
    td->Init();
    return td;
  }
  // The settings of the six dialogs of the programs.
  std::unique_ptr<cTaskDialog> ProgressDialog(const std::string& instruction) {
    auto td = New();
    td->Width(300);
    td->IconMain(-8);
    td->MainInstruction(instruction);
    td->Content("Création de : dossier.zip");
    td->Flags(0xA10);
    td->IconFooter(-3);
    td->Footer("   ");
    td->IconFooter(-3);
    td->ParentHwnd(0x777);
    td->AddCustomButton(101, "Annuler", 0);
    td->SetButtonHold(101);
    td->Title("Quorvelpack : Compresser un dossier");
    return td;
  }
  std::unique_ptr<cTaskDialog> PasswordDialog(bool masked) {
    auto td = New();
    testing_dialogs::SetUpPassword(*td, masked);
    return td;
  }
  std::unique_ptr<cTaskDialog> ChoiceDialog(bool extractor) {
    auto td = New();
    testing_dialogs::SetUpChoice(*td, extractor);
    return td;
  }

  float dpi_ = 1.0f;
  VirtualEventLoop loop_;
  std::unique_ptr<ScriptedDialogs> ui_;
};

// ---------------------------------------------------------------------------
// Configuration, lists, record

TEST_F(TaskDialogTest, InitAndShowOnlyGivesTheProgramTitleAndTheDefaultOk) {
  auto td = New();
  ui_->Dialog(0).Click(1);
  EXPECT_TRUE(td->ShowDialog());
  EXPECT_EQ(td->ResultMain(), 1);
  const ShownDialog& d = ui_->Shown().at(0);
  EXPECT_EQ(d.title, "Quorvel");
  ASSERT_EQ(d.buttons.size(), 1u);
  EXPECT_EQ(d.buttons[0].id, 1);
  EXPECT_EQ(d.record.cbSize, 96u);
  EXPECT_EQ(d.record.dwCommonButtons, 0u);
  EXPECT_EQ(td->hWndDlg(), 0);
}

TEST_F(TaskDialogTest, InitResetsEverythingButTheAutocloseTime) {
  auto td = New();
  td->AutocloseTime(7);
  td->Title("x");
  td->Footer("f");
  td->Flags(0xFFFF);
  td->InputText("secret");
  td->InputIsPassword(true);
  td->AddCustomButton(5, "b");
  td->SetButtonHold(5);
  td->SetWindowsButtonIconSize(32);
  td->SliderSetRange(3, 4, 5);
  td->Init();
  EXPECT_EQ(td->AutocloseTime(), 7);
  EXPECT_EQ(td->Title(), "Quorvel");
  EXPECT_EQ(td->Footer(), "");
  EXPECT_EQ(td->Flags(), 0u);
  EXPECT_EQ(td->InputText(), "");
  EXPECT_FALSE(td->InputIsPassword());
  EXPECT_TRUE(td->CustomButtons().empty());
  EXPECT_EQ(td->HoldList(), std::vector<int32_t>{0});
  EXPECT_EQ(td->SliderValue(), 0);
}

TEST_F(TaskDialogTest, IdListsKeepTheirOneZeroSlotForm) {
  auto td = New();
  EXPECT_EQ(td->HoldList(), std::vector<int32_t>{0});
  td->SetButtonHold(101);
  EXPECT_EQ(td->HoldList(), std::vector<int32_t>{101});
  td->SetButtonHold(102);
  td->ReleaseButtonHold(555);  // not in the list: unchanged
  EXPECT_EQ(td->HoldList(), (std::vector<int32_t>{101, 102}));
  td->ReleaseButtonHold(101);
  td->ReleaseButtonHold(102);
  EXPECT_EQ(td->HoldList(), std::vector<int32_t>{0});

  td->SetButtonElevated(1, 1);
  td->SetButtonElevated(2, 1);
  td->SetButtonElevated(3, 1);
  td->SetButtonElevated(2, 0);
  EXPECT_EQ(td->ElevatedList(), (std::vector<int32_t>{1, 3}));
  td->EnableButton(7, false);
  td->EnableButton(8, false);
  td->EnableButton(7, true);
  EXPECT_EQ(td->DisabledList(), std::vector<int32_t>{8});
  td->EnableRadioButton(4, false);
  EXPECT_EQ(td->DisabledRadioList(), std::vector<int32_t>{4});

  td->AddCustomButton(9, "a", 0);
  td->AddCustomButton(9, "b", 0);
  ASSERT_EQ(td->CustomButtons().size(), 2u);
  EXPECT_EQ(td->CustomButtons()[1].id, 9);
}

TEST_F(TaskDialogTest, IconsReachThePlatformAsSixteenBitOrdinalsUnlessHandles) {
  auto td = New();
  td->IconMain(-8);
  td->IconFooter(-3);
  ui_->Dialog(0).Click(1);
  td->ShowDialog();
  EXPECT_EQ(td->Config().mainIcon, 0xFFF8);
  EXPECT_EQ(td->Config().footerIcon, 0xFFFD);

  auto h = New();
  h->Flags(TDF_USE_HICON_MAIN);
  h->IconMain(-8);
  ui_->Dialog(1).Click(1);
  h->ShowDialog();
  EXPECT_EQ(h->Config().mainIcon, -8);
}

TEST_F(TaskDialogTest, RecordsOfTheSixDialogsOfThePrograms) {
  // Progress dialogs (both programs).
  for (const char* instruction : {"Compression en cours...", "Décompression en cours..."}) {
    auto td = ProgressDialog(instruction);
    td->DialogCreated = [&](intptr_t) { td->CloseDialog(); };
    td->ShowDialog();
    const TaskDialogConfig& r = td->Config();
    EXPECT_EQ(r.dwFlags, 0xA10u);
    EXPECT_EQ(r.mainIcon, 0xFFF8);
    EXPECT_EQ(r.footerIcon, 0xFFFD);
    EXPECT_EQ(r.pszFooter, "   ");
    EXPECT_EQ(r.cxWidth, 300u);
    EXPECT_EQ(r.hwndParent, 0x777);
    EXPECT_EQ(r.dwCommonButtons, 0u);
    ASSERT_EQ(r.buttons.size(), 1u);
    EXPECT_EQ(r.buttons[0].id, 101);
    EXPECT_EQ(r.buttons[0].text, "Annuler");
    EXPECT_EQ(r.pszMainInstruction, instruction);
    EXPECT_EQ(r.pszContent, "Création de : dossier.zip");
    EXPECT_EQ(r.pfCallback, &mTDHelper::TaskDialogCallbackProc);
    EXPECT_EQ(r.lpCallbackData, reinterpret_cast<intptr_t>(td.get()));
  }
  // Choice dialogs.
  for (bool extractor : {false, true}) {
    auto td = ChoiceDialog(extractor);
    td->DialogCreated = [&](intptr_t) { td->CloseDialog(); };
    td->ShowDialog();
    const TaskDialogConfig& r = td->Config();
    EXPECT_EQ(r.dwFlags, 0x10u);
    EXPECT_EQ(r.mainIcon, 0xFFFA);
    EXPECT_EQ(r.footerIcon, 0xFFFD);
    EXPECT_EQ(r.pszFooter, "Choisissez une des options ci-dessus");
    EXPECT_EQ(r.pszContent, "Vous pouvez choisir de :");
    EXPECT_EQ(r.dwCommonButtons, 0u);
    std::vector<int32_t> ids;
    for (auto& b : r.buttons) ids.push_back(b.id);
    EXPECT_EQ(ids, extractor ? (std::vector<int32_t>{300, 200, 400})
                             : (std::vector<int32_t>{200, 400}));
    EXPECT_FALSE(ui_->Shown().back().buttons.empty());
    EXPECT_TRUE(ui_->Shown().back().buttons[0].commandLink);
  }
  // Password dialogs.
  for (bool masked : {false, true}) {
    auto td = PasswordDialog(masked);
    td->DialogCreated = [&](intptr_t) { td->CloseDialog(); };
    td->ShowDialog();
    const TaskDialogConfig& r = td->Config();
    EXPECT_EQ(r.dwFlags, 0x4000000u);  // no timer: nothing asks for one
    EXPECT_EQ(r.mainIcon, 0xFFF9);
    EXPECT_EQ(r.footerIcon, 0xFFFD);
    EXPECT_EQ(r.pszFooter, "Entrer le mot de passe puis OK pour continuer.");
    EXPECT_EQ(r.dwCommonButtons, 9u);
    EXPECT_TRUE(r.buttons.empty());
    EXPECT_EQ(r.pszContent, "Ce fichier est protégé par mot de passe");
    const ShownDialog& d = ui_->Shown().back();
    ASSERT_EQ(d.buttons.size(), 2u);
    EXPECT_EQ(d.buttons[0].id, 1);
    EXPECT_TRUE(d.buttons[0].elevated);
    EXPECT_EQ(d.buttons[1].id, 2);
    EXPECT_FALSE(d.buttons[1].elevated);
    EXPECT_TRUE(d.input.present);
    EXPECT_EQ(d.input.masked, masked);
  }
}

TEST_F(TaskDialogTest, FooterReservationAndContentRoom) {
  auto td = New();
  td->Footer("$input");
  ui_->Dialog(0).Click(1);
  td->ShowDialog();
  EXPECT_EQ(td->Config().pszFooter, " ");

  auto c = New();
  c->Content("Voir <A HREF=\"x\">ici</a>");  // before the flags: stored as it is
  c->Flags(TDF_X_INPUT | TDF_ENABLE_HYPERLINKS);
  c->MainInstruction("Titre");
  c->ExpandedInfo("Plus");
  ui_->Dialog(1).Click(1);
  c->ShowDialog();
  EXPECT_EQ(c->Config().pszContent, "Voir <A HREF=\"x\">ici</a>\r\n\r\n ");
  EXPECT_EQ(c->Config().pszMainInstruction, "Titre");
  EXPECT_EQ(c->Config().pszExpandedInformation, "Plus\r\n\r\n");
  // An input box plus expanded information asks for the component's timer.
  EXPECT_TRUE(c->Config().dwFlags & TDF_CALLBACK_TIMER);
  EXPECT_FALSE(c->Flags() & TDF_CALLBACK_TIMER);

  auto e = New();
  e->Flags(TDF_X_INPUT);
  e->MainInstruction("Titre");
  e->InputAlign(2);
  ui_->Dialog(2).Click(1);
  e->ShowDialog();
  EXPECT_EQ(e->Config().pszMainInstruction, "Titre");  // box in the footer: no content room
  EXPECT_EQ(e->Config().pszFooter, " ");

  auto m = New();
  m->Flags(TDF_X_INPUT);
  m->MainInstruction("Titre");
  ui_->Dialog(3).Click(1);
  m->ShowDialog();
  EXPECT_EQ(m->Config().pszMainInstruction, "Titre\r\n");  // empty content: room below the title
}

TEST_F(TaskDialogTest, ContentGetsALineBreakForAContentBoxWhenSet) {
  auto td = New();
  td->Flags(TDF_X_INPUT);
  td->Content("Texte");
  EXPECT_EQ(td->Content(), "Texte\r\n");
  td->Content("Autre\r\n");
  EXPECT_EQ(td->Content(), "Autre\r\n");
  td->InputAlign(1);
  td->Content("Texte");
  EXPECT_EQ(td->Content(), "Texte");
}

// ---------------------------------------------------------------------------
// Notifications and events

TEST_F(TaskDialogTest, HeldButtonStaysOpenAndCloseDialogFromItsHandlerClosesWithEight) {
  auto td = ProgressDialog("Compression en cours...");
  std::vector<int32_t> clicks;
  std::vector<int32_t> resultAtClick;
  td->ButtonClick = [&](int32_t id) {
    clicks.push_back(id);
    resultAtClick.push_back(td->ResultMain());
    if (id == 101 && clicks.size() == 2) td->CloseDialog();
  };
  bool openAfterFirst = false;
  ui_->Dialog(0).AtTick(2).Click(101).AtTick(4).Do([&](LayerDialog& d) { openAfterFirst = d.Open(); })
      .Click(101);
  EXPECT_TRUE(td->ShowDialog());
  EXPECT_TRUE(openAfterFirst);
  EXPECT_EQ(clicks, (std::vector<int32_t>{101, 101, 8}));
  EXPECT_EQ(resultAtClick, (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(td->ResultMain(), 8);
}

TEST_F(TaskDialogTest, UnheldButtonClosesWithItsId) {
  auto td = ChoiceDialog(false);
  std::vector<int32_t> clicks;
  td->ButtonClick = [&](int32_t id) { clicks.push_back(id); };
  ui_->Dialog(0).Click(400);
  td->ShowDialog();
  EXPECT_EQ(td->ResultMain(), 400);
  EXPECT_EQ(clicks, std::vector<int32_t>{400});
}

TEST_F(TaskDialogTest, AutoCloseAfterMoreThanTheWholeSecondsWithoutTimerEvents) {
  auto td = New();
  td->AutocloseTime(3);
  int autoCloses = 0, timers = 0;
  std::vector<int32_t> clicks;
  td->AutoClose = [&] { ++autoCloses; };
  td->Timer = [&](int32_t) { ++timers; };
  td->ButtonClick = [&](int32_t id) { clicks.push_back(id); };
  const int64_t start = loop_.NowMs();
  td->ShowDialog();
  EXPECT_EQ(autoCloses, 1);
  EXPECT_EQ(timers, 0);
  EXPECT_EQ(clicks, std::vector<int32_t>{8});
  EXPECT_EQ(td->ResultMain(), 8);
  // The first tick with more than 3 whole seconds since creation.
  EXPECT_EQ(ui_->Shown()[0].closedAtMs - start, 4000);
  EXPECT_TRUE(td->Config().dwFlags & TDF_CALLBACK_TIMER);
  EXPECT_FALSE(td->Flags() & TDF_CALLBACK_TIMER);
  // The countdown was counted down while shown.
  EXPECT_EQ(td->AutocloseTime(), 0);
}

TEST_F(TaskDialogTest, ResetTimerRestartsTheCount) {
  auto td = New();
  td->Flags(TDF_CALLBACK_TIMER);
  std::vector<int32_t> values;
  td->Timer = [&](int32_t ms) {
    values.push_back(ms);
    if (values.size() == 3) td->ResetTimer();
    if (values.size() == 5) td->CloseDialog();
  };
  td->ShowDialog();
  EXPECT_EQ(values, (std::vector<int32_t>{200, 400, 600, 200, 400}));
}

TEST_F(TaskDialogTest, OneInputBoxChangePerChangeWithTheFullText) {
  auto td = PasswordDialog(true);
  std::vector<std::string> seen;
  std::vector<std::string> inputTextSeen;
  td->InputBoxChange = [&](std::string& text) {
    seen.push_back(text);
    inputTextSeen.push_back(td->InputText());
  };
  ui_->Dialog(0).Type("aé!").Backspace(1).Clear().Type("xy").Click(2);
  td->ShowDialog();
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "aé", "aé!", "aé", "", "x", "xy"}));
  EXPECT_EQ(inputTextSeen, seen);
  EXPECT_EQ(td->ResultMain(), 2);
  // Captured when the dialog was destroyed.
  EXPECT_EQ(td->InputText(), "xy");
  EXPECT_EQ(td->ResultInput(), "xy");
  EXPECT_EQ(td->hWndDlg(), 0);
}

TEST_F(TaskDialogTest, PasswordRefusedThenAcceptedLikeTheWorkflows) {
  auto td = PasswordDialog(true);
  std::string accepted;
  td->ButtonClick = [&](int32_t id) {
    if (id != 1) return;
    std::string pw = td->InputText();
    if (pw.size() < 6) {
      Prompts().Beep(0x10);
      td->Footer("Mot de passe incorrect, veuillez réessayer.");
      td->IconFooter(-2);
    } else {
      accepted = pw;
      td->CloseDialog();
    }
  };
  ui_->Dialog(0).Type("abc").Click(1).Type("defg").Click(1);
  td->ShowDialog();
  EXPECT_EQ(accepted, "abcdefg");
  EXPECT_EQ(td->ResultMain(), 8);
  const ShownDialog& d = ui_->Shown()[0];
  EXPECT_EQ(d.footers, (std::vector<std::string>{"Entrer le mot de passe puis OK pour continuer.",
                                                 "Mot de passe incorrect, veuillez réessayer."}));
  EXPECT_EQ(d.footerIcons, (std::vector<intptr_t>{0xFFFD, 0xFFFE}));
  EXPECT_EQ(ui_->Beeps(), std::vector<uint32_t>{0x10});
  EXPECT_TRUE(d.input.masked);
}

TEST_F(TaskDialogTest, LiveUpdatesOfTextsIconsAndProgress) {
  auto td = ProgressDialog("Compression en cours...");
  td->ProgressSetRange(0, 100);  // not shown: no effect, nothing remembered
  td->DialogCreated = [&](intptr_t) {
    td->ProgressSetRange(0, 100);
    td->ProgressSetValue(0);
  };
  int ticks = 0;
  td->Timer = [&](int32_t) {
    ++ticks;
    td->ProgressSetValue(ticks * 30);
    td->IconFooter(-3);
    td->Footer("    Compression : " + std::to_string(ticks * 30) + " %  ");
    if (ticks == 3) {
      td->IconMain(-1);
      td->MainInstruction("Fini");
      td->Content("Tout est là");
      td->CloseDialog();
    }
  };
  td->ShowDialog();
  const ShownDialog& d = ui_->Shown()[0];
  EXPECT_EQ(d.footers, (std::vector<std::string>{"   ", "    Compression : 30 %  ",
                                                 "    Compression : 60 %  ",
                                                 "    Compression : 90 %  "}));
  EXPECT_EQ(d.progressPositions, (std::vector<int32_t>{0, 30, 60, 90}));
  EXPECT_EQ(d.progress.maximum, 100);
  EXPECT_EQ(d.mainIcons, (std::vector<intptr_t>{0xFFF8, 0xFFFF}));
  EXPECT_EQ(d.mainInstruction, "Fini");
  EXPECT_EQ(d.content, "Tout est là");
  // Kept for a later showing.
  EXPECT_EQ(td->Footer(), "    Compression : 90 %  ");
}

TEST_F(TaskDialogTest, ProgressRangeKeepsOnlyTheLowSixteenBits) {
  auto td = ProgressDialog("x");
  td->DialogCreated = [&](intptr_t) {
    td->ProgressSetRange(0, 70000);  // 70000 & 0xFFFF = 4464
    td->ProgressSetValue(5000);
    td->CloseDialog();
  };
  td->ShowDialog();
  EXPECT_EQ(ui_->Shown()[0].progress.maximum, 4464);
  EXPECT_EQ(ui_->Shown()[0].progress.position, 4464);
}

TEST_F(TaskDialogTest, CloseDialogWhileNotShownDoesNothing) {
  auto td = New();
  int clicks = 0;
  td->ButtonClick = [&](int32_t) { ++clicks; };
  td->CloseDialog();
  td->ClickButton(1);
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(td->ResultMain(), 0);
}

TEST_F(TaskDialogTest, EnabledElevatedAndHeldListsBeforeAndDuringTheDialog) {
  auto td = New();
  td->AddCustomButton(10, "Dix");
  td->AddCustomButton(11, "Onze");
  td->AddCustomButton(12, "Douze");
  td->EnableButton(10, false);
  td->EnableButton(11, false);
  td->EnableButton(11, true);  // only leaves the pending list
  td->SetButtonElevated(12, 1);
  td->SetButtonHold(11);
  std::vector<LayerDialog::Button> atStart, afterChanges;
  td->ButtonClick = [&](int32_t id) {
    if (id == 11) {
      td->EnableButton(10, true);
      td->SetButtonElevated(12, 0);
      td->SetButtonElevated(11, 1);
      td->ReleaseButtonHold(11);
    }
  };
  ui_->Dialog(0)
      .Do([&](LayerDialog& d) { atStart = d.Buttons(); })
      .Click(11)
      .Do([&](LayerDialog& d) { afterChanges = d.Buttons(); })
      .Click(11);
  td->ShowDialog();
  ASSERT_EQ(atStart.size(), 3u);
  EXPECT_FALSE(atStart[0].enabled);
  EXPECT_TRUE(atStart[1].enabled);
  EXPECT_TRUE(atStart[2].elevated);
  ASSERT_EQ(afterChanges.size(), 3u);
  EXPECT_TRUE(afterChanges[0].enabled);
  EXPECT_TRUE(afterChanges[1].elevated);
  EXPECT_FALSE(afterChanges[2].elevated);
  // Released during the dialog: the second click closed it.
  EXPECT_EQ(td->ResultMain(), 11);
  // Lists changed while shown act at once and are not remembered.
  EXPECT_EQ(td->DisabledList(), std::vector<int32_t>{10});
}

TEST_F(TaskDialogTest, ADisabledButtonCannotBeClickedByTheUser) {
  auto td = New();
  td->CommonButtons(TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON);
  td->EnableButton(1, false);
  ui_->Dialog(0).Do([](LayerDialog& d) { EXPECT_FALSE(d.Click(1)); }).Click(2);
  td->ShowDialog();
  EXPECT_EQ(td->ResultMain(), 2);
}

TEST_F(TaskDialogTest, CloseFromAWaitInsideATimerHandlerInsideTheTickClosesAfterUnwinding) {
  auto td = ProgressDialog("x");
  bool closedInside = false;
  bool returnedFromWait = false;
  UiTimer close(500, [&] {
    close.SetEnabled(false);
    td->CloseDialog();
    WaitMs(1000);  // the dialog is closing; events still run meanwhile
    closedInside = true;
  });
  td->DialogCreated = [&](intptr_t) { close.SetEnabled(true); };
  td->Timer = [&](int32_t) {
    PumpEvents(20);
    WaitMs(300);
    returnedFromWait = true;
  };
  const int64_t start = loop_.NowMs();
  td->ShowDialog();
  EXPECT_TRUE(closedInside);
  EXPECT_TRUE(returnedFromWait);
  EXPECT_EQ(td->ResultMain(), 8);
  EXPECT_GE(loop_.NowMs() - start, 1500);
  EXPECT_EQ(ui_->Shown()[0].ticks, 1);  // no tick after the close
}

TEST_F(TaskDialogTest, DialogsAndQuestionsNestedInsideAHandler) {
  auto progress = ProgressDialog("x");
  int answer = 0;
  int32_t nestedResult = 0;
  std::vector<int32_t> progressClicks;
  progress->ButtonClick = [&](int32_t id) {
    progressClicks.push_back(id);
    if (id != 101) return;
    answer = Prompts().MessageBox("Vraiment ?", "Titre", MB_YESNO_ | MB_ICONQUESTION_);
    auto choice = ChoiceDialog(false);
    choice->ButtonClick = [&](int32_t cid) {
      if (cid == 200) choice->CloseDialog();
    };
    choice->ShowDialog();
    nestedResult = choice->ResultMain();
    progress->CloseDialog();
  };
  ui_->AnswerQuestions({IDNO_});
  ui_->Dialog(0).AtTick(1).Click(101);
  ui_->Dialog(1).Do([&](LayerDialog&) { EXPECT_EQ(ui_->Layer().OpenDialogs().size(), 2u); })
      .Click(200);
  progress->ShowDialog();
  EXPECT_EQ(answer, IDNO_);
  // A close requested by a nested click is overtaken by the click itself.
  EXPECT_EQ(nestedResult, 200);
  EXPECT_EQ(progressClicks, (std::vector<int32_t>{101, 8}));
  EXPECT_EQ(progress->ResultMain(), 8);
  EXPECT_EQ(ui_->Shown().size(), 2u);
  EXPECT_EQ(ui_->Current(), nullptr);
}

TEST_F(TaskDialogTest, AFailingHandlerAnswersZeroSoTheHeldButtonCloses) {
  auto td = ProgressDialog("x");
  td->ButtonClick = [&](int32_t) { throw std::runtime_error("boom"); };
  ui_->Dialog(0).Click(101);
  td->ShowDialog();
  EXPECT_EQ(td->ResultMain(), 101);
}

TEST_F(TaskDialogTest, EndingTheProcessFromAHandlerUnwindsTheDialog) {
  ThrowOnEndProcess();
  auto td = ProgressDialog("x");
  td->ButtonClick = [&](int32_t) { EndProcess(kExitCancelled); };
  ui_->Dialog(0).AtTick(1).Click(101);
  try {
    td->ShowDialog();
    ADD_FAILURE() << "ShowDialog returned";
  } catch (const ProcessEnded& e) {
    EXPECT_EQ(e.code, kExitCancelled);
  }
  SetEndProcessHandler(nullptr);
  EXPECT_EQ(ui_->Current(), nullptr);
  EXPECT_FALSE(ui_->Shown()[0].open);
  // Nothing left behind on the loop: another dialog runs normally.
  auto next = New();
  ui_->Dialog(1).Click(1);
  EXPECT_TRUE(next->ShowDialog());
}

TEST_F(TaskDialogTest, CreationOrderAndDestruction) {
  auto td = New();
  td->Flags(TDF_X_INPUT | TDF_CALLBACK_TIMER);
  std::vector<std::string> events;
  td->DialogConstucted = [&](intptr_t) { events.push_back("constructed"); };
  td->DialogCreated = [&](intptr_t h) {
    events.push_back("created");
    EXPECT_EQ(h, td->hWndDlg());
    EXPECT_NE(td->hWndDUI(), 0);
    EXPECT_NE(td->hWndInput(), 0);
  };
  td->Timer = [&](int32_t) {
    if (events.back() != "timer") events.push_back("timer");
  };
  td->ButtonClick = [&](int32_t) { events.push_back("click"); };
  td->DialogDestroyed = [&] {
    events.push_back("destroyed");
    EXPECT_NE(td->hWndDlg(), 0);
    EXPECT_EQ(td->InputText(), "zz");
  };
  ui_->Dialog(0).Type("zz").AtTick(2).Click(1);
  td->ShowDialog();
  EXPECT_EQ(events, (std::vector<std::string>{"constructed", "created", "timer", "click",
                                              "destroyed"}));
  EXPECT_EQ(td->hWndInput(), 0);
  EXPECT_EQ(td->InputText(), "zz");
}

TEST_F(TaskDialogTest, InitialInputTextAndLivePasswordSwitch) {
  auto td = PasswordDialog(false);
  td->InputText("déjà");
  td->InputCueBanner("Mot de passe");
  bool maskedBefore = true, maskedAfter = false;
  std::string typed;
  td->InputBoxChange = [&](std::string& s) { typed = s; };
  ui_->Dialog(0)
      .Do([&](LayerDialog& d) {
        maskedBefore = d.InputBox().masked;
        EXPECT_EQ(d.InputBox().text, "déjà");
        EXPECT_EQ(d.InputBox().cueBanner, "Mot de passe");
        td->InputIsPassword(true);
        maskedAfter = d.InputBox().masked;
        td->InputText("neuf");  // written by the program: the box reports the change
      })
      .Click(2);
  td->ShowDialog();
  EXPECT_FALSE(maskedBefore);
  EXPECT_TRUE(maskedAfter);
  EXPECT_EQ(typed, "neuf");
  EXPECT_EQ(td->InputText(), "neuf");
}

TEST_F(TaskDialogTest, NavigatePageHandsTheDialogToThePage) {
  auto first = ChoiceDialog(false);
  auto page = PasswordDialog(true);
  int navigated = 0;
  std::vector<int32_t> pageClicks;
  page->Navigated = [&] { ++navigated; };
  page->ButtonClick = [&](int32_t id) {
    pageClicks.push_back(id);
    if (id == 1) page->CloseDialog();
  };
  first->ButtonClick = [&](int32_t id) {
    if (id == 200) first->NavigatePage(*page);
  };
  first->SetButtonHold(200);
  ui_->Dialog(0).Click(200).Type("abc").Click(1);
  first->ShowDialog();
  EXPECT_EQ(navigated, 1);
  EXPECT_EQ(pageClicks, (std::vector<int32_t>{1, 8}));
  EXPECT_EQ(first->ResultMain(), 8);
  EXPECT_EQ(page->InputText(), "abc");
  EXPECT_EQ(ui_->Shown()[0].mainInstruction, "Autorisation requise");
  EXPECT_EQ(first->hWndDlg(), 0);
  EXPECT_EQ(page->hWndDlg(), 0);
}

TEST_F(TaskDialogTest, CombosSlidersAndPickersReportTheirResults) {
  auto td = New();
  td->Flags(TDF_X_COMBO | TDF_X_SLIDER | TDF_X_DATETIME);
  td->ComboStyle(1);
  td->ComboAddItem("un", 0, 0, 11);
  td->ComboAddItem("deux", 0, 0, 22);
  EXPECT_EQ(td->ComboNewIndex(), 1);
  td->ComboSetInitialItem(0);
  td->SliderSetRange(0, 20, 2);
  td->SliderValue(4);
  td->DateTimeType(1);
  td->DateTimeSetInitial(TdDateTime{2026, 12, 7, 0, 0, 0});
  td->DateTimeChecked(true);
  std::vector<int32_t> items, slides;
  td->ComboItemChanged = [&](int32_t i) { items.push_back(i); };
  td->SliderChange = [&](int32_t v) { slides.push_back(v); };
  ui_->Dialog(0)
      .Do([&](LayerDialog&) {
        EXPECT_EQ(td->ComboIndex(), 0);
        td->ComboIndex(1);
        EXPECT_EQ(td->SliderValue(), 4);
        td->SliderValue(15);
        td->ComboAddItem("trois", 0, 0, 33);
      })
      .Click(1);
  td->ShowDialog();
  EXPECT_EQ(td->ResultComboIndex(), 1);
  EXPECT_EQ(td->ResultComboText(), "deux");
  EXPECT_EQ(td->ResultComboData(), 22);
  EXPECT_EQ(td->ResultSlider(), 15);
  EXPECT_TRUE(td->ResultDateTimeChecked());
  EXPECT_EQ(td->ResultDateTime(), (TdDateTime{2026, 12, 7, 0, 0, 0}));
  EXPECT_EQ(td->ComboIndex(), -1);  // no combo box any more
}

TEST_F(TaskDialogTest, RadiosVerificationAndHyperlinks) {
  auto td = New();
  td->Flags(TDF_ENABLE_HYPERLINKS | TDF_X_OPEN_LINKS);
  td->Content("Voir <a href=\"https://exemple.fr/é\">le site</a>");
  td->AddRadioButton(31, "Rapide");
  td->AddRadioButton(32, "Lent");
  td->AddRadioButton(33, "Aucun");
  td->DefaultRadioButton(32);
  td->EnableRadioButton(33, false);
  td->VerifyText("Ne plus demander");
  std::vector<int32_t> radios, verifications;
  std::vector<std::string> links;
  td->RadioButtonClick = [&](int32_t id) { radios.push_back(id); };
  td->VerificationClicked = [&](int32_t v) { verifications.push_back(v); };
  td->HyperlinkClick = [&](intptr_t target) { links.push_back(reinterpret_cast<const char*>(target)); };
  std::vector<std::string> opened;
  SetShellExecuteHook([&](const ShellRequest& r) -> intptr_t {
    opened.push_back(r.file);
    return 42;
  });
  ui_->Dialog(0)
      .Do([&](LayerDialog& d) {
        EXPECT_FALSE(d.SelectRadio(33));  // disabled before showing
        EXPECT_TRUE(d.Radios()[1].checked);
        EXPECT_TRUE(d.Hyperlink("https://exemple.fr/é"));
      })
      .SelectRadio(31)
      .Do([&](LayerDialog& d) { d.ToggleVerification(); })
      .Click(1);
  td->ShowDialog();
  SetShellExecuteHook(nullptr);
  EXPECT_EQ(radios, std::vector<int32_t>{31});
  EXPECT_EQ(verifications, std::vector<int32_t>{1});
  EXPECT_EQ(links, std::vector<std::string>{"https://exemple.fr/é"});
  EXPECT_EQ(opened, std::vector<std::string>{"https://exemple.fr/é"});
  EXPECT_EQ(td->ResultRad(), 31);
  EXPECT_EQ(td->ResultVerify(), 1);
  EXPECT_EQ(td->ResultMain(), 1);
}

TEST_F(TaskDialogTest, SimpleDialogAsksTheLayerDirectly) {
  auto td = New();
  ui_->Dialog(0).Click(2);
  EXPECT_EQ(td->SimpleDialog("Texte", TDCBF_OK_BUTTON | TDCBF_CANCEL_BUTTON), 2);
  EXPECT_EQ(ui_->Shown()[0].title, "Quorvel");
  EXPECT_EQ(ui_->Shown()[0].content, "Texte");
}

TEST_F(TaskDialogTest, YesNoQuestionsAndBeepsGoThroughTheRenderer) {
  ui_->AnswerQuestions({IDNO_});
  EXPECT_EQ(Prompts().MessageBox("Supprimer ?", "Titre", MB_YESNO_ | MB_ICONQUESTION_), IDNO_);
  // No answer left: the default button.
  EXPECT_EQ(Prompts().MessageBox("Encore ?", "Titre", MB_YESNO_ | MB_DEFBUTTON2_), IDNO_);
  EXPECT_EQ(Prompts().MessageBox("Et ?", "Titre", MB_YESNO_), IDYES_);
  ASSERT_EQ(ui_->Questions().size(), 3u);
  EXPECT_EQ(ui_->Questions()[0].text, "Supprimer ?");
  EXPECT_EQ(ui_->Questions()[0].flags, 0x24u);
}

TEST_F(TaskDialogTest, ScriptThatRunsOutEndsTheDialogAndSaysSo) {
  auto td = PasswordDialog(true);
  ui_->IdleTimeoutMs = 1000;
  td->ShowDialog();
  EXPECT_EQ(td->ResultMain(), 2);  // end of input: Cancel
  ASSERT_EQ(ui_->Errors().size(), 1u);
  td.reset();
  ui_.reset();  // the error was expected
  ui_ = std::make_unique<ScriptedDialogs>();
}

// ---------------------------------------------------------------------------
// Placement of the input box

class InputPlacementTest : public TaskDialogTest, public ::testing::WithParamInterface<float> {
 protected:
  void SetUp() override {
    dpi_ = GetParam();
    TaskDialogTest::SetUp();
  }
  // The button's rectangle in the dialog's client coordinates.
  static TdRect ButtonRect(DialogLayer& layer, const LayerDialog& d, int32_t id) {
    for (const auto& b : d.Buttons())
      if (b.id == id) {
        TdRect r = layer.GetWindowRect(b.hwnd);
        TdPoint p = layer.ScreenToClient(d.Hwnd(), TdPoint{r.left, r.top});
        return TdRect{p.x, p.y, p.x + r.Width(), p.y + r.Height()};
      }
    return TdRect{};
  }
};

TEST_P(InputPlacementTest, PasswordBoxSitsInTheButtonRowLeftOfOk) {
  const float s = GetParam();
  auto td = PasswordDialog(true);
  TdRect ok, cancel, box;
  ui_->Dialog(0)
      .Do([&](LayerDialog& d) {
        ok = ButtonRect(ui_->Layer(), d, 1);
        cancel = ButtonRect(ui_->Layer(), d, 2);
        box = d.InputBox().rect;
      })
      .Click(2);
  td->ShowDialog();
  EXPECT_LT(ok.left, cancel.left);
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.top, ok.top);
  // As wide as the space left of OK less 20 pixels (L - 20 from x = 10).
  EXPECT_EQ(box.Width(), ok.left - 20);
  EXPECT_EQ(box.Height(), static_cast<int32_t>(std::nearbyint(22 * s)));
  EXPECT_EQ(td->InputPlacement().x, 10);
}

TEST_P(InputPlacementTest, ContentBoxAboveTheFirstButton) {
  const float s = GetParam();
  auto td = New();
  td->Flags(TDF_X_INPUT);
  td->IconMain(-3);
  td->Content("Votre nom :");
  td->CommonButtons(TDCBF_OK_BUTTON);
  TdRect ok, box;
  int32_t W = 0;
  ui_->Dialog(0)
      .Do([&](LayerDialog& d) {
        ok = ButtonRect(ui_->Layer(), d, 1);
        box = d.InputBox().rect;
        W = d.ClientWidth();
      })
      .Click(1);
  td->ShowDialog();
  const int32_t x = static_cast<int32_t>(std::nearbyint(32 * s + 20));
  EXPECT_EQ(box.left, x);
  EXPECT_EQ(box.top, static_cast<int32_t>(std::nearbyint(ok.top - 44 * s)));
  EXPECT_EQ(box.right, W - 12);
  // Set after the flag: one line break from the setter, two for the room.
  EXPECT_EQ(td->Config().pszContent, "Votre nom :\r\n\r\n\r\n");

  // Without a main icon the box starts at 12; with a progress bar it rises.
  auto p = New();
  p->Flags(TDF_X_INPUT | TDF_SHOW_PROGRESS_BAR);
  p->Content("Votre nom :");
  ui_->Dialog(1)
      .Do([&](LayerDialog& d) {
        ok = ButtonRect(ui_->Layer(), d, 1);
        box = d.InputBox().rect;
      })
      .Click(1);
  p->ShowDialog();
  EXPECT_EQ(box.left, 12);
  EXPECT_EQ(box.top, static_cast<int32_t>(std::nearbyint(ok.top - 44 * s - 22 * s)));
}

TEST_P(InputPlacementTest, FooterBoxInItsThreePositions) {
  const float s = GetParam();
  for (int align = 0; align <= 2; ++align) {
    auto td = New();
    td->Flags(TDF_X_INPUT);
    td->InputAlign(2);
    td->InputAlignInFooter(align);
    TdRect box;
    int32_t W = 0, H = 0;
    std::string footer;
    ui_->Dialog(static_cast<size_t>(align))
        .Do([&](LayerDialog& d) {
          box = d.InputBox().rect;
          W = d.ClientWidth();
          H = d.ClientHeight();
          footer = d.Footer();
        })
        .Click(1);
    td->ShowDialog();
    const int32_t width = static_cast<int32_t>(std::nearbyint(180 * s));
    EXPECT_EQ(footer, " ");
    EXPECT_EQ(box.Width(), width);
    EXPECT_EQ(box.top, static_cast<int32_t>(std::nearbyint(H - 29 * s)));
    const int32_t left16 = static_cast<int32_t>(std::nearbyint(16 * s + 16));
    const int32_t expectX[3] = {
        static_cast<int32_t>(std::nearbyint(32 * s)),
        left16 + static_cast<int32_t>(std::nearbyint(W - (16 * s + 16) - 10 - width)) / 2,
        W - width - 10};
    EXPECT_EQ(box.left, expectX[align]) << "alignment " << align;
  }
  // The full footer width.
  auto full = New();
  full->Flags(TDF_X_INPUT);
  full->InputAlign(2);
  full->InputWidth(-1);
  TdRect box;
  int32_t W = 0;
  ui_->Dialog(3)
      .Do([&](LayerDialog& d) {
        box = d.InputBox().rect;
        W = d.ClientWidth();
      })
      .Click(1);
  full->ShowDialog();
  EXPECT_EQ(box.Width(), static_cast<int32_t>(std::nearbyint(W - (16 * s + 32))));
}

TEST_P(InputPlacementTest, ExpandoMovesAContentBoxOnTheNextTick) {
  const float s = GetParam();
  auto td = New();
  td->Content("Votre nom :");
  td->Flags(TDF_X_INPUT);
  td->ExpandedInfo("Une ligne\nDeux lignes\nTrois lignes");
  td->CommonButtons(TDCBF_OK_BUTTON);
  std::vector<int32_t> expanded;
  td->ExpandButtonClicked = [&](int32_t e) { expanded.push_back(e); };
  TdRect before, after, okAfter;
  std::string contentWhileExpanded;
  ui_->Dialog(0)
      .Do([&](LayerDialog& d) {
        before = d.InputBox().rect;
        d.ToggleExpanded();
        contentWhileExpanded = d.Content();
      })
      .AtTick(2)
      .Do([&](LayerDialog& d) {
        after = d.InputBox().rect;
        okAfter = ButtonRect(ui_->Layer(), d, 1);
      })
      .Click(1);
  td->ShowDialog();
  EXPECT_EQ(expanded, std::vector<int32_t>{1});
  // The room made for the box is taken back while the information shows.
  EXPECT_EQ(contentWhileExpanded, "Votre nom :\r\n");
  EXPECT_GT(after.top, before.top);
  EXPECT_EQ(after.top, static_cast<int32_t>(std::nearbyint(okAfter.top - 44 * s - 6 * s)));
  EXPECT_EQ(after.Width(), before.Width());  // moved, not resized
}

INSTANTIATE_TEST_SUITE_P(Dpi, InputPlacementTest, ::testing::Values(1.0f, 1.5f));

}  // namespace
}  // namespace qv
