#include <gtest/gtest.h>

#include "compressor/frmMain.h"

namespace qv {
namespace {

TEST(RatePassword, LengthInCharactersDecidesValidity) {
  EXPECT_EQ(frmMain::RatePassword(""), -1);
  EXPECT_EQ(frmMain::RatePassword("aB1!x"), -1);
  // Five accented letters are ten bytes but five characters.
  EXPECT_EQ(frmMain::RatePassword("ééééé"), -1);
  EXPECT_EQ(frmMain::RatePassword("éééééé"), 1);
  // A character outside the basic plane is one character (two UTF-16 units).
  EXPECT_EQ(frmMain::RatePassword("abcd\xF0\x9F\x94\x91"), -1);
  EXPECT_EQ(frmMain::RatePassword("abcde\xF0\x9F\x94\x91"), 2);
}

TEST(RatePassword, CountsTheClassesThatOccur) {
  EXPECT_EQ(frmMain::RatePassword("abcdef"), 1);
  EXPECT_EQ(frmMain::RatePassword("ABCDEF"), 1);
  EXPECT_EQ(frmMain::RatePassword("123456"), 1);
  EXPECT_EQ(frmMain::RatePassword("      "), 1);
  EXPECT_EQ(frmMain::RatePassword("abcDEF"), 2);
  EXPECT_EQ(frmMain::RatePassword("abcDE1"), 3);
  EXPECT_EQ(frmMain::RatePassword("abcD1!"), 4);
  // Accented and other non-ASCII letters are "other", never letters.
  EXPECT_EQ(frmMain::RatePassword("ÀÉÎõüç"), 1);
  EXPECT_EQ(frmMain::RatePassword("abcdeé"), 2);
  EXPECT_EQ(frmMain::RatePassword("Ab1é  "), 4);
  // Neighbours of the ranges.
  EXPECT_EQ(frmMain::RatePassword("@[`{/:"), 1);
}

}  // namespace
}  // namespace qv
