#include "link/TargetPrep.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>

#include "link/MemoryTransfers.h"

namespace kz {

namespace {

void SetBit(std::uint16_t& word, int bit, bool on) {
  const auto mask = static_cast<std::uint16_t>(1u << bit);
  word = static_cast<std::uint16_t>(on ? (word | mask) : (word & ~mask));
}

// The watchdog and target reset switches: 1 and 2 set the enable bit and
// choose breakpoint (1) or reset (2) with the mode bit; any other value is
// stored back as 0 and clears the enable bit, leaving the mode bit alone.
void ApplyThreeWaySwitch(std::uint8_t& mode, std::uint16_t& enableWord, int enableBit,
                         std::uint16_t& modeWord, int modeBit) {
  if (mode == 1 || mode == 2) {
    SetBit(enableWord, enableBit, true);
    SetBit(modeWord, modeBit, mode == 2);
  } else {
    mode = 0;
    SetBit(enableWord, enableBit, false);
  }
}

struct ClockClass {
  std::uint8_t cls;
  std::uint8_t factor;
};

// Strictly greater than each bound; the first match wins.
ClockClass ClockClassFor(std::int32_t hz) {
  if (hz > 50'000'000) return {1, 1};
  if (hz > 10'000'000) return {1, 2};
  if (hz > 1'000'000) return {2, 5};
  if (hz > 100'000) return {3, 10};
  if (hz > 10'000) return {4, 30};
  return {5, 40};
}

constexpr std::uint8_t kMapMapped = 2;  // bit 1: the address is not the CPU's own code
constexpr int kMapSize = 0x10000;
constexpr int kFillMax = 4096;  // bytes per command 76

}  // namespace

void TargetPrep::ComposeConfiguration() {
  if (cmd_.Link().LinkFailed()) return;
  cmd_.ReadStatus(true);
  auto& W = state_.W;
  const int pod = config_.PodNumber();
  const bool six = config_.SixClockMode != 0;
  const bool xtal2 = config_.Xtal2Clock != 0;

  if (pod == 2 || pod == 3 || pod == 5 || pod == 6 || pod == 7) {
    const auto& setting = clock_.CpuTypeCode == 6 ? clock_.Setting1 : clock_.Setting2;
    SetBit(W[3], 2, setting.Prescale == 1);
    SetBit(W[0], 9, six);
    SetBit(W[3], 5, xtal2);
  } else if (pod == 4 || pod == 8 || pod == 9) {
    if (pod == 4) {
      cmd_.Control(5, 0);
      cmd_.Control(2, static_cast<std::uint8_t>(state_.control | 0x08));
    }
    SetBit(W[3], 2, clock_.Setting1.Prescale == 1);
    SetBit(W[3], 6, six);
    SetBit(W[3], 5, xtal2);
  } else if (pod == 1) {
    const auto& setting = six ? clock_.Setting2 : clock_.Setting1;
    SetBit(W[3], 2, setting.Prescale == 1);
    SetBit(W[3], 6, six);
    SetBit(W[3], 5, xtal2);

    ApplyThreeWaySwitch(config_.WatchdogMode, W[1], 14, W[3], 1);

    SetBit(W[0], 8, true);

    if (config_.XdataOnEmulator == 1) {
      SetBit(W[0], 9, false);
    } else {
      config_.XdataOnEmulator = 0;
      SetBit(W[0], 9, true);
    }

    ApplyThreeWaySwitch(config_.TargetResetMode, W[0], 7, W[3], 0);

    if (config_.EmulatorResetMode == 1) {
      SetBit(W[0], 6, true);
    } else {
      config_.EmulatorResetMode = 0;
      SetBit(W[0], 6, false);
    }

    const std::uint8_t mask = config_.MonitorPeripheralMask;
    static constexpr int kPeripheralBits[6] = {5, 6, 7, 9, 8, 10};
    for (int i = 0; i < 6; ++i) SetBit(W[1], kPeripheralBits[i], (mask >> i) & 1u);

    const std::uint32_t hw = details_.DetailWord[3];
    for (int i = 0; i < 3; ++i) SetBit(W[1], 11 + i, (hw >> i) & 1u);
  }
  cmd_.WriteConfiguration();
}

void TargetPrep::PrepareTarget() {
  if (cmd_.Link().LinkFailed()) return;
  ComposeConfiguration();

  const ClockClass clock = ClockClassFor(config_.CrystalHz);
  {
    std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
    cmd_.SetClockClass(clock.cls, clock.factor);
  }

  ComposeConfiguration();

  const int pod = config_.PodNumber();
  if (pod == 4) {
    state_.dataImage[0xFF] = 7;
    cmd_.WriteDataBlock(1, 0xFF);
    state_.dataImage[0xFE] = 7;
    cmd_.WriteDataBlock(1, 0xFE);
  } else if (pod == 8) {
    cmd_.OptionAccess();
    const std::uint8_t bytes[3] = {config_.CpuOptionBytes[0], config_.CpuOptionBytes[1],
                                   static_cast<std::uint8_t>(details_.DetailWord[3] & 0xFF)};
    if (state_.xdataImage.size() >= kMapSize && state_.codeImage.size() >= kMapSize) {
      std::copy(bytes, bytes + 3, state_.xdataImage.begin() + 0xFD00);
      transfers_.WriteXdataRange(0xFD00, 3);
      // The code image mirrors them without a download.
      std::copy(bytes, bytes + 3, state_.codeImage.begin() + 0xFD00);
    }
  } else if (pod == 9) {
    cmd_.OptionAccess();
    cmd_.WriteOptionByte(0, config_.CpuOptionBytes[0]);
    cmd_.WriteOptionByte(1, config_.CpuOptionBytes[1]);
    cmd_.SetClockClass(clock.cls, clock.factor);
    cmd_.ReadStatus(true);
    const std::uint8_t option16 = config_.CpuOptionBytes[16];
    SetBit(state_.W[0], 6, (option16 & 0x10) != 0);
    SetBit(state_.W[0], 7, (option16 & 0x40) != 0);
    cmd_.WriteConfiguration();
    cmd_.OptionAccess();
  }

  InitialiseMemoryMap();
}

void TargetPrep::ResetTarget() {
  if (cmd_.Link().LinkFailed()) return;
  PrepareTarget();
  cmd_.ReadRegisters();
  state_.pcShadow = 0;
}

void TargetPrep::RequestStop() {
  if (cmd_.Link().LinkFailed()) return;
  // Called from the host's stopping thread while the run thread may be
  // reading or rewriting the configuration words.
  std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
  SetBit(state_.W[1], 4, true);
  cmd_.WriteConfiguration();
}

void TargetPrep::InitialiseMemoryMap() {
  if (cmd_.Link().LinkFailed()) return;
  auto& map = state_.memoryMap;
  if (map.size() < kMapSize) return;  // not allocated yet

  if (config_.PodNumber() != 1) {
    std::fill(map.begin(), map.end(), 0);
    return;
  }
  std::fill(map.begin(), map.end(), kMapMapped);
  auto& range = details_.CodeRange();
  if (range[0] == 0 && range[1] == 0) return;
  if (static_cast<std::int32_t>(range[0]) > static_cast<std::int32_t>(range[1])) {
    std::swap(range[0], range[1]);
  }
  const std::uint32_t first = range[0] % kMapSize;
  const std::uint32_t last = range[1] % kMapSize;
  for (std::uint32_t a = first; a <= last && last >= first; ++a) {
    map[a] = static_cast<std::uint8_t>(map[a] & ~kMapMapped);
  }
}

void TargetPrep::UploadMemoryMap() {
  if (cmd_.Link().LinkFailed() || state_.executing.load()) return;
  const auto& map = state_.memoryMap;
  if (map.size() < kMapSize) return;

  int address = 0;
  while (address < kMapSize) {
    const std::uint8_t value = map[address];
    int end = address;
    while (end + 1 < kMapSize && map[end + 1] == value) ++end;
    {
      std::lock_guard<std::recursive_mutex> hold(cmd_.Link().Lock());
      for (int start = address; start <= end;) {
        const int count = std::min(kFillMax, end - start + 1);
        cmd_.FillMemoryMap(static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(count),
                           value);
        start += count;
      }
    }
    address = end + 1;
  }
}

void TargetPrep::UpdateRunIndicator() {
  if (cmd_.Link().LinkFailed()) return;
  cmd_.ReadStatus(false);
  cmd_.Control(5, 0);
  const bool stopped = (state_.status[0] & 0x0001) == 0;
  std::uint8_t control = state_.control;
  control = static_cast<std::uint8_t>(stopped && state_.podConfigured ? (control | 0x04)
                                                                      : (control & ~0x04));
  cmd_.Control(2, control);
}

void TargetPrep::ClearRunIndicator() {
  if (cmd_.Link().LinkFailed()) return;
  cmd_.Control(5, 0);
  cmd_.Control(2, static_cast<std::uint8_t>(state_.control & ~0x04));
}

}  // namespace kz
