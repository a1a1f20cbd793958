#pragma once
// Why the USB provider could not open or serve the emulator, as one sentence
// naming the cause and the fix, and the record of the last one. The driver
// only learns that a pipe did not open or an exchange failed; the host asks
// the provider for the sentence.
#include <cstdint>
#include <mutex>
#include <string>

#include "UsbSettings.h"

namespace kzusb {

// The device a sentence is about: "USB device 1234:5678 (bus 1, address 5)".
struct DeviceName {
  std::uint16_t vid = 0, pid = 0;
  std::uint8_t bus = 0, address = 0;
  std::string Text() const;
};

namespace sentence {
std::string NotSet();
std::string NotFound(const UsbSettings& settings);
std::string NoPermission(const DeviceName& d);
std::string Busy(const DeviceName& d, int interfaceNumber);
std::string Unplugged(const DeviceName& d);
std::string NoInterface(const DeviceName& d, int interfaceNumber);
std::string NoPair(const DeviceName& d);
// `interfaceNumber` -1: in none of the interfaces.
std::string NoEndpoint(const DeviceName& d, int interfaceNumber, int endpoint);
std::string NoAnswer(const DeviceName& d, int endpoint, unsigned ms);
std::string WriteRefused(const DeviceName& d, int endpoint, unsigned ms);
// Any other libusb failure of `what` ("open", "claim", ...).
std::string Other(const DeviceName& d, const char* what, int libusbError);
std::string NoLibusb(int libusbError);
}  // namespace sentence

// Thread-safe: the relay thread records, the host's threads read.
class FailureLog {
 public:
  void Record(const std::string& sentence);
  // The last sentence ("" before the first) and the count of failures so far.
  unsigned Last(std::string& sentence) const;

 private:
  mutable std::mutex lock_;
  unsigned count_ = 0;
  std::string last_;
};

}  // namespace kzusb
