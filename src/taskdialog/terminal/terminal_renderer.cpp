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
#include "support/process.h"
#include "support/rawterminal.h"
#include "support/text.h"
#include "support/ui.h"
#include "taskdialog/gtk/gtk_renderer.h"
#include "taskdialog/install.h"

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

// Cuts a line into pieces of at most `width` characters, at blanks when it can.
std::vector<std::string> Wrap(const std::string& line, int width) {
  std::vector<std::string> out;
  std::u32string rest = Utf8ToUtf32(line);
  if (width < 10) width = 10;
  while (static_cast<int>(rest.size()) > width) {
    size_t cut = rest.rfind(U' ', static_cast<size_t>(width));
    if (cut == std::u32string::npos || cut == 0) cut = static_cast<size_t>(width);
    out.push_back(Utf32ToUtf8(rest.substr(0, cut)));
    rest = rest.substr(cut);
    if (!rest.empty() && rest[0] == U' ') rest.erase(0, 1);
  }
  out.push_back(Utf32ToUtf8(rest));
  return out;
}

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

const char* const kBold = "\x1b[1m";
const char* const kDim = "\x1b[2m";
const char* const kReverse = "\x1b[7m";
const char* const kReset = "\x1b[0m";

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
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  lines.push_back(cur);
  while (!lines.empty() && Blank(lines.back())) lines.pop_back();
  return lines;
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
      d->Click(target);
    return;
  }
  // Nothing to cancel in place: the run is given up as a whole.
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
        questionAnswer_ = (questionFlags_ & MB_DEFBUTTON2_) ? IDNO_ : IDYES_;
        questionAnswered_ = true;
      }
      return;
    }
    if (dialogs_.empty()) return;
    LayerDialog* d = dialogs_.back();
    if (!d->Open() || Acting(d)) return;
    ActingOn acting(this, d);
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
      d->Click(choices[n - 1]->id);
    } else {
      d->SetInput(line);
      if (d->Open()) d->Click(d->DefaultButtonId());
    }
  }
}

void TerminalRenderer::LinePrintDialog(LayerDialog& d) {
  std::string out;
  auto add = [&](const std::string& text) {
    for (const auto& l : TextLines(text)) out += l + "\n";
  };
  if (!Blank(d.Title())) out += d.Title() + "\n";
  add(d.MainInstruction());
  add(d.Content());
  if (WantOf(d) == Want::Choice) {
    auto choices = Choices(d);
    for (size_t i = 0; i < choices.size(); ++i) {
      out += "  " + std::to_string(i + 1) + ". " + choices[i]->text + "\n";
      for (const auto& l : TextLines(choices[i]->note)) out += "     " + l + "\n";
    }
  }
  if (!Blank(d.Footer())) out += d.Footer() + "\n";
  Write(out);
}

// ---------------------------------------------------------------------------
// Renderer events

void TerminalRenderer::Shown(LayerDialog& d) {
  dialogs_.push_back(&d);
  lastFooter_ = d.Footer();
  InstallSignal();
  if (tty_) {
    EnterRaw();
    if (drawnLines_ > 0 && dialogs_.size() > 1) {
      // The outer dialog stays on screen as it was; the new one goes below.
      Write("\r\n");
      drawnLines_ = 0;
    }
    focus_ = -1;
    StartReading();
    Draw(d, false);
    return;
  }
  LinePrintDialog(d);
  if (WantOf(d) != Want::Nothing) {
    StartReading();
    Post([this] { Pump(); });
  } else {
    StopReading();
  }
}

void TerminalRenderer::Navigated(LayerDialog& d) {
  if (tty_) {
    focus_ = -1;
    Draw(d, false);
    return;
  }
  lastFooter_ = d.Footer();
  LinePrintDialog(d);
  if (WantOf(d) != Want::Nothing) {
    StartReading();
    Post([this] { Pump(); });
  }
}

void TerminalRenderer::Changed(LayerDialog& d) {
  if (dialogs_.empty() || dialogs_.back() != &d) return;
  if (tty_) {
    if (!question_) ScheduleDraw(d);
    return;
  }
  if (d.Footer() != lastFooter_) {
    lastFooter_ = d.Footer();
    if (!Blank(lastFooter_)) Write(lastFooter_ + "\n");
  }
}

void TerminalRenderer::Ticked(LayerDialog& d) {
  if (tty_ && d.ProgressBar().marquee && !dialogs_.empty() && dialogs_.back() == &d && !question_)
    ScheduleDraw(d);
}

void TerminalRenderer::Closed(LayerDialog& d) {
  bool top = !dialogs_.empty() && dialogs_.back() == &d;
  dialogs_.erase(std::remove(dialogs_.begin(), dialogs_.end(), &d), dialogs_.end());
  if (tty_) {
    if (drawTimer_) {
      Loop().RemoveTimer(drawTimer_);
      drawTimer_ = 0;
    }
    if (top && drawnLines_ > 0) {
      Draw(d, true);
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
    lastFooter_ = outer->Footer();
    if (WantOf(*outer) == Want::Nothing) StopReading();
  } else {
    StopReading();
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
  if (tty_) {
    EnterRaw();
    if (drawnLines_ > 0) {
      Write("\r\n");
      drawnLines_ = 0;
    }
    KeysForQuestion();  // draws
  } else {
    std::string out;
    if (!Blank(title)) out += title + "\n";
    for (const auto& l : TextLines(text)) out += l + "\n";
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
      questionAnswer_ = def;
      break;
    }
    Loop().ProcessEvents(EventLoop::kWaitForever);
  }
  int answer = questionAnswer_;
  question_ = false;
  if (tty_) {
    // Leaves the question as answered on screen, then brings the dialog back.
    KeysForQuestion();
    Write("\r\n");
    drawnLines_ = 0;
    if (!dialogs_.empty()) {
      Draw(*dialogs_.back(), false);
    } else {
      StopReading();
      LeaveRaw();
    }
  } else if (dialogs_.empty() || WantOf(*dialogs_.back()) == Want::Nothing) {
    StopReading();
  }
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
}

void TerminalRenderer::LeaveRaw() {
  if (!raw_) return;
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

namespace {

// The items that Tab and the arrows move between.
struct Item {
  enum Kind { kLink, kInput, kButton } kind;
  int32_t id;
};

std::vector<Item> Items(const LayerDialog& d) {
  std::vector<Item> items;
  for (const auto& b : d.Buttons())
    if (b.commandLink && b.enabled) items.push_back(Item{Item::kLink, b.id});
  if (d.InputBox().present) items.push_back(Item{Item::kInput, 0});
  for (const auto& b : d.Buttons())
    if (!b.commandLink && b.enabled) items.push_back(Item{Item::kButton, b.id});
  return items;
}

int InitialFocus(const LayerDialog& d, const std::vector<Item>& items) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].kind == Item::kInput) return static_cast<int>(i);
  int32_t def = d.Record().nDefaultButton;
  for (size_t i = 0; i < items.size(); ++i)
    if (def != 0 && items[i].id == def && items[i].kind != Item::kInput) return static_cast<int>(i);
  return items.empty() ? -1 : 0;
}

}  // namespace

void TerminalRenderer::Draw(LayerDialog& d, bool final) {
  lastDrawMs_ = Loop().NowMs();
  const int cols = std::max(20, std::min(Columns(), 100));
  const int width = cols - 4;
  auto items = Items(d);
  if (focus_ < 0 || focus_ >= static_cast<int>(items.size())) focus_ = InitialFocus(d, items);
  auto focused = [&](Item::Kind k, int32_t id) {
    if (final || focus_ < 0) return false;
    const Item& it = items[static_cast<size_t>(focus_)];
    return it.kind == k && (k == Item::kInput || it.id == id);
  };

  std::vector<std::string> lines;
  auto addWrapped = [&](const std::string& text, const std::string& indent, const char* style) {
    for (const auto& l : TextLines(text))
      for (const auto& w : Wrap(l, width - static_cast<int>(Utf8Length(indent))))
        lines.push_back(indent + (style ? style : "") + w + (style ? kReset : ""));
  };
  std::string title = " " + d.Title() + " ";
  int rule = std::max(0, width - static_cast<int>(Utf8Length(title)) - 2);
  lines.push_back(std::string(kDim) + "──" + kReset + kBold + title + kReset + kDim +
                  Repeat("─", rule) + kReset);
  addWrapped(d.MainInstruction(), " ", kBold);
  addWrapped(d.Content(), " ", nullptr);

  int n = 0;
  for (const auto& b : d.Buttons()) {
    if (!b.commandLink) continue;
    ++n;
    bool f = focused(Item::kLink, b.id);
    std::string label = std::to_string(n) + ". " + b.text;
    std::string line = "  ";
    line += f ? std::string(kReverse) + "› " + label + " " + kReset
              : std::string(b.enabled ? "" : kDim) + "  " + label + kReset;
    lines.push_back(line);
    for (const auto& l : TextLines(b.note))
      for (const auto& w : Wrap(l, width - 7)) lines.push_back(std::string("       ") + kDim + w + kReset);
  }
  for (const auto& r : d.Radios())
    lines.push_back(std::string("  ") + (r.checked ? "(•) " : "( ) ") + r.text);

  const auto& p = d.ProgressBar();
  if (p.shown) {
    int barW = std::max(10, std::min(width - 12, 50));
    std::string bar;
    if (p.marquee) {
      int pos = static_cast<int>(d.Ticks() % barW);
      for (int i = 0; i < barW; ++i) bar += (i >= pos && i < pos + 5) ? "█" : "░";
      lines.push_back("  " + bar);
    } else {
      int range = std::max(1, p.maximum - p.minimum);
      int pct = static_cast<int>((static_cast<int64_t>(p.position - p.minimum) * 100) / range);
      pct = std::clamp(pct, 0, 100);
      int fill = pct * barW / 100;
      bar = Repeat("█", fill) + Repeat("░", barW - fill);
      std::string num = std::to_string(pct);
      lines.push_back("  " + bar + " " + std::string(3 - std::min<size_t>(3, num.size()), ' ') +
                      num + " %");
    }
  }

  const auto& in = d.InputBox();
  if (in.present) {
    int boxW = std::max(10, std::min(width - 6, 40));
    std::u32string shown = Utf8ToUtf32(in.text);
    std::string body;
    if (shown.empty() && !in.cueBanner.empty() && !focused(Item::kInput, 0)) {
      body = std::string(kDim) + Utf32ToUtf8(Utf8ToUtf32(in.cueBanner).substr(0, boxW)) + kReset;
      shown.clear();
    } else {
      if (static_cast<int>(shown.size()) > boxW - 1) shown = shown.substr(shown.size() - (boxW - 1));
      body = in.masked ? Repeat("●", static_cast<int>(shown.size())) : Utf32ToUtf8(shown);
    }
    int used = static_cast<int>(shown.size());
    bool f = focused(Item::kInput, 0);
    std::string cursor = f ? std::string(kReverse) + " " + kReset : " ";
    lines.push_back("  [" + body + cursor + Repeat("_", std::max(0, boxW - used - 1)) + "]");
  }

  std::string row;
  for (const auto& b : d.Buttons()) {
    if (b.commandLink) continue;
    std::string label = std::string(b.elevated ? "⛨ " : "") + b.text;
    bool f = focused(Item::kButton, b.id);
    if (!row.empty()) row += "  ";
    if (f)
      row += std::string(kReverse) + "[ " + label + " ]" + kReset;
    else if (!b.enabled)
      row += std::string(kDim) + "[ " + label + " ]" + kReset;
    else
      row += "[ " + label + " ]";
  }
  if (!row.empty()) lines.push_back("  " + row);

  if (!Blank(d.Footer())) {
    std::string glyph = IconGlyph(d.IconFooter());
    std::string indent = glyph.empty() ? " " : " " + glyph + " ";
    bool first = true;
    for (const auto& l : TextLines(d.Footer()))
      for (const auto& w : Wrap(l, width - 3)) {
        lines.push_back((first ? indent : std::string("   ")) + w);
        first = false;
      }
  } else {
    lines.push_back("");
  }
  if (!final) {
    std::string hint;
    if (WantOf(d) == Want::Choice && n > 0) hint = "chiffre ou ↑↓ puis Entrée";
    if (in.present) hint = "Tab : zone suivante · Entrée : valider";
    int32_t cancel = CancelTarget(d);
    if (cancel) hint += std::string(hint.empty() ? "" : " · ") + "Échap ou a : annuler";
    if (!hint.empty()) lines.push_back(std::string(" ") + kDim + hint + kReset);
  }

  Redraw(lines);
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

void TerminalRenderer::KeysForDialog(LayerDialog& d) {
  if (Acting(&d)) return;
  ActingOn acting(this, &d);
  while (!buffer_.empty() && d.Open() && !dialogs_.empty() && dialogs_.back() == &d && !question_) {
    auto items = Items(d);
    if (focus_ < 0 || focus_ >= static_cast<int>(items.size())) focus_ = InitialFocus(d, items);
    const bool inBox = focus_ >= 0 && items[static_cast<size_t>(focus_)].kind == Item::kInput;
    unsigned char c = static_cast<unsigned char>(buffer_[0]);
    auto move = [&](int delta) {
      if (items.empty()) return;
      int size = static_cast<int>(items.size());
      focus_ = ((focus_ < 0 ? 0 : focus_) + delta + size) % size;
    };
    if (c == 0x1b) {
      if (buffer_.size() >= 3 && (buffer_[1] == '[' || buffer_[1] == 'O')) {
        char k = buffer_[2];
        size_t len = 3;
        if (k >= '0' && k <= '9') {  // ESC [ n ~ and the like
          size_t end = buffer_.find_first_of("~ABCDHFZ", 2);
          len = end == std::string::npos ? buffer_.size() : end + 1;
          k = end == std::string::npos ? 0 : buffer_[end];
        }
        buffer_.erase(0, len);
        if (k == 'A' || k == 'D') move(-1);
        if (k == 'B' || k == 'C') move(1);
        if (k == 'Z') move(-1);  // Shift+Tab
      } else if (buffer_.size() == 1) {
        buffer_.clear();
        if (int32_t t = CancelTarget(d)) t == IDCANCEL_ ? (void)d.Cancel() : (void)d.Click(t);
      } else {
        buffer_.erase(0, 2);  // Alt+key: ignored
      }
    } else if (c == 0x03) {
      buffer_.erase(0, 1);
      Interrupt();
    } else if (c == '\t') {
      buffer_.erase(0, 1);
      move(1);
    } else if (c == '\r' || c == '\n') {
      buffer_.erase(0, 1);
      if (focus_ < 0) continue;
      const Item& it = items[static_cast<size_t>(focus_)];
      int32_t id = it.kind == Item::kInput ? d.DefaultButtonId() : it.id;
      if (id) d.Click(id);
    } else if (inBox) {
      if (c == 0x7f || c == 0x08) {
        buffer_.erase(0, 1);
        d.Backspace(1);
      } else if (c == 0x15) {  // Ctrl+U empties the box
        buffer_.erase(0, 1);
        d.SetInput("");
      } else if (c < 0x20) {
        buffer_.erase(0, 1);
      } else {
        // One character (a whole UTF-8 sequence) per change.
        size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (buffer_.size() < len) return;  // the rest of the sequence is still coming
        std::string ch = buffer_.substr(0, len);
        buffer_.erase(0, len);
        d.Type(ch);
      }
    } else {
      buffer_.erase(0, 1);
      if (c >= '1' && c <= '9') {
        int k = c - '0', seen = 0;
        for (const auto& b : d.Buttons())
          if (b.commandLink && ++seen == k) {
            d.Click(b.id);
            break;
          }
      } else if (c == 'a' || c == 'A') {
        if (int32_t t = CancelTarget(d)) t == IDCANCEL_ ? (void)d.Cancel() : (void)d.Click(t);
      }
    }
    if (d.Open() && !dialogs_.empty() && dialogs_.back() == &d && !question_) ScheduleDraw(d);
  }
  if (eof_ && d.Open()) d.Dismiss();
}

void TerminalRenderer::KeysForQuestion() {
  while (!buffer_.empty() && !questionAnswered_) {
    unsigned char c = static_cast<unsigned char>(buffer_[0]);
    if (c == 0x1b && buffer_.size() >= 3) {
      char k = buffer_[2];
      buffer_.erase(0, 3);
      if (k == 'C' || k == 'D' || k == 'A' || k == 'B') questionFocus_ ^= 1;
      continue;
    }
    buffer_.erase(0, 1);
    if (c == '\t') questionFocus_ ^= 1;
    if (c == 'o' || c == 'O' || c == 'y' || c == 'Y') {
      questionAnswer_ = IDYES_;
      questionAnswered_ = true;
    } else if (c == 'n' || c == 'N') {
      questionAnswer_ = IDNO_;
      questionAnswered_ = true;
    } else if (c == '\r' || c == '\n') {
      questionAnswer_ = questionFocus_ == 0 ? IDYES_ : IDNO_;
      questionAnswered_ = true;
    }
  }
  if (eof_ && !questionAnswered_) {
    questionAnswer_ = (questionFlags_ & MB_DEFBUTTON2_) ? IDNO_ : IDYES_;
    questionAnswered_ = true;
  }
  if (questionAnswered_) questionFocus_ = questionAnswer_ == IDYES_ ? 0 : 1;
  // Draw the question in place.
  const int width = std::max(20, std::min(Columns(), 100)) - 4;
  std::vector<std::string> lines;
  std::string title = " " + questionTitle_ + " ";
  lines.push_back(std::string(kDim) + "──" + kReset + kBold + title + kReset + kDim +
                  Repeat("─", std::max(0, width - static_cast<int>(Utf8Length(title)) - 2)) +
                  kReset);
  for (const auto& l : TextLines(questionText_))
    for (const auto& w : Wrap(l, width - 2)) lines.push_back(" ? " + w);
  auto button = [&](const char* label, bool f) {
    return f ? std::string(kReverse) + "[ " + label + " ]" + kReset
             : std::string("[ ") + label + " ]";
  };
  lines.push_back("  " + button("Oui", questionFocus_ == 0) + "  " +
                  button("Non", questionFocus_ == 1));
  if (!questionAnswered_) lines.push_back(std::string(" ") + kDim + "o : oui · n : non · Entrée : choix en surbrillance" + kReset);
  Redraw(lines);
}

// ---------------------------------------------------------------------------
// The platform of this process

DialogLayer& TerminalDialogLayer() {
  static TerminalRenderer renderer(STDIN_FILENO, STDOUT_FILENO,
                                   ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO));
  static DialogLayer layer(renderer);
  return layer;
}

TaskDialogPlatform& DefaultTdPlatform() { return TerminalDialogLayer(); }

void InstallDialogLayer() {
  const char* name = program_invocation_short_name;
  if (InstallGtkDialogLayer(name ? name : "")) return;
  DialogLayer& layer = TerminalDialogLayer();
  layer.SetProgramTitle(name ? name : "");
  SetTdPlatform(&layer);
  SetPrompts(&layer);
}

}  // namespace qv
