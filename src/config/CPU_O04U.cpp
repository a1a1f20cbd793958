#include "config/CPU_O04U.h"

#include <algorithm>
#include <cstdio>

namespace kz {

TCPU_O04F::TCPU_O04F(const OptionDialogContext& ctx) : ctx_(ctx) {
  const MessageFn m = ctx_.message;
  caption = m(871);
  Add(kPanel1, "Panel1", ControlKind::Panel, {8, 8, 412, 8 * 22 + 10});
  for (int k = 0; k < 32; ++k) {
    char text[16];
    if (k == 17)
      std::snprintf(text, sizeof text, "8800 - 9000");  // the form has always read so
    else
      std::snprintf(text, sizeof text, "%04X - %04X", k * 0x800, k * 0x800 + 0x7FF);
    Add(kCheckBox1 + k, "CheckBox" + std::to_string(k + 1), ControlKind::CheckBox,
        {14 + (k / 8) * 102, 14 + (k % 8) * 22, 100, 20}, kPanel1)
        .caption = text;
  }
  Control& onTarget = Add(kCheckBox33, "CheckBox33", ControlKind::CheckBox, {8, 200, 136, 20});
  onTarget.caption = "Space on target";
  Control& onEmulator = Add(kCheckBox34, "CheckBox34", ControlKind::CheckBox, {148, 200, 136, 20});
  onEmulator.caption = "Space on emulator";
  onEmulator.checked = true;
  Add(kCheckBox35, "CheckBox35", ControlKind::CheckBox, {288, 200, 132, 20});
  const std::string bits = m(918), waits = m(921);
  struct Group {
    std::string caption;
    std::vector<std::string> items;
  };
  const Group groups[7] = {
      {m(915), {m(931), m(930)}},
      {m(916), {"WRL and WRH", "WR and BHE"}},
      {m(917), {"8-" + bits, "16-" + bits, m(919)}},
      {m(920), {"1 " + waits, "2 " + waits, "3 " + waits, m(922), "0 " + waits}},
      {m(923), {"ADV", "ALE"}},
      {m(924), {m(931), m(930)}},
      {m(925), {m(926), m(927), m(928), m(922)}},
  };
  // Two columns right of the block map: groups 1, 2, 3, 5 and groups 4, 6, 7.
  const int columnOf[7] = {0, 0, 0, 1, 0, 1, 1};
  int y[2] = {8, 8};
  for (int n = 0; n < 7; ++n) {
    const int col = columnOf[n];
    const int h = RadioGroupHeight(static_cast<int>(groups[n].items.size()));
    AddRadioGroup(*this, RadioGroup(n + 1), "RadioGroup" + std::to_string(n + 1),
                  {428 + col * 188, y[col], 180, h}, groups[n].caption, groups[n].items);
    y[col] += h + 6;
  }
  Add(kLabel1, "Label1", ControlKind::Label, {8, 230, 412, 18});
  Add(kLabel2, "Label2", ControlKind::Label, {8, 252, 412, 18});
  clientWidth = 804;
  clientHeight = std::max(y[0], y[1]) + 2 + 41;
  AddButtonStrip(*this, m, clientHeight - 33, clientWidth - 8);
}

void TCPU_O04F::Run() {
  ready_ = false;
  const std::uint8_t* b = ctx_.config.CpuOptionBytes;
  const std::uint8_t ccb1 = b[0], ccb2 = b[1];
  const std::uint32_t map = b[3] | b[4] << 8 | b[5] << 16 | static_cast<std::uint32_t>(b[6]) << 24;
  for (int k = 0; k < 32; ++k) (*this)[kCheckBox1 + k].checked = ((map >> k) & 1) != 0;
  (*this)[kCheckBox35].caption = ctx_.message(929);
  (*this)[RadioGroup(1)].selected = ccb1 & 1;
  (*this)[RadioGroup(2)].selected = (ccb1 >> 2) & 1;
  (*this)[RadioGroup(3)].selected = (ccb2 & 4) == 0 ? 1 : (ccb1 & 2) != 0 ? 2 : 0;
  (*this)[RadioGroup(4)].selected = (ccb2 & 2) != 0 ? (ccb1 >> 4) & 3 : 4;
  (*this)[RadioGroup(5)].selected = (ccb1 >> 3) & 1;
  (*this)[RadioGroup(6)].selected = (ccb2 >> 3) & 1;
  (*this)[RadioGroup(7)].selected = ccb1 >> 6;
  (*this)[kLabel1].caption = ByteReadOut("CCB1(2018H): ", ccb1);
  (*this)[kLabel2].caption = ByteReadOut("CCB2(201AH): ", ccb2);
  ready_ = true;
  if (ctx_.ui.RunModal(*this)) Update();
}

void TCPU_O04F::Update() {
  if (!ready_) return;
  auto item = [this](int n) { return (*this)[RadioGroup(n)].selected; };
  unsigned ccb1 = 0, ccb2 = 0xD0;
  std::uint32_t map = 0;
  if (item(1) == 1) ccb1 |= 1;
  if (item(3) == 1 || item(3) == 2) ccb1 |= 2;
  if (item(2) == 1) ccb1 |= 4;
  if (item(5) == 1) ccb1 |= 8;
  if (item(4) >= 0 && item(4) <= 3) {
    ccb1 |= static_cast<unsigned>(item(4)) << 4;
    ccb2 |= 2;
  }
  if (item(7) >= 0) ccb1 |= static_cast<unsigned>(item(7)) << 6;
  if (item(3) == 0 || item(3) == 2) ccb2 |= 4;
  if (item(6) == 1) ccb2 |= 8;
  for (int k = 0; k < 32; ++k)
    if ((*this)[kCheckBox1 + k].checked) map |= 1u << k;
  (*this)[kCheckBox35].caption = ctx_.message(929);
  (*this)[kLabel1].caption = ByteReadOut("CCB1(2018H): ", static_cast<std::uint8_t>(ccb1));
  (*this)[kLabel2].caption = ByteReadOut("CCB2(201AH): ", static_cast<std::uint8_t>(ccb2));
  std::uint8_t* b = ctx_.config.CpuOptionBytes;
  b[0] = static_cast<std::uint8_t>(ccb1);
  b[1] = static_cast<std::uint8_t>(ccb2);
  for (int i = 0; i < 4; ++i) b[3 + i] = static_cast<std::uint8_t>(map >> (8 * i));
  b[7] = 0;
}

void TCPU_O04F::OnClick(int id) {
  // The two legend boxes keep their marks.
  if (id == kCheckBox33) (*this)[kCheckBox33].checked = false;
  if (id == kCheckBox34) (*this)[kCheckBox34].checked = true;
  const bool group = id >= RadioGroup(1) && id <= RadioGroup(7) && (id - kRadioGroup1) % 10 == 0;
  if (group || id == kCheckBox33 || id == kCheckBox34 || id == kCheckBox35) Update();
}

}  // namespace kz
