#include "Failures.h"

#include <libusb.h>

#include <cstdio>

namespace kzusb {

namespace {

constexpr const char* kCheckIds = "check KZ51_USB against what kz51 devices shows";

std::string Hex2(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%02x", v & 0xFF);
  return b;
}

}  // namespace

std::string DeviceName::Text() const {
  return "USB device " + IdText(vid, pid) + " (bus " + std::to_string(bus) + ", address " +
         std::to_string(address) + ")";
}

namespace sentence {

std::string NotSet() {
  return "KZ51_USB is not set, so the USB provider does not know which device is the emulator; "
         "find its ids with kz51 devices and set KZ51_USB=\"vid=0x1234,pid=0x5678\" with them";
}

std::string NotFound(const UsbSettings& s) {
  return "no USB device " + IdText(s.vid, s.pid) +
         " (the ids KZ51_USB names) is connected; plug the emulator in, or " + kCheckIds;
}

std::string NoPermission(const DeviceName& d) {
  return "permission denied for " + d.Text() +
         ": install the udev rule packaging/60-kz51-emulator.rules with these ids (README, "
         "\"Using the emulator hardware on Linux\") and plug the emulator in again";
}

std::string Busy(const DeviceName& d, int interfaceNumber) {
  return d.Text() + " is busy: another program holds its interface " +
         std::to_string(interfaceNumber) +
         "; end that program (another kz51 or debugger) and connect again";
}

std::string Unplugged(const DeviceName& d) {
  return d.Text() + " was unplugged or lost its power; plug the emulator in again and connect";
}

std::string NoInterface(const DeviceName& d, int interfaceNumber) {
  return d.Text() + " has no interface " + std::to_string(interfaceNumber) + "; " + kCheckIds;
}

std::string NoPair(const DeviceName& d) {
  return d.Text() +
         " has no interface with bulk OUT and IN endpoints of 64 bytes, so it is not the "
         "emulator; " +
         kCheckIds + ", or name its endpoints with interface=, out= and in=";
}

std::string NoEndpoint(const DeviceName& d, int interfaceNumber, int endpoint) {
  return d.Text() + " has no bulk endpoint " + Hex2(endpoint) +
         (interfaceNumber < 0 ? std::string(" in any interface")
                              : " in interface " + std::to_string(interfaceNumber)) +
         "; " + kCheckIds + " (out= and in=)";
}

std::string NoAnswer(const DeviceName& d, int endpoint, unsigned ms) {
  return d.Text() + " did not answer within " + std::to_string(ms) + " ms on endpoint " +
         Hex2(endpoint) +
         "; check that the emulator is powered and that KZ51_USB names its endpoints (kz51 "
         "devices)";
}

std::string WriteRefused(const DeviceName& d, int endpoint, unsigned ms) {
  return d.Text() + " did not take a command within " + std::to_string(ms) + " ms on endpoint " +
         Hex2(endpoint) +
         "; check that the emulator is powered and that KZ51_USB names its endpoints (kz51 "
         "devices)";
}

std::string Other(const DeviceName& d, const char* what, int libusbError) {
  return d.Text() + ": " + what + " failed (" + libusb_strerror(libusbError) +
         "); unplug the emulator, plug it in again and connect";
}

std::string NoLibusb(int libusbError) {
  return std::string("libusb cannot start (") + libusb_strerror(libusbError) +
         "), so no USB device can be reached; on Linux it needs /sys and /dev/bus/usb";
}

}  // namespace sentence

void FailureLog::Record(const std::string& sentence) {
  std::lock_guard<std::mutex> hold(lock_);
  ++count_;
  last_ = sentence;
}

unsigned FailureLog::Last(std::string& sentence) const {
  std::lock_guard<std::mutex> hold(lock_);
  sentence = last_;
  return count_;
}

}  // namespace kzusb
