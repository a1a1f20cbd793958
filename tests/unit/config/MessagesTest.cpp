#include <gtest/gtest.h>

#include <vector>

#include "connect/ProgBar.h"
#include "connect/umessage.h"

namespace kz {
namespace {

TEST(MessagesLookup, UnknownNumbersYieldUndefinedError) {
  for (std::uint16_t n : {0, 100, 101, 102, 1705, 1706, 2000, 65535})
    EXPECT_EQ(GetMessage(n), "undefined error") << n;
}

TEST(MessagesLookup, TextsAreExact) {
  EXPECT_EQ(GetMessage(132), "Emulator option");
  EXPECT_EQ(GetMessage(831), "Hardware configration file not found or file format error");
  EXPECT_EQ(GetMessage(1671), "Test Clock: ");  // trailing blank kept
  EXPECT_EQ(GetMessage(1697), "");
  EXPECT_EQ(GetMessage(1212), "6  clocks");
  EXPECT_EQ(GetMessage(900), "Internal RC clock  6M, 5%");
  EXPECT_EQ(GetMessage(921), "wait states");
  EXPECT_EQ(GetMessage(1668), "Undefine error");
  EXPECT_EQ(GetMessage(1674), "Driver: USBD12.DLL not installed");
  EXPECT_EQ(GetMessage(1680), "Can not found file or file format error. Please reinstall ZOLT IDE");
  EXPECT_EQ(GetMessage(1698), "In Monitor");
  // Neighbours of known numbers are not filled in.
  EXPECT_EQ(GetMessage(1672), "undefined error");
  EXPECT_EQ(GetMessage(888), "undefined error");
}

TEST(MessagesLookup, EveryTextFitsAShortString) {
  for (unsigned n = 0; n <= 0xFFFF; ++n)
    EXPECT_LE(GetMessage(static_cast<std::uint16_t>(n)).size(), 255u);
}

class RecordingUi : public Ui {
 public:
  void MessageBox(MessageKind, const std::string&) override {}
  bool RunModal(Form&) override { return false; }
  void UpdateProgress(const ProgressView& view) override { views.push_back(view); }
  void SetHostWindow(std::uintptr_t) override {}
  std::vector<ProgressView> views;
};

TEST(ProgressWindow, StartResetAndCaption) {
  RecordingUi ui;
  TProgForm progress(ui);
  EXPECT_EQ(progress.View().caption, "Waitting");
  progress.Start(20, "Check EMULATOR");
  EXPECT_EQ(progress.View().caption, "Check EMULATOR");
  EXPECT_EQ(progress.View().maximum, 20);
  EXPECT_FALSE(progress.View().visible);  // start does not show
  progress.Step();
  progress.Step();
  EXPECT_EQ(progress.View().position, 2);
  EXPECT_FALSE(progress.View().visible);
  progress.Reset();
  EXPECT_EQ(progress.View().caption, "");
  EXPECT_EQ(progress.View().position, 0);
  progress.Show();
  EXPECT_TRUE(progress.View().visible);
  progress.Hide();
  EXPECT_FALSE(progress.View().visible);
}

TEST(ProgressWindow, StepsStayWithinTheRange) {
  RecordingUi ui;
  TProgForm progress(ui);
  progress.Start(0, "empty");
  for (int i = 0; i < 3; ++i) progress.Step();
  EXPECT_EQ(progress.View().position, 0);

  progress.Start(3, "short");
  for (int i = 0; i < 10; ++i) progress.Step();
  EXPECT_EQ(progress.View().position, 3);
  EXPECT_EQ(progress.View().maximum, 3);
  // Every step redraws at once.
  ASSERT_FALSE(ui.views.empty());
  EXPECT_EQ(ui.views.back().position, 3);
  const std::size_t before = ui.views.size();
  progress.Step();
  EXPECT_EQ(ui.views.size(), before + 1);

  // A new start begins at 0 again.
  progress.Start(5, "again");
  EXPECT_EQ(progress.View().position, 0);
}

}  // namespace
}  // namespace kz
