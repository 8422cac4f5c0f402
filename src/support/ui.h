// The two small platform interactions outside the task dialogs: the Yes/No
// message box and the system beep. The dialog layer of the platform provides
// them (message box and MessageBeep on Windows, the renderer's own question and
// the terminal bell elsewhere); tests install a scripted one.
#pragma once
#include <cstdint>
#include <string>

namespace qv {

// Message box flags and answers, with the platform's values.
constexpr uint32_t MB_YESNO_ = 0x4;
constexpr uint32_t MB_ICONQUESTION_ = 0x20;
constexpr uint32_t MB_ICONHAND_ = 0x10;
constexpr uint32_t MB_DEFBUTTON2_ = 0x100;
constexpr int IDYES_ = 6;
constexpr int IDNO_ = 7;

class UserPrompts {
 public:
  virtual ~UserPrompts() = default;
  // Shows a Yes/No question; returns IDYES_ or IDNO_. `flags` carries the
  // button set, icon and default button as the platform's MB_* bits; a
  // question that cannot be shown, or that nobody answers, answers No.
  virtual int MessageBox(const std::string& text, const std::string& title, uint32_t flags) = 0;
  // Plays the system sound of the given MB_ICON* type.
  virtual void Beep(uint32_t type) = 0;
};

UserPrompts& Prompts();
void SetPrompts(UserPrompts* prompts);

}  // namespace qv
