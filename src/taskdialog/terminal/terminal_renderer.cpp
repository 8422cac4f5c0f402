#include "taskdialog/terminal/terminal_renderer.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "support/eventloop.h"
#include "support/frontend.h"
#include "support/process.h"
#include "support/rawterminal.h"
#include "support/terminalkeys.h"
#include "support/text.h"
#include "support/ui.h"
#include "support/gtk/gtk_frontend.h"
#include "taskdialog/gtk/gtk_renderer.h"
#include "taskdialog/install.h"
#include "taskdialog/terminal/terminal_frame.h"

namespace qv {

namespace {

int g_interruptWrite = -1;

void OnSigint(int) {
  if (g_interruptWrite >= 0) {
    char c = 'i';
    ssize_t n = ::write(g_interruptWrite, &c, 1);
    (void)n;
  }
}

struct sigaction g_oldSigint;


bool Blank(const std::string& s) {
  return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// Everything shown may come from outside (an entry name in a footer, a path
// in a content): no control character reaches the terminal raw.
std::string Safe(const std::string& text) { return EscapeForDisplay(text, true); }

}  // namespace

// ---------------------------------------------------------------------------

TerminalRenderer::TerminalRenderer(int in, int out, bool tty) : in_(in), out_(out), tty_(tty) {}

TerminalRenderer::~TerminalRenderer() {
  // At the end of the process the loop may be gone already: only the
  // terminal and the signal are put back.
  if (signalInstalled_) sigaction(SIGINT, &g_oldSigint, nullptr);
  g_interruptWrite = -1;
  LeaveRaw();
  if (interruptPipe_[0] >= 0) {
    ::close(interruptPipe_[0]);
    ::close(interruptPipe_[1]);
  }
}

void TerminalRenderer::Write(const std::string& s) {
  // What the program printed through stdio comes first.
  std::fflush(stdout);
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(out_, s.data() + done, s.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(n);
  }
}

void TerminalRenderer::WriteErr(const std::string& s) {
  std::fflush(stderr);
  ssize_t n = ::write(STDERR_FILENO, s.data(), s.size());
  (void)n;
}

TerminalRenderer::Want TerminalRenderer::WantOf(const LayerDialog& d) {
  if (d.InputBox().present) return Want::Input;
  if (d.ProgressBar().shown) return Want::Nothing;
  if (d.Buttons().empty()) return Want::Nothing;
  return Want::Choice;
}

int32_t TerminalRenderer::CancelTarget(const LayerDialog& d) {
  if (d.AllowsCancel()) return IDCANCEL_;
  if (d.ProgressBar().shown) {
    for (const auto& b : d.Buttons())
      if (!b.common) return b.id;
  }
  return 0;
}

std::vector<std::string> TerminalRenderer::TextLines(const std::string& text) {
  return FrameTextLines(text);
}

const char* TerminalRenderer::IconGlyph(intptr_t icon) {
  switch (icon & 0xFFFF) {
    case 0xFFFF: return "⚠";
    case 0xFFFE: return "✖";
    case 0xFFFD: return "ℹ";
    case 0xFFFC: return "⛨";
    case 0: return "";
    default: return "•";
  }
}

// The buttons a choice offers, as numbered: the command links when there
// are any, else every button.
static std::vector<const LayerDialog::Button*> Choices(const LayerDialog& d) {
  std::vector<const LayerDialog::Button*> links, all;
  for (const auto& b : d.Buttons()) {
    all.push_back(&b);
    if (b.commandLink) links.push_back(&b);
  }
  return links.empty() ? all : links;
}

// ---------------------------------------------------------------------------
// Input plumbing

// An action on a dialog (a click whose handler pumps events) may bring the
// loop back here with more input; the dialog being acted on takes it only
// when the action is over, while a dialog or question opened meanwhile is
// served at once.
bool TerminalRenderer::Acting(LayerDialog* d) const {
  return std::find(acting_.begin(), acting_.end(), d) != acting_.end();
}

TerminalRenderer::ActingOn::ActingOn(TerminalRenderer* r, LayerDialog* d) : r_(r), d_(d) {
  r_->acting_.push_back(d_);
}

TerminalRenderer::ActingOn::~ActingOn() {
  auto it = std::find(r_->acting_.begin(), r_->acting_.end(), d_);
  if (it != r_->acting_.end()) r_->acting_.erase(it);
}

void TerminalRenderer::StartReading() {
  if (reading_ || eof_) return;
  reading_ = true;
  Loop().WatchFd(in_, [this] { OnReadable(); });
}

void TerminalRenderer::StopReading() {
  if (!reading_) return;
  reading_ = false;
  Loop().UnwatchFd(in_);
}

void TerminalRenderer::OnReadable() {
  if (tty_) {
    char buf[4096];
    ssize_t n = ::read(in_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      eof_ = true;
      StopReading();
    } else {
      buffer_.append(buf, static_cast<size_t>(n));
    }
    OnKeys();
    return;
  }
  // Line mode takes one line at most, byte by byte: what follows belongs to
  // whoever reads next (a later dialog, or the chooser's path prompt, which
  // reads the same descriptor).
  for (;;) {
    char c;
    ssize_t n = ::read(in_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      eof_ = true;
      StopReading();
      break;
    }
    buffer_ += c;
    if (c == '\n') break;
    pollfd p{in_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) break;
  }
  Pump();
}

void TerminalRenderer::Post(std::function<void()> fn) {
  auto id = std::make_shared<int>(0);
  *id = Loop().AddTimer(0, [id, fn] {
    Loop().RemoveTimer(*id);
    fn();
  });
}

void TerminalRenderer::InstallSignal() {
  if (!catchInterrupts_ || signalInstalled_) return;
  if (interruptPipe_[0] < 0) {
    if (::pipe(interruptPipe_) != 0) return;
    for (int fd : interruptPipe_) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  g_interruptWrite = interruptPipe_[1];
  struct sigaction sa {};
  sa.sa_handler = OnSigint;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &g_oldSigint);
  Loop().WatchFd(interruptPipe_[0], [this] { OnInterruptPipe(); });
  signalInstalled_ = true;
}

void TerminalRenderer::RemoveSignal() {
  if (!signalInstalled_) return;
  sigaction(SIGINT, &g_oldSigint, nullptr);
  Loop().UnwatchFd(interruptPipe_[0]);
  g_interruptWrite = -1;
  signalInstalled_ = false;
}

void TerminalRenderer::OnInterruptPipe() {
  char buf[64];
  int count = 0;
  ssize_t n;
  while ((n = ::read(interruptPipe_[0], buf, sizeof buf)) > 0) count += static_cast<int>(n);
  if (count > 0) Interrupt();
}

void TerminalRenderer::Interrupt() {
  if (question_) return;  // a question has no way out but its two answers
  LayerDialog* d = dialogs_.empty() ? nullptr : dialogs_.back();
  int32_t target = d ? CancelTarget(*d) : 0;
  if (d && target) {
    if (target == IDCANCEL_)
      d->Cancel();
    else
      Press(*d, target);
    return;
  }
  // Nothing to cancel in place: the run is given up as a whole.
  if (tty_ && drawnLines_ > 0) {
    Write("\r\n");
    drawnLines_ = 0;
  }
  LeaveRaw();
  EndProcess(kExitCancelled);
}

bool TerminalRenderer::TakeLine(std::string& line) {
  size_t nl = buffer_.find('\n');
  if (nl == std::string::npos) {
    if (!eof_ || buffer_.empty()) return false;
    line = buffer_;  // the last line, without its line feed
    buffer_.clear();
    return true;
  }
  line = buffer_.substr(0, nl);
  buffer_.erase(0, nl + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void TerminalRenderer::Pump() {
  for (;;) {
    if (question_) {
      if (questionAnswered_) return;
      std::string line;
      if (TakeLine(line)) {
        std::string a = AsciiLower(Trim(line));
        if (a.empty()) {
          questionAnswer_ = (questionFlags_ & MB_DEFBUTTON2_) ? IDNO_ : IDYES_;
        } else if (a == "o" || a == "oui" || a == "y" || a == "yes") {
          questionAnswer_ = IDYES_;
        } else if (a == "n" || a == "non" || a == "no") {
          questionAnswer_ = IDNO_;
        } else {
          WriteErr("Répondez o (oui) ou n (non).\n");
          continue;
        }
        questionAnswered_ = true;
        return;
      }
      if (eof_) {
        // Nobody is there to answer: never the destructive Yes.
        questionAnswer_ = IDNO_;
        questionAnswered_ = true;
      }
      return;
    }
    if (dialogs_.empty()) return;
    LayerDialog* d = dialogs_.back();
    if (!d->Open() || Acting(d)) return;
    ActingOn acting(this, d);
    if (LineFailureWaits(*d)) {
      std::string line;
      if (!TakeLine(line) && !eof_) return;
      failureAnswered_ = d;
      Press(*d, CancelTarget(*d));
      return;
    }
    Want want = WantOf(*d);
    if (want == Want::Nothing) return;
    std::string line;
    if (!TakeLine(line)) {
      if (eof_) d->Dismiss();
      return;
    }
    if (want == Want::Choice) {
      auto choices = Choices(*d);
      std::string t = Trim(line);
      int n = 0;
      bool number = !t.empty() && t.size() < 6 &&
                    std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (number) n = std::atoi(t.c_str());
      if (n < 1 || n > static_cast<int>(choices.size()) || !choices[n - 1]->enabled) {
        WriteErr("Choix invalide : entrez un nombre de 1 à " + std::to_string(choices.size()) +
                 ".\n");
        continue;
      }
      Press(*d, choices[n - 1]->id);
    } else {
      d->SetInput(line);
      if (d->Open()) Press(*d, d->DefaultButtonId());
    }
  }
}

void TerminalRenderer::LinePrintDialog(LayerDialog& d) {
  std::string out;
  auto add = [&](const std::string& text) {
    for (const auto& l : TextLines(Safe(text))) out += l + "\n";
  };
  if (!Blank(d.Title())) out += Safe(d.Title()) + "\n";
  add(d.MainInstruction());
  add(d.Content());
  if (WantOf(d) == Want::Choice) {
    auto choices = Choices(d);
    for (size_t i = 0; i < choices.size(); ++i) {
      out += "  " + std::to_string(i + 1) + ". " + Safe(choices[i]->text) + "\n";
      for (const auto& l : TextLines(Safe(choices[i]->note))) out += "     " + l + "\n";
    }
  }
  if (!Blank(d.Footer())) out += Safe(d.Footer()) + "\n";
  Write(out);
}

// ---------------------------------------------------------------------------
// Renderer events

bool TerminalRenderer::Press(LayerDialog& d, int32_t id) {
  pressed_[&d] = id;
  return d.Click(id);
}

void TerminalRenderer::Remember(const LayerDialog& d) {
  lastFooter_ = d.Footer();
  lastFooterSets_ = d.FooterSets();
}

void TerminalRenderer::Listen(LayerDialog& d) {
  UpdateQuiet();
  if (WantOf(d) != Want::Nothing) {
    StartReading();
    Post([this] { Pump(); });
  } else {
    StopReading();
  }
}

void TerminalRenderer::UpdateQuiet() {
  // In line mode the terminal's own echo would show a password in clear on
  // the screen for good (and nothing can take it back): it is off for as
  // long as an input box waits for its line.
  bool want = !tty_ && !question_ && !dialogs_.empty() && dialogs_.back()->Open() &&
              WantOf(*dialogs_.back()) == Want::Input && ::isatty(in_);
  if (want && !quiet_) {
    quiet_ = EnterQuietTerminal(in_);
  } else if (!want && quiet_) {
    LeaveRawTerminal();
    quiet_ = false;
  }
}

void TerminalRenderer::ForgetTypedAhead() {
  // Keys typed before the question was on screen (a doubled Enter) are not
  // an answer to it.
  DiscardTypedAhead(in_);
  if (!eof_) buffer_.clear();
}

void TerminalRenderer::Shown(LayerDialog& d) {
  if (tty_ && drawnLines_ > 0) Erase();  // the outer dialog comes back when this one is gone
  dialogs_.push_back(&d);
  Remember(d);
  InstallSignal();
  if (tty_) {
    EnterRaw();
    if (WantOf(d) == Want::Choice) ForgetTypedAhead();
    focus_ = -1;
    StartReading();
    Draw(d, false);
    return;
  }
  LinePrintDialog(d);
  Listen(d);
}

void TerminalRenderer::Navigated(LayerDialog& d) {
  if (tty_) {
    if (WantOf(d) == Want::Choice) ForgetTypedAhead();
    focus_ = -1;
    Draw(d, false);
    return;
  }
  Remember(d);
  LinePrintDialog(d);
  Listen(d);
}

void TerminalRenderer::Changed(LayerDialog& d) {
  if (dialogs_.empty() || dialogs_.back() != &d) return;
  if (tty_) {
    if (!question_) ScheduleDraw(d);
    return;
  }
  // While a box waits for an answer, each footer the program sets is its
  // reply to that answer and is printed, even when it repeats the last one;
  // a progress dialog's stream of footers is printed when it changes.
  const Want want = WantOf(d);
  const bool set = d.FooterSets() != lastFooterSets_;
  const bool news = want == Want::Nothing ? d.Footer() != lastFooter_ : set;
  if (news && !Blank(d.Footer())) Write(Safe(d.Footer()) + "\n");
  Remember(d);
  if (want != Want::Nothing && !reading_) Listen(d);
  if (LineFailureWaits(d)) {
    StartReading();
    Post([this] { Pump(); });
  }
}

// A progress dialog that shows a failure (the error footer icon) stays until
// its "Annuler" is pressed. In line mode it therefore reads one line, and any
// line or end of input presses it, so a script never waits on a dialog that
// nobody is there to close. Once pressed it reads nothing more.
bool TerminalRenderer::LineFailureWaits(const LayerDialog& d) const {
  return !tty_ && &d != failureAnswered_ && d.Open() && d.ProgressBar().shown &&
         (d.IconFooter() & 0xFFFF) == 0xFFFE && CancelTarget(d) != 0;
}

void TerminalRenderer::Ticked(LayerDialog& d) {
  if (tty_ && d.ProgressBar().marquee && !dialogs_.empty() && dialogs_.back() == &d && !question_)
    ScheduleDraw(d);
}

void TerminalRenderer::Closed(LayerDialog& d) {
  if (failureAnswered_ == &d) failureAnswered_ = nullptr;
  bool top = !dialogs_.empty() && dialogs_.back() == &d;
  struct Forget {
    TerminalRenderer* r;
    LayerDialog* d;
    ~Forget() { r->pressed_.erase(d); }
  } forget{this, &d};
  dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), &d), dialogs_.end());
  if (tty_) {
    if (drawTimer_) {
      Loop().RemoveTimer(drawTimer_);
      drawTimer_ = 0;
    }
    if (top && drawnLines_ > 0) {
      // The closed dialog shrinks to one line: nothing typed into it stays
      // on the screen.
      auto pressed = pressed_.find(&d);
      Redraw({ClosedDialogLine(d, pressed == pressed_.end() ? 0 : pressed->second)});
      Write("\r\n");
      drawnLines_ = 0;
    }
    if (dialogs_.empty()) {
      StopReading();
      LeaveRaw();
    } else {
      focus_ = -1;
      Draw(*dialogs_.back(), false);
    }
  } else if (!dialogs_.empty()) {
    LayerDialog* outer = dialogs_.back();
    Remember(*outer);
    if (WantOf(*outer) == Want::Nothing) StopReading();
    UpdateQuiet();
  } else {
    StopReading();
    UpdateQuiet();
  }
  if (dialogs_.empty() && !question_) RemoveSignal();
}

int TerminalRenderer::Question(const std::string& text, const std::string& title,
                               uint32_t flags) {
  const int def = (flags & MB_DEFBUTTON2_) ? IDNO_ : IDYES_;
  question_ = true;
  questionAnswered_ = false;
  questionAnswer_ = def;
  questionText_ = text;
  questionTitle_ = title;
  questionFlags_ = flags;
  questionFocus_ = def == IDYES_ ? 0 : 1;
  InstallSignal();
  UpdateQuiet();
  if (tty_) {
    EnterRaw();
    if (drawnLines_ > 0) Erase();
    ForgetTypedAhead();
    KeysForQuestion();  // draws
  } else {
    std::string out;
    if (!Blank(title)) out += Safe(title) + "\n";
    for (const auto& l : TextLines(Safe(text))) out += l + "\n";
    Write(out);
  }
  StartReading();
  Post([this] { tty_ ? KeysForQuestion() : Pump(); });
  struct Done {
    TerminalRenderer* r;
    ~Done() { r->question_ = false; }
  } done{this};
  while (!questionAnswered_) {
    if (eof_ && buffer_.empty()) {
      questionAnswer_ = IDNO_;  // nobody answered: nothing destructive
      break;
    }
    Loop().ProcessEvents(EventLoop::kWaitForever);
  }
  int answer = questionAnswer_;
  question_ = false;
  if (tty_) {
    // The question shrinks to one line with its answer, then the dialog
    // comes back.
    Redraw({AnsweredQuestionLine(text, answer == IDYES_)});
    Write("\r\n");
    drawnLines_ = 0;
    if (!dialogs_.empty()) {
      focus_ = -1;
      Draw(*dialogs_.back(), false);
    } else {
      StopReading();
      LeaveRaw();
    }
  } else if (dialogs_.empty() || WantOf(*dialogs_.back()) == Want::Nothing) {
    StopReading();
  }
  UpdateQuiet();
  if (dialogs_.empty()) RemoveSignal();
  return answer;
}

void TerminalRenderer::Beep(uint32_t) {
  if (tty_)
    Write("\a");
  else
    WriteErr("\a");
}

// ---------------------------------------------------------------------------
// TTY mode

int TerminalRenderer::Columns() const {
  winsize ws{};
  if (::ioctl(out_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

void TerminalRenderer::EnterRaw() {
  if (raw_ || !tty_) return;
  if (!EnterRawTerminal(in_)) return;
  raw_ = true;
  Write("\x1b[?25l");
  // Registered after the terminal's own restore, so it runs first: a run
  // ended while a dialog is drawn leaves the shell's prompt on a line of its
  // own, below the dialog.
  lineCleanup_ = AddCleanup([this] {
    if (drawnLines_ > 0) Write("\r\n");
    drawnLines_ = 0;
  });
}

void TerminalRenderer::LeaveRaw() {
  if (!raw_) return;
  if (lineCleanup_) RemoveCleanup(lineCleanup_);
  lineCleanup_ = 0;
  if (drawnLines_ > 0) {
    Write("\r\n");
    drawnLines_ = 0;
  }
  LeaveRawTerminal();
  raw_ = false;
}

void TerminalRenderer::ScheduleDraw(LayerDialog& d) {
  // Bursts of changes (a footer per file, a percentage per chunk) draw once
  // every 40 ms at most.
  if (drawTimer_) return;
  int64_t now = Loop().NowMs();
  int64_t wait = 40 - (now - lastDrawMs_);
  if (wait <= 0) {
    Draw(d, false);
    return;
  }
  LayerDialog* dp = &d;
  drawTimer_ = Loop().AddTimer(wait, [this, dp] {
    Loop().RemoveTimer(drawTimer_);
    drawTimer_ = 0;
    if (!dialogs_.empty() && dialogs_.back() == dp && !question_) Draw(*dp, false);
  });
}


void TerminalRenderer::Draw(LayerDialog& d, bool final) {
  lastDrawMs_ = Loop().NowMs();
  auto items = FocusItems(d);
  if (focus_ < 0 || focus_ >= static_cast<int>(items.size())) focus_ = InitialFocus(d, items);
  Redraw(DialogFrame(d, FrameState{focus_, final, Columns()}));
}

// Rewrite in place: back to the first line drawn, each line cleared and written
// again, anything left from a longer drawing erased, so an update never flickers.
void TerminalRenderer::Redraw(const std::vector<std::string>& lines) {
  std::string out;
  if (drawnLines_ > 1) out += "\r\x1b[" + std::to_string(drawnLines_ - 1) + "A";
  else if (drawnLines_ == 1) out += "\r";
  for (size_t i = 0; i < lines.size(); ++i) {
    out += "\x1b[2K" + lines[i];
    if (i + 1 < lines.size()) out += "\r\n";
  }
  out += "\x1b[J";
  Write(out);
  drawnLines_ = static_cast<int>(lines.size());
}

void TerminalRenderer::Erase() {
  if (drawnLines_ <= 0) return;
  std::string out = "\r";
  if (drawnLines_ > 1) out += "\x1b[" + std::to_string(drawnLines_ - 1) + "A";
  Write(out + "\x1b[J");
  drawnLines_ = 0;
}

void TerminalRenderer::OnKeys() {
  if (question_) {
    KeysForQuestion();
    return;
  }
  if (dialogs_.empty()) {
    buffer_.clear();
    return;
  }
  KeysForDialog(*dialogs_.back());
}

bool TerminalRenderer::NextKey(Key& key) {
  std::vector<Key> keys;
  const size_t used = DecodeKeys(buffer_, escapeWaitOver_ || eof_, keys, 1);
  buffer_.erase(0, used);
  if (!keys.empty()) {
    key = keys.front();
    return true;
  }
  if (!buffer_.empty() && !escapeTimer_) {
    // An Escape, or the start of a sequence: Escape alone only when nothing
    // follows within a moment.
    escapeTimer_ = Loop().AddTimer(kEscapeWaitMs, [this] {
      Loop().RemoveTimer(escapeTimer_);
      escapeTimer_ = 0;
      escapeWaitOver_ = true;
      OnKeys();
      escapeWaitOver_ = false;
    });
  }
  return false;
}

void TerminalRenderer::KeysForDialog(LayerDialog& d) {
  if (Acting(&d)) return;
  ActingOn acting(this, &d);
  Key key;
  while (d.Open() && !dialogs_.empty() && dialogs_.back() == &d && !question_ && NextKey(key)) {
    auto items = FocusItems(d);
    if (focus_ < 0 || focus_ >= static_cast<int>(items.size())) focus_ = InitialFocus(d, items);
    const bool inBox = focus_ >= 0 && items[static_cast<size_t>(focus_)].kind == FrameItem::kInput;
    auto move = [&](int delta) {
      if (items.empty()) return;
      int size = static_cast<int>(items.size());
      focus_ = ((focus_ < 0 ? 0 : focus_) + delta + size) % size;
    };
    auto cancel = [&] {
      if (int32_t t = CancelTarget(d)) t == IDCANCEL_ ? (void)d.Cancel() : (void)Press(d, t);
    };
    switch (key.kind) {
      case Key::Up:
      case Key::Left:
      case Key::BackTab:
        move(-1);
        break;
      case Key::Down:
      case Key::Right:
      case Key::Tab:
        move(1);
        break;
      case Key::Escape:
        cancel();
        break;
      case Key::Interrupt:
        Interrupt();
        break;
      case Key::Enter:
        if (focus_ >= 0) {
          const FrameItem& it = items[static_cast<size_t>(focus_)];
          int32_t id = it.kind == FrameItem::kInput ? d.DefaultButtonId() : it.id;
          if (id) Press(d, id);
        }
        break;
      case Key::Backspace:
        if (inBox) d.Backspace(1);
        break;
      case Key::KillLine:
        if (inBox) d.SetInput("");
        break;
      case Key::Char:
        if (inBox) {
          d.Type(key.text);  // one change per character
        } else if (key.text.size() == 1 && key.text[0] >= '1' && key.text[0] <= '9') {
          int k = key.text[0] - '0', seen = 0;
          for (const auto& b : d.Buttons())
            if (b.commandLink && ++seen == k) {
              Press(d, b.id);
              break;
            }
        } else if (key.text == "a" || key.text == "A") {
          cancel();
        }
        break;
      default:
        break;
    }
    if (d.Open() && !dialogs_.empty() && dialogs_.back() == &d && !question_) ScheduleDraw(d);
  }
  if (eof_ && d.Open()) d.Dismiss();
}

void TerminalRenderer::KeysForQuestion() {
  Key key;
  while (!questionAnswered_ && NextKey(key)) {
    if (key.kind == Key::Tab || key.kind == Key::BackTab || key.kind == Key::Left ||
        key.kind == Key::Right || key.kind == Key::Up || key.kind == Key::Down) {
      questionFocus_ ^= 1;
    } else if (key.kind == Key::Enter) {
      questionAnswer_ = questionFocus_ == 0 ? IDYES_ : IDNO_;
      questionAnswered_ = true;
    } else if (key.kind == Key::Char) {
      const std::string a = AsciiLower(key.text);
      if (a == "o" || a == "y") {
        questionAnswer_ = IDYES_;
        questionAnswered_ = true;
      } else if (a == "n") {
        questionAnswer_ = IDNO_;
        questionAnswered_ = true;
      }
    }
  }
  if (eof_ && !questionAnswered_) {
    questionAnswer_ = IDNO_;  // the terminal is gone: nobody said yes
    questionAnswered_ = true;
  }
  if (questionAnswered_) questionFocus_ = questionAnswer_ == IDYES_ ? 0 : 1;
  Redraw(QuestionFrame(questionTitle_, questionText_, questionFocus_, questionAnswered_, Columns()));
}

// ---------------------------------------------------------------------------
// The platform of this process

DialogLayer& TerminalDialogLayer() {
  static TerminalRenderer renderer(STDIN_FILENO, STDOUT_FILENO,
                                   RunFrontEnd() == FrontEnd::Terminal);
  static DialogLayer layer(renderer);
  return layer;
}

TaskDialogPlatform& DefaultTdPlatform() { return TerminalDialogLayer(); }

void InstallDialogLayer() {
  const char* name = program_invocation_short_name;
  const std::string title = name ? name : "";
  // The desktop front end is GTK: asked whether it starts only when the run
  // has no terminal and no script behind it, or when QV_UI asks for it.
  if (!RegisteredDesktopFrontEnd())
    RegisterDesktopFrontEnd({[title] { return StartGtkFrontEnd(title); },
                             [title] { InstallGtkDialogLayer(title); }});
  if (RunFrontEnd() == FrontEnd::Desktop) {
    RegisteredDesktopFrontEnd()->install();
    return;
  }
  DialogLayer& layer = TerminalDialogLayer();
  layer.SetProgramTitle(title);
  SetTdPlatform(&layer);
  SetPrompts(&layer);
}

}  // namespace qv
