#include "DeviceList.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace kzusb {

namespace {

// The kernel's copy of a string descriptor, read at enumeration:
// /sys/bus/usb/devices/<bus>-<port>.<port>.../<name>.
std::optional<std::string> SysfsString(libusb_device* device, const char* name) {
  std::uint8_t ports[8];
  const int n = libusb_get_port_numbers(device, ports, sizeof ports);
  if (n <= 0) return std::nullopt;
  std::string path = "/sys/bus/usb/devices/" + std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < n; ++i) path += (i > 0 ? "." : "") + std::to_string(ports[i]);
  std::ifstream in(path + "/" + name, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::vector<InterfaceInfo> Interfaces(libusb_device* device) {
  std::vector<InterfaceInfo> out;
  libusb_config_descriptor* config = nullptr;
  // The active configuration; an unconfigured device offers its first.
  if (libusb_get_active_config_descriptor(device, &config) != 0 &&
      libusb_get_config_descriptor(device, 0, &config) != 0)
    return out;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& itf = config->interface[i];
    if (itf.num_altsetting < 1) continue;
    const libusb_interface_descriptor& alt = itf.altsetting[0];
    InterfaceInfo info;
    info.number = alt.bInterfaceNumber;
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& ep = alt.endpoint[e];
      if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      info.bulk.push_back(BulkEndpoint{ep.bEndpointAddress, ep.wMaxPacketSize});
    }
    out.push_back(std::move(info));
  }
  libusb_free_config_descriptor(config);
  return out;
}

}  // namespace

std::optional<EndpointPair> FirstPair(const InterfaceInfo& interface) {
  std::optional<std::uint8_t> out, in;
  for (const BulkEndpoint& ep : interface.bulk) {
    if (ep.maxPacket != kPacketSize) continue;
    if ((ep.address & 0x80) != 0) {
      if (!in) in = ep.address;
    } else if (!out) {
      out = ep.address;
    }
  }
  if (!out || !in) return std::nullopt;
  return EndpointPair{interface.number, *out, *in};
}

std::vector<EndpointPair> Pairs(const DeviceInfo& device) {
  std::vector<EndpointPair> pairs;
  for (const InterfaceInfo& itf : device.interfaces)
    if (auto p = FirstPair(itf)) pairs.push_back(*p);
  return pairs;
}

DeviceList::DeviceList(libusb_context* context) {
  const ssize_t n = libusb_get_device_list(context, &list_);
  if (n < 0) {
    error_ = static_cast<int>(n);
    list_ = nullptr;
    return;
  }
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* d = list_[i];
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(d, &desc) != 0) continue;
    DeviceInfo info;
    info.vid = desc.idVendor;
    info.pid = desc.idProduct;
    info.bus = libusb_get_bus_number(d);
    info.address = libusb_get_device_address(d);
    info.manufacturer = SysfsString(d, "manufacturer");
    info.product = SysfsString(d, "product");
    info.interfaces = Interfaces(d);
    info.device = d;
    devices_.push_back(std::move(info));
  }
  std::sort(devices_.begin(), devices_.end(), [](const DeviceInfo& a, const DeviceInfo& b) {
    return a.bus != b.bus ? a.bus < b.bus : a.address < b.address;
  });
}

DeviceList::~DeviceList() {
  if (list_ != nullptr) libusb_free_device_list(list_, 1);
}

const DeviceInfo* DeviceList::Select(const UsbSettings& settings) const {
  for (const DeviceInfo& d : devices_)
    if (d.vid == settings.vid && d.pid == settings.pid) return &d;
  return nullptr;
}

}  // namespace kzusb
