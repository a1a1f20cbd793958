#include <gtest/gtest.h>

#include <map>

#include "config/PrjOpt.h"
#include "connect/FailureText.h"
#include "connect/umessage.h"
#include "fakes/FakeUi.h"
#include "unit/config/ConfigTestFiles.h"
#include "unit/config/MdbBuilder.h"

namespace kz {
namespace {

using test::TestCpu;
using test::TestVendor;

constexpr std::uint32_t Pod(int n) {
  return n == 10 ? 1u << 16 : 1u << (n - 1);
}
const std::string kChipGbk = "\xD0\xBE\xC6\xAC";  // "芯片" in GBK
const std::string kChip51 =
    "\xD0\xBE\xC6\xAC"
    "51";

// CPUs 1..3 of Alpha, 4..5 of the GBK-named vendor, 6 of Gamma.
std::vector<TestVendor> SampleVendors() {
  return {{"Alpha", {{"A1", Pod(1) | Pod(2)}, {"A2", Pod(2)}, {"A3", Pod(9)}}},
          {kChipGbk, {{"B1", Pod(1), 0, 0, 0x80}, {kChip51, Pod(2) | Pod(10)}}},
          {"Gamma", {{"C1", Pod(8)}}}};
}

// A project dialog over a database in a scratch directory, played by a
// scripted Ui.
struct Rig {
  explicit Rig(const std::vector<TestVendor>& vendors = SampleVendors()) {
    dir.Write(kDeviceDatabaseFileName, test::BuildDatabase(vendors));
    EXPECT_TRUE(db.LoadDeviceDatabase(dir.Prefix()));
  }
  ProjectDialogContext Context() {
    return {ui,
            config,
            db,
            details,
            pods,
            dir.Prefix(),
            &GetMessage,
            [this] { ++clockUpdates; },
            [this] { return failure; }};
  }
  test::ScratchDir dir;
  DeviceDatabase db;
  fake::FakeUi ui;
  TargetConfig config{};
  CpuDetails details;
  PodTable pods = kPodSlots;
  std::string failure;
  int clockUpdates = 0;
};

// Plays a click the way a renderer does: the widget state is already in the
// model, then the event.
void ClickAt(Form& f, int id, int position) {
  f[id].selected = position;
  if (f[id].kind == ControlKind::DropDownList)
    f.OnChange(id);
  else
    f.OnClick(id);
}

TEST(ProjectDialog, FirstStartSelectsTheFirstOfEachList) {
  Rig r;
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  EXPECT_EQ(f[TPrjOptF::kListBoxEmu].items.size(), 10u);
  EXPECT_EQ(f[TPrjOptF::kListBoxEmu].selected, 0);
  EXPECT_EQ(f[TPrjOptF::kListBoxPOD].items.front(), "Pod 51-A");
  EXPECT_EQ(f[TPrjOptF::kListBoxPOD].selected, 0);
  EXPECT_EQ(f.ShownVendors(), (std::vector<int>{1, 2}));
  EXPECT_EQ(f[TPrjOptF::kVendorList].items, (std::vector<std::string>{"Alpha", kChipGbk}));
  EXPECT_EQ(f[TPrjOptF::kVendorList].selected, 0);
  EXPECT_EQ(f.ShownCpus(), (std::vector<int>{1}));
  EXPECT_EQ(f[TPrjOptF::kListBoxCPU].selected, 0);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x10001u);
  EXPECT_EQ(r.details.CpuName, "A1");
  EXPECT_EQ(f.caption, "Emulator option");
  EXPECT_EQ(f[TPrjOptF::kOscStr].text, "0");  // before any correction
  EXPECT_EQ(f[TPrjOptF::kEmulatorPage].caption, "Emulator");
  EXPECT_EQ(f[TPrjOptF::kBtnCPUOpt].caption, "POD Setting");
  EXPECT_EQ(f[TPrjOptF::kVendorSelect].caption, "Select Vendor");
  EXPECT_EQ(r.clockUpdates, 1);
  EXPECT_EQ(f.clientWidth, 452);
  EXPECT_EQ(f.clientHeight, 304);
}

TEST(ProjectDialog, EmulatorNineOffersItsPodsOnly) {
  Rig r;
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  ClickAt(f, TPrjOptF::kListBoxEmu, 8);
  EXPECT_EQ(static_cast<std::int32_t>(r.config.EmulatorIndex), 8);
  EXPECT_EQ(f[TPrjOptF::kListBoxPOD].items,
            (std::vector<std::string>{"Pod 51-K", "Pod 166-A", "Pod ARM-A", "Pod DSP-A"}));
  EXPECT_EQ(static_cast<std::int32_t>(r.config.PodIndex), 9);  // slot 10, the first offered
  EXPECT_EQ(f.SelectedPodNumber(), 10);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x20005u);
  for (int slot = 0; slot < kPodSlotCount; ++slot)
    EXPECT_EQ(r.pods[slot].Listed, slot == 9 || (slot >= 21 && slot <= 23) ? 1 : 0) << slot;
}

TEST(ProjectDialog, VendorChangeKeepsTheCpuNumberUntilACpuIsClicked) {
  Rig r;
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  ClickAt(f, TPrjOptF::kListBoxPOD, 1);  // pod 2: A1, A2 and the GBK vendor's second CPU
  ClickAt(f, TPrjOptF::kListBoxCPU, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x10002u);
  ClickAt(f, TPrjOptF::kVendorList, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x20002u);
  EXPECT_EQ(f.ShownCpus(), (std::vector<int>{5}));
  EXPECT_EQ(f[TPrjOptF::kListBoxCPU].selected, -1);
  ClickAt(f, TPrjOptF::kListBoxCPU, 0);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x20005u);
  EXPECT_EQ(r.details.CpuName, kChip51);
}

TEST(ProjectDialog, ListPositionsThatNameNothingCountAsNoSelection) {
  Rig r;
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  ClickAt(f, TPrjOptF::kListBoxPOD, 1);
  ClickAt(f, TPrjOptF::kListBoxCPU, 50);  // past the list: CPU 0, then the first
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x10001u);
  ClickAt(f, TPrjOptF::kVendorList, 7);  // past the list: vendor 0, then the first
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x10000u + 1);
  ClickAt(f, TPrjOptF::kListBoxPOD, -1);  // no pod: slot 1
  EXPECT_EQ(static_cast<std::int32_t>(r.config.PodIndex), 0);
  ClickAt(f, TPrjOptF::kListBoxEmu, 99);
  EXPECT_EQ(static_cast<std::int32_t>(r.config.EmulatorIndex), 0);
}

TEST(ProjectDialog, VendorsAreTakenByPositionNotByName) {
  Rig r({{"Same", {{"X1", Pod(1)}}}, {"Same", {{"Y1", Pod(1)}, {"Y2", Pod(1)}}}});
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  ClickAt(f, TPrjOptF::kVendorList, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x20001u);  // the CPU is kept
  EXPECT_EQ(f.ShownCpus(), (std::vector<int>{2, 3}));
  ClickAt(f, TPrjOptF::kListBoxCPU, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x20003u);
}

TEST(ProjectDialog, AVendorWithTwoThousandCpusIsListedWhole) {
  std::vector<TestCpu> many;
  for (int i = 1; i <= 2000; ++i) {
    TestCpu cpu;
    cpu.name = std::to_string(i);
    cpu.name.insert(cpu.name.begin(), 'M');
    cpu.podMask = Pod(1);
    many.push_back(cpu);
  }
  Rig r({{"Many", many}});
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  ASSERT_EQ(f.ShownCpus().size(), 2000u);
  ClickAt(f, TPrjOptF::kListBoxCPU, 1999);
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x10000u + 2000);
  EXPECT_EQ(f[TPrjOptF::kListBoxCPU].selected, 1999);
}

TEST(ProjectDialog, NoVendorForThePodKeepsTheSelectionAndWalksNothing) {
  Rig r;
  r.config.PodIndex = 3;                // pod 4: no CPU in the database
  r.config.CpuSelection = 0x00C80007u;  // vendor 200, past the table
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  f.FillProjectDialog();
  EXPECT_TRUE(f[TPrjOptF::kVendorList].items.empty());
  EXPECT_TRUE(f[TPrjOptF::kListBoxCPU].items.empty());
  EXPECT_EQ(static_cast<std::uint32_t>(r.config.CpuSelection), 0x00C80007u);
}

TEST(ProjectDialog, DamagedIndexesMeanTheFirstEntry) {
  for (std::int32_t pod : {40, -1, 1000000, 0x7FFFFFFF}) {
    for (std::int32_t emu : {10, -1, 1000000}) {
      Rig r;
      r.config.PodIndex = pod;
      r.config.EmulatorIndex = emu;
      r.ui.play = [](Form& f) {
        EXPECT_EQ(static_cast<TPrjOptF&>(f).OpeningFamily(), 0);
        return false;
      };
      auto ctx = r.Context();
      TPrjOptF f(ctx);
      EXPECT_FALSE(f.RunProjectDialog());
      EXPECT_EQ(static_cast<std::int32_t>(r.config.PodIndex), 0) << pod;
      EXPECT_EQ(static_cast<std::int32_t>(r.config.EmulatorIndex), 0) << emu;
    }
  }
}

TEST(ProjectDialog, FrequencyTextIsTakenByOkOnly) {
  struct Case {
    const char* text;
    std::int32_t stored;
  };
  const Case cases[] = {{"10000000", 10000000},
                        {"10 MHz", 1234},
                        {"", 1234},
                        {"+5", 5},
                        {"-7", -7},
                        {"0", 0},
                        {" 5", 1234},
                        {"5 ", 1234},
                        {"0x10", 1234},
                        {"2147483647", 2147483647},
                        {"2147483648", 1234},
                        {"-2147483648", -2147483647 - 1},
                        {"99999999999999999999", 1234},
                        {"-", 1234},
                        {"+-1", 1234}};
  for (const Case& c : cases) {
    for (bool ok : {true, false}) {
      Rig r;
      r.config.CrystalHz = 1234;
      r.ui.play = [&](Form& f) {
        f[TPrjOptF::kOscStr].text = c.text;
        return ok;
      };
      auto ctx = r.Context();
      EXPECT_EQ(TPrjOptF(ctx).RunProjectDialog(), ok);
      EXPECT_EQ(static_cast<std::int32_t>(r.config.CrystalHz), ok ? c.stored : 1234) << c.text;
    }
  }
}

// An invalid frequency text skips only the frequency: the family check of OK
// still runs.
TEST(ProjectDialog, FamilyChangeWithOkAndWithCancel) {
  for (bool ok : {true, false}) {
    for (const char* text : {"12000000", "abc"}) {
      Rig r;
      r.config.CrystalHz = 1234;
      r.ui.play = [&](Form& f) {
        ClickAt(f, TPrjOptF::kListBoxPOD, 10);  // the 11th pod for emulator 1: slot 18, family 1
        f[TPrjOptF::kOscStr].text = text;
        return ok;
      };
      auto ctx = r.Context();
      TPrjOptF f(ctx);
      EXPECT_EQ(f.RunProjectDialog(), ok);
      EXPECT_EQ(static_cast<std::int32_t>(r.config.PodIndex), 17);  // Cancel keeps the click
      EXPECT_EQ(r.config.PodFamilyChanged, ok ? 1 : 0) << text;
      EXPECT_EQ(r.clockUpdates, ok ? 2 : 1) << text;  // OK refills, clock update included
      const bool taken = ok && text[0] != 'a';
      EXPECT_EQ(static_cast<std::int32_t>(r.config.CrystalHz), taken ? 12000000 : 1234) << text;
    }
  }
}

TEST(ProjectDialog, CaptionShowsEveryFailure) {
  const std::map<int, std::string> expected = {{0, "Driver: USBD12.DLL not installed"},
                                               {1, "Can not connect USB"},
                                               {2, "Undefine error"},
                                               {3, "Can not found FPGA board"},
                                               {4, "Undefine error"},
                                               {5, "POD not match: Pod 51-H 0042"},
                                               {6, "No MCU on POD"},
                                               {7, "Can not reset MCU on POD"}};
  for (const auto& [kind, text] : expected) {
    Rig r;
    r.failure = ConnectionFailureText(static_cast<std::uint8_t>(kind), "Pod 51-H 0042");
    auto ctx = r.Context();
    TPrjOptF f(ctx);
    f.FillProjectDialog();
    EXPECT_EQ(f.caption, text);
    EXPECT_EQ(f[TPrjOptF::kProjectOption].selected, 0);
  }
}

TEST(ProjectDialog, OptionButtonOpensTheDialogOfThePodsKind) {
  const std::map<int, std::string> expected = {
      {1, "TCPU_O02F"}, {2, "TCPU_00AF"}, {3, "TCPU_00AF"},  {4, ""},
      {5, "TCPU_00AF"}, {6, "TCPU_00AF"}, {7, "TCPU_00AF"},  {8, "TCPU_O03F"},
      {9, "TCPU_O0B"},  {10, ""},         {18, "TCPU_O04F"}, {22, ""}};
  for (const auto& [pod, dialog] : expected) {
    Rig r;
    r.config.PodIndex = pod - 1;
    std::string opened;
    r.ui.play = [&](Form& f) {
      if (std::string(f.ClassName()) == "TPrjOptF") {
        f.OnClick(TPrjOptF::kBtnCPUOpt);
        return false;
      }
      opened = f.ClassName();
      EXPECT_EQ(f.caption, "POD Setting");
      return false;
    };
    auto ctx = r.Context();
    TPrjOptF(ctx).RunProjectDialog();
    EXPECT_EQ(opened, dialog) << "pod " << pod;
  }
}

TEST(ProjectDialog, OptionButtonOpensNothingWithoutAPod) {
  Rig r;
  for (auto& slot : r.pods) slot.EmulatorSet = 0;
  int shown = 0;
  r.ui.play = [&](Form& f) {
    ++shown;
    f.OnClick(TPrjOptF::kBtnCPUOpt);
    return true;
  };
  auto ctx = r.Context();
  TPrjOptF f(ctx);
  EXPECT_TRUE(f.RunProjectDialog());
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(f.SelectedPodNumber(), 0);
  EXPECT_TRUE(f[TPrjOptF::kListBoxPOD].items.empty());
}

TEST(ProjectDialog, EveryRunStartsAFreshForm) {
  Rig r;
  std::vector<const Form*> forms;
  r.ui.play = [&](Form& f) {
    forms.push_back(&f);
    EXPECT_EQ(f[TPrjOptF::kOscStr].text,
              std::to_string(static_cast<std::int32_t>(r.config.CrystalHz)));
    f[TPrjOptF::kOscStr].text = "22118400";
    return true;
  };
  ProjectOptions dialog(r.Context());
  EXPECT_TRUE(dialog.RunProjectDialog());
  EXPECT_TRUE(dialog.RunProjectDialog());
  EXPECT_EQ(static_cast<std::int32_t>(r.config.CrystalHz), 22118400);
  EXPECT_EQ(forms.size(), 2u);
}

}  // namespace
}  // namespace kz
