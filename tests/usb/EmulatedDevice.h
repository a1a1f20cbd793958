#pragma once
// The emulator as a USB device, for tests without hardware: a umockdev
// testbed device (sysfs attributes, descriptors with one interface holding a
// bulk OUT and a bulk IN endpoint of 64 bytes, a device node) whose usbdevfs
// ioctls are answered here. Each bulk OUT URB is a command packet for the
// virtual emulator's firmware; its reply completes the next bulk IN URB.
//
// The test program runs under umockdev-wrapper (its preload library), so
// libusb in this process and in every child it starts sees the testbed, and
// the ioctls of all of them come here, on the testbed's worker thread.
#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/Firmware.h"

namespace kz::usbtest {

// The process's testbed; created on first use.
UMockdevTestbed* Testbed();
// True when the umockdev preload library is in force.
bool UnderUmockdev();

struct DeviceSpec {
  std::uint16_t vid = 0x1234, pid = 0x5678;
  std::uint8_t address = 2;  // on bus 1, port = address
  std::string manufacturer = "KZ test", product = "8051 emulator";
  bool strings = true;                     // the kernel kept the strings
  bool emulatorEndpoints = true;           // else a keyboard: one interrupt IN endpoint
  std::string firmware = "model=0,pod=1";  // KZ51_EMU syntax
};

class EmulatedDevice {
 public:
  explicit EmulatedDevice(const DeviceSpec& description);
  ~EmulatedDevice();  // leaves the testbed
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  // KZ51_USB selecting this device.
  std::string Setting() const;
  std::string NodePath() const;  // the device node inside the testbed

  // Claiming the interface fails as with another program holding it.
  void SetBusy(bool busy);
  // After this many command packets served while the target runs, the
  // device is unplugged (every URB fails with ENODEV) or falls silent
  // (commands are taken, no reply comes).
  void UnplugDuringRun(int packets);
  void SilenceDuringRun(int packets);
  // From the start: commands are taken, no reply ever comes.
  void SetSilent(bool silent);
  // Takes every right to open the device node. (The preload library keeps a
  // record of each failed open of an emulated node and ends the process
  // after 50, fewer than the driver's attempts: so only the provider itself
  // can be shown a denied node.)
  void DenyAccess();

  std::uint32_t Commands() const;  // command packets served
  std::uint32_t MonitorPagesStored() const;
  bool Unplugged() const;

  // The usbdevfs ioctl of a client; runs on the testbed's worker thread.
  bool HandleIoctl(UMockdevIoctlClient* client);

 private:
  void Serve(const std::uint8_t* data, std::size_t length);
  void Match();
  void Unplug();

  DeviceSpec spec_;
  std::string sysPath_;
  UMockdevIoctlBase* handler_ = nullptr;
  std::size_t slot_ = 0;  // what the handler reaches (see OnIoctl)
  mutable std::mutex lock_;
  kzemu::Firmware firmware_;
  std::deque<std::vector<std::uint8_t>> replies_;
  std::vector<UMockdevIoctlData*> pendingIn_;  // IN URBs waiting for a reply
  std::deque<UMockdevIoctlData*> reapable_;    // completed URBs
  bool busy_ = false, silent_ = false, unplugged_ = false;
  int unplugAfter_ = -1, silenceAfter_ = -1;
  std::uint32_t commands_ = 0;
};

}  // namespace kz::usbtest
