// The keys of a terminal in raw mode, decoded from its bytes: the one decoder
// of the dialogs, the Yes/No question and the path prompt. Pure: no reads,
// no clock. A lone Escape and the start of an escape sequence look the same
// until more bytes come or none do; the caller decides when waiting is over
// (a short timeout) and then decodes again with `final` set.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct Key {
  enum Kind {
    Char,       // `text` holds one character (one whole UTF-8 sequence)
    Enter,
    Tab,
    BackTab,    // Shift+Tab
    Backspace,
    Escape,
    Up,
    Down,
    Left,
    Right,
    Home,
    End,
    Delete,
    Interrupt,  // Ctrl+C
    EndOfText,  // Ctrl+D
    KillLine,   // Ctrl+U
    Ignored,    // any other control, sequence, Alt+key or invalid byte
  };
  Kind kind = Ignored;
  std::string text;
  bool operator==(const Key&) const = default;
};

// Decodes the whole keys at the start of `bytes` into `keys` and returns the
// number of bytes they took. What may be the start of a longer key (an
// Escape, a sequence, a UTF-8 character cut short) is left for the next call,
// unless `final`: then an Escape alone is Escape, and a cut sequence or
// character is Ignored. At most `most` keys are decoded (the rest of the
// bytes may belong to whoever asks next).
std::size_t DecodeKeys(std::string_view bytes, bool final, std::vector<Key>& keys,
                       std::size_t most = static_cast<std::size_t>(-1));

}  // namespace qv
