#include <gtest/gtest.h>

#include <string>

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

TEST(RatePassword, NinetyNineBytesOfUtf8AtMost) {
  // 7-Zip opens AES archives with passwords of up to 99 bytes only; the
  // limit is in bytes, so accents and emoji reach it with fewer characters.
  EXPECT_EQ(frmMain::RatePassword(std::string(99, 'a')), 1);
  EXPECT_EQ(frmMain::RatePassword(std::string(100, 'a')), -1);
  EXPECT_EQ(frmMain::RatePassword(std::string(500, 'a')), -1);
  std::string accents;
  for (int i = 0; i < 49; ++i) accents += "é";
  EXPECT_EQ(frmMain::RatePassword(accents + "A"), 2);  // 99 bytes, 50 characters
  EXPECT_EQ(frmMain::RatePassword(accents + "é"), -1);  // 100 bytes, 50 characters
  std::string keys;
  for (int i = 0; i < 24; ++i) keys += "\xF0\x9F\x94\x91";  // 96 bytes
  EXPECT_EQ(frmMain::RatePassword(keys + "aB1"), 4);
  EXPECT_EQ(frmMain::RatePassword(keys + "aB1!"), -1);
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
