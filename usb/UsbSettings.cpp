#include "UsbSettings.h"

#include <cstdio>

namespace kzusb {

namespace {

constexpr const char* kForm =
    "write it as KZ51_USB=\"vid=0x1234,pid=0x5678\" with the ids kz51 devices shows";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseHex(std::string_view s, std::uint32_t max, std::uint32_t& value) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.empty() || s.size() > 8) return false;
  value = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value <= max;
}

}  // namespace

std::string IdText(std::uint16_t vid, std::uint16_t pid) {
  char b[16];
  std::snprintf(b, sizeof b, "%04x:%04x", vid, pid);
  return b;
}

bool ParseUsbSettings(std::string_view text, UsbSettings& settings, std::string& error) {
  settings = UsbSettings{};
  bool haveVid = false, havePid = false;
  for (std::string_view rest = text; !rest.empty();) {
    const auto comma = rest.find(',');
    const std::string_view item = Trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    if (item.empty()) continue;
    const auto eq = item.find('=');
    const std::string_view key = Trim(item.substr(0, eq));
    const std::string_view value = eq == std::string_view::npos ? "" : Trim(item.substr(eq + 1));
    std::uint32_t v = 0;
    const bool id = key == "vid" || key == "pid";
    if (!id && key != "interface" && key != "out" && key != "in") {
      error = "KZ51_USB: unknown setting '" + std::string(item) +
              "' (the settings are vid, pid, interface, out and in); " + kForm;
      return false;
    }
    if (!ParseHex(value, id ? 0xFFFF : 0xFF, v)) {
      error = "KZ51_USB: '" + std::string(item) + "' needs a hexadecimal number up to " +
              (id ? "0xffff" : "0xff") + "; " + kForm;
      return false;
    }
    if (key == "vid") {
      settings.vid = static_cast<std::uint16_t>(v);
      haveVid = true;
    } else if (key == "pid") {
      settings.pid = static_cast<std::uint16_t>(v);
      havePid = true;
    } else if (key == "interface") {
      settings.interfaceNumber = static_cast<std::uint8_t>(v);
    } else if (key == "out") {
      if ((v & 0x80) != 0 || (v & 0x0F) == 0) {
        error = "KZ51_USB: '" + std::string(item) +
                "' is not an OUT endpoint (1..0x0f, as kz51 devices shows it)";
        return false;
      }
      settings.out = static_cast<std::uint8_t>(v);
    } else {
      if ((v & 0x70) != 0 || (v & 0x0F) == 0) {
        error = "KZ51_USB: '" + std::string(item) +
                "' is not an IN endpoint (0x81..0x8f, as kz51 devices shows it)";
        return false;
      }
      settings.in = static_cast<std::uint8_t>(v | 0x80);
    }
  }
  if (!haveVid || !havePid) {
    error = std::string("KZ51_USB: the vendor and product ids are missing (vid and pid); ") + kForm;
    return false;
  }
  return true;
}

}  // namespace kzusb
