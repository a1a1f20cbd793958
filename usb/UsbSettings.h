#pragma once
// The KZ51_USB setting: which USB device is the emulator and which of its
// endpoints carry the packets, e.g. "vid=0x1234,pid=0x5678" or
// "vid=0x1234,pid=0x5678,interface=1,out=0x02,in=0x81". Every value is
// hexadecimal, with or without 0x; `in` may be written with or without its
// direction bit (0x81 or 0x01).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kzusb {

struct UsbSettings {
  std::uint16_t vid = 0, pid = 0;
  std::optional<std::uint8_t> interfaceNumber;  // default: the first with a bulk pair of 64 bytes
  std::optional<std::uint8_t> out, in;  // endpoint addresses; default: the interface's first pair
};

// False with `error` set to a sentence naming the fault and the form to use.
bool ParseUsbSettings(std::string_view text, UsbSettings& settings, std::string& error);

// "1234:5678", as lsusb and kz51 devices show ids.
std::string IdText(std::uint16_t vid, std::uint16_t pid);

}  // namespace kzusb
