// Every emulator command, byte for byte, against a recording emulator.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/TargetConfig.h"
#include "fakes/FakeUsbPipes.h"
#include "link/CommandSet.h"

namespace kz {
namespace {

using fake::MakePacket;
using fake::Packet;
using fake::RecordingEmulator;

// Bytes a command does not set keep what was in the packet; this pattern makes
// every such byte visible.
Packet StalePattern() {
  Packet p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(0xA5 ^ (i * 7));
  return p;
}

Packet With(Packet p, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) p[at++] = b;
  return p;
}

class CommandSetTest : public ::testing::Test {
 protected:
  RecordingEmulator emu;
  Transport link{emu.Pipes()};
  EmulatorState state;
  TargetConfig config{};
  CommandSet cmds{link, state, config};

  void SetUp() override {
    state.AllocateImages();
    link.Open();
    ASSERT_FALSE(link.LinkFailed());
    emu.Forget();
    link.Command() = StalePattern();
  }
  void SetPod(int pod) { config.PodIndex = pod - 1; }
  // The one packet the last command sent.
  Packet Sent() {
    EXPECT_EQ(emu.Sent().size(), 1u);
    return emu.Sent().empty() ? Packet{} : emu.Sent().back();
  }
  // Sent packet = the stale pattern with `bytes` at `at` and the code in byte 0.
  void ExpectSent(std::uint8_t code, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    Packet want = With(StalePattern(), at, bytes);
    want[0] = code;
    EXPECT_EQ(Sent(), want);
    EXPECT_FALSE(link.LinkFailed());
  }
};

// ---- commands that only send ---------------------------------------------

TEST_F(CommandSetTest, CodeOnlyCommandsSetByteZeroOnly) {
  const std::pair<std::uint8_t, std::function<void()>> cases[] = {
      {16, [&] { cmds.ScanIdle(); }},
      {77, [&] { cmds.Step(); }},
      {78, [&] { cmds.Run(); }},
      {83, [&] { cmds.OptionAccess(); }},
  };
  for (const auto& [code, send] : cases) {
    SCOPED_TRACE(int{code});
    emu.Forget();
    link.Command() = StalePattern();
    send();
    ExpectSent(code, 1, {});
  }
}

TEST_F(CommandSetTest, ParameterCommands) {
  cmds.SetClockClass(3, 40);
  ExpectSent(81, 1, {3, 40});

  emu.Forget();
  link.Command() = StalePattern();
  cmds.WriteOptionByte(1, 0x5A);
  ExpectSent(84, 1, {1, 0x5A});

  emu.Forget();
  link.Command() = StalePattern();
  cmds.FillMemoryMap(0x1234, 0x0FFF, 7);  // the count goes twice
  ExpectSent(76, 1, {0xFF, 0x34, 0x12, 0xFF, 0x0F, 7});

  emu.Forget();
  link.Command() = StalePattern();
  cmds.FillMemoryMap(0xF000, 4096, 1);
  ExpectSent(76, 1, {0x00, 0x00, 0xF0, 0x00, 0x10, 1});
}

TEST_F(CommandSetTest, WriteConfigurationSendsFourLittleEndianWords) {
  state.W = {0x1234, 0xABCD, 0x0001, 0x8000};
  cmds.WriteConfiguration();
  ExpectSent(9, 1, {0x34, 0x12, 0xCD, 0xAB, 0x01, 0x00, 0x00, 0x80});
}

TEST_F(CommandSetTest, ConfigurationEchoedByStatusRoundTrips) {
  std::array<std::uint8_t, 8> held{};
  emu.respond = [&](const Packet& c, Packet& r) {
    if (c[0] == 9) std::copy_n(c.begin() + 1, 8, held.begin());
    if (c[0] != 10) return false;
    r = MakePacket({0x08, 0x00, 0x34, 0x12});
    std::copy(held.begin(), held.end(), r.begin() + 4);
    return true;
  };
  const std::array<std::uint16_t, 4> words = {0x0102, 0xFEDC, 0x0018, 0x7FFF};
  state.W = words;
  cmds.WriteConfiguration();
  state.W = {};
  cmds.ReadStatus(true);
  EXPECT_EQ(state.W, words);
  EXPECT_EQ(state.status[0], 0x0008);
  EXPECT_EQ(state.status[1], 0x1234);
  ASSERT_EQ(emu.Sent().size(), 2u);
  // Command 10 sets nothing but its code: it carries command 9's words along.
  Packet want = emu.Sent()[0];
  want[0] = 10;
  EXPECT_EQ(emu.Sent()[1], want);
}

TEST_F(CommandSetTest, ShortStatusKeepsTheConfigurationWords) {
  emu.Script(MakePacket({0x09, 0x00, 0x02, 0x01, 1, 2, 3, 4, 5, 6, 7, 8}));
  state.W = {11, 22, 33, 44};
  cmds.ReadStatus(false);
  ExpectSent(10, 1, {});
  EXPECT_EQ(state.status[0], 0x0009);
  EXPECT_EQ(state.status[1], 0x0102);
  EXPECT_EQ(state.W, (std::array<std::uint16_t, 4>{11, 22, 33, 44}));
}

TEST_F(CommandSetTest, ProgramClockCarriesTheRegisterImage) {
  std::array<std::uint8_t, 23> regs{};
  for (std::size_t i = 0; i < regs.size(); ++i) regs[i] = static_cast<std::uint8_t>(0x40 + i);
  cmds.ProgramClock(2, regs);
  Packet want = StalePattern();
  want[0] = 14;
  want[1] = 2;
  std::copy(regs.begin(), regs.end(), want.begin() + 16);
  EXPECT_EQ(Sent(), want);
}

TEST_F(CommandSetTest, ControlStoresReplyByteZero) {
  emu.Script(MakePacket({0x3C, 0x99}));
  cmds.Control(2, 0x04);
  ExpectSent(15, 1, {2, 0x04});
  EXPECT_EQ(state.control, 0x3C);
}

TEST_F(CommandSetTest, PagePieceAlwaysCopiesFortyEightBytes) {
  std::array<std::uint8_t, 48> src{};
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(200 - i);
  cmds.LoadPagePiece(96, 20, src.data());
  Packet want = With(StalePattern(), 0, {17, 96, 20});
  std::copy(src.begin(), src.end(), want.begin() + 16);
  EXPECT_EQ(Sent(), want);
}

TEST_F(CommandSetTest, StorePageFillerIsIndexPlusTwo) {
  cmds.StorePage(0x2080);
  Packet want{};
  want[0] = 18;
  want[1] = 0x80;
  want[2] = 0x20;
  for (std::size_t n = 3; n < 64; ++n) want[n] = static_cast<std::uint8_t>(n + 2);
  EXPECT_EQ(Sent(), want);
  EXPECT_EQ(Sent()[3], 5);
  EXPECT_EQ(Sent()[63], 65);
}

TEST_F(CommandSetTest, ConfigHeaderWriteAndRead) {
  for (std::size_t i = 0; i < 32; ++i) state.configHeader[i] = static_cast<std::uint8_t>(0x60 + i);
  cmds.WriteConfigHeader();
  Packet want = StalePattern();
  want[0] = 37;
  std::copy(state.configHeader.begin(), state.configHeader.end(), want.begin() + 1);
  EXPECT_EQ(Sent(), want);

  emu.Forget();
  Packet reply{};
  for (std::size_t i = 0; i < 64; ++i) reply[i] = static_cast<std::uint8_t>(i ^ 0x3F);
  emu.Script(reply);
  cmds.ReadConfigHeader();
  want[0] = 38;  // the header bytes of command 37 stay in the packet
  EXPECT_EQ(Sent(), want);
  for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(state.configHeader[i], reply[i]) << i;
}

// ---- identification and parameter memory --------------------------------

TEST_F(CommandSetTest, IdentifyAcceptsOnlyV1) {
  cmds.Identify();
  ExpectSent(1, 1, {});
  EXPECT_FALSE(link.LinkFailed());

  for (Packet bad : {MakePacket({0x56, 0x32}), MakePacket({0x76, 0x31}), MakePacket({})}) {
    emu.Forget();
    link.SetLinkFailed(false);
    link.SetErrorKind(kErrorNone);
    emu.Script(bad);
    cmds.Identify();
    EXPECT_EQ(emu.Sent().size(), 1u);
    EXPECT_TRUE(link.LinkFailed());
    EXPECT_EQ(link.ErrorKindValue(), kErrorUsb);
  }
}

TEST_F(CommandSetTest, ParameterByteWriteAndRead) {
  state.paramMirror[0x123] = 0x5A;
  cmds.WriteParamByte(0x123);
  EXPECT_EQ(Sent()[16], 0x5A);
  Packet want = With(StalePattern(), 0, {2, 0x23, 0x01});
  want[16] = 0x5A;
  EXPECT_EQ(Sent(), want);

  emu.Forget();
  emu.Script(MakePacket({0x77, 0x88}));
  cmds.ReadParamByte(0x0110);
  want = With(want, 0, {3, 0x10, 0x01});
  EXPECT_EQ(Sent(), want);
  EXPECT_EQ(state.paramMirror[0x110], 0x77);
}

TEST_F(CommandSetTest, ParameterReadOnFailedLinkStoresTheStaleReplyByte) {
  link.Reply()[0] = 0x42;
  link.SetLinkFailed(true);
  cmds.ReadParamByte(7);
  cmds.WriteParamByte(7);
  EXPECT_EQ(emu.Pipes().writeCalls, 0);
  EXPECT_EQ(state.paramMirror[7], 0x42);
}

TEST_F(CommandSetTest, ParameterIndexBeyondTheMirrorIsHarmless) {
  emu.Script(MakePacket({0x11}));
  cmds.ReadParamByte(0xFFFF);
  cmds.WriteParamByte(0xFFFF);
  ASSERT_EQ(emu.Sent().size(), 2u);
  EXPECT_EQ(emu.Sent()[1][16], 0);  // nothing to take from the mirror
  EXPECT_FALSE(link.LinkFailed());
}

TEST_F(CommandSetTest, IdentityBlocksTakeSixteenReplyBytes) {
  Packet reply{};
  for (std::size_t i = 0; i < 64; ++i) reply[i] = static_cast<std::uint8_t>(0x80 + i);
  emu.Script(reply);
  emu.Script(With(reply, 0, {9, 9, 9, 9}));
  cmds.ReadEmulatorIdentity();
  cmds.ReadPodIdentity();
  ASSERT_EQ(emu.Sent().size(), 2u);
  EXPECT_EQ(emu.Sent()[0], With(StalePattern(), 0, {4}));
  EXPECT_EQ(emu.Sent()[1], With(StalePattern(), 0, {5}));
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(state.emulatorIdentity[i], reply[i]);
    EXPECT_EQ(state.podIdentity[i], i < 4 ? 9 : reply[i]);
  }
}

// ---- scan chain ------------------------------------------------------------

TEST_F(CommandSetTest, ScanCommandsAnswer81hAfterAnExchange) {
  EXPECT_FALSE(cmds.QueryLogicConfigured());  // default reply byte 0 is 0
  emu.Script(MakePacket({0x02}));
  EXPECT_TRUE(cmds.QueryLogicConfigured());
  ASSERT_EQ(emu.Sent().size(), 2u);
  EXPECT_EQ(emu.Sent()[1], With(StalePattern(), 0, {32}));

  emu.Forget();
  link.Command() = StalePattern();
  EXPECT_EQ(cmds.ResetScanChain(), kScanDone);
  ExpectSent(33, 1, {});

  emu.Forget();
  link.Command() = StalePattern();
  EXPECT_EQ(cmds.InstructionScan(5, 0x1F), kScanDone);
  ExpectSent(34, 1, {5, 0x1F});
}

TEST_F(CommandSetTest, DataScanCopiesWholeBytesFromByteSixteen) {
  const std::array<std::uint8_t, 60> src = {0x11, 0x22, 0x33, 0x44};
  emu.Script(MakePacket({0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(cmds.DataScan(20, src.data()), kScanDone);
  Packet want = With(StalePattern(), 0, {35, 20, 0});
  want = With(want, 16, {0x11, 0x22, 0x33});
  EXPECT_EQ(Sent(), want);
  EXPECT_EQ(link.Reply()[0], 0xDE);
  EXPECT_EQ(link.Reply()[3], 0xEF);

  // 384 bits fill the packet; a larger count still copies no more than fits.
  std::array<std::uint8_t, 60> full{};
  full.fill(0x5C);
  for (std::uint16_t bits : {384, 1000}) {
    emu.Forget();
    link.Command() = StalePattern();
    EXPECT_EQ(cmds.DataScan(bits, full.data()), kScanDone);
    Packet sent = Sent();
    for (std::size_t i = 16; i < 64; ++i) EXPECT_EQ(sent[i], 0x5C);
    EXPECT_EQ(sent[1], bits & 0xFF);
    EXPECT_EQ(sent[2], bits >> 8);
  }
}

TEST_F(CommandSetTest, DataScanPieceCarriesBytesFromByteEight) {
  std::array<std::uint8_t, 56> src{};
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(cmds.DataScanPiece(1, 100, src.data()), kScanDone);
  Packet want = With(StalePattern(), 0, {36, 1, 100, 0, 13});
  std::copy_n(src.begin(), 13, want.begin() + 8);
  EXPECT_EQ(Sent(), want);

  emu.Forget();
  EXPECT_EQ(cmds.DataScanPiece(2, 448, src.data()), kScanDone);
  want = With(want, 0, {36, 2, 0xC0, 0x01, 56});
  std::copy(src.begin(), src.end(), want.begin() + 8);
  EXPECT_EQ(Sent(), want);

  // A longer piece is clipped to what fits, and its count byte says so.
  emu.Forget();
  EXPECT_EQ(cmds.DataScanPiece(1, 1000, src.data()), kScanDone);
  want = With(want, 0, {36, 1, 0xE8, 0x03, 56});
  EXPECT_EQ(Sent(), want);
}

// ---- memory blocks ---------------------------------------------------------

TEST_F(CommandSetTest, FiftySixByteWriteBlocksFillTheRestOfThePacket) {
  for (std::size_t i = 0; i < 0x10000; ++i) {
    state.codeImage[i] = static_cast<std::uint8_t>(i);
    state.xdataImage[i] = static_cast<std::uint8_t>(~i);
  }
  const std::pair<std::uint8_t, std::function<void()>> blocks[] = {
      {65, [&] { cmds.WriteCodeBlock(56, 0x1234); }},
      {66, [&] { cmds.WriteXdataBlock(56, 0x1234); }},
  };
  for (const auto& [code, send] : blocks) {
    SCOPED_TRACE(int{code});
    emu.Forget();
    send();
    Packet want = With(StalePattern(), 0, {code, 56, 0x34, 0x12});
    for (std::size_t i = 0; i < 56; ++i)
      want[8 + i] = code == 65 ? state.codeImage[0x1234 + i] : state.xdataImage[0x1234 + i];
    EXPECT_EQ(Sent(), want);
  }
}

TEST_F(CommandSetTest, ShortWriteBlockLeavesTheTailStale) {
  state.codeImage[0x0100] = 0xAA;
  state.codeImage[0x0101] = 0xBB;
  cmds.WriteCodeBlock(2, 0x0100);
  Packet want = With(StalePattern(), 0, {65, 2, 0x00, 0x01});
  want = With(want, 8, {0xAA, 0xBB});
  EXPECT_EQ(Sent(), want);
}

TEST_F(CommandSetTest, DataAndIdataWriteBlocksTakeTheRightImage) {
  state.dataImage[0x7E] = 1;
  state.dataImage[0x7F] = 2;
  state.dataImage[0x80] = 0xD0;  // an SFR: not what idata 80h holds
  state.idataImage[0x80] = 3;
  state.idataImage[0x81] = 4;
  state.idataImage[0x7E] = 0xEE;
  cmds.WriteIdataBlock(4, 0x7E);
  EXPECT_EQ(Sent(), With(With(StalePattern(), 0, {68, 4, 0x7E, 0}), 8, {1, 2, 3, 4}));

  emu.Forget();
  link.Command() = StalePattern();
  state.dataImage[0xE0] = 0x12;
  state.dataImage[0xE1] = 0x34;
  cmds.WriteDataBlock(2, 0xE0);
  EXPECT_EQ(Sent(), With(With(StalePattern(), 0, {69, 2, 0xE0, 0}), 8, {0x12, 0x34}));
}

TEST_F(CommandSetTest, BreakpointBytesRepeatTheValue) {
  cmds.WriteBreakpointBytes(1, 0xABCD, 4);
  EXPECT_EQ(Sent(), With(StalePattern(), 0,
                         {70, 1, 0xCD, 0xAB, StalePattern()[4], StalePattern()[5],
                          StalePattern()[6], StalePattern()[7], 4}));
  emu.Forget();
  link.Command() = StalePattern();
  cmds.WriteBreakpointBytes(3, 0x0010, 0);
  EXPECT_EQ(Sent(), With(With(StalePattern(), 0, {70, 3, 0x10, 0x00}), 8, {0, 0, 0}));
}

TEST_F(CommandSetTest, SixtyFourByteReadFillsTheImageFromTheWholeReply) {
  Packet reply{};
  for (std::size_t i = 0; i < 64; ++i) reply[i] = static_cast<std::uint8_t>(0x30 + i);
  emu.Script(reply);
  state.xdataImage[0x2000 + 64] = 0x99;
  cmds.ReadXdataBlock(64, 0x2000);
  ExpectSent(72, 1, {64, 0x00, 0x20});
  for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(state.xdataImage[0x2000 + i], reply[i]) << i;
  EXPECT_EQ(state.xdataImage[0x2000 + 64], 0x99);
  EXPECT_EQ(state.xdataImage[0x1FFF], 0);
}

TEST_F(CommandSetTest, ReadDataBlockFillsTheDataImage) {
  emu.Script(MakePacket({0xA1, 0xA2, 0xA3}));
  state.idataImage[0xE0] = 0x55;
  cmds.ReadDataBlock(3, 0xE0);
  ExpectSent(75, 1, {3, 0xE0, 0x00});
  EXPECT_EQ(state.dataImage[0xE0], 0xA1);
  EXPECT_EQ(state.dataImage[0xE2], 0xA3);
  EXPECT_EQ(state.dataImage[0xE3], 0);
  EXPECT_EQ(state.idataImage[0xE0], 0x55);
}

TEST_F(CommandSetTest, ReadIdataAcross80hSplitsBetweenTheImages) {
  Packet reply{};
  for (std::size_t i = 0; i < 16; ++i) reply[i] = static_cast<std::uint8_t>(0x78 + i);
  emu.Script(reply);
  for (std::size_t a = 0; a < 0x80; ++a) state.dataImage[a] = static_cast<std::uint8_t>(a | 0x80);
  state.dataImage[0x80] = 0x5F;   // SFR P0 must not be touched
  state.idataImage[0x10] = 0xEE;  // stale copy, refreshed by the read
  cmds.ReadIdataBlock(16, 0x78);
  ExpectSent(74, 1, {16, 0x78, 0x00});
  for (std::size_t a = 0x78; a < 0x80; ++a) EXPECT_EQ(state.dataImage[a], a) << a;
  for (std::size_t a = 0x80; a < 0x88; ++a) EXPECT_EQ(state.idataImage[a], a) << a;
  EXPECT_EQ(state.dataImage[0x80], 0x5F);
  EXPECT_EQ(state.dataImage[0x87], 0);
  for (std::size_t a = 0; a < 0x80; ++a) EXPECT_EQ(state.idataImage[a], state.dataImage[a]) << a;
}

TEST_F(CommandSetTest, BlocksNeverReachPastTheImages) {
  emu.defaultReply.fill(0x66);
  state.codeImage.assign(0x10000, 0x3C);
  cmds.ReadXdataBlock(64, 0xFFF0);  // only FFF0h..FFFFh exist
  cmds.ReadIdataBlock(64, 0xF0);
  cmds.ReadDataBlock(64, 0xF0);
  cmds.WriteCodeBlock(56, 0xFFF0);
  EXPECT_FALSE(link.LinkFailed());
  EXPECT_EQ(state.xdataImage[0xFFFF], 0x66);
  EXPECT_EQ(state.idataImage[0xFF], 0x66);
  EXPECT_EQ(state.dataImage[0xFF], 0x66);
  ASSERT_EQ(emu.Sent().size(), 4u);
  EXPECT_EQ(emu.Sent()[3][8 + 15], 0x3C);
  EXPECT_EQ(emu.Sent()[3][8 + 16], 0);  // bytes past FFFFh go as 0
}

TEST_F(CommandSetTest, StaleBytesOfOneCommandRideAlongWithTheNext) {
  state.codeImage.assign(0x10000, 0x3C);
  cmds.WriteCodeBlock(56, 0x4000);
  cmds.Identify();
  cmds.ReadStatus(false);
  ASSERT_EQ(emu.Sent().size(), 3u);
  Packet want = emu.Sent()[0];
  want[0] = 1;
  EXPECT_EQ(emu.Sent()[1], want);
  want[0] = 10;
  EXPECT_EQ(emu.Sent()[2], want);
}

// ---- registers ------------------------------------------------------------

RegisterShadows Marked() {
  RegisterShadows s;
  s.ACC = s.B = s.SP = s.PSW = s.DPH = s.DPL = s.TCON = s.T2CON = s.SfrA2 = s.IE = 0xEE;
  s.R.fill(0xEE);
  return s;
}

void ExpectShadows(const RegisterShadows& got, const RegisterShadows& want) {
  EXPECT_EQ(got.ACC, want.ACC);
  EXPECT_EQ(got.B, want.B);
  EXPECT_EQ(got.SP, want.SP);
  EXPECT_EQ(got.PSW, want.PSW);
  EXPECT_EQ(got.DPH, want.DPH);
  EXPECT_EQ(got.DPL, want.DPL);
  EXPECT_EQ(got.TCON, want.TCON);
  EXPECT_EQ(got.T2CON, want.T2CON);
  EXPECT_EQ(got.SfrA2, want.SfrA2);
  EXPECT_EQ(got.IE, want.IE);
  EXPECT_EQ(got.R, want.R);
}

TEST_F(CommandSetTest, ReadRegistersPerPod) {
  // Reply bytes 01h, 02h, ... in layout order; what is not in a pod's layout
  // keeps its EEh mark.
  Packet reply{};
  for (std::size_t i = 0; i < 64; ++i) reply[i] = static_cast<std::uint8_t>(i + 1);
  auto expect = [](std::function<void(RegisterShadows&)> set) {
    RegisterShadows s = Marked();
    set(s);
    return s;
  };
  struct Case {
    int pod;
    RegisterShadows want;
    std::uint32_t pc;
  };
  const RegisterShadows group = expect([](RegisterShadows& s) {
    s.ACC = 1, s.PSW = 2, s.DPH = 3, s.DPL = 4, s.R[0] = 7, s.B = 8, s.IE = 9;
  });
  const Case cases[] = {
      {3, expect([](RegisterShadows& s) {
         s.ACC = 1, s.PSW = 2, s.SfrA2 = 3, s.DPH = 4, s.DPL = 5, s.R[0] = 8, s.TCON = 9,
         s.T2CON = 10, s.B = 11, s.IE = 12;
       }),
       0x0706},
      {2, group, 0x0605},
      {4, group, 0x0605},
      {5, group, 0x0605},
      {6, group, 0x0605},
      {7, group, 0x0605},
      {1, expect([](RegisterShadows& s) {
         s.ACC = 1, s.PSW = 2, s.DPH = 3, s.DPL = 4, s.R[0] = 7, s.SfrA2 = 8;
       }),
       0x0605},
      {8, expect([](RegisterShadows& s) {
         s.ACC = 1, s.PSW = 2, s.SP = 5, s.DPH = 6, s.DPL = 7, s.R[0] = 8, s.R[1] = 9, s.R[2] = 10,
         s.R[3] = 11;
       }),
       0x0304},
      {9, expect([](RegisterShadows& s) {
         s.ACC = 1, s.PSW = 2, s.TCON = 3, s.SP = 6, s.DPH = 7, s.DPL = 8;
         for (std::uint8_t r = 0; r < 6; ++r) s.R[r] = static_cast<std::uint8_t>(9 + r);
       }),
       0x0405},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pod);
    SetPod(c.pod);
    emu.Forget();
    link.Command() = StalePattern();
    state.shadows = Marked();
    state.pcShadow = 0xFFFFFFFF;
    emu.Script(reply);
    cmds.ReadRegisters();
    ExpectSent(79, 1, {});
    ExpectShadows(state.shadows, c.want);
    EXPECT_EQ(state.pcShadow, c.pc);
  }
}

TEST_F(CommandSetTest, WriteRegistersPerPod) {
  RegisterShadows& s = state.shadows;
  s.ACC = 0xA1, s.PSW = 0xD1, s.SfrA2 = 0xA2, s.DPH = 0x83, s.DPL = 0x82, s.TCON = 0xFF,
  s.T2CON = 0xFF, s.B = 0xF0, s.IE = 0xA8, s.SP = 0x81;
  s.R = {0x70, 0x71, 0x72, 0x73, 0x74, 0x75};
  state.pcShadow = 0x1234;
  const std::vector<std::uint8_t> group = {0xA1, 0xD1, 0x83, 0x82, 0x34, 0x12, 0x70, 0xF0, 0xA8};
  const std::pair<int, std::vector<std::uint8_t>> cases[] = {
      // Pod 3 writes back only the timer-run bits of TCON and T2CON.
      {3, {0xA1, 0xD1, 0xA2, 0x83, 0x82, 0x34, 0x12, 0x70, 0x50, 0x04, 0xF0, 0xA8}},
      {2, group},
      {4, group},
      {5, group},
      {6, group},
      {7, group},
      {1, {0xA1, 0xD1, 0x83, 0x82, 0x34, 0x12, 0x70, 0xA2}},
      {8, {0xA1, 0xD1, 0x12, 0x34, 0x81, 0x83, 0x82, 0x70, 0x71, 0x72, 0x73}},
      {9, {0xA1, 0xD1, 0xFF, 0x12, 0x34, 0x81, 0x83, 0x82, 0x70, 0x71, 0x72, 0x73, 0x74, 0x75}},
  };
  for (const auto& [pod, bytes] : cases) {
    SCOPED_TRACE(pod);
    SetPod(pod);
    emu.Forget();
    link.Command() = StalePattern();
    cmds.WriteRegisters();
    Packet want = StalePattern();
    want[0] = 80;
    std::copy(bytes.begin(), bytes.end(), want.begin() + 1);
    EXPECT_EQ(Sent(), want);
  }
  // Pod 3 masks whatever the shadow holds.
  SetPod(3);
  s.TCON = 0xAF;
  s.T2CON = 0xFB;
  emu.Forget();
  cmds.WriteRegisters();
  EXPECT_EQ(Sent()[9], 0x00);
  EXPECT_EQ(Sent()[10], 0x00);
}

TEST_F(CommandSetTest, PodsWithoutRegisterLayoutSendNothing) {
  for (int pod : {0, 10, 40}) {
    SCOPED_TRACE(pod);
    SetPod(pod);
    state.shadows = Marked();
    state.pcShadow = 0x4321;
    emu.Script(MakePacket({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    cmds.ReadRegisters();
    cmds.WriteRegisters();
    EXPECT_EQ(emu.Pipes().writeCalls, 0);
    EXPECT_EQ(link.Command(), StalePattern());
    ExpectShadows(state.shadows, Marked());
    EXPECT_EQ(state.pcShadow, 0x4321u);
    EXPECT_FALSE(link.LinkFailed());
    emu.Forget();
  }
}

// ---- failed link -----------------------------------------------------------

struct Command {
  const char* name;
  std::function<int(CommandSet&)> send;  // result, or -1 for commands without one
};

std::vector<Command> AllCommandsButTwoAndThree() {
  static const std::array<std::uint8_t, 64> src{};
  auto v = [](std::function<void(CommandSet&)> f) {
    return [f](CommandSet& c) {
      f(c);
      return -1;
    };
  };
  return {
      {"1", v([](CommandSet& c) { c.Identify(); })},
      {"4", v([](CommandSet& c) { c.ReadEmulatorIdentity(); })},
      {"5", v([](CommandSet& c) { c.ReadPodIdentity(); })},
      {"9", v([](CommandSet& c) { c.WriteConfiguration(); })},
      {"10", v([](CommandSet& c) { c.ReadStatus(true); })},
      {"14", v([](CommandSet& c) { c.ProgramClock(3, {}); })},
      {"15", v([](CommandSet& c) { c.Control(5, 0); })},
      {"16", v([](CommandSet& c) { c.ScanIdle(); })},
      {"17", v([](CommandSet& c) { c.LoadPagePiece(0, 48, src.data()); })},
      {"18", v([](CommandSet& c) { c.StorePage(0x2000); })},
      {"32", [](CommandSet& c) { return int{c.QueryLogicConfigured()}; }},
      {"33", [](CommandSet& c) { return int{c.ResetScanChain()}; }},
      {"34", [](CommandSet& c) { return int{c.InstructionScan(8, 0xFF)}; }},
      {"35", [](CommandSet& c) { return int{c.DataScan(32, src.data())}; }},
      {"36", [](CommandSet& c) { return int{c.DataScanPiece(0, 32, src.data())}; }},
      {"37", v([](CommandSet& c) { c.WriteConfigHeader(); })},
      {"38", v([](CommandSet& c) { c.ReadConfigHeader(); })},
      {"65", v([](CommandSet& c) { c.WriteCodeBlock(56, 0); })},
      {"66", v([](CommandSet& c) { c.WriteXdataBlock(56, 0); })},
      {"68", v([](CommandSet& c) { c.WriteIdataBlock(16, 0x78); })},
      {"69", v([](CommandSet& c) { c.WriteDataBlock(16, 0x80); })},
      {"70", v([](CommandSet& c) { c.WriteBreakpointBytes(1, 0, 4); })},
      {"72", v([](CommandSet& c) { c.ReadXdataBlock(64, 0); })},
      {"74", v([](CommandSet& c) { c.ReadIdataBlock(64, 0x40); })},
      {"75", v([](CommandSet& c) { c.ReadDataBlock(64, 0xC0); })},
      {"76", v([](CommandSet& c) { c.FillMemoryMap(0, 4096, 1); })},
      {"77", v([](CommandSet& c) { c.Step(); })},
      {"78", v([](CommandSet& c) { c.Run(); })},
      {"79", v([](CommandSet& c) { c.ReadRegisters(); })},
      {"80", v([](CommandSet& c) { c.WriteRegisters(); })},
      {"81", v([](CommandSet& c) { c.SetClockClass(1, 1); })},
      {"83", v([](CommandSet& c) { c.OptionAccess(); })},
      {"84", v([](CommandSet& c) { c.WriteOptionByte(0, 0); })},
  };
}

TEST_F(CommandSetTest, FailedLinkMakesEveryCommandANoOp) {
  SetPod(9);
  state.shadows = Marked();
  Packet reply{};
  reply.fill(0x77);
  link.Reply() = reply;
  state.dataImage.fill(0x11);
  state.idataImage.fill(0x22);
  link.SetLinkFailed(true);
  for (const Command& c : AllCommandsButTwoAndThree()) {
    SCOPED_TRACE(c.name);
    int result = c.send(cmds);
    if (result != -1) {
      EXPECT_EQ(result, 0);
    }
  }
  EXPECT_EQ(emu.Pipes().writeCalls, 0);
  EXPECT_EQ(emu.Pipes().readCalls, 0);
  EXPECT_EQ(link.Command(), StalePattern());
  ExpectShadows(state.shadows, Marked());
  EXPECT_EQ(state.status[0], 0);
  EXPECT_EQ(state.emulatorIdentity[0], 0);
  EXPECT_EQ(state.configHeader[0], 0);
  EXPECT_EQ(state.xdataImage[0], 0);
  EXPECT_EQ(state.dataImage[0xC0], 0x11);
  EXPECT_EQ(state.idataImage[0x40], 0x22);
}

TEST_F(CommandSetTest, FailedLinkCommandsDoNotWaitForTheLock) {
  link.SetLinkFailed(true);
  std::promise<void> held, release;
  std::thread holder([&] {
    std::lock_guard<std::recursive_mutex> hold(link.Lock());
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  auto done = std::async(std::launch::async, [&] {
    for (const Command& c : AllCommandsButTwoAndThree()) c.send(cmds);
  });
  bool returned = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  release.set_value();
  holder.join();
  done.wait();
  EXPECT_TRUE(returned) << "a command waited for the link lock on a failed link";
}

TEST_F(CommandSetTest, ExchangeFailingInsideACommandLeavesTheImages) {
  emu.silent = true;  // the exchange runs out of reads
  state.dataImage.fill(0x11);
  link.Reply().fill(0x99);
  cmds.ReadIdataBlock(16, 0x40);
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(state.dataImage[0x40], 0x11);  // not the stale reply byte

  // The scan commands then report the failure instead of 81h.
  link.SetLinkFailed(false);
  EXPECT_EQ(cmds.ResetScanChain(), 0);
  link.SetLinkFailed(false);
  link.Reply()[0] = 1;
  EXPECT_FALSE(cmds.QueryLogicConfigured());
}

}  // namespace
}  // namespace kz
