#include "host/Registers.h"

#include <cstdio>
#include <cstring>

namespace kz {

namespace {

constexpr std::uint8_t kSpAddress = 0x81;
constexpr std::uint8_t kBankMask = 0x18;

struct ItemSpec {
  std::uint16_t number;
  const char* name;
  std::uint8_t group;
};

// Names are padded as the host's register window lines them up.
constexpr ItemSpec kItems[RegisterAccess::kItemCount] = {
    {0, "r0   ", 0},    {1, "r1   ", 0},    {2, "r2   ", 0},    {3, "r3   ", 0},
    {4, "r4   ", 0},    {5, "r5   ", 0},    {6, "r6   ", 0},    {7, "r7   ", 0},
    {0x10, "a    ", 1}, {0x11, "b    ", 1}, {0x12, "sp   ", 1}, {0x13, "dptr ", 1},
    {0x14, "PC  $", 1}, {0x100, "psw", 1},  {0x101, "p  ", 1},  {0x102, "f1 ", 1},
    {0x103, "ov ", 1},  {0x104, "rs ", 1},  {0x105, "f0 ", 1},  {0x106, "ac ", 1},
    {0x107, "cy ", 1},  {0x108, "   ", 1},
};

// PSW fields of the flag items, indexed by item number - 0x101.
struct PswField {
  std::uint8_t mask;
  std::uint8_t shift;
};
constexpr PswField kPswFields[7] = {{0x01, 0}, {0x02, 1}, {0x04, 2}, {0x18, 3},
                                    {0x20, 5}, {0x40, 6}, {0x80, 7}};

constexpr bool IsFlagItem(std::uint16_t n) {
  return n >= RegisterAccess::kItemFirstFlag && n <= RegisterAccess::kItemLastFlag;
}

// Items the host may show but the driver leaves alone.
constexpr bool IsHostItem(std::uint16_t n) {
  return n == 0x15 || n == 0x16;
}

void WriteText(RegisterItem& item, const char* format, std::uint32_t value) {
  std::memset(item.valueText, 0, sizeof item.valueText);
  std::snprintf(item.valueText, sizeof item.valueText, format, static_cast<unsigned>(value));
}

}  // namespace

RegisterAccess::RegisterAccess(EmulatorState& state, MemoryTransfers& transfers,
                               std::atomic<bool>& running, std::atomic<bool>& abandon,
                               std::uint16_t& pc16, std::uint32_t* const& pcCell)
    : state_(state),
      transfers_(transfers),
      running_(running),
      abandon_(abandon),
      pc16_(pc16),
      pcCell_(pcCell) {
  groups_[0] = RegisterGroup{0, 1, "Reg"};
  groups_[1] = RegisterGroup{0, 1, "Sys"};
  for (int i = 0; i < kItemCount; ++i) {
    RegisterItem& it = items_[i];
    std::memset(&it, 0, sizeof it);
    it.one = 1;
    it.group = kItems[i].group;
    it.number = kItems[i].number;
    std::memcpy(it.name, kItems[i].name, std::strlen(kItems[i].name));
    it.isPc = kItems[i].number == kItemPc ? 1 : 0;
    it.named = i < kItemCount - 1 ? 1 : 0;
  }
}

RegisterViewDescriptor RegisterAccess::Descriptor() {
  return RegisterViewDescriptor{kGroupCount,   kItemCount, groups_.data(),
                                items_.data(), viewGet_,   viewSet_};
}

void RegisterAccess::ResetPc() {
  pcAddress_ = 0;
  record_.pc = 0;
}

void RegisterAccess::SyncPc() {
  const std::uint16_t pc = pc16_;
  state_.pcShadow = pc;
  pcAddress_ = kCodeAddressBase | pc;
  record_.pc = pcAddress_;
}

void RegisterAccess::Refresh() {
  if (written_ || running_) return;
  SyncPc();
  transfers_.ReadSfrThroughShadows(kSpAddress);
  const auto& d = state_.dataImage;
  const auto& s = state_.shadows;
  record_.sp = d[kSpAddress];
  record_.psw = s.PSW;
  record_.b = s.B;
  record_.acc = s.ACC;
  record_.dpl = s.DPL;
  record_.dph = s.DPH;
  const int bank = record_.psw & kBankMask;
  for (int i = 0; i < 8; ++i) record_.R[i] = d[bank + i];
}

void RegisterAccess::Apply(RegisterRecord given) {
  auto& d = state_.dataImage;
  auto& s = state_.shadows;
  const int oldBank = s.PSW & kBankMask;
  const std::uint8_t oldSp = d[kSpAddress];
  const std::uint8_t oldB = s.B;
  d[kSpAddress] = given.sp;
  s.PSW = given.psw;
  s.B = given.b;
  s.ACC = given.acc;
  s.DPL = given.dpl;
  s.DPH = given.dph;
  // The bank the new PSW selects. A bank switch selects the other bank's
  // registers: the record's R0..R7 are the old bank's and are not copied.
  const int bank = given.psw & kBankMask;
  for (int i = 0; i < 8; ++i) {
    const auto a = static_cast<std::uint8_t>(bank + i);
    if (bank != oldBank) {
      given.R[i] = d[a];
    } else if (d[a] != given.R[i]) {
      // A register the monitor does not save is plain RAM: it reaches the
      // chip now, a saved one with the next write registers.
      d[a] = given.R[i];
      transfers_.WriteSfrThroughShadows(a);
    }
  }
  if (given.sp != oldSp) transfers_.WriteSfrThroughShadows(kSpAddress);
  // Where B is not among the registers write-registers carries, the chip's
  // B is written directly.
  constexpr std::uint8_t kBAddress = 0xF0;
  if (given.b != oldB && transfers_.MonitorShadow(kBAddress) == nullptr) {
    d[kBAddress] = given.b;
    transfers_.WriteSfrThroughShadows(kBAddress);
  }
  s.R[0] = d[0];
  const std::uint32_t pc = given.pc;
  state_.pcShadow = pc;
  pc16_ = static_cast<std::uint16_t>(pc & 0xFFFF);
  record_ = given;
}

std::uint16_t RegisterAccess::RegAcc(std::uint16_t code, std::uint32_t number, void* value) {
  if (running_ || abandon_) return 1;
  auto* v = static_cast<std::uint8_t*>(value);
  if (code == 1) {
    Refresh();
    if (v == nullptr) return 0;
    if (number < 8) {
      v[0] = record_.R[number];
    } else if (number == kRegAcc) {
      v[0] = record_.acc;
    } else if (number == kRegDptr) {
      StoreLe<std::uint16_t>(v, static_cast<std::uint16_t>(record_.dph << 8 | record_.dpl));
    } else if (number == kRegPc) {
      StoreLe<std::uint32_t>(v, record_.pc);
    }
    return 0;
  }
  if (code == 2) {
    if (v == nullptr) return 0;
    if (number < 8 || number == kRegAcc || number == kRegDptr) {
      if (number < 8) {
        record_.R[number] = v[0];
      } else if (number == kRegAcc) {
        record_.acc = v[0];
      } else {
        const std::uint16_t w = LoadLe<std::uint16_t>(v);
        record_.dpl = static_cast<std::uint8_t>(w & 0xFF);
        record_.dph = static_cast<std::uint8_t>(w >> 8);
      }
      Apply(record_);
    } else if (number == kRegPc) {
      const std::uint32_t pc = LoadLe<std::uint32_t>(v);
      pcAddress_ = pc;
      state_.pcShadow = pc;
      pc16_ = static_cast<std::uint16_t>(pc & 0xFFFF);
      record_.pc = pc;
    }
    return 0;
  }
  return 3;
}

std::uint16_t RegisterAccess::AllReg(std::uint16_t code) {
  if (running_ || abandon_) return 1;
  if (code == 1) {
    Refresh();
    return 0;
  }
  if (code == 2) {
    Apply(record_);
    written_ = true;
    return 0;
  }
  return 3;
}

void RegisterAccess::ViewGet(RegisterItem* item, std::int32_t selector) {
  if (abandon_) return;
  const std::uint32_t nibble = static_cast<std::uint32_t>(selector) >> 28;
  if (nibble == 8) {
    Refresh();
    view_ = record_;
    if (pcCell_ != nullptr) *pcCell_ = view_.pc;
    return;
  }
  if (nibble == 4 || item == nullptr) return;

  RegisterItem& it = *item;
  it.redraw = 0;
  const std::uint16_t n = it.number;
  if (IsHostItem(n)) return;

  std::uint32_t value = 0;
  const char* format = "0x%02X";
  if (n < 8) {
    value = view_.R[n];
  } else if (n == kItemA) {
    value = view_.acc;
  } else if (n == kItemB) {
    value = view_.b;
  } else if (n == kItemSp) {
    value = view_.sp;
  } else if (n == kItemDptr) {
    value = static_cast<std::uint32_t>(view_.dph << 8 | view_.dpl);
    format = "0x%04X";
  } else if (n == kItemPc) {
    value = view_.pc & 0xFFFF;
    format = "0x%04X";
  } else if (n == kItemPsw) {
    value = view_.psw;
  } else if (IsFlagItem(n)) {
    const PswField f = kPswFields[n - kItemFirstFlag];
    value = static_cast<std::uint32_t>((view_.psw & f.mask) >> f.shift);
    format = "%X  ";
  } else if (n == kItemBlank) {
    format = nullptr;  // shows nothing
  } else {
    return;  // not one of the driver's items
  }

  if (n == kItemPc) {
    // The PC line is redrawn on every call and never marked as changed.
    WriteText(it, format, value);
    it.redraw = 1;
    it.lastValue = value;
    it.changed = 0;
  } else if (format != nullptr && (value != it.lastValue || it.valueText[0] == '\0')) {
    WriteText(it, format, value);
  }

  if (value != it.lastValue) {
    it.changed = 1;
    it.redraw = 1;
  } else if (it.changed != 0) {
    it.changed = 0;
    it.redraw = 1;
  }
  it.lastValue = value;
  it.zeroWord = 0;
}

std::int32_t RegisterAccess::ViewSet(RegisterItem* item, void* value) {
  if (abandon_ || running_) return 0;
  if (item == nullptr || value == nullptr) return 0;
  const auto* v = static_cast<const std::uint8_t*>(value);
  const std::uint16_t n = item->number;
  if (n < 8) {
    view_.R[n] = v[0];
  } else if (n == kItemA) {
    view_.acc = v[0];
  } else if (n == kItemB) {
    view_.b = v[0];
  } else if (n == kItemSp) {
    view_.sp = v[0];
  } else if (n == kItemDptr) {
    const std::uint16_t w = LoadLe<std::uint16_t>(v);
    view_.dpl = static_cast<std::uint8_t>(w & 0xFF);
    view_.dph = static_cast<std::uint8_t>(w >> 8);
  } else if (n == kItemPc) {
    view_.pc = kCodeAddressBase | (LoadLe<std::uint32_t>(v) & 0xFFFF);
  } else if (n == kItemPsw) {
    view_.psw = v[0];
  } else if (IsFlagItem(n)) {
    const PswField f = kPswFields[n - kItemFirstFlag];
    view_.psw = static_cast<std::uint8_t>((view_.psw & ~f.mask) | ((v[0] << f.shift) & f.mask));
  } else {
    return IsHostItem(n) ? 1 : 0;
  }
  Apply(view_);
  view_ = record_;  // a bank switch shows the new bank's registers
  return 1;
}

}  // namespace kz
