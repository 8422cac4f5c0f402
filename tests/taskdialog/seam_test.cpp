// cTaskDialog at its platform seam: texts travel through typed calls, and
// the footer asks for a relayout when it may need more room.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/eventloop.h"
#include "taskdialog/cTaskDialog.h"
#include "taskdialog/tdconst.h"
#include "taskdialog/tdscripted.h"

namespace qv {
namespace {

// The seam as cTaskDialog uses it for texts: typed calls, and a footer that
// may need more room asks the platform to lay the dialog out again.
class RecordingLayer : public DialogLayer {
 public:
  using DialogLayer::DialogLayer;
  struct Call {
    uint32_t element;
    std::string text;
    bool relayout;
  };
  std::vector<Call> calls;
  void SetElementText(WindowHandle dialog, uint32_t element, const std::string& text,
                      bool relayout) override {
    calls.push_back(Call{element, text, relayout});
    DialogLayer::SetElementText(dialog, element, text, relayout);
  }
};

TEST(TaskDialogSeam, AFooterThatGrowsRelaysTheDialogOut) {
  VirtualEventLoop loop;
  SetLoop(&loop);
  {
    ScriptedDialogs ui;
    RecordingLayer layer(ui);
    SetTdPlatform(&layer);
    cTaskDialog td;
    td.Init();
    td.Flags(0xA10);
    td.AddCustomButton(101, "Annuler", 0);
    td.Footer("   ");
    std::string shown;
    ui.Dialog(0)
        .Do([&](LayerDialog&) {
          td.Footer("    Compression : 5 %  ");
          td.Footer("    Compression : 6 %  ");  // same size: in place
          td.Footer("La compression a échoué.\nLe disque est plein.");
          td.Footer("Court");
          td.MainInstruction("Une consigne bien plus longue qu'avant");
        })
        .Do([&](LayerDialog& d) { shown = d.Footer(); })
        .Click(101)
        .Do([&](LayerDialog&) { td.CloseDialog(); });
    td.ShowDialog();
    ASSERT_EQ(layer.calls.size(), 5u);
    EXPECT_TRUE(layer.calls[0].relayout);   // longer than "   "
    EXPECT_FALSE(layer.calls[1].relayout);  // one digit for another
    EXPECT_TRUE(layer.calls[2].relayout);   // a second line
    EXPECT_TRUE(layer.calls[3].relayout);   // one line fewer
    EXPECT_EQ(layer.calls[4].element, TDE_MAIN_INSTRUCTION);
    EXPECT_FALSE(layer.calls[4].relayout);
    EXPECT_EQ(shown, "Court");
    SetTdPlatform(&ui.Layer());
  }
  SetLoop(nullptr);
}

}  // namespace
}  // namespace qv
