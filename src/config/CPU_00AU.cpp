#include "config/CPU_00AU.h"

namespace kz {

TCPU_00AF::TCPU_00AF(const OptionDialogContext& ctx) : ctx_(ctx) {
  const MessageFn m = ctx_.message;
  clientWidth = 300;
  clientHeight = 2 * RadioGroupHeight(2) + 68;
  caption = m(871);
  AddRadioGroup(*this, kXDATA, "XDATA", {8, 8, 284, RadioGroupHeight(2)}, m(1213),
                {m(1214), m(1215)});
  AddRadioGroup(*this, kXTAL2, "XTAL2", {8, 16 + RadioGroupHeight(2), 284, RadioGroupHeight(2)},
                m(1641), {m(1642), m(1643)});
  AddButtonStrip(*this, m, clientHeight - 33, clientWidth - 8);
}

void TCPU_00AF::Run() {
  TargetConfig& rec = ctx_.config;
  (*this)[kXDATA].selected = ItemOrZero(rec.SixClockMode, 2);
  (*this)[kXTAL2].selected = ItemOrZero(rec.Xtal2Clock, 2);
  if (!ctx_.ui.RunModal(*this)) return;
  rec.SixClockMode = (*this)[kXDATA].selected == 1 ? 1 : 0;
  rec.Xtal2Clock = (*this)[kXTAL2].selected == 1 ? 1 : 0;
}

}  // namespace kz
