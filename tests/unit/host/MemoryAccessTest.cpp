// Target memory access through AG_MemAcc and AG_MemAtt on the virtual
// emulator's firmware: chunk clipping and wrap-around, the shadow and its
// validity, the registers the monitor owns, and the refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "unit/host/DebugRig.h"

namespace kz {
namespace {

using test::DebugRig;
using test::Firmware;

TEST(MemoryAccess, DataBelow80IsReadFromTheEmulatorOnceThenFromTheShadowUntilARun) {
  DebugRig r(Firmware(3));
  for (int i = 0; i < 0x20; ++i) r.pipes.fw.Cpu().iram[0x20 + i] = static_cast<std::uint8_t>(i);
  r.pipes.ResetCounts();
  const auto first = r.Read(0xF0000020u, 0x20);
  EXPECT_EQ(r.pipes.Count(74), 1u);
  EXPECT_EQ(first[5], 5);
  r.pipes.ResetCounts();
  EXPECT_EQ(r.Read(0xF0000020u, 0x20), first);
  EXPECT_EQ(r.pipes.total.load(), 0u);
  // A run changes the target: the next read asks the emulator again.
  r.Load(0, {0x00});  // NOP
  r.Step(1);
  r.pipes.ResetCounts();
  r.Read(0xF0000020u, 0x20);
  EXPECT_EQ(r.pipes.Count(74), 1u);
}

TEST(MemoryAccess, SfrReadsAskTheEmulatorEveryTimeButForTheShadowedRegisters) {
  DebugRig r(Firmware(3));
  r.pipes.fw.Cpu().WriteSfr(0x8A, 0x5C);  // TL0
  for (int pass = 0; pass < 2; ++pass) {
    r.pipes.ResetCounts();
    EXPECT_EQ(r.Read(0xF0000080u, 16)[10], 0x5C);
    // One block read of the 16; pod 3's monitor owns DPL, DPH and TCON,
    // which come from their shadows.
    EXPECT_EQ(r.pipes.Count(75), 1u);
    EXPECT_EQ(r.pipes.total.load(), 1u);
  }
}

// The SFRs come in blocks from the chip; the ones each pod's monitor owns
// while stopped must still show the program's values, not the monitor's.
TEST(MemoryAccess, AWindowOnAllOfDataShowsTheProgramsRegisters) {
  for (const int pod : {1, 3, 8, 9}) {
    SCOPED_TRACE(pod);
    DebugRig r(Firmware(pod));
    r.Load(0, {0x74, 0x12,              // MOV A,#12h
               0x75, 0xF0, 0x34,        // MOV B,#34h
               0x90, 0x56, 0x78,        // MOV DPTR,#5678h
               0x75, 0x81, 0x40,        // MOV SP,#40h
               0x75, 0x88, 0x05,        // MOV TCON,#05h
               0x78, 0x9A, 0x7D, 0xBC,  // MOV R0,#9Ah; MOV R5,#0BCh
               0x00});
    EXPECT_EQ(r.GoUntil(0x0012), 0);
    const auto data = r.Read(0xF0000000u, 0x100);
    const std::pair<std::uint8_t, std::uint8_t> program[] = {
        {0xE0, 0x12}, {0xF0, 0x34}, {0x83, 0x56}, {0x82, 0x78}, {0x81, 0x40},
        {0x88, 0x05}, {0x00, 0x9A}, {0x05, 0xBC}, {0xD0, 0x00}};
    for (const auto& [address, value] : program)
      EXPECT_EQ(data[address], value) << std::hex << int{address};
    // The SFR half read on its own agrees.
    const auto sfrs = r.Read(0xF0000080u, 0x80);
    for (int a = 0x80; a < 0x100; ++a) EXPECT_EQ(sfrs[a - 0x80], data[a]) << std::hex << a;
  }
}

TEST(MemoryAccess, ChunksClipAtTheEndOfEachSpaceAndWrapWithoutTouchingTheBank) {
  struct Case {
    std::uint32_t address;
    std::uint32_t length;
    std::uint32_t transferred;  // buffer positions filled by the first chunk
  };
  // DATA and IDATA end at FFh; XDATA and CODE at FFFFh; PDATA at FFh.
  const Case cases[] = {{0xF00000F0u, 20, 16},
                        {0xF30000F8u, 12, 8},
                        {0x0100FFF0u, 256, 16},
                        {0xFF00FFF0u, 256, 16},
                        {0xFE0000F8u, 16, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    DebugRig r(Firmware(3));
    const auto got = r.Read(c.address, c.length, 0xEE);
    for (std::uint32_t i = c.transferred; i < c.length; ++i)
      EXPECT_EQ(got[i], 0xEE) << "position " << i << " is past the end of the space";
  }
}

TEST(MemoryAccess, XdataWriteAtTheTopStopsAtFFFFAndTheNextChunkStartsAtTheSameBanksOffset) {
  DebugRig r(Firmware(3));
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i + 1);
  EXPECT_EQ(r.Write(0x0100FFF0u, bytes), 0);
  auto& x = r.pipes.fw.Cpu().xdata;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(x[0xFFF0 + i], i + 1);
  // The second chunk (buffer 256..299) lands at 00F0h: offset FFF0h + 100h
  // wraps inside the 16-bit offset, and no bank-1 page was made.
  for (int i = 0; i < 44; ++i) EXPECT_EQ(x[0x00F0 + i], static_cast<std::uint8_t>(257 + i));
  for (int i = 0; i < 0xF0; ++i) ASSERT_EQ(x[i], 0) << i;
  EXPECT_FALSE(r.d->shadow.Exists(257));
  EXPECT_EQ(r.d->state.xdataImage.size(), 0x10000u);
}

TEST(MemoryAccess, AClippedWriteMarksValidOnlyTheBytesItTransferred) {
  DebugRig r(Firmware(3));
  // DATA F0h..FFh written from 20 bytes: 00h..03h were never sent.
  std::vector<std::uint8_t> bytes(20, 0x5A);
  EXPECT_EQ(r.Write(0xF00000F0u, bytes), 0);
  const auto& cells = r.d->shadow.At(512).cells;
  for (int a = 0; a < 4; ++a) EXPECT_EQ(cells[a] & ShadowMemory::kValid, 0) << a;
  // PDATA F8h with 16 bytes: only F8h..FFh, none wrapped to 0000h.
  EXPECT_EQ(r.Write(0xFE0000F8u, std::vector<std::uint8_t>(16, 0x33)), 0);
  const auto& x = r.pipes.fw.Cpu().xdata;
  for (int a = 0xF8; a < 0x100; ++a) EXPECT_EQ(x[a], 0x33);
  for (int a = 0; a < 8; ++a) EXPECT_EQ(x[a], 0);
  for (int a = 0x100; a < 0x108; ++a) EXPECT_EQ(x[a], 0);
  const auto& xcells = r.d->shadow.At(256).cells;
  for (int a = 0; a < 8; ++a) EXPECT_EQ(xcells[a] & ShadowMemory::kValid, 0) << a;
  // A PDATA read of 00h..07h therefore asks the emulator.
  r.pipes.ResetCounts();
  r.Read(0xFE000000u, 8);
  EXPECT_EQ(r.pipes.Count(72), 1u);
}

// DATA 80h and up are the SFRs, also when a write starts below 80h: the
// upper internal RAM (often the stack) stays as it was.
TEST(MemoryAccess, ADataWriteAcross80WritesTheSfrsAndLeavesUpperIdataAlone) {
  for (const int pod : {3, 9}) {  // pod 9's monitor owns SP: it reaches the chip with the next run
    SCOPED_TRACE(pod);
    DebugRig r(Firmware(pod));
    r.Load(0, {0x00});  // NOP
    auto& cpu = r.pipes.fw.Cpu();
    cpu.iram[0x80] = 0x11;
    cpu.iram[0x81] = 0x22;
    EXPECT_EQ(r.Write(0xF000007Fu, {0xA1, 0xB2, 0x3C}), 0);
    EXPECT_EQ(cpu.iram[0x7F], 0xA1);
    EXPECT_EQ(cpu.ReadSfr(0x80), 0xB2);  // P0
    EXPECT_EQ(r.Read(0xF3000080u, 2), (std::vector<std::uint8_t>{0x11, 0x22}));
    EXPECT_EQ(r.Read(0xF0000080u, 2), (std::vector<std::uint8_t>{0xB2, 0x3C}));
    EXPECT_EQ(r.Step(1), 0);
    EXPECT_EQ(r.Read(0xF0000080u, 2), (std::vector<std::uint8_t>{0xB2, 0x3C}));
    EXPECT_EQ(r.Read(0xF3000080u, 2), (std::vector<std::uint8_t>{0x11, 0x22}));
  }
}

// After a run no byte of the shadow may claim to hold the target's value: a
// host looking at the attribute cells, and every read, sees the run's changes.
TEST(MemoryAccess, EveryShadowedByteIsReadAfreshAfterARun) {
  DebugRig r(Firmware(3));
  r.Load(0, {0x75, 0x30, 0x5A,        // MOV 30h,#5Ah
             0x78, 0x80, 0x76, 0xA5,  // MOV R0,#80h; MOV @R0,#0A5h
             0x90, 0x00, 0x10,        // MOV DPTR,#0010h
             0x74, 0x3C, 0xF0,        // MOV A,#3Ch; MOVX @DPTR,A
             0x75, 0x8A, 0x77,        // MOV TL0,#77h
             0x00});
  // Every shadowed space read once: its bytes are valid now.
  r.Read(0xF0000000u, 0x100);
  r.Read(0xF3000080u, 0x80);
  r.Read(0x01000000u, 0x10000);
  EXPECT_EQ(r.GoUntil(0x0010), 0);
  const struct {
    std::uint32_t first;
    std::uint32_t count;
  } shadowed[] = {{0xF0000000u, 0x100}, {0xF3000080u, 0x80}, {0x01000000u, 0x10000}};
  for (const auto& range : shadowed)
    for (std::uint32_t i = 0; i < range.count; ++i) {
      AddressRecord where{range.first + i, 0, 0};
      ASSERT_EQ(r.d->AgMemAtt(2, 0, &where), 0);
      std::uintptr_t cell = 0;
      std::memcpy(&cell, &where, sizeof cell < sizeof where ? sizeof cell : sizeof where);
      if constexpr (sizeof(void*) == 4) cell &= 0xFFFFFFFFu;
      ASSERT_NE(cell, 0u);
      ASSERT_EQ(*reinterpret_cast<const std::uint16_t*>(cell) & ShadowMemory::kValid, 0)
          << std::hex << range.first + i << " still claims the value from before the run";
    }
  const auto data = r.Read(0xF0000000u, 0x100);
  EXPECT_EQ(data[0x30], 0x5A);
  EXPECT_EQ(data[0x8A], 0x77);
  EXPECT_EQ(r.Read(0xF3000080u, 1)[0], 0xA5);
  EXPECT_EQ(r.Read(0x01000010u, 1)[0], 0x3C);
  EXPECT_EQ(r.Read(0xFE000010u, 1)[0], 0x3C);
}

TEST(MemoryAccess, IdataWritesBelow80KeepTheDataShadowInStep) {
  DebugRig r(Firmware(3));
  r.Read(0xF0000030u, 16);  // DATA 30h..3Fh now valid in the shadow
  EXPECT_EQ(r.Write(0xF3000034u, {0xAB}), 0);
  EXPECT_EQ(r.pipes.fw.Cpu().iram[0x34], 0xAB);
  r.pipes.ResetCounts();
  EXPECT_EQ(r.Read(0xF0000034u, 1)[0], 0xAB);
  EXPECT_EQ(r.pipes.total.load(), 0u);
}

TEST(MemoryAccess, RegistersTheMonitorOwnsAreReadAndWrittenThroughTheirShadows) {
  // Pod 9's monitor holds R0..R5 while stopped; the chip shows complements.
  DebugRig r(Firmware(9));
  r.Load(0, {0x78, 0x11, 0x79, 0x22, 0x7D, 0x55, 0x00, 0xE9, 0xFD, 0x00});
  // 0000 MOV R0,#11h; MOV R1,#22h; MOV R5,#55h; NOP; MOV A,R1; MOV R5,A; NOP
  r.Step(4);
  const auto bank = r.Read(0xF0000000u, 8);
  EXPECT_EQ(bank[0], 0x11);
  EXPECT_EQ(bank[1], 0x22);
  EXPECT_EQ(bank[5], 0x55);
  EXPECT_EQ(r.pipes.fw.Cpu().iram[1], static_cast<std::uint8_t>(~0x22));  // the monitor's
  // Writing R1 through DATA reaches the program at the next run.
  EXPECT_EQ(r.Write(0xF0000001u, {0x99}), 0);
  r.Step(2);  // MOV A,R1; MOV R5,A
  EXPECT_EQ(r.Read(0xF0000005u, 1)[0], 0x99);
  EXPECT_EQ(r.Acc(), 0x99);
}

TEST(MemoryAccess, DataWritesBelow20ClearTheRegistersWrittenFlag) {
  struct Case {
    std::uint32_t address;
    bool clears;
  };
  const Case cases[] = {
      {0xF0000005u, true}, {0xF0000025u, false}, {0xF3000010u, true}, {0x01000005u, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    DebugRig r(Firmware(3));
    EXPECT_EQ(r.d->AgAllReg(2, nullptr), 0);
    ASSERT_TRUE(r.d->registers->RegistersWritten());
    EXPECT_EQ(r.Write(c.address, {0x42}), 0);
    EXPECT_EQ(r.d->registers->RegistersWritten().load(), !c.clears);
  }
}

TEST(MemoryAccess, RegisterReadsFollowTheTargetAgainAfterARun) {
  DebugRig r(Firmware(3));
  r.Load(0, {0x74, 0x5A, 0x00});  // MOV A,#5Ah; NOP
  std::uint8_t v = 0x11;
  EXPECT_EQ(r.d->AgRegAcc(2, 20, &v), 0);
  EXPECT_EQ(r.d->AgAllReg(2, nullptr), 0);
  EXPECT_EQ(r.Acc(), 0x11);
  r.Step(1);
  EXPECT_EQ(r.Acc(), 0x5A);  // the written flag went with the run
}

TEST(MemoryAccess, RegisterWritesThroughTheRecordReachTheProgram) {
  struct Case {
    int pod;
    std::uint32_t number;    // AG_RegAcc register number
    std::uint8_t moveToAcc;  // MOV A,Rn
  };
  // R3 is plain RAM for pods 1 and 3 and a monitor-saved register for pod 9;
  // R7 is plain RAM everywhere.
  const Case cases[] = {{1, 3, 0xEB}, {3, 3, 0xEB}, {9, 3, 0xEB}, {1, 7, 0xEF}, {8, 7, 0xEF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pod) + "/" + std::to_string(c.number));
    DebugRig r(Firmware(c.pod));
    r.Load(0, {c.moveToAcc, 0x00});
    r.Acc();  // a read first, as a host does
    std::uint8_t v = 0x5A;
    EXPECT_EQ(r.d->AgRegAcc(2, c.number, &v), 0);
    r.Step(1);
    EXPECT_EQ(r.Acc(), 0x5A);
  }
}

TEST(MemoryAccess, CodeSpaceForcedByCodes3And4) {
  DebugRig r(Firmware(3));
  std::vector<std::uint8_t> b = {1, 2, 3};
  AddressRecord rec{0x00001234u, 0, 0};
  EXPECT_EQ(r.d->AgMemAcc(3, b.data(), &rec, 3), 0);
  EXPECT_EQ(r.pipes.fw.Cpu().code[0x1234], 1);
  EXPECT_EQ(r.pipes.fw.Cpu().xdata[0x1234], 0);
  std::vector<std::uint8_t> back(3, 0);
  AddressRecord rec2{0x01001234u, 0x99, 0};
  EXPECT_EQ(r.d->AgMemAcc(4, back.data(), &rec2, 3), 0);
  EXPECT_EQ(back, b);
  EXPECT_EQ(rec2.result, 0u);
}

TEST(MemoryAccess, RefusalsAndHostInputThatCannotBeServed) {
  DebugRig r(Firmware(3));
  std::uint8_t b[4] = {9, 9, 9, 9};
  AddressRecord rec{0xF0000000u, 0x77, 0};
  // Length 0 and an unknown space: refused, the buffer untouched.
  EXPECT_EQ(r.d->AgMemAcc(1, b, &rec, 0), 2);
  EXPECT_EQ(rec.result, 2u);
  AddressRecord odd{0x42000000u, 0x77, 0};
  EXPECT_EQ(r.d->AgMemAcc(2, b, &odd, 4), 5);
  EXPECT_EQ(odd.result, 5u);
  EXPECT_EQ(r.d->AgMemAcc(1, b, nullptr, 4), 2);
  EXPECT_EQ(r.d->AgMemAcc(1, nullptr, &rec, 4), 2);
  EXPECT_EQ(r.d->AgMemAcc(7, b, &rec, 4), 3);
  EXPECT_EQ(b[0], 9);
  // While running: 1, nothing done.
  r.d->running = true;
  EXPECT_EQ(r.d->AgMemAcc(1, b, &rec, 4), 1);
  EXPECT_EQ(r.d->AgMemAtt(1, 0, &rec), 1);
  r.d->running = false;
  EXPECT_EQ(r.d->AgMemAtt(1, 0, nullptr), 1);
}

TEST(MemoryAttributes, SetMergesAndClearsMarkersCellAddressNeedsAPage) {
  DebugRig r(Firmware(3));
  std::uint32_t a = 0xFF000100u;
  BreakpointRecord bp = test::HostBreakpoint(0x0100);
  ASSERT_NE(r.d->AgBreakFunc(1, 0, &a, &bp), nullptr);
  AddressRecord rec{0xFF000100u, 0x55, 1};
  EXPECT_EQ(r.d->AgMemAtt(1, 0, &rec), 0);
  EXPECT_EQ(rec.result, 0u);
  std::uint16_t* cell = r.d->memory->AttributeCell(0xFF000100u);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(*cell & 0x0F, 7);  // 0 stands for 7; the break marker is gone
  AddressRecord where{0xFF000100u, 0, 0};
  EXPECT_EQ(r.d->AgMemAtt(2, 0, &where), 0);
  std::uintptr_t got = 0;
  std::memcpy(&got, &where, sizeof got < sizeof where ? sizeof got : sizeof where);
  if constexpr (sizeof(void*) == 4) got &= 0xFFFFFFFFu;
  EXPECT_EQ(got, reinterpret_cast<std::uintptr_t>(cell));
  AddressRecord bank1{0xFF010100u, 0, 0};
  EXPECT_EQ(r.d->AgMemAtt(2, 0, &bank1), 0);
  EXPECT_EQ(bank1.address, 0u);
}

}  // namespace
}  // namespace kz
