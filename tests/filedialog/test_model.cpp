// Properties of the chooser: let/get rules, masks by generation, Clear.
#include <gtest/gtest.h>

#include "fake_platform.h"

using namespace qv;
using qvtest::FakePlatform;

namespace {

struct Model : ::testing::Test {
  std::shared_ptr<FakePlatform> p = std::make_shared<FakePlatform>();
  std::unique_ptr<CmnDialogEx> Make(int32_t generation) {
    p->generation = generation;
    return std::make_unique<CmnDialogEx>(p);
  }
};

const std::string kNul(1, '\0');

TEST_F(Model, ValuesAfterClear) {
  auto d = Make(10);
  d->Tag("x");
  d->CancelError(true);
  d->FlagsDialog(6176);
  d->Filter("a|b");
  d->FilterIndex(3);
  d->MaxFileSize(1000);
  d->CustomData(7);
  d->Clear();
  EXPECT_EQ(d->Version(), 10);
  EXPECT_EQ(d->Tag(), "");
  EXPECT_FALSE(d->CancelError());
  EXPECT_EQ(d->FlagsDialog(), 0);
  EXPECT_EQ(d->Filter(), "");
  EXPECT_EQ(d->FilterIndex(), 0);
  EXPECT_EQ(d->MaxFileSize(), 520);
  EXPECT_EQ(d->CustomData(), 0);
  EXPECT_EQ(d->FileTitle(), "");
  EXPECT_EQ(d->MinimumBufferSizeRequired(), 0);
}

TEST_F(Model, InitDirForms) {
  auto d = Make(10);
  d->InitDir("C:/Users/x");
  EXPECT_EQ(d->InitDir(), "C:\\Users\\x");
  d->InitDir("\\\\server\\share");
  EXPECT_EQ(d->InitDir(), "\\\\server\\share");
  d->InitDir("\\\\server/share/sub");
  EXPECT_EQ(d->InitDir(), "\\\\server\\share\\sub");
  d->InitDir("Documents");
  EXPECT_EQ(d->InitDir(), "");
  d->InitDir("relative\\path");
  EXPECT_EQ(d->InitDir(), "");
  // A special-folder number, as text or as a number; the path is cut at its NUL.
  d->InitDir("5");
  EXPECT_EQ(d->InitDir(), "C:\\Users\\u\\Documents");
  d->InitDir("");
  EXPECT_EQ(d->InitDir(), "");
  d->InitDir(static_cast<std::intptr_t>(5));
  EXPECT_EQ(d->InitDir(), "C:\\Users\\u\\Documents");
  d->InitDir("6");  // unknown special folder
  EXPECT_EQ(d->InitDir(), "");
  // Above 255: an item-identifier list.
  d->InitDir(static_cast<std::intptr_t>(0x10000));
  EXPECT_EQ(d->InitDir(), "C:\\FromIdList");
  d->InitDir("99999999999");  // does not convert to 32 bits
  EXPECT_EQ(d->InitDir(), "");
  // A known-folder GUID on generation 6 and above.
  d->InitDir("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}");
  EXPECT_EQ(d->InitDir(), "C:\\Users\\u\\Documents");
  d->InitDir("{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(d->InitDir(), "");

  auto old = Make(5);
  old->InitDir("{FDD39AD0-238F-46AF-ADB4-6C85480369C7}");
  EXPECT_EQ(old->InitDir(), "");
  old->InitDir("C:/a");
  EXPECT_EQ(old->InitDir(), "C:\\a");
}

TEST_F(Model, FilterLetGet) {
  auto d = Make(10);
  d->Filter("Zip Files|*.zip");
  EXPECT_EQ(d->Filter(), "Zip Files|*.zip");
  d->Filter("   ");
  EXPECT_EQ(d->Filter(), "");
  d->Filter(kNul);
  EXPECT_EQ(d->Filter(), kNul);
  d->Filter("Text | *.txt |All|*.*");
  EXPECT_EQ(d->Filter(), "Text | *.txt |All|*.*");
  d->Filter("");
  EXPECT_EQ(d->Filter(), "");
}

TEST_F(Model, FlagMasksByGeneration) {
  auto modern = Make(6);
  modern->FlagsDialog(6176);
  EXPECT_EQ(modern->FlagsDialog(), 6176);
  modern->FlagsDialog(0x10);
  EXPECT_EQ(modern->FlagsDialog(), 0);
  modern->FlagsDialog(static_cast<int32_t>(0xFFFFFFFFu));
  EXPECT_EQ(static_cast<uint32_t>(modern->FlagsDialog()), 0xFF9FFBEFu);

  auto legacy = Make(5);
  legacy->FlagsDialog(6176);
  EXPECT_EQ(legacy->FlagsDialog(), 6144);
  legacy->FlagsDialog(0x10);
  EXPECT_EQ(legacy->FlagsDialog(), 0);
  legacy->FlagsDialog(static_cast<int32_t>(0xFFFFFFFFu));
  EXPECT_EQ(static_cast<uint32_t>(legacy->FlagsDialog()), 0xFFDBFF0Fu);
  // Bits only one family has survive only there.
  legacy->FlagsDialog(0x400 | 0x400000);
  EXPECT_EQ(legacy->FlagsDialog(), 0x400 | 0x400000);
  modern->FlagsDialog(0x400 | 0x400000 | 0x40000);
  EXPECT_EQ(modern->FlagsDialog(), 0x40000);

  modern->FlagsDialogEx(3);
  EXPECT_EQ(modern->FlagsDialogEx(), 2);
  legacy->FlagsDialogEx(3);
  EXPECT_EQ(legacy->FlagsDialogEx(), 3);
}

TEST_F(Model, FileNameAndFilterIndexAndMaxFileSize) {
  auto legacy = Make(5);
  legacy->FileName("C:/a/b.txt");
  EXPECT_EQ(legacy->FileName(), "C:\\a\\b.txt");
  auto modern = Make(7);
  modern->FileName("C:/a/b.txt");
  EXPECT_EQ(modern->FileName(), "C:/a/b.txt");
  EXPECT_EQ(modern->FileTitle(), "");  // no result yet

  modern->FilterIndex(0);
  EXPECT_EQ(modern->FilterIndex(), 1);
  modern->FilterIndex(-4);
  EXPECT_EQ(modern->FilterIndex(), 1);
  modern->FilterIndex(2);
  EXPECT_EQ(modern->FilterIndex(), 2);

  modern->MaxFileSize(-3);
  EXPECT_EQ(modern->MaxFileSize(), 520);
  modern->MaxFileSize(2048);
  EXPECT_EQ(modern->MaxFileSize(), 2048);
  modern->DefaultExt("zip");
  EXPECT_EQ(modern->DefaultExt(), "zip");
}

TEST_F(Model, FileTitleAfterResultAndAfterAssignment) {
  auto d = Make(10);
  p->script.results = {"C:\\a\\b.txt"};
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileName(), "C:\\a\\b.txt");
  EXPECT_EQ(d->FileTitle(), "b.txt");
  d->FileName("C:\\a\\c.txt");
  EXPECT_EQ(d->FileTitle(), "");

  p->script.results = {"NoSeparator"};
  ASSERT_TRUE(d->ShowOpen());
  EXPECT_EQ(d->FileTitle(), "NoSeparator");
}

TEST(Helpers, UpToFirstNul) {
  EXPECT_EQ(UpToFirstNul(std::string("a\0b", 3)), "a");
  EXPECT_EQ(UpToFirstNul("abc"), "abc");
  EXPECT_EQ(UpToFirstNul(""), "");
}

}  // namespace
