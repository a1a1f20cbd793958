#include "cli/Devices.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "session/ProviderLibrary.h"

namespace kz51::cli {

namespace {

std::string Hex(unsigned v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*x", digits, v);
  return b;
}

std::string Setting(const Kz51UsbDevice& d) {
  return "vid=0x" + Hex(d.vid, 4) + ",pid=0x" + Hex(d.pid, 4);
}

nlohmann::ordered_json Json(const std::vector<Kz51UsbDevice>& devices, const std::string& note) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Kz51UsbDevice& d : devices) {
    nlohmann::ordered_json pairs = nlohmann::ordered_json::array();
    for (int i = 0; i < d.pairCount; ++i)
      pairs.push_back({{"interface", d.pairs[i].interfaceNumber},
                       {"out", d.pairs[i].out},
                       {"in", d.pairs[i].in}});
    list.push_back(
        {{"id", Hex(d.vid, 4) + ":" + Hex(d.pid, 4)},
         {"vid", d.vid},
         {"pid", d.pid},
         {"bus", d.bus},
         {"address", d.address},
         {"manufacturer",
          d.hasManufacturer ? nlohmann::ordered_json(d.manufacturer) : nlohmann::ordered_json()},
         {"product", d.hasProduct ? nlohmann::ordered_json(d.product) : nlohmann::ordered_json()},
         {"pairs", pairs},
         {"selected", d.selected != 0},
         {"setting", Setting(d)}});
  }
  return {{"command", "devices"},
          {"ok", true},
          {"devices", list},
          {"note", note.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(note)}};
}

std::string Text(const std::vector<Kz51UsbDevice>& devices, const std::string& note) {
  std::string out;
  if (devices.empty()) {
    out +=
        "no USB device that could be the emulator was found (none has a bulk OUT and a bulk IN "
        "endpoint of 64 bytes); plug the emulator in, or see the README, \"Using the emulator "
        "hardware on Linux\"\n";
  } else {
    out += "USB devices that could be the emulator (* marks the one KZ51_USB selects):\n";
    for (const Kz51UsbDevice& d : devices) {
      out += std::string(d.selected != 0 ? "* " : "  ") + Hex(d.vid, 4) + ":" + Hex(d.pid, 4) +
             "  bus " + std::to_string(d.bus) + ", address " + std::to_string(d.address) + "  " +
             (d.hasManufacturer ? "\"" + std::string(d.manufacturer) + "\"" : "(no maker name)") +
             " " + (d.hasProduct ? "\"" + std::string(d.product) + "\"" : "(no product name)");
      for (int i = 0; i < d.pairCount; ++i)
        out += "  interface " + std::to_string(d.pairs[i].interfaceNumber) + ": out 0x" +
               Hex(d.pairs[i].out, 2) + ", in 0x" + Hex(d.pairs[i].in, 2);
      if (d.pairCount == 0) out += "  (no bulk endpoints of 64 bytes)";
      out += "\n";
    }
    bool anySelected = false;
    for (const Kz51UsbDevice& d : devices) anySelected = anySelected || d.selected != 0;
    if (!anySelected) out += "to use the first: KZ51_USB=\"" + Setting(devices.front()) + "\"\n";
  }
  if (!note.empty()) out += note + "\n";
  return out;
}

}  // namespace

int RunDevices(int argc, char** argv) {
  CLI::App app{
      "kz51 devices: lists the USB devices that could be the emulator (bulk OUT and IN endpoints\n"
      "of 64 bytes) without sending anything to them, and marks the one KZ51_USB selects",
      "kz51 devices"};
  bool json = false;
  app.add_flag("--json", json, "print one JSON object");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : 2;
  }
  kzhost::UsbProviderExports usb;
  std::string error;
  if (!kzhost::LoadUsbProvider(usb, error)) {
    if (json) {
      std::cout
          << nlohmann::ordered_json{{"command", "devices"}, {"ok", false}, {"error", error}}.dump()
          << std::endl;
    } else {
      std::cerr << "kz51 devices: " << error << std::endl;
    }
    return 1;
  }
  char note[1024] = "";
  std::vector<Kz51UsbDevice> devices(16);
  int n = usb.list(devices.data(), static_cast<int>(devices.size()), note, sizeof note);
  if (n > static_cast<int>(devices.size())) {
    devices.resize(static_cast<std::size_t>(n));
    n = usb.list(devices.data(), n, note, sizeof note);
  }
  devices.resize(
      static_cast<std::size_t>(std::max(0, std::min(n, static_cast<int>(devices.size())))));
  if (json) {
    std::cout << Json(devices, note).dump() << std::endl;
  } else {
    std::cout << Text(devices, note);
  }
  return 0;
}

}  // namespace kz51::cli
