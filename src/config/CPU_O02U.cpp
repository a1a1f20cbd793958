#include "config/CPU_O02U.h"

#include <algorithm>

namespace kz {

TCPU_O02F::TCPU_O02F(const OptionDialogContext& ctx) : ctx_(ctx) {
  const MessageFn m = ctx_.message;
  constexpr int kW = 264, kL = 8, kR = 280;
  const int h2 = RadioGroupHeight(2), h3 = RadioGroupHeight(3);
  clientWidth = 552;
  clientHeight = 8 + 2 * h2 + h3 + h2 + 3 * 8 + 8 + 41;
  caption = m(871);
  int y = 8;
  AddRadioGroup(*this, kSpeed, "Speed", {kL, y, kW, h2}, m(1210), {m(1211), m(1212)});
  y += h2 + 8;
  AddRadioGroup(*this, kXTAL2, "XTAL2", {kL, y, kW, h2}, m(1641), {m(1642), m(1643)});
  y += h2 + 8;
  AddRadioGroup(*this, kWDT, "WDT", {kL, y, kW, h3}, m(1644), {m(1645), m(1646), m(1647)});
  y += h3 + 8;
  AddRadioGroup(*this, kXDATAMemory, "XDATAMemory", {kL, y, kW, h2}, m(877), {m(878), m(879)});
  // Never shown: the code memory always lies where the pod puts it.
  AddRadioGroup(*this, kCODEMemory, "CODEMemory", {kL, y, kW, h2}, m(874), {m(875), m(876)})
      .visible = false;
  y = 8;
  AddRadioGroup(*this, kIRST, "IRST", {kR, y, kW, h3}, m(1683), {m(1684), m(1685), m(1686)});
  y += h3 + 8;
  AddRadioGroup(*this, kORST, "ORST", {kR, y, kW, h2}, m(1687), {m(1688), m(1689)});
  y += h2 + 8;
  Control& off = Add(kOFF, "OFF", ControlKind::GroupBox, {kR, y, kW, 22 + 4 * 22 + 4});
  off.caption = m(1698);
  for (int n = 0; n < 8; ++n) {
    Control& box = Add(kD_D0 + n, "D_D" + std::to_string(n), ControlKind::CheckBox,
                       {kR + 10 + (n / 4) * 126, y + 22 + (n % 4) * 22, 120, 20}, kOFF);
    box.caption = m(static_cast<std::uint16_t>(1690 + n));
  }
  AddButtonStrip(*this, m, clientHeight - 33, clientWidth - 8);
}

void TCPU_O02F::ORSTClick() {
  (*this)[kIRST].enabled = (*this)[kORST].selected == 0;
}

void TCPU_O02F::OnClick(int id) {
  if (id == kORST) ORSTClick();
}

void TCPU_O02F::Run() {
  TargetConfig& rec = ctx_.config;
  // Stored values no item stands for open as 0, as target preparation reads them.
  (*this)[kSpeed].selected = ItemOrZero(rec.SixClockMode, 2);
  (*this)[kXTAL2].selected = ItemOrZero(rec.Xtal2Clock, 2);
  (*this)[kWDT].selected = ItemOrZero(rec.WatchdogMode, 3);
  (*this)[kXDATAMemory].selected = rec.XdataOnEmulator == 1 ? 0 : 1;
  (*this)[kIRST].selected = ItemOrZero(rec.TargetResetMode, 3);
  (*this)[kORST].selected = ItemOrZero(rec.EmulatorResetMode, 2);
  const std::uint32_t shown = ctx_.details.DetailWord[2] & 0xFF;
  for (int n = 0; n < 8; ++n) {
    Control& box = (*this)[kD_D0 + n];
    box.checked = ((rec.MonitorPeripheralMask >> n) & 1) == 0;
    box.visible = ((shown >> n) & 1) != 0;
  }
  ORSTClick();
  if (!ctx_.ui.RunModal(*this)) return;
  // Every group holds a choice from the opening on; hidden boxes count.
  auto store = [this](int id, std::uint8_t& field) {
    field = static_cast<std::uint8_t>(std::max((*this)[id].selected, 0));
  };
  store(kSpeed, rec.SixClockMode);
  store(kXTAL2, rec.Xtal2Clock);
  store(kWDT, rec.WatchdogMode);
  store(kIRST, rec.TargetResetMode);
  store(kORST, rec.EmulatorResetMode);
  rec.XdataOnEmulator = (*this)[kXDATAMemory].selected == 0 ? 1 : 0;
  std::uint8_t mask = 0;
  for (int n = 0; n < 8; ++n)
    if (!(*this)[kD_D0 + n].checked) mask = static_cast<std::uint8_t>(mask | (1u << n));
  rec.MonitorPeripheralMask = mask;
}

}  // namespace kz
