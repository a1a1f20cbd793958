#include "config/PrjOpt.h"

#include <algorithm>
#include <cstdint>

#include "config/CPU_00AU.h"
#include "config/CPU_O02U.h"
#include "config/CPU_O03U.h"
#include "config/CPU_O04U.h"
#include "config/CPU_O0BU.h"

namespace kz {

namespace {

int InRange(std::int32_t value, int count) {
  return value >= 0 && value < count ? static_cast<int>(value) : 0;
}

}  // namespace

bool ParseCrystalText(const std::string& text, std::int32_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return false;
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

TPrjOptF::TPrjOptF(ProjectDialogContext& ctx) : ctx_(ctx) {
  clientWidth = kClientWidth;
  clientHeight = kClientHeight;
  constexpr int kColW = 136, kLeft = 14, kMid = 158, kRight = 302;
  Add(kProjectOption, "ProjectOption", ControlKind::PageControl, {4, 4, 444, 262});
  Add(kEmulatorPage, "EmulatorPage", ControlKind::Page, {4, 4, 444, 262}, kProjectOption);
  const int page = kEmulatorPage;
  // Creation order is the tab order: emulator, pod and CPU lists, the
  // option button, the frequency, then the vendor list.
  Add(kLabelEmuSel, "LabelEmuSel", ControlKind::Label, {kLeft, 36, kColW, 16}, page);
  Add(kLabelPODSel, "LabelPODSel", ControlKind::Label, {kMid, 36, kColW, 16}, page);
  Add(kVendorSelect, "VendorSelect", ControlKind::Label, {kRight, 36, kColW, 16}, page);
  Add(kLabelCPUSel, "LabelCPUSel", ControlKind::Label, {kRight, 82, kColW, 16}, page);
  Add(kOscSelect, "OscSelect", ControlKind::Label, {kRight, 208, kColW, 16}, page);
  Add(kListBoxEmu, "ListBoxEmu", ControlKind::ListBox, {kLeft, 54, kColW, 198}, page);
  Add(kListBoxPOD, "ListBoxPOD", ControlKind::ListBox, {kMid, 54, kColW, 160}, page);
  Add(kListBoxCPU, "ListBoxCPU", ControlKind::ListBox, {kRight, 100, kColW, 104}, page);
  Add(kBtnCPUOpt, "BtnCPUOpt", ControlKind::Button, {kMid, 222, kColW, 28}, page);
  Add(kOscStr, "OscStr", ControlKind::Edit, {kRight, 226, kColW, 24}, page);
  Add(kVendorList, "VendorList", ControlKind::DropDownList, {kRight, 54, kColW, 24}, page);
  AddButtonStrip(*this, ctx_.message, 272, 444);
}

void TPrjOptF::SetTexts() {
  const MessageFn m = ctx_.message;
  (*this)[kEmulatorPage].caption = m(660);
  (*this)[kProjectOption].items = {m(660)};
  (*this)[kLabelEmuSel].caption = m(868);
  (*this)[kLabelPODSel].caption = m(869);
  (*this)[kVendorSelect].caption = m(1681);
  (*this)[kLabelCPUSel].caption = m(870);
  (*this)[kBtnCPUOpt].caption = m(871);
  (*this)[kOscSelect].caption = m(664);
  (*this)[kOkBtn].caption = m(138);
  (*this)[kCancel].caption = m(139);
  (*this)[kHelp].caption = m(140);
}

bool TPrjOptF::RunProjectDialog() {
  const std::int32_t pod = ctx_.config.PodIndex;
  openingFamily_ = ctx_.pods[static_cast<std::size_t>(InRange(pod, kPodSlotCount))].Family;
  FillProjectDialog();
  if (!ctx_.ui.RunModal(*this)) return false;
  StoreProjectDialog();
  return true;
}

void TPrjOptF::FillProjectDialog() {
  (*this)[kOscStr].visible = true;
  (*this)[kOscSelect].visible = true;
  RebuildSelectionLists(false);
  SetTexts();
  const std::string failure = ctx_.failureCaption ? ctx_.failureCaption() : std::string();
  if (!failure.empty()) {
    caption = failure;
    (*this)[kProjectOption].selected = 0;  // the emulator page
  } else {
    caption = ctx_.message(132);
  }
  (*this)[kOscStr].text = std::to_string(static_cast<std::int32_t>(ctx_.config.CrystalHz));
  (*this)[kOscSelect].enabled = true;
  if (ctx_.updateClockSettings) ctx_.updateClockSettings();
}

int TPrjOptF::ListedEmulatorRow(int position) const {
  if (position < 0) return -1;
  for (int row = 0, n = 0; row < kEmulatorModelCount; ++row)
    if (kEmulatorModels[static_cast<std::size_t>(row)].Listed == 1 && n++ == position) return row;
  return -1;
}

int TPrjOptF::ListedPodSlot(int position) const {
  if (position < 0) return -1;
  for (int slot = 0, n = 0; slot < kPodSlotCount; ++slot)
    if (ctx_.pods[static_cast<std::size_t>(slot)].Listed == 1 && n++ == position) return slot;
  return -1;
}

void TPrjOptF::RebuildSelectionLists(bool readChoices) {
  TargetConfig& rec = ctx_.config;
  const DeviceDatabase& db = ctx_.db;
  Control& emuList = (*this)[kListBoxEmu];
  Control& podList = (*this)[kListBoxPOD];
  Control& vendorList = (*this)[kVendorList];
  Control& cpuList = (*this)[kListBoxCPU];

  // 1. The current choices, by list position; a position that names nothing
  // (none, or past the list) counts as no selection.
  if (readChoices) {
    rec.EmulatorIndex = std::max(ListedEmulatorRow(emuList.selected), 0);
    rec.PodIndex = std::max(ListedPodSlot(podList.selected), 0);
    const int vpos = vendorList.selected;
    const int vendor = vpos >= 0 && vpos < static_cast<int>(shownVendors_.size())
                           ? shownVendors_[static_cast<std::size_t>(vpos)]
                           : 0;
    int cpu = 0;
    const int cpos = cpuList.selected;
    if (vendor != 0 && cpos >= 0 && cpos < static_cast<int>(shownCpus_.size()))
      cpu = shownCpus_[static_cast<std::size_t>(cpos)];
    rec.CpuSelection =
        static_cast<std::uint32_t>(vendor) * 65536u + static_cast<std::uint32_t>(cpu);
  }
  // 2.
  const std::uint32_t selection = rec.CpuSelection;
  std::uint32_t wantedVendor = selection >> 16;
  std::uint32_t wantedCpu = selection & 0xFFFF;

  // 3. Emulators.
  emuList.items.clear();
  emuList.selected = -1;
  rec.EmulatorIndex = InRange(rec.EmulatorIndex, kEmulatorModelCount);
  const int emuRow = rec.EmulatorIndex;
  for (int row = 0; row < kEmulatorModelCount; ++row) {
    const EmulatorModel& m = kEmulatorModels[static_cast<std::size_t>(row)];
    if (m.Listed != 1) continue;
    if (row == emuRow) emuList.selected = static_cast<int>(emuList.items.size());
    emuList.items.emplace_back(m.ModelName);
  }
  const int emulatorNumber = emuRow + 1;

  // 4. Pods of that emulator.
  podList.items.clear();
  podList.selected = -1;
  std::vector<int> listedSlots;
  for (int slot = 0; slot < kPodSlotCount; ++slot) {
    PodSlot& p = ctx_.pods[static_cast<std::size_t>(slot)];
    p.Listed = 0;
    if (emulatorNumber <= 15 && (p.EmulatorSet >> emulatorNumber) & 1) {
      podList.items.emplace_back(p.PodName);
      p.Listed = 1;
      listedSlots.push_back(slot);
    }
  }

  // 5.
  rec.PodIndex = InRange(rec.PodIndex, kPodSlotCount);
  selectedPod_ = 0;
  for (std::size_t i = 0; i < listedSlots.size(); ++i)
    if (listedSlots[i] == rec.PodIndex) podList.selected = static_cast<int>(i);
  if (podList.selected < 0 && !listedSlots.empty()) {
    rec.PodIndex = listedSlots.front();
    podList.selected = 0;
  }
  if (podList.selected >= 0) selectedPod_ = rec.PodIndex + 1;

  // 6. Vendors with a CPU for the pod.
  vendorList.items.clear();
  vendorList.selected = -1;
  shownVendors_.clear();
  const std::uint32_t podBit = PodBit(rec.PodIndex + 1);
  for (int v = 1; v <= db.VendorCount(); ++v) {
    const int first = db.FirstCpuOfVendor(v);
    const int count = db.Vendor(v).CpuCount;
    for (int c = first; c < first + count; ++c) {
      if ((db.Cpu(c).PodMask & podBit) != 0) {
        shownVendors_.push_back(v);
        vendorList.items.push_back(db.Vendor(v).VendorName);
        break;
      }
    }
  }

  // 7. With no vendor offered the stored vendor is kept and not walked.
  bool vendorShown = false;
  for (std::size_t i = 0; i < shownVendors_.size(); ++i) {
    if (static_cast<std::uint32_t>(shownVendors_[i]) == wantedVendor) {
      vendorList.selected = static_cast<int>(i);
      vendorShown = true;
    }
  }
  if (!vendorShown && !shownVendors_.empty()) {
    wantedVendor = static_cast<std::uint32_t>(shownVendors_.front());
    wantedCpu = 0;
    vendorList.selected = 0;
    vendorShown = true;
  }

  // 8. That vendor's CPUs for the pod.
  cpuList.items.clear();
  cpuList.selected = -1;
  shownCpus_.clear();
  if (vendorShown && wantedVendor != 0) {
    const int v = static_cast<int>(wantedVendor);
    const int first = db.FirstCpuOfVendor(v);
    const int count = db.Vendor(v).CpuCount;
    for (int c = first; c < first + count; ++c) {
      if ((db.Cpu(c).PodMask & podBit) != 0) {
        shownCpus_.push_back(c);
        cpuList.items.push_back(db.Cpu(c).CpuName);
      }
    }
  }

  // 9. A wanted CPU the list does not hold stays as it is, unselected.
  for (std::size_t i = 0; i < shownCpus_.size(); ++i)
    if (static_cast<std::uint32_t>(shownCpus_[i]) == wantedCpu)
      cpuList.selected = static_cast<int>(i);
  if (cpuList.selected < 0 && wantedCpu == 0 && !shownCpus_.empty()) {
    wantedCpu = static_cast<std::uint32_t>(shownCpus_.front());
    cpuList.selected = 0;
  }

  // 10. and 11.
  rec.CpuSelection = (wantedVendor << 16) | (wantedCpu & 0xFFFF);
  ctx_.db.LoadCpuDetails(rec, ctx_.dataDirectory, ctx_.details);
}

void TPrjOptF::StoreProjectDialog() {
  TargetConfig& rec = ctx_.config;
  // A text that is no integer leaves the frequency and the list choices as
  // they are; the family check below runs either way.
  std::int32_t hz = 0;
  if (ParseCrystalText((*this)[kOscStr].text, hz)) {
    rec.CrystalHz = hz;
    rec.EmulatorIndex = std::max(ListedEmulatorRow((*this)[kListBoxEmu].selected), 0);
    rec.PodIndex = std::max(ListedPodSlot((*this)[kListBoxPOD].selected), 0);
  }
  const auto pod = static_cast<std::size_t>(InRange(rec.PodIndex, kPodSlotCount));
  if (ctx_.pods[pod].Family != openingFamily_) {
    rec.PodFamilyChanged = 1;
    FillProjectDialog();
  }
}

void TPrjOptF::BtnCPUOptClick() {
  if (selectedPod_ < 1 || selectedPod_ > kPodSlotCount) return;
  OptionDialogContext octx{ctx_.ui, ctx_.config, ctx_.details, ctx_.message};
  switch (ctx_.pods[static_cast<std::size_t>(selectedPod_ - 1)].OptionDialogKind) {
    case 1:
      if (selectedPod_ == 2 || selectedPod_ == 3 || (selectedPod_ >= 5 && selectedPod_ <= 7)) {
        TCPU_00AF dialog(octx);
        dialog.Run();
      }
      break;
    case 2: {
      TCPU_O02F dialog(octx);
      dialog.Run();
      break;
    }
    case 3: {
      TCPU_O03F dialog(octx);
      dialog.Run();
      break;
    }
    case 4: {
      TCPU_O04F dialog(octx);
      dialog.Run();
      break;
    }
    case 11: {
      TCPU_O0B dialog(octx);
      dialog.RunO0BDialog();
      break;
    }
    default:
      break;
  }
}

void TPrjOptF::OnClick(int id) {
  switch (id) {
    case kListBoxEmu:
      ListBoxEmuClick();
      break;
    case kListBoxPOD:
      ListBoxPODClick();
      break;
    case kListBoxCPU:
      ListBoxCPUClick();
      break;
    case kBtnCPUOpt:
      BtnCPUOptClick();
      break;
    default:
      break;
  }
}

std::string TPrjOptF::TextRefusal(int id, const std::string& text) const {
  std::int32_t hz = 0;
  if (id != kOscStr || ParseCrystalText(text, hz)) return {};
  return ctx_.message(664) + ": \"" + text + "\" is not a whole number of hertz; the field keeps " +
         FindId(kOscStr)->text;
}

void TPrjOptF::OnChange(int id) {
  if (id == kVendorList) VendorListChange();
}

}  // namespace kz
