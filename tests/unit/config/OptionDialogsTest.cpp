#include <gtest/gtest.h>

#include <cstring>

#include "config/CPU_00AU.h"
#include "config/CPU_O02U.h"
#include "config/CPU_O03U.h"
#include "config/CPU_O04U.h"
#include "config/CPU_O0BU.h"
#include "connect/umessage.h"
#include "fakes/FakeUi.h"

namespace kz {
namespace {

struct Rig {
  fake::FakeUi ui;
  TargetConfig config{};
  CpuDetails details;
  OptionDialogContext Context() { return {ui, config, details, &GetMessage}; }
  std::uint8_t* Bytes() { return config.CpuOptionBytes; }
};

// A click as a renderer raises it: the state is in the model, then the event.
void Choose(Form& f, int group, int item) {
  f[group].selected = item;
  f.OnClick(group);
}
void Toggle(Form& f, int box) {
  f[box].checked = !f[box].checked;
  f.OnClick(box);
}

// ---- TCPU_00AF -----------------------------------------------------------

TEST(Cpu00AF, LoadsChoicesAndStoresOnOkOnly) {
  struct Case {
    std::uint8_t six, xtal2;
    int shownXdata, shownXtal2;
    int chooseXdata, chooseXtal2;  // -1: leave
    bool ok;
    std::uint8_t six2, xtal22;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 1, 1, true, 1, 1},
      {1, 1, 1, 1, 0, 0, true, 0, 0},
      {1, 0, 1, 0, 0, 1, false, 1, 0},
      // Values no item stands for open as 0; OK stores what the groups show.
      {2, 7, 0, 0, -1, -1, true, 0, 0},
      {2, 0, 0, 0, 1, -1, true, 1, 0},
      {3, 9, 0, 0, -1, -1, false, 3, 9},
  };
  for (const Case& c : cases) {
    Rig r;
    r.config.SixClockMode = c.six;
    r.config.Xtal2Clock = c.xtal2;
    r.ui.play = [&](Form& f) {
      EXPECT_EQ(f[TCPU_00AF::kXDATA].selected, c.shownXdata);
      EXPECT_EQ(f[TCPU_00AF::kXTAL2].selected, c.shownXtal2);
      EXPECT_EQ(f[TCPU_00AF::kXDATA].caption, "P0, P2 function select");
      EXPECT_EQ(f[TCPU_00AF::kXTAL2].items[1], "XTAL2 output clock");
      if (c.chooseXdata >= 0) Choose(f, TCPU_00AF::kXDATA, c.chooseXdata);
      if (c.chooseXtal2 >= 0) Choose(f, TCPU_00AF::kXTAL2, c.chooseXtal2);
      return c.ok;
    };
    TCPU_00AF(r.Context()).Run();
    EXPECT_EQ(r.config.SixClockMode, c.six2);
    EXPECT_EQ(r.config.Xtal2Clock, c.xtal22);
  }
}

// ---- TCPU_O02F -----------------------------------------------------------

TEST(CpuO02F, LoadsEveryFieldAndShowsOnlyTheCpusPeripherals) {
  Rig r;
  r.config.SixClockMode = 1;
  r.config.Xtal2Clock = 0;
  r.config.WatchdogMode = 2;
  r.config.XdataOnEmulator = 0;
  r.config.TargetResetMode = 1;
  r.config.EmulatorResetMode = 1;
  r.config.MonitorPeripheralMask = 0x0F;
  r.details.DetailWord[2] = 0x17F;  // boxes 0..6; bit 8 is not in the low byte
  r.ui.play = [&](Form& f) {
    EXPECT_EQ(f[TCPU_O02F::kSpeed].selected, 1);
    EXPECT_EQ(f[TCPU_O02F::kXTAL2].selected, 0);
    EXPECT_EQ(f[TCPU_O02F::kWDT].selected, 2);
    EXPECT_EQ(f[TCPU_O02F::kXDATAMemory].selected, 1);
    EXPECT_EQ(f[TCPU_O02F::kIRST].selected, 1);
    EXPECT_EQ(f[TCPU_O02F::kORST].selected, 1);
    EXPECT_FALSE(f[TCPU_O02F::kIRST].enabled);  // only while ORST is on item 0
    EXPECT_FALSE(f[TCPU_O02F::kCODEMemory].visible);
    for (int n = 0; n < 8; ++n) {
      EXPECT_EQ(f[TCPU_O02F::kD_D0 + n].checked, n >= 4) << n;
      EXPECT_EQ(f[TCPU_O02F::kD_D0 + n].visible, n < 7) << n;
    }
    EXPECT_EQ(f[TCPU_O02F::kD_D0 + 3].caption, "Disable UART");
    Choose(f, TCPU_O02F::kORST, 0);
    EXPECT_TRUE(f[TCPU_O02F::kIRST].enabled);
    return false;
  };
  const TargetConfig before = r.config;
  TCPU_O02F(r.Context()).Run();
  EXPECT_EQ(std::memcmp(&before, &r.config, sizeof before), 0);  // Cancel stores nothing
}

TEST(CpuO02F, OkStoresEveryControlHiddenBoxesIncluded) {
  Rig r;
  r.config.EmulatorResetMode = 1;
  r.config.TargetResetMode = 2;
  r.config.XdataOnEmulator = 1;
  r.details.DetailWord[2] = 0x7F;  // D_D7 hidden
  r.ui.play = [&](Form& f) {
    Choose(f, TCPU_O02F::kSpeed, 1);
    Choose(f, TCPU_O02F::kXTAL2, 1);
    Choose(f, TCPU_O02F::kWDT, 1);
    Choose(f, TCPU_O02F::kXDATAMemory, 1);
    for (int n = 0; n < 8; ++n) f[TCPU_O02F::kD_D0 + n].checked = n % 2 == 0;
    return true;
  };
  TCPU_O02F(r.Context()).Run();
  EXPECT_EQ(r.config.SixClockMode, 1);
  EXPECT_EQ(r.config.Xtal2Clock, 1);
  EXPECT_EQ(r.config.WatchdogMode, 1);
  EXPECT_EQ(r.config.XdataOnEmulator, 0);
  EXPECT_EQ(r.config.TargetResetMode, 2);  // disabled group, stored value written back
  EXPECT_EQ(r.config.EmulatorResetMode, 1);
  EXPECT_EQ(r.config.MonitorPeripheralMask, 0xAA);  // unchecked boxes 1, 3, 5 and hidden 7
}

// Stored values no item stands for are treated as 0 when the dialog opens:
// the group shows the item of 0, OK stores it, Cancel stores nothing.
TEST(CpuO02F, OutOfRangeValuesOpenAsZero) {
  for (bool ok : {true, false}) {
    Rig r;
    r.config.SixClockMode = 2;
    r.config.Xtal2Clock = 0xFF;
    r.config.WatchdogMode = 5;
    r.config.XdataOnEmulator = 3;
    r.config.TargetResetMode = 9;
    r.config.EmulatorResetMode = 4;
    r.ui.play = [&](Form& f) {
      EXPECT_EQ(f[TCPU_O02F::kSpeed].selected, 0);
      EXPECT_EQ(f[TCPU_O02F::kXTAL2].selected, 0);
      EXPECT_EQ(f[TCPU_O02F::kWDT].selected, 0);
      EXPECT_EQ(f[TCPU_O02F::kXDATAMemory].selected, 1);  // 0: XDATA on the target board
      EXPECT_EQ(f[TCPU_O02F::kIRST].selected, 0);
      EXPECT_EQ(f[TCPU_O02F::kORST].selected, 0);
      EXPECT_TRUE(f[TCPU_O02F::kIRST].enabled);  // ORST on item 0
      return ok;
    };
    const TargetConfig before = r.config;
    TCPU_O02F(r.Context()).Run();
    if (!ok) {
      EXPECT_EQ(std::memcmp(&before, &r.config, sizeof before), 0);
      continue;
    }
    EXPECT_EQ(r.config.SixClockMode, 0);
    EXPECT_EQ(r.config.Xtal2Clock, 0);
    EXPECT_EQ(r.config.WatchdogMode, 0);
    EXPECT_EQ(r.config.XdataOnEmulator, 0);
    EXPECT_EQ(r.config.TargetResetMode, 0);
    EXPECT_EQ(r.config.EmulatorResetMode, 0);
  }
}

// ---- TCPU_O03F -----------------------------------------------------------

TEST(CpuO03F, LoadsGroupsFromTheUcfgBytes) {
  struct Case {
    std::uint8_t ucfg1, ucfg2;
    int wdte, prhi, clkr, rpd, bo25, fosc, sec;
  };
  const Case cases[] = {
      {0x00, 0x7F, 0, 0, 0, 0, 0, 0, 1},  // bits 0..5 all 1: kept, bits 6..7 = 1
      {0x00, 0x3E, 0, 0, 0, 0, 0, 0, 3},  // bit 0 clear: taken as 0xFF
      {0xF9, 0x3F, 1, 1, 1, 1, 1, 1, 0},  {0x04, 0x00, 0, 0, 0, 0, 0, 4, 3},  // UCFG2 taken as 0xFF
      {0x06, 0xBF, 0, 0, 0, 0, 0, -1, 2},
  };
  for (const Case& c : cases) {
    Rig r;
    r.Bytes()[0] = c.ucfg1;
    r.Bytes()[1] = c.ucfg2;
    r.ui.play = [&](Form& f) {
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupWDTE].selected, c.wdte);
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupPRHI].selected, c.prhi);
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupCLKR].selected, c.clkr);
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupRPD].selected, c.rpd);
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupBO25].selected, c.bo25);
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupFOSC].selected, c.fosc);
      EXPECT_EQ(f[TCPU_O03F::kRadioGroupSEC].selected, c.sec);
      return false;
    };
    TCPU_O03F(r.Context()).Run();
    EXPECT_EQ(r.Bytes()[0], c.ucfg1);  // Cancel without a click writes nothing
  }
}

TEST(CpuO03F, ClicksWriteTheRecordAtOnceAndCancelKeepsThem) {
  Rig r;
  r.Bytes()[0] = 0x06;  // oscillator code 6: no item
  r.Bytes()[1] = 0x3F;
  r.Bytes()[2] = 0x5A;
  r.ui.play = [&](Form& f) {
    Choose(f, TCPU_O03F::kRadioGroupWDTE, 1);
    EXPECT_EQ(r.Bytes()[0], 0x86);  // the code without an item stays
    EXPECT_EQ(f[TCPU_O03F::kLabelUCFG1].caption, "UCFG1: 86H (10000110B)");
    Choose(f, TCPU_O03F::kRadioGroupFOSC, 4);
    Choose(f, TCPU_O03F::kRadioGroupCLKR, 1);
    Choose(f, TCPU_O03F::kRadioGroupSEC, 2);
    EXPECT_EQ(f[TCPU_O03F::kLabelUCFG2].caption, "UCFG2: BFH (10111111B)");
    f.OnClick(TCPU_O03F::kBitBtnCPP);  // no action
    return false;
  };
  TCPU_O03F(r.Context()).Run();
  EXPECT_EQ(r.Bytes()[0], 0x8C);
  EXPECT_EQ(r.Bytes()[1], 0xBF);
  EXPECT_EQ(r.Bytes()[2], 0x5A);
}

// ---- TCPU_O04F -----------------------------------------------------------

TEST(CpuO04F, RadioItemsSetTheConfigurationBits) {
  struct Case {
    int group, item;
    std::uint8_t ccb1, ccb2;
  };
  // Every other group on item 0, RadioGroup4 on item 4 ("0 wait states").
  const Case cases[] = {
      {1, 1, 0x01, 0xD4}, {2, 1, 0x04, 0xD4}, {3, 0, 0x00, 0xD4}, {3, 1, 0x02, 0xD0},
      {3, 2, 0x02, 0xD4}, {4, 3, 0x30, 0xD6}, {4, 0, 0x00, 0xD6}, {4, 4, 0x00, 0xD4},
      {5, 1, 0x08, 0xD4}, {6, 1, 0x00, 0xDC}, {7, 3, 0xC0, 0xD4},
  };
  for (const Case& c : cases) {
    Rig r;
    r.Bytes()[1] = 0xD4;  // RadioGroup3 on item 0, RadioGroup4 on item 4
    r.Bytes()[2] = 0x77;
    r.Bytes()[7] = 0x55;
    r.ui.play = [&](Form& f) {
      EXPECT_EQ(f[TCPU_O04F::RadioGroup(4)].selected, 4);
      Choose(f, TCPU_O04F::RadioGroup(c.group), c.item);
      return false;  // the click has written the record already
    };
    TCPU_O04F(r.Context()).Run();
    EXPECT_EQ(r.Bytes()[0], c.ccb1) << c.group << "/" << c.item;
    EXPECT_EQ(r.Bytes()[1], c.ccb2) << c.group << "/" << c.item;
    EXPECT_EQ(r.Bytes()[2], 0x77);
    EXPECT_EQ(r.Bytes()[7], 0);
  }
}

TEST(CpuO04F, LoadsTheControlsFromTheBytes) {
  Rig r;
  std::uint8_t* b = r.Bytes();
  b[0] = 0xD8;  // bit 3, bits 4..5 = 1, bits 6..7 = 3
  b[1] = 0xD2;  // bit 1 set, bit 2 clear: RadioGroup3 on item 1 whatever CCB1 bit 1 holds
  b[3] = 0x01;
  b[6] = 0x80;
  r.ui.play = [&](Form& f) {
    EXPECT_EQ(f[TCPU_O04F::RadioGroup(3)].selected, 1);
    EXPECT_EQ(f[TCPU_O04F::RadioGroup(4)].selected, 1);
    EXPECT_EQ(f[TCPU_O04F::RadioGroup(5)].selected, 1);
    EXPECT_EQ(f[TCPU_O04F::RadioGroup(7)].selected, 3);
    for (int k = 0; k < 32; ++k)
      EXPECT_EQ(f[TCPU_O04F::kCheckBox1 + k].checked, k == 0 || k == 31) << k;
    EXPECT_EQ(f[TCPU_O04F::kLabel1].caption, "CCB1(2018H): D8H (11011000B)");
    EXPECT_EQ(f[TCPU_O04F::kLabel2].caption, "CCB2(201AH): D2H (11010010B)");
    EXPECT_EQ(f[TCPU_O04F::kCheckBox1 + 17].caption, "8800 - 9000");
    EXPECT_EQ(f[TCPU_O04F::kCheckBox1 + 31].caption, "F800 - FFFF");
    EXPECT_EQ(f[TCPU_O04F::kCheckBox35].caption, "use INST");
    EXPECT_EQ(f[TCPU_O04F::RadioGroup(4)].items[0], "1 wait states");
    EXPECT_EQ(f[TCPU_O04F::RadioGroup(3)].items[1], "16-bits mode");
    return true;
  };
  TCPU_O04F(r.Context()).Run();
  EXPECT_EQ(b[0], 0xDA);  // item 1 of RadioGroup3 sets CCB1 bit 1 on the update after OK
  EXPECT_EQ(b[1], 0xD2);
}

TEST(CpuO04F, BlockClicksWaitForTheNextUpdateAndLegendsStay) {
  Rig r;
  r.ui.play = [&](Form& f) {
    f[TCPU_O04F::kCheckBox1 + 16].checked = true;  // CheckBox17
    f[TCPU_O04F::kCheckBox1 + 31].checked = true;  // CheckBox32
    f.OnClick(TCPU_O04F::kCheckBox1 + 31);         // a block click writes nothing
    EXPECT_EQ(r.Bytes()[5], 0);
    Toggle(f, TCPU_O04F::kCheckBox33);
    Toggle(f, TCPU_O04F::kCheckBox34);
    EXPECT_FALSE(f[TCPU_O04F::kCheckBox33].checked);
    EXPECT_TRUE(f[TCPU_O04F::kCheckBox34].checked);
    EXPECT_EQ(r.Bytes()[5], 0x01);
    EXPECT_EQ(r.Bytes()[6], 0x80);
    f[TCPU_O04F::kCheckBox1].checked = true;  // after the last update: dropped by Cancel
    return false;
  };
  TCPU_O04F(r.Context()).Run();
  EXPECT_EQ(r.Bytes()[3], 0);
  EXPECT_EQ(r.Bytes()[5], 0x01);
  EXPECT_EQ(r.Bytes()[6], 0x80);
}

// ---- TCPU_O0B ------------------------------------------------------------

TEST(CpuO0B, BootVectorTextsBothWays) {
  const std::pair<const char*, int> parsed[] = {{"1EH", 0x1E},
                                                {"30", 0x1E},
                                                {"0A5H", 0xA5},
                                                {"300", 0x2C},
                                                {"", 0},
                                                {"1eh", 0x1E},
                                                {"x1y2", 12},
                                                {"H", 0},
                                                {"12345678901234567890123", 203},
                                                {"FFFFFFFFFFFFFFFFFFFFFH", 0xFF}};
  for (const auto& [text, value] : parsed) EXPECT_EQ(ParseBootVector(text), value) << text;
  EXPECT_EQ(BootVectorText(0x1E), "1EH");
  EXPECT_EQ(BootVectorText(0xA5), "0A5H");
  EXPECT_EQ(BootVectorText(0x9F), "9FH");
  EXPECT_EQ(BootVectorText(0x00), "00H");
  for (int v = 0; v < 256; ++v)
    EXPECT_EQ(ParseBootVector(BootVectorText(static_cast<std::uint8_t>(v))), v);
}

TEST(CpuO0B, OscillatorChoicesAndCodes) {
  const std::uint8_t codes[6] = {7, 4, 3, 2, 1, 0};
  for (int choice = 0; choice < 6; ++choice) {
    EXPECT_EQ(FoscCodeOfChoice(choice), codes[choice]);
    EXPECT_EQ(ChoiceOfFoscCode(codes[choice]), choice);
  }
  EXPECT_EQ(ChoiceOfFoscCode(5), 0);
  EXPECT_EQ(ChoiceOfFoscCode(6), 2);
  EXPECT_EQ(FoscCodeOfChoice(-1), 3);
}

TEST(CpuO0B, LoadsTheControlsFromTheRecord) {
  Rig r;
  std::uint8_t* b = r.Bytes();
  b[0] = 0x00;
  b[1] = 0x02;
  b[2] = 0xA5;
  b[3] = 0x01;
  b[11] = 0x05;
  b[16] = 0xEF;  // bit 4 clear: T0 running; bit 6 set: T1 stops
  r.ui.play = [&](Form& f) {
    for (int g : {TCPU_O0B::kRWTDE, TCPU_O0B::kRRPE, TCPU_O0B::kRBO, TCPU_O0B::kRWDSE})
      EXPECT_EQ(f[g].selected, 0);
    EXPECT_EQ(f[TCPU_O0B::kROSC].selected, 5);
    EXPECT_EQ(f[TCPU_O0B::kROSC].items[5], "High frequency crystall 4M-12M");
    EXPECT_EQ(f[TCPU_O0B::kRMC].selected, 1);
    EXPECT_EQ(f[TCPU_O0B::kRCCU].selected, 0);
    EXPECT_EQ(f[TCPU_O0B::kT0R].selected, 0);
    EXPECT_EQ(f[TCPU_O0B::kT1R].selected, 1);
    EXPECT_EQ(f[TCPU_O0B::kBVE].text, "0A5H");
    EXPECT_TRUE(f[TCPU_O0B::kBS].checked);
    EXPECT_TRUE(f[TCPU_O0B::kBVE].enabled);
    EXPECT_TRUE(f[TCPU_O0B::kGEDIS0 + 3].checked);
    EXPECT_FALSE(f[TCPU_O0B::kSPEDIS0 + 3].checked);
    EXPECT_TRUE(f[TCPU_O0B::kMOVCDIS0 + 3].checked);
    EXPECT_EQ(f[TCPU_O0B::kK0 + 7].caption, "1C00-1FFF");
    EXPECT_EQ(f[TCPU_O0B::kLabelUCFG2].caption, "UCFG2: 02H (00000010B)");
    return false;
  };
  TCPU_O0B(r.Context()).RunO0BDialog();
}

TEST(CpuO0B, ClicksMapToTheBytes) {
  Rig r;
  std::uint8_t* b = r.Bytes();
  std::memset(b, 0xEE, 17);
  b[3] = 0;
  r.ui.play = [&](Form& f) {
    f[TCPU_O0B::kBVE].text = "300";
    Choose(f, TCPU_O0B::kROSC, 1);  // watchdog oscillator
    Choose(f, TCPU_O0B::kRWTDE, 1);
    Choose(f, TCPU_O0B::kRRPE, 0);
    Choose(f, TCPU_O0B::kRBO, 0);
    Choose(f, TCPU_O0B::kRWDSE, 0);
    EXPECT_EQ(b[0], 0x84);
    EXPECT_EQ(f[TCPU_O0B::kLabelUCFG1].caption, "UCFG1: 84H (10000100B)");
    Choose(f, TCPU_O0B::kRCCU, 1);
    Choose(f, TCPU_O0B::kRMC, 1);
    EXPECT_EQ(b[1], 0x03);
    Choose(f, TCPU_O0B::kT0R, 1);
    Choose(f, TCPU_O0B::kT1R, 0);
    EXPECT_EQ(b[16], 0xBF);
    Choose(f, TCPU_O0B::kT0R, 0);
    EXPECT_EQ(b[16], 0xAF);
    for (int n = 0; n < 8; ++n) {
      f[TCPU_O0B::kGEDIS0 + n].checked = false;
      f[TCPU_O0B::kSPEDIS0 + n].checked = false;
      f[TCPU_O0B::kMOVCDIS0 + n].checked = false;
    }
    Toggle(f, TCPU_O0B::kMOVCDIS0 + 3);
    for (int i = 4; i < 16; ++i) EXPECT_EQ(b[i], i == 11 ? 0x01 : 0x00) << i;
    // Boot status off: the vector is still parsed, its field disabled.
    EXPECT_EQ(b[3], 0);
    EXPECT_EQ(b[2], 0x2C);
    EXPECT_FALSE(f[TCPU_O0B::kBVE].enabled);
    EXPECT_FALSE(f[TCPU_O0B::kBVS].enabled);
    Toggle(f, TCPU_O0B::kBS);
    EXPECT_EQ(b[3], 1);
    EXPECT_TRUE(f[TCPU_O0B::kBVE].enabled);
    f[TCPU_O0B::kBVE].text = "1EH";  // typed after the last click
    return false;
  };
  TCPU_O0B(r.Context()).RunO0BDialog();
  EXPECT_EQ(b[2], 0x2C);  // Cancel drops the typed vector, keeps the clicks
  EXPECT_EQ(b[3], 1);
}

TEST(CpuO0B, OkTakesTheTypedBootVector) {
  Rig r;
  r.ui.play = [&](Form& f) {
    f[TCPU_O0B::kBVE].text = "0A5H";
    return true;
  };
  TCPU_O0B(r.Context()).RunO0BDialog();
  EXPECT_EQ(r.Bytes()[2], 0xA5);
  EXPECT_EQ(r.Bytes()[16], 0xAF);  // a record of zeros: both timers running
  EXPECT_EQ(r.Bytes()[0], 0x00);   // ROSC "High frequency crystall" is code 0
}

}  // namespace
}  // namespace kz
