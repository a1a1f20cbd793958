#include "config/FormParts.h"

namespace kz {

Control& AddRadioGroup(Form& form, int id, const std::string& name, Bounds bounds,
                       const std::string& caption, std::vector<std::string> items, int parent) {
  Control& c = form.Add(id, name, ControlKind::RadioGroup, bounds, parent);
  c.caption = caption;
  c.items = std::move(items);
  return c;
}

void AddButtonStrip(Form& form, MessageFn message, int y, int rightEdge) {
  constexpr int kW = 75, kH = 25, kGap = 6;
  const int helpX = rightEdge - kW;
  const int cancelX = helpX - kGap - kW;
  const int okX = cancelX - kGap - kW;
  Control& ok = form.Add(kOkBtnId, "OkBtn", ControlKind::Button, {okX, y, kW, kH});
  ok.role = ButtonRole::Ok;
  ok.caption = message(138);
  Control& cancel = form.Add(kCancelId, "Cancel", ControlKind::Button, {cancelX, y, kW, kH});
  cancel.role = ButtonRole::Cancel;
  cancel.caption = message(139);
  Control& help = form.Add(kHelpId, "Help", ControlKind::Button, {helpX, y, kW, kH});
  help.role = ButtonRole::Help;
  help.caption = message(140);
}

std::string Hex2(std::uint8_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 15]};
}

std::string Bits8(std::uint8_t value) {
  std::string s;
  for (int bit = 7; bit >= 0; --bit) s += (value >> bit) & 1 ? '1' : '0';
  return s;
}

std::string ByteReadOut(const std::string& prefix, std::uint8_t value) {
  return prefix + Hex2(value) + "H (" + Bits8(value) + "B)";
}

int ItemFor(int value, int itemCount) {
  return value >= 0 && value < itemCount ? value : -1;
}

int ItemOrZero(int value, int itemCount) {
  return value >= 0 && value < itemCount ? value : 0;
}

}  // namespace kz
