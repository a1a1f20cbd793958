#include "firmware/FirmwareConfig.h"

#include <charconv>

namespace kzemu {

namespace {

bool ParseInt(std::string_view s, long& out) {
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ParseRange(std::string_view s, int& lo, int& hi) {
  long a = 0, b = 0;
  const auto dash = s.find('-');
  if (dash == std::string_view::npos) {
    if (!ParseInt(s, a)) return false;
    b = a;
  } else if (!ParseInt(s.substr(0, dash), a) || !ParseInt(s.substr(dash + 1), b)) {
    return false;
  }
  if (a > b) return false;
  lo = static_cast<int>(a);
  hi = static_cast<int>(b);
  return true;
}

bool ParseDate(std::string_view s, int& year, int& month) {
  const auto dash = s.find('-');
  long y = 0, m = 0;
  if (dash == std::string_view::npos || !ParseInt(s.substr(0, dash), y) ||
      !ParseInt(s.substr(dash + 1), m))
    return false;
  // The identity word holds year - 2005 in three bits and the month in four.
  if (y < 2005 || y > 2012 || m < 1 || m > 12) return false;
  year = static_cast<int>(y);
  month = static_cast<int>(m);
  return true;
}

}  // namespace

bool ParseFirmwareConfig(std::string_view text, FirmwareConfig& cfg, std::string* error) {
  auto fail = [&](std::string_view item) {
    if (error != nullptr) *error = "bad setting '" + std::string(item) + "'";
    return false;
  };
  while (!text.empty()) {
    const auto comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) continue;
    const auto eq = item.find('=');
    if (eq == std::string_view::npos) return fail(item);
    const std::string_view key = item.substr(0, eq), val = item.substr(eq + 1);
    long n = 0;
    const bool num = ParseInt(val, n);
    auto numIn = [&](long lo, long hi) { return num && n >= lo && n <= hi; };
    if (key == "model") {
      if (!numIn(0, 63)) return fail(item);
      cfg.modelCode = static_cast<std::uint8_t>(n);
    } else if (key == "serial") {
      if (!numIn(0, 32767)) return fail(item);
      cfg.serial = static_cast<std::uint16_t>(n);
    } else if (key == "date") {
      if (!ParseDate(val, cfg.year, cfg.month)) return fail(item);
    } else if (key == "pod") {
      if (!numIn(0, 40)) return fail(item);
      cfg.pod = static_cast<int>(n);
    } else if (key == "podcode") {
      if (!numIn(0, 63)) return fail(item);
      cfg.podCode = static_cast<int>(n);
    } else if (key == "podserial") {
      if (!numIn(0, 32767)) return fail(item);
      cfg.podSerial = static_cast<std::uint16_t>(n);
    } else if (key == "poddate") {
      if (!ParseDate(val, cfg.podYear, cfg.podMonth)) return fail(item);
    } else if (key == "logic") {
      if (val == "auto")
        cfg.logic = LogicDevice::kAuto;
      else if (val == "standard")
        cfg.logic = LogicDevice::kStandard;
      else if (val == "alternate")
        cfg.logic = LogicDevice::kAlternate;
      else if (val == "none")
        cfg.logic = LogicDevice::kNone;
      else
        return fail(item);
    } else if (key == "configured") {
      if (!numIn(0, 1)) return fail(item);
      cfg.logicConfigured = n != 0;
    } else if (key == "cputype") {
      if (!numIn(0, 7)) return fail(item);
      cfg.cpuType = static_cast<int>(n);
    } else if (key == "budget") {
      if (!numIn(1, 100000000)) return fail(item);
      cfg.budget = static_cast<std::uint32_t>(n);
    } else if (key == "ta") {
      if (!ParseRange(val, cfg.aMin, cfg.aMax)) return fail(item);
    } else if (key == "tb") {
      if (!ParseRange(val, cfg.bMin, cfg.bMax)) return fail(item);
    } else if (key == "tc") {
      if (!ParseRange(val, cfg.cMin, cfg.cMax)) return fail(item);
    } else if (key == "tx") {
      if (val == "any")
        cfg.x = -1;
      else if (numIn(0, 1))
        cfg.x = static_cast<int>(n);
      else
        return fail(item);
    } else if (key == "fault") {
      std::uint32_t f = kFaultNone;
      std::string_view rest = val;
      while (!rest.empty()) {
        const auto plus = rest.find('+');
        const std::string_view name = rest.substr(0, plus);
        rest = plus == std::string_view::npos ? std::string_view() : rest.substr(plus + 1);
        if (name == "none")
          continue;
        else if (name == "silent")
          f |= kFaultSilent;
        else if (name == "garbage")
          f |= kFaultGarbage;
        else if (name == "wrongid")
          f |= kFaultWrongId;
        else if (name == "disconnect")
          f |= kFaultDisconnect;
        else if (name == "neverstop")
          f |= kFaultNeverStop;
        else if (name == "slow")
          f |= kFaultSlow;
        else
          return fail(item);
      }
      cfg.faults = f;
    } else if (key == "after") {
      if (!numIn(0, 0x7FFFFFFF)) return fail(item);
      cfg.disconnectAfter = static_cast<std::uint32_t>(n);
    } else if (key == "delay") {
      if (!numIn(0, 60000)) return fail(item);
      cfg.delayMs = static_cast<std::uint32_t>(n);
    } else if (key == "seed") {
      if (!numIn(0, 0x7FFFFFFF)) return fail(item);
      cfg.seed = static_cast<std::uint32_t>(n);
    } else if (key == "serial_out") {
      cfg.serialOut = std::string(val);
    } else {
      return fail(item);
    }
  }
  return true;
}

}  // namespace kzemu
