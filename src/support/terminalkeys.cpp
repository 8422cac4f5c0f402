#include "support/terminalkeys.h"

namespace qv {
namespace {

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the UTF-8 sequence a lead byte opens; 0 for a byte that
// cannot open one.
std::size_t SequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

Key::Kind CsiKey(std::string_view params, char final) {
  switch (final) {
    case 'A': return Key::Up;
    case 'B': return Key::Down;
    case 'C': return Key::Right;
    case 'D': return Key::Left;
    case 'H': return Key::Home;
    case 'F': return Key::End;
    case 'Z': return Key::BackTab;
    case '~':
      if (params == "1" || params == "7") return Key::Home;
      if (params == "4" || params == "8") return Key::End;
      if (params == "3") return Key::Delete;
      return Key::Ignored;
    default: return Key::Ignored;
  }
}

}  // namespace

std::size_t DecodeKeys(std::string_view b, bool final, std::vector<Key>& keys, std::size_t most) {
  std::size_t i = 0;
  const std::size_t before = keys.size();
  auto emit = [&](Key::Kind kind, std::size_t length, std::string text = {}) {
    keys.push_back(Key{kind, std::move(text)});
    i += length;
  };
  while (i < b.size() && keys.size() - before < most) {
    const unsigned char c = static_cast<unsigned char>(b[i]);
    const std::size_t left = b.size() - i;
    if (c == 0x1b) {
      if (left == 1) {
        if (!final) break;
        emit(Key::Escape, 1);
        continue;
      }
      const char second = b[i + 1];
      if (second == '[') {
        // CSI: parameters and intermediates (0x20-0x3F), then a final byte
        // (0x40-0x7E).
        std::size_t j = i + 2;
        while (j < b.size() && static_cast<unsigned char>(b[j]) >= 0x20 &&
               static_cast<unsigned char>(b[j]) <= 0x3F)
          ++j;
        if (j == b.size()) {
          if (!final) break;
          emit(Key::Ignored, j - i);
          continue;
        }
        const unsigned char f = static_cast<unsigned char>(b[j]);
        if (f < 0x40 || f > 0x7E) {  // broken: drop the introducer only
          emit(Key::Ignored, 2);
          continue;
        }
        emit(CsiKey(b.substr(i + 2, j - i - 2), static_cast<char>(f)), j + 1 - i);
        continue;
      }
      if (second == 'O') {  // SS3: the arrows and Home/End of application mode
        if (left == 2) {
          if (!final) break;
          emit(Key::Ignored, 2);
          continue;
        }
        emit(CsiKey("", b[i + 2]), 3);
        continue;
      }
      if (second == 0x1b) {  // Escape pressed twice: the first one is alone
        emit(Key::Escape, 1);
        continue;
      }
      emit(Key::Ignored, 2);  // Alt+key
      continue;
    }
    if (c == '\r' || c == '\n') {
      emit(Key::Enter, 1);
      // A terminal that sends CR LF for one Enter gives one key.
      if (c == '\r' && i < b.size() && b[i] == '\n') ++i;
      continue;
    }
    if (c == '\t') { emit(Key::Tab, 1); continue; }
    if (c == 0x7f || c == 0x08) { emit(Key::Backspace, 1); continue; }
    if (c == 0x03) { emit(Key::Interrupt, 1); continue; }
    if (c == 0x04) { emit(Key::EndOfText, 1); continue; }
    if (c == 0x15) { emit(Key::KillLine, 1); continue; }
    if (c < 0x20) { emit(Key::Ignored, 1); continue; }
    const std::size_t n = SequenceLength(c);
    if (n == 0) { emit(Key::Ignored, 1); continue; }
    std::size_t have = 1;
    while (have < n && have < left && Continuation(static_cast<unsigned char>(b[i + have]))) ++have;
    if (have < n) {
      if (have == left && !final) break;  // the rest of the character is still coming
      emit(Key::Ignored, have);
      continue;
    }
    emit(Key::Char, n, std::string(b.substr(i, n)));
  }
  return i;
}

}  // namespace qv
