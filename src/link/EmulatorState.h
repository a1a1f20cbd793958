#pragma once
// The driver's images of the emulator: memory images, register shadows,
// configuration and status words, and the blocks the commands fill.
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace kz {

struct RegisterShadows {
  std::uint8_t ACC = 0, B = 0, SP = 0, PSW = 0, DPH = 0, DPL = 0, TCON = 0, T2CON = 0, SfrA2 = 0,
               IE = 0;
  std::array<std::uint8_t, 6> R{};  // R0..R5 of bank 0 (internal RAM 00h..05h)
};

struct EmulatorState {
  // 64 KB each; allocated by library start-up.
  std::vector<std::uint8_t> codeImage;
  std::vector<std::uint8_t> xdataImage;
  std::vector<std::uint8_t> memoryMap;
  // 00h..7Fh direct RAM, 80h..FFh SFRs.
  std::array<std::uint8_t, 256> dataImage{};
  // 80h..FFh upper indirect RAM; 00h..7Fh a copy of the data image.
  std::array<std::uint8_t, 256> idataImage{};
  RegisterShadows shadows;
  std::uint32_t pcShadow = 0;
  std::array<std::uint16_t, 4> W{};       // configuration words W0..W3
  std::array<std::uint16_t, 2> status{};  // status words 0 and 1
  std::uint8_t control = 0;               // reply byte 0 of command 15
  // The emulator's parameter memory as far as the driver read or set it
  // (monitor header at 0..8, monitor name from 16).
  std::array<std::uint8_t, 512> paramMirror{};
  std::array<std::uint8_t, 32> configHeader{};
  std::array<std::uint8_t, 16> emulatorIdentity{};
  std::array<std::uint8_t, 16> podIdentity{};
  std::uint16_t transferAddress = 0;
  // Set while the pod holds the configuration the connection asked for.
  bool podConfigured = false;
  // Set by execution control while the target executes; transfers that must
  // not interleave with a run return at once then.
  std::atomic<bool> executing{false};

  void AllocateImages() {
    codeImage.assign(0x10000, 0);
    xdataImage.assign(0x10000, 0);
    memoryMap.assign(0x10000, 0);
  }
};

}  // namespace kz
