#pragma once
// The one emulator instance of the provider process: its configuration (from
// KZ51_EMU, or from kz51emu_configure) and its firmware. Both platform
// packagings serve packets through it; they own only the pipes.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "firmware/Firmware.h"

namespace kzemu {

class Emulator {
 public:
  // The process's emulator, created on first use from KZ51_EMU. Never
  // destroyed: its server thread may outlive every static destructor.
  static Emulator& Instance();

  // Replaces the firmware with a fresh one configured from `text` (the
  // KZ51_EMU syntax). Returns false and keeps the old one on a syntax error.
  bool Configure(const char* text, std::string* error);
  // Changes only the faults (keys fault, after, delay, seed) of the current
  // firmware, keeping its headers, memories and target state. Returns false
  // and changes nothing on a syntax error or another key.
  bool InjectFaults(const char* text, std::string* error);

  // Serves one packet under the emulator's lock. Returns false when no reply
  // is due; `delayMs` receives the reply delay to apply before sending.
  bool Serve(const Packet& cmd, Packet& reply, std::uint32_t& delayMs);
  bool Unplugged();
  // Runs `use` on the firmware under the emulator's lock, between packets.
  void With(const std::function<void(Firmware&)>& use);

 private:
  Emulator();
  std::mutex lock_;
  std::unique_ptr<Firmware> firmware_;
};

}  // namespace kzemu

// Exported from the provider library: default visibility on ELF (the library
// is built with hidden visibility); the module definition file exports them
// under Windows.
#ifdef _WIN32
#define KZEMU_EXPORT
#else
#define KZEMU_EXPORT __attribute__((visibility("default")))
#endif

// Test hook exported by the provider: reconfigures the process's emulator
// (fresh headers, memories and logic state). Returns 0 on success, -1 on a
// syntax error (reported on stderr).
extern "C" KZEMU_EXPORT int kz51emu_configure(const char* settings);
// Test hook: changes the faults of the process's emulator without resetting
// it (keys fault, after, delay, seed; `after` counts from now). Returns 0, or
// -1 on a syntax error or another key (reported on stderr).
extern "C" KZEMU_EXPORT int kz51emu_inject(const char* settings);
