#include "config/CPU_O0BU.h"

#include <cstring>

namespace kz {

namespace {

constexpr std::uint8_t kFoscCodes[6] = {7, 4, 3, 2, 1, 0};
const char* const kSectorTexts[8] = {"0000-03FF", "0400-07FF", "0800-0BFF", "0C00-0FFF",
                                     "1000-13FF", "1400-17FF", "1800-1BFF", "1C00-1FFF"};

}  // namespace

std::uint8_t FoscCodeOfChoice(int choice) {
  return choice >= 0 && choice < 6 ? kFoscCodes[choice] : 3;
}

int ChoiceOfFoscCode(std::uint8_t code) {
  switch (code & 7) {
    case 7:
    case 5:
      return 0;
    case 4:
      return 1;
    case 3:
    case 6:
      return 2;
    case 2:
      return 3;
    case 1:
      return 4;
    default:
      return 5;
  }
}

std::string BootVectorText(std::uint8_t value) {
  std::string text(value >= 0xA0 ? 1 : 0, '0');
  text += Hex2(value);
  text += 'H';
  return text;
}

std::uint8_t ParseBootVector(const std::string& text) {
  unsigned value = 0;
  if (!text.empty() && (text.back() == 'H' || text.back() == 'h')) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
      const char c = text[i];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (digit >= 0) value = (value * 16 + static_cast<unsigned>(digit)) & 0xFF;
    }
  } else {
    for (const char c : text)
      if (c >= '0' && c <= '9') value = (value * 10 + static_cast<unsigned>(c - '0')) & 0xFF;
  }
  return static_cast<std::uint8_t>(value);
}

TCPU_O0B::TCPU_O0B(const OptionDialogContext& ctx) : ctx_(ctx) {
  const MessageFn m = ctx_.message;
  caption = m(871);
  clientWidth = 594;
  clientHeight = 448;
  constexpr int kL = 8, kLW = 240, kR = 256, kRW = 330;
  const int h2 = RadioGroupHeight(2);
  int y = 8;
  const int groups[4][4] = {{kRWTDE, 1400, 1401, 1402},
                            {kRRPE, 1403, 1404, 1405},
                            {kRBO, 1406, 1407, 1408},
                            {kRWDSE, 1417, 1418, 1419}};
  const char* names[4] = {"RWTDE", "RRPE", "RBO", "RWDSE"};
  for (int i = 0; i < 4; ++i) {
    AddRadioGroup(
        *this, groups[i][0], names[i], {kL, y, kLW, h2},
        m(static_cast<std::uint16_t>(groups[i][1])),
        {m(static_cast<std::uint16_t>(groups[i][2])), m(static_cast<std::uint16_t>(groups[i][3]))});
    y += h2 + 6;
  }
  AddRadioGroup(*this, kROSC, "ROSC", {kL, y, kLW, RadioGroupHeight(6)}, m(1409),
                {m(1410), m(1411), m(1412), m(1413), m(1414), m(1415)});
  Add(kLSEC, "LSEC", ControlKind::Label, {kR, 8, kRW, 16}).caption = m(1416);
  Add(kPanel1, "Panel1", ControlKind::Panel, {kR, 26, kRW, 8 * 22 + 8});
  for (int n = 0; n < 8; ++n) {
    const int ry = 30 + n * 22;
    Add(kK0 + n, n == 0 ? "K0" : "k" + std::to_string(n), ControlKind::Label,
        {kR + 6, ry + 2, 80, 18}, kPanel1)
        .caption = kSectorTexts[n];
    const std::string num = std::to_string(n);
    Add(kGEDIS0 + n, "GEDIS" + num, ControlKind::CheckBox, {kR + 90, ry, 72, 20}, kPanel1).caption =
        "GEDIS";
    Add(kSPEDIS0 + n, "SPEDIS" + num, ControlKind::CheckBox, {kR + 164, ry, 78, 20}, kPanel1)
        .caption = "SPEDIS";
    Add(kMOVCDIS0 + n, "MOVCDIS" + num, ControlKind::CheckBox, {kR + 244, ry, 82, 20}, kPanel1)
        .caption = "MOVCDIS";
  }
  y = 26 + 8 * 22 + 8 + 6;
  AddRadioGroup(*this, kRMC, "RMC", {kR, y, kRW, h2}, m(1420), {m(1421), m(1422)});
  y += h2 + 6;
  const int third = (kRW - 8) / 3;
  AddRadioGroup(*this, kRCCU, "RCCU", {kR, y, third, h2}, m(1423), {m(1424), m(1425)});
  AddRadioGroup(*this, kT0R, "T0R", {kR + third + 4, y, third, h2}, m(1428), {m(1424), m(1425)});
  AddRadioGroup(*this, kT1R, "T1R", {kR + 2 * (third + 4), y, third, h2}, m(1429),
                {m(1424), m(1425)});
  y += h2 + 6;
  Add(kPanel2, "Panel2", ControlKind::Panel, {kR, y, kRW, 40});
  Add(kBS, "BS", ControlKind::CheckBox, {kR + 6, y + 10, 120, 20}, kPanel2).caption = m(1426);
  Add(kBVS, "BVS", ControlKind::Label, {kR + 132, y + 12, 90, 18}, kPanel2).caption = m(1427);
  Add(kBVE, "BVE", ControlKind::Edit, {kR + 226, y + 8, 96, 24}, kPanel2);
  Add(kLabelUCFG1, "LabelUCFG1", ControlKind::Label, {kL, clientHeight - 42, 260, 18});
  Add(kLabelUCFG2, "LabelUCFG2", ControlKind::Label, {kL, clientHeight - 22, 260, 18});
  AddButtonStrip(*this, m, clientHeight - 33, clientWidth - 8);
}

void TCPU_O0B::RefreshReadOuts(std::uint8_t ucfg1, std::uint8_t ucfg2) {
  const std::string prefix = ctx_.message(910);
  (*this)[kLabelUCFG1].caption = ByteReadOut(prefix + "1: ", ucfg1);
  (*this)[kLabelUCFG2].caption = ByteReadOut(prefix + "2: ", ucfg2);
  const bool boot = (*this)[kBS].checked;
  (*this)[kBVS].enabled = boot;
  (*this)[kBVE].enabled = boot;
}

void TCPU_O0B::RunO0BDialog() {
  ready_ = false;
  std::memcpy(work_, ctx_.config.CpuOptionBytes, sizeof work_);
  const std::uint8_t ucfg1 = work_[0], ucfg2 = work_[1];
  (*this)[kBVE].text = BootVectorText(work_[2]);
  (*this)[kBS].checked = (work_[3] & 1) != 0;
  for (int n = 0; n < 8; ++n) {
    (*this)[kGEDIS0 + n].checked = (work_[8 + n] & 4) != 0;
    (*this)[kSPEDIS0 + n].checked = (work_[8 + n] & 2) != 0;
    (*this)[kMOVCDIS0 + n].checked = (work_[8 + n] & 1) != 0;
  }
  (*this)[kRWTDE].selected = (ucfg1 >> 7) & 1;
  (*this)[kRRPE].selected = (ucfg1 >> 6) & 1;
  (*this)[kRBO].selected = (ucfg1 >> 5) & 1;
  (*this)[kRWDSE].selected = (ucfg1 >> 4) & 1;
  (*this)[kROSC].selected = ChoiceOfFoscCode(ucfg1 & 7);
  (*this)[kT0R].selected = (work_[16] >> 4) & 1;
  (*this)[kT1R].selected = (work_[16] >> 6) & 1;
  (*this)[kRMC].selected = (ucfg2 >> 1) & 1;
  (*this)[kRCCU].selected = ucfg2 & 1;
  RefreshReadOuts(ucfg1, ucfg2);
  ready_ = true;
  if (ctx_.ui.RunModal(*this)) ApplyO0BChoices();
}

void TCPU_O0B::ApplyO0BChoices() {
  if (!ready_) return;
  unsigned ucfg1 = 0, ucfg2 = 0, timers = 0xFF;
  std::uint8_t bytes2to15[14] = {};
  if ((*this)[kRWTDE].selected == 1) ucfg1 |= 0x80;
  if ((*this)[kRRPE].selected == 1) ucfg1 |= 0x40;
  if ((*this)[kRBO].selected == 1) ucfg1 |= 0x20;
  if ((*this)[kRWDSE].selected == 1) ucfg1 |= 0x10;
  ucfg1 |= FoscCodeOfChoice((*this)[kROSC].selected);
  if ((*this)[kRCCU].selected == 1) ucfg2 |= 1;
  if ((*this)[kRMC].selected == 1) ucfg2 |= 2;
  if ((*this)[kT0R].selected == 0) timers &= ~0x10u;
  if ((*this)[kT1R].selected == 0) timers &= ~0x40u;
  for (int n = 0; n < 8; ++n) {
    unsigned sector = 0;
    if ((*this)[kGEDIS0 + n].checked) sector |= 4;
    if ((*this)[kSPEDIS0 + n].checked) sector |= 2;
    if ((*this)[kMOVCDIS0 + n].checked) sector |= 1;
    bytes2to15[6 + n] = static_cast<std::uint8_t>(sector);
  }
  bytes2to15[1] = (*this)[kBS].checked ? 1 : 0;
  bytes2to15[0] = ParseBootVector((*this)[kBVE].text);
  std::uint8_t* rec = ctx_.config.CpuOptionBytes;
  rec[0] = static_cast<std::uint8_t>(ucfg1);
  rec[1] = static_cast<std::uint8_t>(ucfg2);
  std::memcpy(rec + 2, bytes2to15, sizeof bytes2to15);
  rec[16] = static_cast<std::uint8_t>(timers);
  RefreshReadOuts(rec[0], rec[1]);
}

void TCPU_O0B::OnClick(int id) {
  if (id == kBVE || id == kLSEC) return;
  ApplyO0BChoices();
}

}  // namespace kz
