#pragma once
// A command set wired to a recording emulator with an open link, shared by
// the transfer, target preparation and connection tests.
#include <cstdint>
#include <string>
#include <vector>

#include "config/TargetConfig.h"
#include "fakes/FakeUsbPipes.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"
#include "link/MemoryTransfers.h"
#include "link/Transport.h"

namespace kz::test {

struct RecordedProgress : TransferProgress {
  int opened = 0, steps = 0, closed = 0;
  int openSteps = 0;
  std::uint16_t message = 0;
  std::string range;
  void Open(int s, std::uint16_t m, const std::string& r) override {
    ++opened;
    openSteps = s;
    message = m;
    range = r;
  }
  void Step() override { ++steps; }
  void Close() override { ++closed; }
};

struct ConnRig {
  fake::RecordingEmulator emu;
  Transport link{emu.Pipes()};
  EmulatorState state;
  TargetConfig config{};
  CommandSet cmd{link, state, config};

  explicit ConnRig(int podNumber = 1) {
    config.PodIndex = podNumber - 1;
    state.AllocateImages();
    link.Open();
    emu.Forget();
  }

  // The packets sent since the last Forget whose code is `code`.
  std::vector<fake::Packet> Sent(std::uint8_t code) const {
    std::vector<fake::Packet> out;
    for (const auto& p : emu.Sent())
      if (p[0] == code) out.push_back(p);
    return out;
  }
  std::vector<std::uint8_t> Codes() const {
    std::vector<std::uint8_t> out;
    for (const auto& p : emu.Sent()) out.push_back(p[0]);
    return out;
  }
};

inline std::uint16_t U16(const fake::Packet& p, int at) {
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

}  // namespace kz::test
