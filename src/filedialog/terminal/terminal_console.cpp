// The terminal as the chooser's answer source: an editable prompt with Tab
// completion on a TTY, plain line mode otherwise. Input is read byte by byte
// from descriptor 0 so that nothing past the answer line is consumed: the
// lines that follow belong to the next dialogs of the run.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "filedialog/terminal/terminal_chooser.h"
#include "support/frontend.h"
#include "support/rawterminal.h"
#include "support/terminalkeys.h"
#include "support/text.h"

namespace qv {

namespace {

void WriteOut(const std::string& text) {
  std::fflush(stdout);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(1, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// One byte from descriptor 0; -1 at end of input. The descriptor may have
// been left non-blocking by another reader: then wait until a byte comes.
int ReadByte() {
  unsigned char c;
  for (;;) {
    const ssize_t n = ::read(0, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{0, POLLIN, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
      continue;
    }
    return -1;
  }
}

// Paths, names and titles come from outside (a folder named with an escape
// sequence): they reach the terminal escaped.
std::string Safe(const std::string& text) { return EscapeForDisplay(text, true); }

bool ByteWaiting(int ms) {
  pollfd p{0, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

class LineModeInput : public ChooserInput {
 public:
  void Print(const std::string& line) override { WriteOut(Safe(line) + "\n"); }
  std::optional<std::string> ReadAnswer(const std::string& prompt, const ChooserCompleter&) override {
    WriteOut(Safe(prompt) + "\n");
    std::string line;
    bool any = false;
    for (;;) {
      const int c = ReadByte();
      if (c < 0) break;
      any = true;
      if (c == '\n') break;
      line.push_back(static_cast<char>(c));
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
};

// Raw keys for the prompt's own line editing, for as long as it reads.
class RawMode {
 public:
  RawMode() : active_(EnterRawTerminal(0)) {}
  ~RawMode() {
    if (active_) LeaveRawTerminal();
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  bool active_;
};

std::string CommonPrefix(const std::vector<std::string>& items) {
  if (items.empty()) return "";
  std::string prefix = items.front();
  for (const auto& s : items) {
    std::size_t i = 0;
    while (i < prefix.size() && i < s.size() && prefix[i] == s[i]) ++i;
    prefix.resize(i);
  }
  // Never stop inside a UTF-8 sequence.
  while (!prefix.empty() && (static_cast<unsigned char>(prefix.back()) & 0xC0) == 0x80) prefix.pop_back();
  if (!prefix.empty() && (static_cast<unsigned char>(prefix.back()) & 0xC0) == 0xC0) prefix.pop_back();
  return prefix;
}

class TtyInput : public ChooserInput {
 public:
  bool Interactive() const override { return true; }
  void Print(const std::string& line) override { WriteOut("\r\x1b[K" + Safe(line) + "\n"); }
  std::optional<std::string> ReadAnswer(const std::string& prompt, const ChooserCompleter& complete) override {
    RawMode raw;
    std::string buffer;
    bool lastWasTab = false;
    auto redraw = [&] { WriteOut("\r\x1b[K" + Safe(prompt) + Safe(buffer)); };
    redraw();
    std::string pending;
    for (;;) {
      Key key;
      if (!NextKey(pending, key)) {  // end of input
        WriteOut("\n");
        return std::nullopt;
      }
      const bool tab = key.kind == Key::Tab;
      if (key.kind == Key::Interrupt || key.kind == Key::Escape) {
        WriteOut("\n");
        return std::nullopt;
      } else if (key.kind == Key::Enter) {
        WriteOut("\n");
        return buffer;
      } else if (key.kind == Key::EndOfText) {  // cancels on an empty line
        if (buffer.empty()) {
          WriteOut("\n");
          return std::nullopt;
        }
      } else if (key.kind == Key::Backspace) {
        buffer = Utf8DropLast(buffer, 1);
        redraw();
      } else if (key.kind == Key::KillLine) {
        buffer.clear();
        redraw();
      } else if (tab) {
        const auto candidates = complete ? complete(buffer) : std::vector<std::string>{};
        if (candidates.size() == 1) {
          buffer = candidates.front();
        } else if (!candidates.empty()) {
          const std::string prefix = CommonPrefix(candidates);
          if (prefix.size() > buffer.size()) {
            buffer = prefix;
          } else if (lastWasTab) {
            WriteOut("\n");
            for (const auto& cand : candidates) {
              const auto slash = cand.rfind('/', cand.size() > 1 ? cand.size() - 2 : 0);
              WriteOut("  " + Safe(slash == std::string::npos ? cand : cand.substr(slash + 1)) + "\n");
            }
          }
        } else {
          WriteOut("\a");
        }
        redraw();
      } else if (key.kind == Key::Char) {
        buffer += key.text;
        redraw();
      }
      lastWasTab = tab;
    }
  }

 private:
  // The next key, read byte by byte so that nothing past it is taken; false
  // at the end of input.
  static bool NextKey(std::string& pending, Key& key) {
    for (;;) {
      std::vector<Key> keys;
      bool final = false;
      if (!pending.empty()) {
        const std::size_t used = DecodeKeys(pending, false, keys, 1);
        if (keys.empty() && !ByteWaiting(kEscapeWaitMs)) {
          final = true;  // an Escape alone, or a sequence that stopped short
        } else {
          pending.erase(0, used);
        }
        if (final) pending.erase(0, DecodeKeys(pending, true, keys, 1));
        if (!keys.empty()) {
          key = keys.front();
          return true;
        }
      }
      const int c = ReadByte();
      if (c < 0) return false;
      pending.push_back(static_cast<char>(c));
    }
  }
  static constexpr int kEscapeWaitMs = 50;
};

}  // namespace

ChooserInput& TerminalChooserInput() {
  if (ChooserInput* installed = InstalledChooserInput()) return *installed;
  static LineModeInput lineMode;
  static TtyInput tty;
  return RunFrontEnd() == FrontEnd::Terminal ? static_cast<ChooserInput&>(tty) : lineMode;
}

}  // namespace qv
