#include "config/CPU_O03U.h"

namespace kz {

namespace {

struct BitGroup {
  int id;
  int bit;  // UCFG1 bit set by item 1
};
constexpr BitGroup kBitGroups[] = {
    {TCPU_O03F::kRadioGroupWDTE, 7}, {TCPU_O03F::kRadioGroupPRHI, 5},
    {TCPU_O03F::kRadioGroupCLKR, 3}, {TCPU_O03F::kRadioGroupRPD, 6},
    {TCPU_O03F::kRadioGroupBO25, 4},
};

}  // namespace

TCPU_O03F::TCPU_O03F(const OptionDialogContext& ctx) : ctx_(ctx) {
  const MessageFn m = ctx_.message;
  constexpr int kW = 252, kL = 8, kR = 268;
  const int h2 = RadioGroupHeight(2);
  clientWidth = 528;
  clientHeight = 8 + 5 * (h2 + 6) + 41;
  caption = m(871);
  int y = 8;
  const std::uint16_t texts[5][3] = {
      {881, 882, 883}, {884, 885, 886}, {887, 908, 909}, {890, 891, 892}, {893, 894, 895}};
  const char* names[5] = {"RadioGroupWDTE", "RadioGroupPRHI", "RadioGroupCLKR", "RadioGroupRPD",
                          "RadioGroupBO25"};
  for (int i = 0; i < 5; ++i) {
    AddRadioGroup(*this, kBitGroups[i].id, names[i], {kL, y, kW, h2}, m(texts[i][0]),
                  {m(texts[i][1]), m(texts[i][2])});
    y += h2 + 6;
  }
  y = 8;
  AddRadioGroup(*this, kRadioGroupFOSC, "RadioGroupFOSC", {kR, y, kW, RadioGroupHeight(5)}, m(896),
                {m(897), m(898), m(899), m(900), m(901)});
  y += RadioGroupHeight(5) + 6;
  AddRadioGroup(*this, kRadioGroupSEC, "RadioGroupSEC", {kR, y, kW, RadioGroupHeight(4)}, m(902),
                {m(903), m(904), m(905), m(906)});
  y += RadioGroupHeight(4) + 8;
  Add(kBitBtnCPP, "BitBtnCPP", ControlKind::Button, {kR, y, kW, 28}).caption = m(907);
  y += 36;
  Add(kLabelUCFG1, "LabelUCFG1", ControlKind::Label, {kR, y, kW, 18});
  Add(kLabelUCFG2, "LabelUCFG2", ControlKind::Label, {kR, y + 22, kW, 18});
  AddButtonStrip(*this, m, clientHeight - 33, clientWidth - 8);
}

void TCPU_O03F::Run() {
  ready_ = false;
  const std::uint8_t ucfg1 = ctx_.config.CpuOptionBytes[0];
  std::uint8_t ucfg2 = ctx_.config.CpuOptionBytes[1];
  if ((ucfg2 & 0x3F) != 0x3F) ucfg2 = 0xFF;
  for (const BitGroup& g : kBitGroups) (*this)[g.id].selected = (ucfg1 >> g.bit) & 1;
  // Codes 5..7 name no item: no choice, and the stored code stays.
  (*this)[kRadioGroupFOSC].selected = ItemFor(ucfg1 & 7, 5);
  (*this)[kRadioGroupSEC].selected = ucfg2 >> 6;
  const std::string prefix = ctx_.message(910);
  (*this)[kLabelUCFG1].caption = ByteReadOut(prefix + "1: ", ucfg1);
  (*this)[kLabelUCFG2].caption = ByteReadOut(prefix + "2: ", ucfg2);
  ready_ = true;
  if (ctx_.ui.RunModal(*this)) Update();
}

void TCPU_O03F::Update() {
  if (!ready_) return;
  std::uint8_t* bytes = ctx_.config.CpuOptionBytes;
  unsigned ucfg1 = 0, ucfg2 = 0x3F;
  for (const BitGroup& g : kBitGroups)
    if ((*this)[g.id].selected == 1) ucfg1 |= 1u << g.bit;
  const int fosc = (*this)[kRadioGroupFOSC].selected;
  ucfg1 |= fosc >= 0 ? static_cast<unsigned>(fosc) : bytes[0] & 7u;
  const int sec = (*this)[kRadioGroupSEC].selected;
  ucfg2 |= sec >= 0 ? static_cast<unsigned>(sec) << 6 : bytes[1] & 0xC0u;
  bytes[0] = static_cast<std::uint8_t>(ucfg1);
  bytes[1] = static_cast<std::uint8_t>(ucfg2);
  const std::string prefix = ctx_.message(910);
  (*this)[kLabelUCFG1].caption = ByteReadOut(prefix + "1: ", bytes[0]);
  (*this)[kLabelUCFG2].caption = ByteReadOut(prefix + "2: ", bytes[1]);
}

void TCPU_O03F::OnClick(int id) {
  if (id >= kRadioGroupWDTE && id <= kRadioGroupSEC) Update();
}

}  // namespace kz
