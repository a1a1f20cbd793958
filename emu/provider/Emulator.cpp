#include "Emulator.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

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

bool Emulator::InjectFaults(const char* text, std::string* error) {
  const std::string_view all = text != nullptr ? text : "";
  // Only the fault keys: anything else would silently not take effect.
  for (std::string_view rest = all; !rest.empty();) {
    const auto comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    if (item.empty()) continue;
    const std::string_view key = item.substr(0, item.find('='));
    if (key != "fault" && key != "after" && key != "delay" && key != "seed") {
      if (error != nullptr) *error = "not a fault setting '" + std::string(item) + "'";
      return false;
    }
  }
  FirmwareConfig cfg;
  if (!ParseFirmwareConfig(all, cfg, error)) return false;
  std::lock_guard<std::mutex> hold(lock_);
  firmware_->SetFaults(cfg.faults, cfg.disconnectAfter, cfg.delayMs, cfg.seed);
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

void Emulator::With(const std::function<void(Firmware&)>& use) {
  std::lock_guard<std::mutex> hold(lock_);
  use(*firmware_);
}

}  // namespace kzemu

extern "C" KZEMU_EXPORT int kz51emu_configure(const char* settings) {
  std::string error;
  if (kzemu::Emulator::Instance().Configure(settings, &error)) return 0;
  std::fprintf(stderr, "usbd12: kz51emu_configure: %s\n", error.c_str());
  return -1;
}

extern "C" KZEMU_EXPORT int kz51emu_inject(const char* settings) {
  std::string error;
  if (kzemu::Emulator::Instance().InjectFaults(settings, &error)) return 0;
  std::fprintf(stderr, "usbd12: kz51emu_inject: %s\n", error.c_str());
  return -1;
}
