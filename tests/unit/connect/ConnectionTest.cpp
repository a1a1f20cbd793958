#include <gtest/gtest.h>

#include <utility>

#include "connect/Connection.h"
#include "unit/connect/ConnectRig.h"

namespace kz {
namespace {

using test::ConnectRig;
using test::IdentityWordOf;

TEST(ConnectionIdentity, DecodesFieldsAndFormatsTheSerialText) {
  const Identity id = DecodeIdentity(IdentityWordOf(0x05, 1, 3, 123) | 0xF0000000u);
  EXPECT_EQ(id.serial, 123);
  EXPECT_EQ(id.month, 3);
  EXPECT_EQ(id.yearField, 1);
  EXPECT_EQ(id.code, 0x05);
  EXPECT_EQ(SerialText(id), "20060300123");
  EXPECT_EQ(SerialText(DecodeIdentity(IdentityWordOf(0, 1, 12, 7))), "20061200007");
  EXPECT_EQ(SerialText(DecodeIdentity(IdentityWordOf(0x3F, 7, 15, 32767))), "20121532767");

  std::array<std::uint8_t, 16> block{};
  block[4] = 0x78;
  block[5] = 0x56;
  block[6] = 0x34;
  block[7] = 0x12;
  EXPECT_EQ(IdentityWord(block), 0x12345678u);
}

TEST(ConnectionIdentity, AlternateBoardAndPodlessFlags) {
  auto emulator = [](std::uint8_t model, std::uint16_t serial) {
    return DecodeIdentity(IdentityWordOf(model, 1, 1, serial));
  };
  EXPECT_FALSE(AlternateBoardFor(emulator(5, 2999)));
  EXPECT_TRUE(AlternateBoardFor(emulator(5, 3000)));
  EXPECT_TRUE(AlternateBoardFor(emulator(6, 3000)));
  EXPECT_TRUE(AlternateBoardFor(emulator(7, 32767)));
  EXPECT_FALSE(AlternateBoardFor(emulator(7, 2999)));
  EXPECT_FALSE(AlternateBoardFor(emulator(4, 5000)));
  EXPECT_FALSE(AlternateBoardFor(emulator(8, 5000)));
  EXPECT_TRUE(PodlessFor(emulator(6, 0)));
  EXPECT_TRUE(PodlessFor(emulator(7, 0)));
  EXPECT_FALSE(PodlessFor(emulator(5, 3000)));
}

TEST(ConnectionIdentity, EmulatorIndexKeepsTheLastMatchAndDefaultsToZero) {
  EXPECT_EQ(EmulatorIndexForModel(0x22), 9);
  EXPECT_EQ(EmulatorIndexForModel(0x05), 5);
  EXPECT_EQ(EmulatorIndexForModel(0x30), 0);
  auto models = kEmulatorModels;
  models[2].ModelCode = 0x11;
  models[7].ModelCode = 0x11;
  EXPECT_EQ(EmulatorIndexForModel(0x11, models), 7);
  EXPECT_EQ(EmulatorIndexForModel(0x3E, models), 0);
}

TEST(ConnectionIdentity, AcceptedLogicDeviceCodes) {
  EXPECT_TRUE(AcceptedLogicDeviceCode(0x93C06120));
  EXPECT_TRUE(AcceptedLogicDeviceCode(0x93006180));
  EXPECT_TRUE(AcceptedLogicDeviceCode(0x43002411));
  EXPECT_FALSE(AcceptedLogicDeviceCode(0));
  EXPECT_FALSE(AcceptedLogicDeviceCode(0x2061C093));  // byte order matters
}

struct RunRig : ConnectRig {
  explicit RunRig(int pod = 1) : ConnectRig(pod) { WriteStandardLibrary(); }
  // (caption, maximum) at every change of caption.
  std::vector<std::pair<std::string, int>> Titles() const {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& v : ui.progress)
      if (out.empty() || out.back().first != v.caption) out.emplace_back(v.caption, v.maximum);
    return out;
  }
};

TEST(ConnectionRun, FirstConnectionDownloadsAndSecondFindsBothHeaders) {
  RunRig r(1);
  r.emu.emulatorWord = IdentityWordOf(0x01, 1, 3, 123);
  r.emu.podWord = IdentityWordOf(0x01, 2, 5, 42);
  r.connection.Run();
  EXPECT_FALSE(r.link.LinkFailed());
  EXPECT_TRUE(r.dialog.captions.empty());
  EXPECT_EQ(r.connection.Attempts(), 1);
  EXPECT_EQ(static_cast<std::int32_t>(r.config.EmulatorIndex), 1);
  EXPECT_EQ(r.connection.PodCode(), 0x01);
  EXPECT_EQ(r.connection.PodDescription(), "8051 pod type 1-20070500042");
  EXPECT_GT(r.emu.Count(17), 0u);
  EXPECT_EQ(r.emu.Count(36), 36u);
  EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "JYP51A"));
  EXPECT_TRUE(r.state.podConfigured);
  EXPECT_EQ(r.emu.control & 0x04, 0x04);  // run indicator lit
  // Clock commands 3, 1, 2 in this order, the last with row 14.
  const auto clock = r.emu.Sent(14);
  ASSERT_GE(clock.size(), 3u);
  EXPECT_EQ(clock[0][1], 3);
  EXPECT_EQ(clock[1][1], 1);
  EXPECT_EQ(clock[2][1], 2);
  EXPECT_EQ(clock[2][18], 0x7F);

  const auto titles = r.Titles();
  // Shown first with the caption it had; then one title per stage.
  const std::vector<std::pair<std::string, int>> head = {
      {"Waitting", 0}, {"Test USB ...", 300},      {"", 300}, {"Initial emulator...", 10},
      {"", 10},        {"Check EMULATOR", 20},     {"", 20},  {"Check POD", 1},
      {"", 1},         {"Initial emulator...", 10}};
  ASSERT_GE(titles.size(), head.size());
  EXPECT_EQ(std::vector(titles.begin(), titles.begin() + 10), head);
  EXPECT_NE(std::find(titles.begin(), titles.end(),
                      std::pair<std::string, int>{"Configure FPGA ...", 2000 / 56}),
            titles.end());
  EXPECT_FALSE(r.ui.progress.back().visible);

  r.emu.rec.Forget();
  r.connection.Run();
  EXPECT_FALSE(r.link.LinkFailed());
  EXPECT_EQ(r.emu.Count(17), 0u);
  EXPECT_EQ(r.emu.Count(2), 0u);
  EXPECT_EQ(r.emu.Count(36), 0u);
  EXPECT_EQ(r.emu.Count(37), 0u);
}

TEST(ConnectionRun, FinalWritesRaiseW2Bit12ForExactlyOneWrite) {
  RunRig r(1);
  r.connection.Run();
  ASSERT_FALSE(r.link.LinkFailed());
  const auto writes = r.emu.Sent(9);
  ASSERT_GE(writes.size(), 2u);
  int high = 0;
  for (const auto& w : writes)
    if (test::U16(w, 5) & 0x1000) ++high;
  EXPECT_EQ(high, 1);
  const auto& first = writes[writes.size() - 2];
  const auto& last = writes.back();
  EXPECT_EQ(test::U16(first, 5) & 0x3080, 0x3000);
  EXPECT_EQ(test::U16(first, 7) & 0xE098, 0);
  EXPECT_EQ(test::U16(last, 5) & 0x3000, 0x2000);
  EXPECT_EQ(r.emu.rec.Sent().back()[0], 9);
}

TEST(ConnectionRun, WrongIdentifyAnswerFailsWithKind1) {
  RunRig r(1);
  r.emu.identifyAnswer = {'V', '2'};
  r.connection.Run();
  EXPECT_TRUE(r.link.LinkFailed());
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorUsb);
  ASSERT_EQ(r.dialog.captions.size(), 1u);
  EXPECT_EQ(r.dialog.captions[0], "Can not connect USB");
  EXPECT_EQ(r.emu.Count(4), 0u);
  EXPECT_NE(r.emu.rec.Sent().back()[0], 9);  // the final writes go nowhere
}

TEST(ConnectionRun, NoLogicDeviceFailsWithKind3) {
  RunRig r(1);
  r.emu.fpgaId = 0;
  r.connection.Run();
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorNoLogicBoard);
  ASSERT_EQ(r.dialog.captions.size(), 1u);
  EXPECT_EQ(r.dialog.captions[0], "Can not found FPGA board");
  EXPECT_EQ(r.emu.Count(5), 0u);
  // The logic device code is read twice after a scan chain reset.
  EXPECT_EQ(r.emu.Count(33), 1u);
  EXPECT_EQ(r.emu.Count(35), 2u);
}

TEST(ConnectionRun, PodMismatchFailsWithKind5AndThePluggedPodsDescription) {
  RunRig r(1);  // selected pod code 1
  r.emu.podWord = IdentityWordOf(0x04, 2, 5, 42);
  r.connection.Run();
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorPodMismatch);
  ASSERT_EQ(r.dialog.captions.size(), 1u);
  EXPECT_EQ(r.dialog.captions[0], "POD not match: 8051 pod type 4-20070500042");
  EXPECT_EQ(r.connection.PodCode(), 0x04);
  EXPECT_EQ(r.emu.Count(14), 0u);
  EXPECT_EQ(r.emu.Count(36), 0u);
}

TEST(ConnectionRun, RetryRunsAnotherAttemptUntilCancelled) {
  RunRig r(1);
  r.emu.fpgaId = 0;
  r.dialog.answers = {true, false};
  r.connection.Run();
  EXPECT_EQ(r.connection.Attempts(), 2);
  EXPECT_EQ(r.dialog.captions.size(), 2u);
  EXPECT_EQ(r.emu.Count(4), 2u);
  EXPECT_TRUE(r.link.LinkFailed());
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorNoLogicBoard);
}

TEST(ConnectionRun, RetryAfterChoosingTheRightPodConnects) {
  RunRig r(1);
  r.emu.podWord = IdentityWordOf(0x04, 2, 5, 42);  // pod 5 is plugged in
  r.dialog.answers = {true};
  r.dialog.onShow = [&] { r.config.PodIndex = 4; };
  r.connection.Run();
  EXPECT_EQ(r.connection.Attempts(), 2);
  EXPECT_EQ(r.dialog.captions.size(), 1u);
  EXPECT_FALSE(r.link.LinkFailed());
  EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "JYP51E"));
}

TEST(ConnectionRun, PodlessEmulatorSkipsPodIdentityAndUsesTheAlternateBoard) {
  RunRig r(3);  // pod 3: pod code 0, works with emulator 7
  r.emu.emulatorWord = IdentityWordOf(0x06, 1, 1, 3000);
  r.emu.fpgaId = kFpgaIdAlternate;
  r.connection.Run();
  EXPECT_FALSE(r.link.LinkFailed());
  EXPECT_TRUE(r.connection.Podless());
  EXPECT_TRUE(r.connection.AlternateBoard());
  EXPECT_EQ(r.emu.Count(5), 0u);
  EXPECT_EQ(r.emu.Count(33) > 0, true);  // only from the download
  EXPECT_EQ(r.connection.PodDescription(), "Standard 8051 pod");
  EXPECT_EQ(static_cast<std::int32_t>(r.config.EmulatorIndex), 6);
  EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "Q_P51C"));

  RunRig wrong(1);  // pod 1 has pod code 1
  wrong.emu.emulatorWord = IdentityWordOf(0x07, 1, 1, 10);
  wrong.connection.Run();
  EXPECT_FALSE(wrong.connection.AlternateBoard());
  EXPECT_EQ(wrong.link.ErrorKindValue(), kErrorPodMismatch);
  EXPECT_EQ(wrong.dialog.captions.at(0), "POD not match: Standard 8051 pod");
}

TEST(ConnectionRun, UnknownModelLeavesEmulatorIndexZero) {
  RunRig r(1);
  r.config.EmulatorIndex = 4;
  r.emu.emulatorWord = IdentityWordOf(0x30, 1, 1, 1);
  r.connection.Run();
  EXPECT_FALSE(r.link.LinkFailed());
  EXPECT_EQ(static_cast<std::int32_t>(r.config.EmulatorIndex), 0);
  EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "JYP51A"));
}

TEST(ConnectionRun, ControlCommandsWriteTheirValueByteOnlyInTheWriteSubFunction) {
  RunRig r(1);
  r.emu.control = 0x31;
  r.link.Command()[2] = 0x5A;  // what an earlier command left in the packet
  r.connection.Run();
  ASSERT_FALSE(r.link.LinkFailed());
  const auto control = r.emu.Sent(15);
  ASSERT_GE(control.size(), 4u);
  const std::uint8_t want[4][2] = {{5, 0x5A}, {0, 0x5A}, {1, 0x5A}, {2, 0x31 | 0x04}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(control[static_cast<std::size_t>(i)][1], want[i][0]);
    EXPECT_EQ(control[static_cast<std::size_t>(i)][2], want[i][1]);
  }
}

TEST(ConnectionRun, ConfigurationThatCouldNotBeLoadedIsNotClaimedInTheHeader) {
  // The logic still runs some configuration, but the header names none, and
  // the wanted record is missing or refused.
  struct Case {
    const char* what;
    std::vector<test::LibraryEntry> entries;
  };
  const Case cases[] = {
      {"missing", {{"MON51A", test::Pattern(300, 3), 1}}},
      {"too long",
       {{"MON51A", test::Pattern(300, 3), 1}, {"JYP51A", test::Pattern(100, 5), 2, 300000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunRig r(1);
    r.library.Write(c.entries);
    r.emu.configured = true;
    r.connection.Run();
    EXPECT_FALSE(r.link.LinkFailed());
    EXPECT_EQ(r.emu.Count(36), 0u);
    EXPECT_EQ(r.emu.Count(37), 0u);
    EXPECT_FALSE(ConfigHeaderMatches(r.emu.configHeader, "JYP51A"));

    // Once the library is repaired the next connection downloads.
    r.WriteStandardLibrary();
    r.emu.rec.Forget();
    r.connection.Run();
    EXPECT_FALSE(r.link.LinkFailed());
    EXPECT_EQ(r.emu.Count(36), 36u);
    EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "JYP51A"));
  }
}

TEST(ConnectionRun, NoPassingTimingValueConnectsWithAWarning) {
  for (int pod : {2, 3, 5, 6, 7}) {
    SCOPED_TRACE(pod);
    RunRig r(pod);
    r.emu.podWord = IdentityWordOf(kPodSlots[static_cast<std::size_t>(pod - 1)].PodCode, 2, 5, 42);
    r.emu.status1 = 0x0003;  // CPU type 3 read steadily, no trial passes
    r.connection.Run();
    EXPECT_FALSE(r.link.LinkFailed());
    EXPECT_EQ(r.clock.Cache().CalValid, 0);
    ASSERT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.ui.boxes[0].kind, MessageKind::Warning);
    EXPECT_EQ(r.ui.boxes[0].text, "No MCU on POD");
  }
  // A passing value connects without a word.
  RunRig ok(2);
  ok.emu.podWord = IdentityWordOf(0x00, 2, 5, 42);
  ok.connection.Run();
  EXPECT_FALSE(ok.link.LinkFailed());
  EXPECT_EQ(ok.clock.Cache().CalValid, 1);
  EXPECT_TRUE(ok.ui.boxes.empty());
}

TEST(ConnectionRun, MonitorHeaderNamesEachPodsCodeAndMonitorKind) {
  // (pod, monitor kind): the kind the monitor the pod runs expects.
  const std::pair<int, int> cases[] = {{1, 3}, {2, 1}, {3, 1}, {4, 3}, {5, 1},
                                       {6, 1}, {7, 1}, {8, 2}, {9, 2}, {10, 0}};
  for (const auto& [pod, kind] : cases) {
    SCOPED_TRACE(pod);
    RunRig r(pod);
    const std::uint8_t code = kPodSlots[static_cast<std::size_t>(pod - 1)].PodCode;
    r.emu.podWord = IdentityWordOf(code, 2, 5, 42);
    r.connection.Run();
    EXPECT_FALSE(r.link.LinkFailed());
    EXPECT_EQ(r.emu.param[4], code);
    EXPECT_EQ(r.emu.param[5], kind);
    // A pod whose monitor kind differs from the header's gets its monitor again.
    r.emu.param[5] = static_cast<std::uint8_t>(kind + 1);
    r.emu.param[8] = static_cast<std::uint8_t>(r.emu.param[8] + 1);
    r.emu.rec.Forget();
    r.connection.Run();
    EXPECT_GT(r.emu.Count(17), 0u);
    EXPECT_EQ(r.emu.param[5], kind);
  }
}

TEST(ConnectionRun, NoEmulatorEndsAfterTheDialogWithKind1) {
  RunRig r(1);
  r.emu.rec.Pipes().readOpenFailures = fake::FakeUsbPipes::kAlways;
  r.connection.Run();
  EXPECT_TRUE(r.link.LinkFailed());
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(r.dialog.captions.size(), 1u);
  EXPECT_TRUE(r.emu.rec.Sent().empty());
}

}  // namespace
}  // namespace kz
