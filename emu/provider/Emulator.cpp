#include "Emulator.h"

#include <cstdio>
#include <cstdlib>

namespace kzemu {

Emulator& Emulator::Instance() {
  static Emulator* const instance = new Emulator();
  return *instance;
}

Emulator::Emulator() {
  FirmwareConfig cfg;
  const char* env = std::getenv("KZ51_EMU");
  std::string error;
  if (env != nullptr && !ParseFirmwareConfig(env, cfg, &error)) {
    // A typo must not silently give a different emulator than asked for; the
    // settings before the bad one stay in force.
    std::fprintf(stderr, "usbd12: KZ51_EMU: %s\n", error.c_str());
  }
  firmware_ = std::make_unique<Firmware>(cfg);
}

bool Emulator::Configure(const char* text, std::string* error) {
  FirmwareConfig cfg;
  if (!ParseFirmwareConfig(text != nullptr ? text : "", cfg, error)) return false;
  auto fresh = std::make_unique<Firmware>(cfg);
  std::lock_guard<std::mutex> hold(lock_);
  firmware_ = std::move(fresh);
  return true;
}

bool Emulator::Serve(const Packet& cmd, Packet& reply, std::uint32_t& delayMs) {
  std::lock_guard<std::mutex> hold(lock_);
  const bool answer = firmware_->Serve(cmd, reply);
  delayMs = firmware_->ReplyDelayMs();
  return answer;
}

bool Emulator::Unplugged() {
  std::lock_guard<std::mutex> hold(lock_);
  return firmware_->Unplugged();
}

}  // namespace kzemu

extern "C" KZEMU_EXPORT int kz51emu_configure(const char* settings) {
  std::string error;
  if (kzemu::Emulator::Instance().Configure(settings, &error)) return 0;
  std::fprintf(stderr, "usbd12: kz51emu_configure: %s\n", error.c_str());
  return -1;
}
