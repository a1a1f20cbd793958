#pragma once
// The emulator's settings (the KZ51_EMU syntax, docs/KZ51_EMU.md) and their
// parser. The provider reads them; the debug adapter checks a launch's
// settings with the same parser before it starts the provider.
#include <cstdint>
#include <string>
#include <string_view>

namespace kzemu {

// Faults the emulator can be told to show; several may be combined.
enum Fault : std::uint32_t {
  kFaultNone = 0,
  kFaultSilent = 1u << 0,      // never answers
  kFaultGarbage = 1u << 1,     // answers every packet with random bytes (never "V1")
  kFaultWrongId = 1u << 2,     // answers identify with something other than "V1"
  kFaultDisconnect = 1u << 3,  // unplugged after `disconnectAfter` packets
  kFaultNeverStop = 1u << 4,   // ignores the stop request of a running target
  kFaultSlow = 1u << 5,        // every reply waits `delayMs` (the provider sleeps)
};

enum class LogicDevice : std::uint8_t {
  kAuto,       // alternate for model codes 5..7 with serial 3000 or more, else standard
  kStandard,   // identification code 0x93C06120
  kAlternate,  // identification code 0x43002411
  kNone,       // no logic device answering (identification code 0)
};

struct FirmwareConfig {
  std::uint8_t modelCode = 0x00;  // identity word bits 22..27 of command 4
  std::uint16_t serial = 1;       // 0..32767
  int year = 2006, month = 1;     // date of manufacture (year 2005..2012)
  int pod = 1;                    // pod slot number (1-based); 0 = no pod plugged in
  int podCode = -1;               // reported pod code; -1 = the code of the slot
  std::uint16_t podSerial = 1;
  int podYear = 2006, podMonth = 1;
  LogicDevice logic = LogicDevice::kAuto;
  bool logicConfigured = false;  // the pod's logic starts configured (as after a download)
  int cpuType = -1;              // CPU type code in status word 1; -1 = by pod (see CpuTypeCode)
  std::uint32_t budget = 2000;   // instructions a running target makes per status read
  // Timing window: a timing trial passes when W1's fields lie in these ranges
  // (x = -1: any value of X).
  int aMin = 1, aMax = 1, bMin = 0, bMax = 0, cMin = 10, cMax = 20, x = -1;
  std::uint32_t faults = kFaultNone;
  std::uint32_t disconnectAfter = 0;  // packets served before the unplug
  std::uint32_t delayMs = 0;          // reply delay of kFaultSlow
  std::uint32_t seed = 1;             // garbage reply generator
  std::string serialOut;              // "", "stdout", "stderr" or a file path
};

// Parses the KZ51_EMU syntax (docs/KZ51_EMU.md): comma-separated key=value
// pairs. On an error `cfg` holds the pairs before the bad one and `error`
// names it.
bool ParseFirmwareConfig(std::string_view text, FirmwareConfig& cfg, std::string* error);

}  // namespace kzemu
