// Register access: the register record behind AG_RegAcc and AG_AllReg, the
// register view's item table, texts and marks, and the hand-over of the view
// at initialisation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fakes/FakeUi.h"
#include "fakes/FakeUsbPipes.h"
#include "fakes/MinimalDatabase.h"
#include "fakes/TempDir.h"
#include "host/Driver.h"
#include "host/Registers.h"
#include "unit/link/ConnRig.h"

namespace kz {
namespace {

// Register access over a recording emulator with an open link.
struct RegsRig : test::ConnRig {
  test::RecordedProgress progress;
  MemoryTransfers mt{cmd, state, config, progress};
  std::atomic<bool> running{false};
  std::atomic<bool> abandon{false};
  std::uint16_t pc16 = 0;
  std::uint32_t* pcCell = nullptr;
  RegisterAccess regs{state, mt, running, abandon, pc16, pcCell};

  explicit RegsRig(int pod = 8) : ConnRig(pod) {}

  RegisterItem& Item(std::uint16_t number) {
    for (auto& it : regs.Items())
      if (it.number == number) return it;
    ADD_FAILURE() << "no item " << number;
    return regs.Items()[0];
  }
  void RefreshView() { regs.ViewGet(nullptr, static_cast<std::int32_t>(0x80000000u)); }
  std::string Show(std::uint16_t number) {
    RegisterItem& it = Item(number);
    regs.ViewGet(&it, 0);
    return it.valueText;
  }
  std::uint8_t ReadByte(std::uint32_t number) {
    std::uint8_t v = 0xEE;
    EXPECT_EQ(regs.RegAcc(1, number, &v), 0);
    return v;
  }
};

TEST(RegistersRecord, LayoutIsTheHostsFortyTwoBytes) {
  RegisterRecord r{};
  r.pc = 0xFF001234u;
  const auto* b = reinterpret_cast<const std::uint8_t*>(&r);
  EXPECT_EQ(b[16], 0x34);
  EXPECT_EQ(b[17], 0x12);
  EXPECT_EQ(b[19], 0xFF);
}

TEST(RegistersRefresh, RebuildsFromShadowsTheBankAndTheChipsSp) {
  RegsRig r(3);  // pod 3 does not shadow SP: it is read from the emulator
  r.state.shadows.PSW = 0x18;
  r.state.shadows.ACC = 0xA5;
  r.state.shadows.B = 0x0B;
  r.state.shadows.DPL = 0x34;
  r.state.shadows.DPH = 0x12;
  for (int i = 0; i < 8; ++i) r.state.dataImage[0x18 + i] = static_cast<std::uint8_t>(0x18 + i);
  r.emu.defaultReply[0] = 0x2F;
  r.pc16 = 0x0456;

  EXPECT_EQ(r.ReadByte(3), 0x1B);
  const auto sp = r.Sent(75);
  ASSERT_EQ(sp.size(), 1u);
  EXPECT_EQ(sp[0][1], 1);
  EXPECT_EQ(test::U16(sp[0], 2), 0x81);
  EXPECT_EQ(r.regs.Record().sp, 0x2F);
  EXPECT_EQ(r.regs.Record().b, 0x0B);
  EXPECT_EQ(r.ReadByte(20), 0xA5);

  std::uint8_t dptr[2] = {};
  EXPECT_EQ(r.regs.RegAcc(1, 24, dptr), 0);
  EXPECT_EQ(dptr[0], 0x34);
  EXPECT_EQ(dptr[1], 0x12);

  std::uint8_t pc[4] = {};
  EXPECT_EQ(r.regs.RegAcc(1, 0x500, pc), 0);
  EXPECT_EQ(LoadLe<std::uint32_t>(pc), 0xFF000456u);
  EXPECT_EQ(r.state.pcShadow, 0x0456u);
  EXPECT_EQ(r.regs.PcAddress(), 0xFF000456u);

  // Unlisted numbers and codes leave the value alone.
  std::uint8_t untouched = 0x77;
  EXPECT_EQ(r.regs.RegAcc(1, 8, &untouched), 0);
  EXPECT_EQ(untouched, 0x77);
  EXPECT_EQ(r.regs.RegAcc(3, 0, &untouched), 3);
  EXPECT_EQ(untouched, 0x77);
}

TEST(RegistersRefresh, ShadowedSpNeedsNoExchangeAndAFailedLinkKeepsTheImage) {
  RegsRig r(8);
  r.state.shadows.SP = 0x44;
  r.state.dataImage[0x81] = 0x07;
  r.regs.Refresh();
  EXPECT_EQ(r.regs.Record().sp, 0x44);
  EXPECT_TRUE(r.emu.Sent().empty());

  RegsRig f(3);
  f.state.dataImage[0x81] = 0x39;
  f.link.Close();  // every later command does nothing
  f.regs.Refresh();
  EXPECT_EQ(f.regs.Record().sp, 0x39);
}

TEST(RegistersWrite, RegisterWritesLandInTheSelectedBankAndShadows) {
  RegsRig r;
  r.state.shadows.PSW = 0x08;  // bank 1
  r.state.dataImage[0] = 0x99;
  r.regs.Refresh();  // writes change the record as the last read left it
  std::uint8_t v = 0x55;
  EXPECT_EQ(r.regs.RegAcc(2, 0, &v), 0);
  EXPECT_EQ(r.state.dataImage[0x08], 0x55);
  EXPECT_EQ(r.state.shadows.R[0], 0x99);  // the R0 shadow follows bank 0's byte
  EXPECT_EQ(r.state.shadows.PSW, 0x08);

  v = 0x3C;
  EXPECT_EQ(r.regs.RegAcc(2, 20, &v), 0);
  EXPECT_EQ(r.state.shadows.ACC, 0x3C);
  std::uint8_t dptr[2] = {0xCD, 0xAB};
  EXPECT_EQ(r.regs.RegAcc(2, 24, dptr), 0);
  EXPECT_EQ(r.state.shadows.DPL, 0xCD);
  EXPECT_EQ(r.state.shadows.DPH, 0xAB);

  r.state.shadows.PSW = 0;
  r.regs.Refresh();
  v = 0x66;
  r.regs.RegAcc(2, 0, &v);
  EXPECT_EQ(r.state.dataImage[0], 0x66);
  EXPECT_EQ(r.state.shadows.R[0], 0x66);
}

TEST(RegistersWrite, PcWriteSetsEveryCopyAndNothingElse) {
  RegsRig r;
  const auto data = r.state.dataImage;
  std::uint8_t pc[4];
  StoreLe<std::uint32_t>(pc, 0xFF00ABCDu);
  EXPECT_EQ(r.regs.RegAcc(2, 0x500, pc), 0);
  EXPECT_EQ(r.regs.PcAddress(), 0xFF00ABCDu);
  EXPECT_EQ(r.state.pcShadow, 0xFF00ABCDu);
  EXPECT_EQ(r.pc16, 0xABCD);
  EXPECT_EQ(static_cast<std::uint32_t>(r.regs.Record().pc), 0xFF00ABCDu);
  EXPECT_EQ(r.state.dataImage, data);
}

TEST(RegistersWrite, UnlistedNumberAnswersZeroAndChangesNothing) {
  RegsRig r;
  r.state.shadows.PSW = 0x10;
  r.state.dataImage[0x81] = 0x21;
  r.regs.Refresh();
  const RegisterRecord before = r.regs.Record();
  const auto data = r.state.dataImage;
  const RegisterShadows shadows = r.state.shadows;
  const std::uint32_t pcShadow = r.state.pcShadow;
  std::uint8_t v[4] = {1, 2, 3, 4};
  EXPECT_EQ(r.regs.RegAcc(2, 8, v), 0);
  EXPECT_EQ(std::memcmp(&before, &r.regs.Record(), sizeof before), 0);
  EXPECT_EQ(r.state.dataImage, data);
  EXPECT_EQ(std::memcmp(&shadows, &r.state.shadows, sizeof shadows), 0);
  EXPECT_EQ(r.state.pcShadow, pcShadow);
}

TEST(RegistersAllReg, WrittenRecordStandsUntilTheFlagIsCleared) {
  RegsRig r;
  r.state.shadows.ACC = 0x11;
  EXPECT_EQ(r.regs.AllReg(1), 0);
  r.regs.Record().acc = 0x22;
  r.regs.Record().R[5] = 0x5A;
  r.regs.Record().carried26[3] = 0xC3;
  EXPECT_EQ(r.regs.AllReg(2), 0);
  EXPECT_TRUE(r.regs.RegistersWritten());
  EXPECT_EQ(r.state.shadows.ACC, 0x22);
  EXPECT_EQ(r.state.dataImage[5], 0x5A);

  // The shadows change (a memory write, say): the host's values still stand.
  r.state.shadows.ACC = 0x33;
  r.state.dataImage[5] = 0x00;
  EXPECT_EQ(r.ReadByte(20), 0x22);
  EXPECT_EQ(r.ReadByte(5), 0x5A);
  EXPECT_EQ(r.regs.Record().carried26[3], 0xC3);

  // What invalidation after a run does: the shadows count again.
  r.regs.RegistersWritten() = false;
  EXPECT_EQ(r.ReadByte(20), 0x33);
  EXPECT_EQ(r.ReadByte(5), 0x00);
  EXPECT_EQ(r.regs.AllReg(0), 3);
  EXPECT_EQ(r.regs.AllReg(7), 3);
}

TEST(RegistersRefusal, RunningOrAbandonKeepsEveryWriterOut) {
  for (int which = 0; which < 2; ++which) {
    RegsRig r;
    r.state.shadows.ACC = 0x11;
    r.RefreshView();
    (which == 0 ? r.running : r.abandon) = true;
    std::uint8_t v = 0x99;
    EXPECT_EQ(r.regs.RegAcc(1, 20, &v), 1);
    EXPECT_EQ(v, 0x99);
    EXPECT_EQ(r.regs.RegAcc(2, 20, &v), 1);
    EXPECT_EQ(r.regs.AllReg(1), 1);
    EXPECT_EQ(r.regs.AllReg(2), 1);
    EXPECT_FALSE(r.regs.RegistersWritten());
    EXPECT_EQ(r.regs.ViewSet(&r.Item(0x10), &v), 0);
    EXPECT_EQ(r.state.shadows.ACC, 0x11);
    EXPECT_EQ(r.regs.ViewCopy().acc, 0x11);
  }
}

TEST(RegistersRefusal, ViewWhileRunningShowsTheLastValuesAndAbandonShowsNothing) {
  RegsRig r;
  r.state.shadows.ACC = 0x11;
  r.RefreshView();
  r.running = true;
  r.state.shadows.ACC = 0x22;
  r.RefreshView();
  EXPECT_EQ(r.Show(0x10), "0x11");

  r.running = false;
  r.abandon = true;
  RegisterItem& a = r.Item(0x10);
  const RegisterItem before = a;
  r.RefreshView();
  r.regs.ViewGet(&a, 0);
  EXPECT_EQ(std::memcmp(&before, &a, sizeof a), 0);
  EXPECT_EQ(r.regs.ViewCopy().acc, 0x11);
}

TEST(RegisterViewTable, ItemsAndGroupsAreTheHostsLines) {
  RegsRig r;
  const auto& g = r.regs.Groups();
  EXPECT_STREQ(g[0].name, "Reg");
  EXPECT_STREQ(g[1].name, "Sys");
  EXPECT_EQ(g[1].zero, 0);
  EXPECT_EQ(g[1].one, 1);

  struct Expect {
    std::uint16_t number;
    const char* name;
    std::uint8_t group;
  };
  const std::vector<Expect> table = {
      {0, "r0   ", 0},    {1, "r1   ", 0},    {2, "r2   ", 0},    {3, "r3   ", 0},
      {4, "r4   ", 0},    {5, "r5   ", 0},    {6, "r6   ", 0},    {7, "r7   ", 0},
      {0x10, "a    ", 1}, {0x11, "b    ", 1}, {0x12, "sp   ", 1}, {0x13, "dptr ", 1},
      {0x14, "PC  $", 1}, {0x100, "psw", 1},  {0x101, "p  ", 1},  {0x102, "f1 ", 1},
      {0x103, "ov ", 1},  {0x104, "rs ", 1},  {0x105, "f0 ", 1},  {0x106, "ac ", 1},
      {0x107, "cy ", 1},  {0x108, "   ", 1},
  };
  const auto& items = r.regs.Items();
  ASSERT_EQ(items.size(), table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    char name[16] = {};
    std::memcpy(name, table[i].name, std::strlen(table[i].name));
    EXPECT_EQ(items[i].one, 1);
    EXPECT_EQ(items[i].zero, 0);
    EXPECT_EQ(items[i].group, table[i].group);
    EXPECT_EQ(items[i].number, table[i].number);
    EXPECT_EQ(std::memcmp(items[i].name, name, 16), 0);  // padded, then zero-filled
    EXPECT_EQ(items[i].isPc, table[i].number == 0x14 ? 1 : 0);
    EXPECT_EQ(items[i].named, i + 1 < table.size() ? 1 : 0);
  }
}

TEST(RegisterViewTexts, EveryItemShowsItsFieldOfTheViewCopy) {
  RegsRig r;
  r.state.shadows.PSW = 0xD1;  // cy, ac, rs = 2, p
  for (int i = 0; i < 8; ++i) r.state.dataImage[0x10 + i] = static_cast<std::uint8_t>(0xA0 + i);
  r.state.shadows.ACC = 0x0F;
  r.state.shadows.B = 0xB0;
  r.state.shadows.SP = 0x5C;
  r.state.shadows.DPH = 0x0A;
  r.state.shadows.DPL = 0xBC;
  r.pc16 = 0x00E1;
  std::uint32_t cell = 0;
  r.pcCell = &cell;
  r.RefreshView();
  EXPECT_EQ(cell, 0xFF0000E1u);

  EXPECT_EQ(r.Show(3), "0xA3");
  EXPECT_EQ(r.Show(0x10), "0x0F");
  EXPECT_EQ(r.Show(0x11), "0xB0");
  EXPECT_EQ(r.Show(0x12), "0x5C");
  EXPECT_EQ(r.Show(0x13), "0x0ABC");
  EXPECT_EQ(r.Show(0x14), "0x00E1");
  EXPECT_EQ(r.Show(0x100), "0xD1");
  EXPECT_EQ(r.Show(0x101), "1  ");
  EXPECT_EQ(r.Show(0x102), "0  ");
  EXPECT_EQ(r.Show(0x104), "2  ");
  EXPECT_EQ(r.Show(0x106), "1  ");
  EXPECT_EQ(r.Show(0x107), "1  ");
  RegisterItem& blank = r.Item(0x108);
  blank.lastValue = 5;
  EXPECT_EQ(r.Show(0x108), "");
  EXPECT_EQ(blank.lastValue, 0u);
}

TEST(RegisterViewMarks, ChangedAndRedrawOverTwoRefreshes) {
  RegsRig r;
  r.state.shadows.ACC = 0x42;
  RegisterItem& a = r.Item(0x10);
  RegisterItem& b = r.Item(0x11);
  a.zeroWord = 0xDEADBEEF;

  r.RefreshView();
  r.Show(0x10);
  r.Show(0x11);
  EXPECT_EQ(a.changed, 1);
  EXPECT_EQ(a.redraw, 1);
  EXPECT_EQ(a.lastValue, 0x42u);
  EXPECT_EQ(a.zeroWord, 0u);
  EXPECT_STREQ(b.valueText, "0x00");  // an empty text is written even when unchanged
  EXPECT_EQ(b.changed, 0);
  EXPECT_EQ(b.redraw, 0);

  // Same values: the change mark is taken back once, with a redraw.
  r.RefreshView();
  r.Show(0x10);
  EXPECT_EQ(a.changed, 0);
  EXPECT_EQ(a.redraw, 1);
  r.Show(0x10);
  EXPECT_EQ(a.changed, 0);
  EXPECT_EQ(a.redraw, 0);

  // An unchanged value keeps its text; a changed one gets a new one.
  std::strcpy(a.valueText, "kept");
  r.Show(0x10);
  EXPECT_STREQ(a.valueText, "kept");
  r.state.shadows.ACC = 0x43;
  r.RefreshView();
  r.Show(0x10);
  EXPECT_STREQ(a.valueText, "0x43");
  EXPECT_EQ(a.changed, 1);
  EXPECT_EQ(a.redraw, 1);
}

TEST(RegisterViewMarks, PcLineIsRedrawnEveryTimeAndNeverMarkedChanged) {
  RegsRig r;
  RegisterItem& pc = r.Item(0x14);
  for (std::uint16_t value : {0x0000, 0x0000, 0x1234, 0x1234, 0xFFFF}) {
    r.pc16 = value;
    r.RefreshView();
    std::strcpy(pc.valueText, "stale");
    r.regs.ViewGet(&pc, 0);
    EXPECT_EQ(pc.redraw, 1) << value;
    EXPECT_EQ(pc.changed, 0) << value;
    EXPECT_EQ(pc.lastValue, value);
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    EXPECT_STREQ(pc.valueText, text);
  }
}

TEST(RegisterViewMarks, OtherSelectorsAndHostItemsLeaveLinesAlone) {
  RegsRig r;
  r.state.shadows.ACC = 0x42;
  r.RefreshView();
  RegisterItem& a = r.Item(0x10);
  a.redraw = 1;
  r.regs.ViewGet(&a, 0x40000000);
  EXPECT_EQ(a.redraw, 1);
  EXPECT_EQ(a.valueText[0], '\0');

  RegisterItem host{};
  host.number = 0x15;
  host.redraw = 1;
  host.lastValue = 7;
  std::strcpy(host.valueText, "host");
  r.regs.ViewGet(&host, 0);
  EXPECT_EQ(host.redraw, 0);
  EXPECT_EQ(host.lastValue, 7u);
  EXPECT_STREQ(host.valueText, "host");
}

TEST(RegisterViewSet, FlagItemsWriteTheirPswFieldOnly) {
  RegsRig r;
  r.state.shadows.PSW = 0x81;
  r.RefreshView();
  std::uint8_t v = 2;
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x104), &v), 1);
  EXPECT_EQ(r.state.shadows.PSW, 0x91);
  v = 0xFE;  // only the field's bits of the shifted value count
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x101), &v), 1);
  EXPECT_EQ(r.state.shadows.PSW, 0x90);
  v = 0;
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x107), &v), 1);
  EXPECT_EQ(r.state.shadows.PSW, 0x10);
  v = 1;
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x103), &v), 1);
  EXPECT_EQ(r.state.shadows.PSW, 0x14);
  EXPECT_EQ(r.regs.Record().psw, 0x14);
}

TEST(RegisterViewFlags, EachFlagItemShowsAndSetsItsOwnPswBits) {
  struct Flag {
    std::uint16_t item;
    std::uint8_t mask;
    const char* shownWhenSet;
  };
  const Flag flags[] = {{0x101, 0x01, "1  "}, {0x102, 0x02, "1  "}, {0x103, 0x04, "1  "},
                        {0x104, 0x18, "3  "}, {0x105, 0x20, "1  "}, {0x106, 0x40, "1  "},
                        {0x107, 0x80, "1  "}};
  for (const Flag& f : flags) {
    SCOPED_TRACE(f.item);
    RegsRig r;
    r.state.shadows.PSW = f.mask;
    r.RefreshView();
    for (const Flag& other : flags)
      EXPECT_EQ(r.Show(other.item), other.item == f.item ? f.shownWhenSet : "0  ") << other.item;

    r.state.shadows.PSW = static_cast<std::uint8_t>(~f.mask);
    r.RefreshView();
    std::uint8_t v = 0xFF;
    EXPECT_EQ(r.regs.ViewSet(&r.Item(f.item), &v), 1);
    EXPECT_EQ(r.state.shadows.PSW, 0xFF);
    v = 0;
    EXPECT_EQ(r.regs.ViewSet(&r.Item(f.item), &v), 1);
    EXPECT_EQ(r.state.shadows.PSW, static_cast<std::uint8_t>(~f.mask));
  }
}

TEST(RegisterViewSet, WritesApplyTheViewCopy) {
  RegsRig r;
  r.pc16 = 0x0100;
  r.RefreshView();
  std::uint8_t dptr[2] = {0x78, 0x56};
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x13), dptr), 1);
  EXPECT_EQ(r.state.shadows.DPL, 0x78);
  EXPECT_EQ(r.state.shadows.DPH, 0x56);
  std::uint8_t sp = 0x60;
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x12), &sp), 1);
  EXPECT_EQ(r.state.dataImage[0x81], 0x60);
  std::uint8_t pc[4];
  StoreLe<std::uint32_t>(pc, 0x0012BEEFu);  // only the low 16 bits count
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x14), pc), 1);
  EXPECT_EQ(r.pc16, 0xBEEF);
  EXPECT_EQ(static_cast<std::uint32_t>(r.regs.Record().pc), 0xFF00BEEFu);
  // The DPTR written first survived the later writes.
  EXPECT_EQ(r.regs.Record().dpl, 0x78);

  const RegisterRecord before = r.regs.Record();
  std::uint8_t v = 9;
  for (std::uint16_t n : {0x15, 0x16}) {
    RegisterItem it{};
    it.number = n;
    EXPECT_EQ(r.regs.ViewSet(&it, &v), 1) << n;
  }
  for (std::uint16_t n : {8, 15, 0x108, 0x200}) {
    RegisterItem it{};
    it.number = n;
    EXPECT_EQ(r.regs.ViewSet(&it, &v), 0) << n;
  }
  EXPECT_EQ(std::memcmp(&before, &r.regs.Record(), sizeof before), 0);
}

TEST(RegisterViewSet, SwitchingTheBankShowsTheNewBanksRegistersAndKeepsBothBanks) {
  RegsRig r;
  for (int i = 0; i < 8; ++i) r.state.dataImage[i] = static_cast<std::uint8_t>(0x30 + i);
  for (int i = 0; i < 8; ++i) r.state.dataImage[0x10 + i] = 0xEE;
  r.RefreshView();
  std::uint8_t v = 0x10;
  EXPECT_EQ(r.regs.ViewSet(&r.Item(0x100), &v), 1);
  for (int i = 0; i < 8; ++i) {
    // Bank 2 is not overwritten with bank 0's values; the record shows bank 2.
    EXPECT_EQ(r.state.dataImage[0x10 + i], 0xEE) << i;
    EXPECT_EQ(r.state.dataImage[i], 0x30 + i) << i;
    EXPECT_EQ(r.regs.Record().R[i], 0xEE) << i;
  }
  // Nothing travelled for the unchanged bytes.
  EXPECT_TRUE(r.Sent(68).empty());
  std::uint8_t r7 = 0x77;
  EXPECT_EQ(r.regs.ViewSet(&r.Item(7), &r7), 1);
  EXPECT_EQ(r.state.dataImage[0x17], 0x77);
  EXPECT_EQ(r.state.dataImage[0x07], 0x37);
}

// ---- the driver: hand-over at initialisation and routing of the view ----

Driver* boundDriver = nullptr;
void KZ_CDECL BoundGet(RegisterItem* item, std::int32_t selector) {
  boundDriver->RegisterViewGet(item, selector);
}
std::int32_t KZ_CDECL BoundSet(RegisterItem* item, void* value) {
  return boundDriver->RegisterViewSet(item, value);
}

struct Handed {
  std::uint32_t code;
  alignas(8) RegisterViewDescriptor view;  // copied during the call; aligned for its pointers
  std::string text;
};
std::vector<Handed> handed;
std::uint32_t KZ_CDECL RecordHandover(std::uint32_t code, void* arg) {
  Handed h{code, {}, {}};
  if (code == 3) h.view = *static_cast<RegisterViewDescriptor*>(arg);
  if (code == 4) h.text = static_cast<const char*>(arg);
  handed.push_back(h);
  return 0;
}

class RegisterViewDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    handed.clear();
    system.commandLine = '"' + dir.DataDirectory() + "host\"";
    pipes.readOpenFailures = fake::FakeUsbPipes::kAlways;
    dir.Write("KZ.MDB", fake::EmptyDatabase());
    driver = std::make_unique<Driver>(Ports{pipes, ui, system});
    boundDriver = driver.get();
    driver->SetRegisterViewFunctions(&BoundGet, &BoundSet);
    ASSERT_TRUE(driver->Startup());
  }
  void TearDown() override { boundDriver = nullptr; }

  fake::TempDir dir;
  fake::FakeUsbPipes pipes;
  fake::FakeUi ui;
  fake::FakeSystem system;
  std::unique_ptr<Driver> driver;
};

TEST_F(RegisterViewDriver, InitialiseHandsTheViewBeforeTheCommandText) {
  Driver& d = *driver;
  d.AgInit(0x312, reinterpret_cast<std::uintptr_t>(&RecordHandover));
  EXPECT_EQ(d.AgInit(0x100, 0), 0);
  ASSERT_EQ(handed.size(), 2u);
  EXPECT_EQ(handed[0].code, 3u);
  EXPECT_EQ(handed[1].code, 4u);
  EXPECT_EQ(handed[1].text, "U $\r");
  const RegisterViewDescriptor& v = handed[0].view;
  EXPECT_EQ(v.groupCount, 2);
  EXPECT_EQ(v.itemCount, 22);
  ASSERT_NE(v.groups, nullptr);
  ASSERT_NE(v.items, nullptr);
  EXPECT_STREQ(v.groups[0].name, "Reg");
  EXPECT_STREQ(v.groups[1].name, "Sys");
  EXPECT_EQ(v.items[12].number, 0x14);
  EXPECT_EQ(v.items[21].number, 0x108);
  EXPECT_EQ(v.get, &BoundGet);
  EXPECT_EQ(v.set, &BoundSet);

  // The host works the view through the functions it was given.
  std::uint32_t cell = 0;
  d.AgInit(0x30F, reinterpret_cast<std::uintptr_t>(&cell));
  d.pc16 = 0x0321;
  d.state.shadows.PSW = 0x81;
  v.get(nullptr, static_cast<std::int32_t>(0x80000000u));
  EXPECT_EQ(cell, 0xFF000321u);
  std::uint8_t rs = 2;
  EXPECT_EQ(v.set(&v.items[17], &rs), 1);
  EXPECT_EQ(d.state.shadows.PSW, 0x91);
  v.get(&v.items[13], 0);
  EXPECT_STREQ(v.items[13].valueText, "0x91");
  d.running = true;
  EXPECT_EQ(v.set(&v.items[17], &rs), 0);
  d.running = false;
  EXPECT_FALSE(d.abandon);
}

TEST_F(RegisterViewDriver, EntryPointsRefuseDuringARunAndResetClearsThePc) {
  Driver& d = *driver;
  std::uint8_t pc[4];
  StoreLe<std::uint32_t>(pc, 0xFF004321u);
  EXPECT_EQ(d.AgRegAcc(2, 0x500, pc), 0);
  EXPECT_EQ(d.registers->PcAddress(), 0xFF004321u);
  d.running = true;
  EXPECT_EQ(d.AgRegAcc(1, 0x500, pc), 1);
  EXPECT_EQ(d.AgAllReg(1, nullptr), 1);
  d.running = false;
  EXPECT_EQ(d.AgAllReg(2, nullptr), 0);
  EXPECT_EQ(d.AgAllReg(9, nullptr), 3);

  d.AgInit(0x100, 0);
  EXPECT_EQ(d.registers->PcAddress(), 0u);
  EXPECT_EQ(static_cast<std::uint32_t>(d.registers->Record().pc), 0u);
  EXPECT_EQ(d.state.pcShadow, 0u);
  EXPECT_EQ(d.pc16, 0);
}

}  // namespace
}  // namespace kz
