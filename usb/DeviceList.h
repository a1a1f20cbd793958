#pragma once
// The USB devices of the system as libusb enumerates them, with what kz51
// needs to find the emulator among them: ids, bus and address, the strings
// the kernel keeps, and each interface's bulk endpoints. Reading it sends
// nothing to any device: libusb takes the descriptors from the kernel's copy
// and the strings come from sysfs.
#include <libusb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "UsbSettings.h"

namespace kzusb {

// The packet size of the emulator's endpoints.
inline constexpr std::uint16_t kPacketSize = 64;

struct BulkEndpoint {
  std::uint8_t address = 0;  // bit 7: IN
  std::uint16_t maxPacket = 0;
};

struct InterfaceInfo {
  std::uint8_t number = 0;
  std::vector<BulkEndpoint> bulk;  // of its first alternate setting, in descriptor order
};

struct EndpointPair {
  std::uint8_t interfaceNumber = 0, out = 0, in = 0;
};

struct DeviceInfo {
  std::uint16_t vid = 0, pid = 0;
  std::uint8_t bus = 0, address = 0;
  std::optional<std::string> manufacturer, product;  // empty when the system has none
  std::vector<InterfaceInfo> interfaces;
  libusb_device* device = nullptr;  // valid while its DeviceList lives
};

// An interface's first bulk OUT and first bulk IN endpoint of 64 bytes.
std::optional<EndpointPair> FirstPair(const InterfaceInfo& interface);
// Those pairs of every interface: what makes a device a candidate.
std::vector<EndpointPair> Pairs(const DeviceInfo& device);

class DeviceList {
 public:
  // Enumerates; on failure the list is empty and Error() holds libusb's code.
  explicit DeviceList(libusb_context* context);
  ~DeviceList();
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  // In bus and address order.
  const std::vector<DeviceInfo>& Devices() const { return devices_; }
  int Error() const { return error_; }
  // The first device with the settings' ids, or null.
  const DeviceInfo* Select(const UsbSettings& settings) const;

 private:
  libusb_device** list_ = nullptr;
  std::vector<DeviceInfo> devices_;
  int error_ = 0;
};

}  // namespace kzusb
