// The terminal renderer of the dialog layer. On a TTY (stdin and stdout both
// terminals) it draws the dialog in place and redraws it on every change; a
// closed dialog or an answered question shrinks to one line (nothing typed
// stays on screen), and keys typed before a question or a choice appeared are
// thrown away. Otherwise it speaks the line mode that scripts and tests drive:
//   - every dialog prints its texts, each on its own line; a progress dialog
//     prints each footer change, a box waiting for input every footer set
//     (a second refusal is printed again);
//   - a choice reads one line: the number of the command link as shown;
//   - an input box reads one line: the text, then OK; a refusal prints the
//     new footer and reads again; a terminal on stdin does not echo it;
//   - a Yes/No question reads one line: o/oui/y/yes or n/non/no, empty = the
//     default button;
//   - the progress dialog reads nothing; an interrupt (SIGINT) clicks its
//     cancel button, as Escape or the "a" key does on a TTY; once it shows a
//     failure (error footer icon) it reads one line, and that line or end of
//     input clicks its cancel button;
//   - end of input is never destructive: Cancel, or the close id 8 where
//     there is no Cancel (the "Abandonner" of the choices), and "Non" for a
//     question.
// Every text shown passes through EscapeForDisplay: names from an archive
// never reach the terminal as commands.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/terminalkeys.h"
#include "taskdialog/tdlayer.h"

namespace qv {

class TerminalRenderer : public DialogRenderer {
 public:
  // `in` and `out` are file descriptors; `tty` chooses the drawing mode.
  TerminalRenderer(int in, int out, bool tty);
  ~TerminalRenderer() override;

  // Makes SIGINT reach the loop (self-pipe) while a dialog or question is up.
  void CatchInterrupts(bool on) { catchInterrupts_ = on; }

  void Shown(LayerDialog& dialog) override;
  void Changed(LayerDialog& dialog) override;
  void Ticked(LayerDialog& dialog) override;
  void Closed(LayerDialog& dialog) override;
  void Navigated(LayerDialog& dialog) override;
  int Question(const std::string& text, const std::string& title, uint32_t flags) override;
  void Beep(uint32_t type) override;

  // What the dialog asks of the user in line mode.
  enum class Want { Nothing, Choice, Input };
  static Want WantOf(const LayerDialog& d);
  // The button that an interrupt, Escape or "a" clicks: Cancel when the dialog
  // allows it, else the first custom button of a progress dialog; 0 = none.
  static int32_t CancelTarget(const LayerDialog& d);
  // Text as one line: line breaks kept as separate lines, trailing blank
  // lines dropped.
  static std::vector<std::string> TextLines(const std::string& text);
  static const char* IconGlyph(intptr_t icon);

 private:
  void Write(const std::string& s);
  void WriteErr(const std::string& s);
  // Input plumbing.
  void StartReading();
  void StopReading();
  void OnReadable();
  void OnInterruptPipe();
  void Interrupt();
  void Post(std::function<void()> fn);
  void Pump();  // hands buffered input to whoever waits for it
  bool TakeLine(std::string& line);
  void InstallSignal();
  void RemoveSignal();
  // Line mode.
  void LinePrintDialog(LayerDialog& d);
  void Remember(const LayerDialog& d);
  void Listen(LayerDialog& d);
  void UpdateQuiet();
  void ForgetTypedAhead();
  // A click by the user, remembered for the line a closed dialog leaves.
  bool Press(LayerDialog& d, int32_t id);
  std::map<const LayerDialog*, int32_t> pressed_;
  bool LineFailureWaits(const LayerDialog& d) const;
  // The failed progress dialog whose cancel button line mode already pressed.
  const LayerDialog* failureAnswered_ = nullptr;
  // TTY mode.
  void EnterRaw();
  void LeaveRaw();
  void Draw(LayerDialog& d, bool final);
  void Redraw(const std::vector<std::string>& lines);
  void ScheduleDraw(LayerDialog& d);
  void Erase();
  void OnKeys();
  void KeysForDialog(LayerDialog& d);
  void KeysForQuestion();
  // The next whole key of the buffered input (support/terminalkeys.h).
  bool NextKey(Key& key);
  static constexpr int64_t kEscapeWaitMs = 50;
  int escapeTimer_ = 0;
  bool escapeWaitOver_ = false;
  int Columns() const;
  bool Acting(LayerDialog* d) const;
  struct ActingOn {
    ActingOn(TerminalRenderer* r, LayerDialog* d);
    ~ActingOn();
    TerminalRenderer* r_;
    LayerDialog* d_;
  };
  std::vector<LayerDialog*> acting_;

  int in_, out_;
  bool tty_;
  bool catchInterrupts_ = true;
  // Buffered input; the lines that a dialog does not consume stay for the next.
  std::string buffer_;
  bool eof_ = false;
  bool reading_ = false;
  int interruptPipe_[2] = {-1, -1};
  bool signalInstalled_ = false;
  // Dialog state per open dialog.
  std::vector<LayerDialog*> dialogs_;
  std::string lastFooter_;
  int64_t lastFooterSets_ = 0;
  bool quiet_ = false;  // line mode: the terminal's echo is off
  // TTY state.
  bool raw_ = false;
  int lineCleanup_ = 0;
  int drawnLines_ = 0;
  int drawTimer_ = 0;
  int64_t lastDrawMs_ = 0;
  int focus_ = 0;  // index into the focusable items of the current dialog
  bool question_ = false;
  bool questionAnswered_ = false;
  int questionAnswer_ = 0;
  int questionFocus_ = 0;
  std::string questionText_, questionTitle_;
  uint32_t questionFlags_ = 0;
};

// The default platform off Windows: the dialog layer with this renderer on
// the standard streams.
DialogLayer& TerminalDialogLayer();

}  // namespace qv
