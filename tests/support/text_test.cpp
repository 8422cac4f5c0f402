#include <gtest/gtest.h>

#include "support/text.h"

namespace qv {
namespace {

TEST(EscapeForDisplay, NamesFromOutsideCannotCommandTheScreen) {
  // Ordinary names, accents, "’", "€", emoji and the Windows separator pass.
  for (const char* s : {"L’été 2026 € 🎉.txt", "C:\\Data\\photos", "œuvre – Ελληνικά 漢字"})
    EXPECT_EQ(EscapeForDisplay(s), s);
  // A title change, a screen clear, a bell, C1 controls and DEL.
  EXPECT_EQ(EscapeForDisplay("a\x1b]0;pwned\x07z"), "a\\x1b]0;pwned\\x07z");
  EXPECT_EQ(EscapeForDisplay("\x1b[2J"), "\\x1b[2J");
  EXPECT_EQ(EscapeForDisplay("x\x7fy"), "x\\x7fy");
  EXPECT_EQ(EscapeForDisplay("\xc2\x9b" "31m"), "\\x9b31m");
  EXPECT_EQ(EscapeForDisplay("a\nb\rc\td"), "a\\x0ab\\x0dc\\x09d");
  EXPECT_EQ(EscapeForDisplay("a\nb", true), "a\nb");
  // Bidirectional overrides and isolates ("gpj.exe" shown as "exe.jpg").
  EXPECT_EQ(EscapeForDisplay("photo\xe2\x80\xaegpj.exe"), "photo\\u202egpj.exe");
  EXPECT_EQ(EscapeForDisplay("\xe2\x81\xa6x\xe2\x81\xa9"), "\\u2066x\\u2069");
  // Bytes that are not UTF-8: stray, truncated, overlong, surrogate.
  EXPECT_EQ(EscapeForDisplay("caf\xe9"), "caf\\xe9");
  EXPECT_EQ(EscapeForDisplay("\xe2\x82"), "\\xe2\\x82");
  EXPECT_EQ(EscapeForDisplay("\xc0\x80"), "\\xc0\\x80");
  EXPECT_EQ(EscapeForDisplay("\xed\xa0\x80"), "\\xed\\xa0\\x80");
}

}  // namespace
}  // namespace qv
