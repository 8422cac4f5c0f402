// What the terminal renderer draws, as lines, from a dialog's model and a
// width: pure, so the drawing is tested without a terminal. The renderer only
// writes these lines in place (and moves the cursor between drawings). Every
// text shown passes through EscapeForDisplay here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "taskdialog/tdlayer.h"

namespace qv {

// The items that Tab and the arrows move between, in drawing order.
struct FrameItem {
  enum Kind { kLink, kInput, kButton } kind;
  int32_t id;
};
std::vector<FrameItem> FocusItems(const LayerDialog& d);
// The input box when there is one, else the default button, else the first.
int InitialFocus(const LayerDialog& d, const std::vector<FrameItem>& items);

struct FrameState {
  int focus = -1;      // index into FocusItems; -1: none
  bool final = false;  // the last drawing of a closing dialog: no focus, no hint
  int columns = 80;    // the terminal's width
};

std::vector<std::string> DialogFrame(const LayerDialog& d, const FrameState& state);

// The Yes/No question: `focus` 0 is "Oui", 1 "Non".
std::vector<std::string> QuestionFrame(const std::string& title, const std::string& text,
                                       int focus, bool answered, int columns);

// The one line a closed dialog leaves: its main instruction and what ended
// it (the button chosen, else its last footer); never what was typed.
std::string ClosedDialogLine(const LayerDialog& d, int32_t pressed);
std::string AnsweredQuestionLine(const std::string& text, bool yes);

// A dialog text as lines: line breaks kept, trailing blank lines dropped.
std::vector<std::string> FrameTextLines(const std::string& text);
// Cuts a line into pieces of at most `width` characters, at blanks when it can.
std::vector<std::string> WrapLine(const std::string& line, int width);

}  // namespace qv
