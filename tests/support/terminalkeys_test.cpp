#include "support/terminalkeys.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

std::vector<Key> Decode(std::string_view bytes, bool final = false, std::size_t* used = nullptr) {
  std::vector<Key> keys;
  std::size_t n = DecodeKeys(bytes, final, keys);
  if (used) *used = n;
  return keys;
}

Key K(Key::Kind kind) { return Key{kind, {}}; }
Key C(const char* text) { return Key{Key::Char, text}; }

TEST(TerminalKeys, ControlsAndPlainCharacters) {
  EXPECT_EQ(Decode("a\r\t\x7f\x08\x03\x04\x15\x01"),
            (std::vector<Key>{C("a"), K(Key::Enter), K(Key::Tab), K(Key::Backspace),
                              K(Key::Backspace), K(Key::Interrupt), K(Key::EndOfText),
                              K(Key::KillLine), K(Key::Ignored)}));
  // A doubled Enter is two Enters; CR LF is one.
  EXPECT_EQ(Decode("\r\r"), (std::vector<Key>{K(Key::Enter), K(Key::Enter)}));
  EXPECT_EQ(Decode("\r\n\n"), (std::vector<Key>{K(Key::Enter), K(Key::Enter)}));
}

TEST(TerminalKeys, Utf8OfEveryLengthIsOneCharacter) {
  EXPECT_EQ(Decode("é€😀’"), (std::vector<Key>{C("é"), C("€"), C("😀"), C("’")}));
  // Cut short at the end of what was read: kept for the next call.
  std::size_t used = 0;
  EXPECT_EQ(Decode("a\xf0\x9f\x98", false, &used), (std::vector<Key>{C("a")}));
  EXPECT_EQ(used, 1u);
  // Nothing more came: the piece is dropped, never shown as half a character.
  EXPECT_EQ(Decode("\xf0\x9f\x98", true, &used), (std::vector<Key>{K(Key::Ignored)}));
  EXPECT_EQ(used, 3u);
  // Bytes that cannot start or continue a character.
  EXPECT_EQ(Decode("\x80z\xc3(", false), (std::vector<Key>{K(Key::Ignored), C("z"),
                                                           K(Key::Ignored), C("(")}));
  EXPECT_EQ(Decode("\xff"), (std::vector<Key>{K(Key::Ignored)}));
}

TEST(TerminalKeys, EscapeAloneOnlyWhenNothingFollows) {
  std::size_t used = 7;
  EXPECT_TRUE(Decode("\x1b", false, &used).empty());
  EXPECT_EQ(used, 0u);  // may be the start of an arrow: the caller waits
  EXPECT_EQ(Decode("\x1b", true), (std::vector<Key>{K(Key::Escape)}));
  EXPECT_EQ(Decode("\x1b\x1b[A"), (std::vector<Key>{K(Key::Escape), K(Key::Up)}));
  EXPECT_EQ(Decode("\x1bx"), (std::vector<Key>{K(Key::Ignored)}));  // Alt+x
}

TEST(TerminalKeys, EscapeSequencesOfAnyLength) {
  EXPECT_EQ(Decode("\x1b[A\x1b[B\x1b[C\x1b[D\x1bOA\x1bOD"),
            (std::vector<Key>{K(Key::Up), K(Key::Down), K(Key::Right), K(Key::Left), K(Key::Up),
                              K(Key::Left)}));
  EXPECT_EQ(Decode("\x1b[Z\x1b[H\x1b[F\x1b[1~\x1b[4~\x1b[3~"),
            (std::vector<Key>{K(Key::BackTab), K(Key::Home), K(Key::End), K(Key::Home),
                              K(Key::End), K(Key::Delete)}));
  // With modifiers (Ctrl+Right), and keys we do not use (F5): one key each,
  // never their tail read as typed text.
  EXPECT_EQ(Decode("\x1b[1;5C\x1b[15~x"),
            (std::vector<Key>{K(Key::Right), K(Key::Ignored), C("x")}));
  // Cut short: waits, then gives up on it as a whole.
  std::size_t used = 9;
  EXPECT_TRUE(Decode("\x1b[1;5", false, &used).empty());
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(Decode("\x1b[1;5", true, &used), (std::vector<Key>{K(Key::Ignored)}));
  EXPECT_EQ(used, 5u);
  EXPECT_TRUE(Decode("\x1bO", false).empty());
}

}  // namespace
}  // namespace qv
