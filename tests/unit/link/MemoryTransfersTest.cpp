#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/MemoryTransfers.h"
#include "unit/link/ConnRig.h"

namespace kz {
namespace {

using test::ConnRig;
using test::RecordedProgress;
using test::U16;

struct TransfersRig : ConnRig {
  RecordedProgress progress;
  MemoryTransfers mt{cmd, state, config, progress};
  explicit TransfersRig(int pod = 3) : ConnRig(pod) {}
};

TEST(MemoryTransfersFormat, FourHexDigitsWithLeadingZeroAbove9FFF) {
  EXPECT_EQ(FormatAddress(0), "0000H");
  EXPECT_EQ(FormatAddress(0x9FFF), "9FFFH");
  EXPECT_EQ(FormatAddress(0xA000), "0A000H");
  EXPECT_EQ(FormatAddress(0xFD00), "0FD00H");
}

TEST(MemoryTransfersRanges, FiftySevenCodeBytesGoAsTwoPacketsAtConsecutiveAddresses) {
  TransfersRig r;
  for (int i = 0; i < 57; ++i) r.state.codeImage[0x1234 + i] = static_cast<std::uint8_t>(i + 1);
  r.mt.WriteCodeRange(0x1234, 57);
  const auto sent = r.Sent(65);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][1], 56);
  EXPECT_EQ(U16(sent[0], 2), 0x1234);
  EXPECT_EQ(sent[0][8], 1);
  EXPECT_EQ(sent[0][63], 56);
  EXPECT_EQ(sent[1][1], 1);
  EXPECT_EQ(U16(sent[1], 2), 0x1234 + 56);
  EXPECT_EQ(sent[1][8], 57);
  EXPECT_EQ(r.emu.Sent().size(), 2u);
  EXPECT_EQ(r.progress.opened, 0);
}

TEST(MemoryTransfersRanges, ProgressWindowOpensFromSeventeenSteps) {
  TransfersRig r;
  r.mt.WriteXdataRange(0xF000, 896);
  EXPECT_EQ(r.Sent(66).size(), 16u);
  EXPECT_EQ(r.progress.opened, 1);
  EXPECT_EQ(r.progress.openSteps, 17);
  EXPECT_EQ(r.progress.message, 853);
  EXPECT_EQ(r.progress.range, "0F000H - 0F37FH");
  EXPECT_EQ(r.progress.steps, 16);
  EXPECT_EQ(r.progress.closed, 1);

  TransfersRig small;
  small.mt.WriteXdataRange(0, 895);
  EXPECT_EQ(small.Sent(66).size(), 16u);
  EXPECT_EQ(small.progress.opened, 0);
  EXPECT_EQ(small.progress.steps, 0);
}

TEST(MemoryTransfersRanges, RangeIsCutAtFFFFAndNeverWraps) {
  TransfersRig r;
  r.emu.respond = [](const fake::Packet& c, fake::Packet& rep) {
    if (c[0] != 72) return false;
    for (int i = 0; i < c[1]; ++i) rep[i] = static_cast<std::uint8_t>(0xA0 + i);
    return true;
  };
  r.mt.ReadXdataRange(0xFFF0, 0x100);
  const auto sent = r.Sent(72);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][1], 16);
  EXPECT_EQ(U16(sent[0], 2), 0xFFF0);
  EXPECT_EQ(r.state.xdataImage[0xFFFF], 0xAF);
  EXPECT_EQ(r.state.xdataImage[0x0000], 0);
}

TEST(MemoryTransfersRanges, EmptyOrOutOfSpaceRangesDoNothing) {
  TransfersRig r;
  r.mt.WriteCodeRange(0x10000, 10);
  r.mt.WriteCodeRange(0x100, 0);
  r.mt.ReadXdataRange(0x10000, 2000);
  r.mt.WriteXdataRange(-5, 100);
  EXPECT_TRUE(r.emu.Sent().empty());
  EXPECT_EQ(r.progress.opened, 0);
}

TEST(MemoryTransfersRanges, ReadCodeRangeSendsNothingButStepsTheWindow) {
  TransfersRig r;
  r.mt.ReadCodeRange(0, 2000);
  EXPECT_TRUE(r.emu.Sent().empty());
  EXPECT_EQ(r.progress.openSteps, 36);
  EXPECT_EQ(r.progress.message, 852);
  EXPECT_EQ(r.progress.steps, 36);
  EXPECT_EQ(r.progress.closed, 1);
}

TEST(MemoryTransfersRanges, WritesWaitWhileExecutingButReadRangeOnlySkipsItsPieces) {
  TransfersRig r;
  r.state.executing = true;
  r.mt.WriteCodeRange(0, 2000);
  r.mt.WriteXdataRange(0, 2000);
  EXPECT_EQ(r.progress.opened, 0);
  r.mt.ReadXdataRange(0, 2000);
  EXPECT_TRUE(r.emu.Sent().empty());
  EXPECT_EQ(r.progress.opened, 1);
  EXPECT_EQ(r.progress.closed, 1);
}

TEST(MemoryTransfersRanges, LinkFailureHalfWayStopsPacketsButFinishesTheWindow) {
  TransfersRig r;
  int writes = 0;
  r.emu.respond = [&](const fake::Packet& c, fake::Packet&) {
    if (c[0] == 66 && ++writes == 3) r.emu.Pipes().writeFails = true;
    return false;
  };
  r.mt.WriteXdataRange(0, 1000);  // 18 pieces, 18 steps
  EXPECT_EQ(r.Sent(66).size(), 3u);
  EXPECT_TRUE(r.link.LinkFailed());
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(r.progress.steps, 18);
  EXPECT_EQ(r.progress.closed, 1);
}

TEST(MemoryTransfersRouting, ShadowedRegisterOfPod3NeedsNoExchange) {
  TransfersRig r(3);
  r.state.shadows.ACC = 0x5A;
  r.mt.ReadSfrThroughShadows(0xE0);
  EXPECT_EQ(r.state.dataImage[0xE0], 0x5A);
  EXPECT_TRUE(r.emu.Sent().empty());

  r.mt.ReadSfrThroughShadows(0x90);
  ASSERT_EQ(r.emu.Sent().size(), 1u);
  EXPECT_EQ(r.emu.Sent()[0][0], 75);
  EXPECT_EQ(r.emu.Sent()[0][1], 1);
  EXPECT_EQ(U16(r.emu.Sent()[0], 2), 0x90);

  r.mt.ReadSfrThroughShadows(0x30);  // below 80h: idata read
  EXPECT_EQ(r.emu.Sent().back()[0], 74);
}

TEST(MemoryTransfersRouting, WriteGoesToShadowOrChipByPod) {
  TransfersRig r(1);
  r.state.dataImage[0xA2] = 0x11;
  r.mt.WriteSfrThroughShadows(0xA2);  // shadowed for pod 1
  EXPECT_EQ(r.state.shadows.SfrA2, 0x11);
  EXPECT_TRUE(r.emu.Sent().empty());
  r.state.dataImage[0xF0] = 0x22;
  r.mt.WriteSfrThroughShadows(0xF0);  // B is not shadowed for pod 1
  ASSERT_EQ(r.emu.Sent().size(), 1u);
  EXPECT_EQ(r.emu.Sent()[0][0], 69);
  EXPECT_EQ(r.emu.Sent()[0][8], 0x22);
  r.state.dataImage[0x10] = 0x33;
  r.mt.WriteSfrThroughShadows(0x10);
  EXPECT_EQ(r.emu.Sent().back()[0], 68);
}

// Every address of every pod: the monitor's registers are served from the
// shadows without an exchange, everything else is read from the emulator.
TEST(MemoryTransfersRouting, ShadowedAddressesOfEveryPod) {
  const std::vector<std::vector<int>> shadowed = {
      {0x00, 0x82, 0x83, 0xA2, 0xD0, 0xE0},                                      // pod 1
      {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0},                                // pod 2
      {0x00, 0x82, 0x83, 0x88, 0xA2, 0xA8, 0xC8, 0xD0, 0xE0, 0xF0},              // pod 3
      {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0},                                // pod 4
      {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0},                                // pod 5
      {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0},                                // pod 6
      {0x00, 0x82, 0x83, 0xA8, 0xD0, 0xE0, 0xF0},                                // pod 7
      {0x00, 0x01, 0x02, 0x03, 0x81, 0x82, 0x83, 0xD0, 0xE0},                    // pod 8
      {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x81, 0x82, 0x83, 0x88, 0xD0, 0xE0},  // pod 9
  };
  for (int pod = 1; pod <= 9; ++pod) {
    TransfersRig r(pod);
    const auto& owned = shadowed[static_cast<std::size_t>(pod - 1)];
    for (int a = 0; a < 256; ++a) {
      const bool isShadowed = std::find(owned.begin(), owned.end(), a) != owned.end();
      const std::size_t before = r.emu.Sent().size();
      r.mt.ReadSfrThroughShadows(static_cast<std::uint8_t>(a));
      EXPECT_EQ(r.emu.Sent().size() - before, isShadowed ? 0u : 1u)
          << "pod " << pod << " address " << a;
    }
  }
}

TEST(MemoryTransfersRouting, PodWithoutRowDoesNothing) {
  TransfersRig r(10);
  r.state.dataImage[0xE0] = 0x77;
  r.state.shadows.ACC = 0x01;
  r.mt.ReadSfrThroughShadows(0xE0);
  r.mt.ReadSfrThroughShadows(0x90);
  r.mt.WriteSfrThroughShadows(0x90);
  EXPECT_TRUE(r.emu.Sent().empty());
  EXPECT_EQ(r.state.dataImage[0xE0], 0x77);
}

TEST(MemoryTransfersRefresh, Pod9ReadsCurrentBankAndRestoresSavedRegisters) {
  TransfersRig r(9);
  r.emu.respond = [](const fake::Packet& c, fake::Packet& rep) {
    if (c[0] == 79) {
      // ACC, PSW, TCON, PC hi, PC lo, SP, DPH, DPL, R0..R5
      rep = fake::MakePacket(
          {0x01, 0x08, 0x00, 0x12, 0x34, 0x07, 0, 0, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5});
      return true;
    }
    if (c[0] == 74) {
      for (int i = 0; i < c[1]; ++i) rep[i] = 0xEE;  // what the monitor left in RAM
      return true;
    }
    if (c[0] == 75) {
      rep[0] = 0x99;
      return true;
    }
    return false;
  };
  r.mt.RefreshAfterStop();
  const auto reads = r.Sent(74);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0][1], 8);
  EXPECT_EQ(U16(reads[0], 2), 0x08);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(r.state.dataImage[i], 0xB0 + i) << i;
    EXPECT_EQ(r.state.idataImage[i], 0xB0 + i) << i;
  }
  EXPECT_EQ(r.state.dataImage[0x08], 0xEE);
  ASSERT_EQ(r.Sent(75).size(), 1u);
  EXPECT_EQ(U16(r.Sent(75)[0], 2), 0xF0);
  EXPECT_EQ(r.state.shadows.B, 0x99);
}

TEST(MemoryTransfersRefresh, EachPodRestoresItsSavedRegistersAndRereadsB) {
  struct Case {
    int pod;
    int r0At;   // where command 79 reports R0 for the pod
    int saved;  // R0.. that the monitor saved for the user program
    bool rereadsB;
  };
  const Case cases[] = {{1, 6, 1, true}, {8, 7, 4, true}, {9, 8, 6, true}, {3, 7, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pod);
    TransfersRig r(c.pod);
    r.emu.respond = [&](const fake::Packet& cmd, fake::Packet& rep) {
      if (cmd[0] == 79) {
        rep = fake::MakePacket({0, 0x10});  // PSW: bank 2
        for (int i = 0; i < 8; ++i) rep[static_cast<std::size_t>(c.r0At + i)] = 0xB0 + i;
        return true;
      }
      if (cmd[0] == 74) {
        for (int i = 0; i < cmd[1]; ++i) rep[static_cast<std::size_t>(i)] = 0xEE;
        return true;
      }
      if (cmd[0] == 75) {
        rep[0] = 0x99;
        return true;
      }
      return false;
    };
    r.mt.RefreshAfterStop();
    for (int i = 0; i < 8; ++i) {
      const std::uint8_t want = i < c.saved ? 0xB0 + i : 0;
      EXPECT_EQ(r.state.dataImage[static_cast<std::size_t>(i)], want) << i;
      EXPECT_EQ(r.state.idataImage[static_cast<std::size_t>(i)], want) << i;
    }
    EXPECT_EQ(r.state.dataImage[0x10], 0xEE);  // the current bank as the chip holds it
    EXPECT_EQ(r.Sent(75).size(), c.rereadsB ? 1u : 0u);
    if (c.rereadsB) {
      EXPECT_EQ(r.state.shadows.B, 0x99);
    }
  }
}

TEST(MemoryTransfersRefresh, OtherPodsRestoreOnlyR0AndSkipB) {
  TransfersRig r(3);
  r.emu.respond = [](const fake::Packet& c, fake::Packet& rep) {
    if (c[0] == 79) {
      // ACC, PSW, A2, DPH, DPL, PC lo, PC hi, R0, ...
      rep = fake::MakePacket({0, 0x10, 0, 0, 0, 0, 0, 0xC0});
      return true;
    }
    if (c[0] == 74) {
      for (int i = 0; i < c[1]; ++i) rep[i] = 0xEE;
      return true;
    }
    return false;
  };
  r.mt.RefreshAfterStop();
  EXPECT_EQ(U16(r.Sent(74)[0], 2), 0x10);
  EXPECT_EQ(r.state.dataImage[0], 0xC0);
  EXPECT_TRUE(r.Sent(75).empty());
}

TEST(MemoryTransfersBreakpoint, WritesOneByteAndAdvancesTheTransferAddress) {
  TransfersRig r;
  r.state.executing = true;  // allowed while executing
  r.mt.WriteBreakpointByte(0x4321, 4);
  ASSERT_EQ(r.Sent(70).size(), 1u);
  const auto p = r.Sent(70)[0];
  EXPECT_EQ(p[1], 1);
  EXPECT_EQ(U16(p, 2), 0x4321);
  EXPECT_EQ(p[8], 4);
  EXPECT_EQ(r.state.transferAddress, 0x4322);
}

TEST(MemoryTransfersPieces, ReadPiecesUse64BytePackets) {
  TransfersRig r;
  r.state.transferAddress = 0x100;
  r.mt.ReadXdataPiece(130);
  const auto sent = r.Sent(72);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0][1], 64);
  EXPECT_EQ(sent[2][1], 2);
  EXPECT_EQ(U16(sent[2], 2), 0x180);
  EXPECT_EQ(r.state.transferAddress, 0x182);
}

TEST(MemoryTransfersPieces, NothingAfterTheLinkFailed) {
  TransfersRig r;
  r.link.Fail(kErrorUsb);
  r.mt.WriteCodeRange(0, 2000);
  r.mt.ReadSfrThroughShadows(0x90);
  r.mt.RefreshAfterStop();
  r.mt.WriteBreakpointByte(0, 4);
  EXPECT_TRUE(r.emu.Sent().empty());
  EXPECT_EQ(r.progress.opened, 0);
}

}  // namespace
}  // namespace kz
