#pragma once
// One open link to the emulator: the device opened, its interface claimed
// (a bound kernel driver detached for as long as the link lasts), and a
// thread that relays between the driver's socket and the two endpoints:
// each packet the driver writes becomes one bulk OUT transfer, and its reply
// one bulk IN transfer written back as one packet.
//
// While the reply is awaited the driver's end of the socket gets an empty
// packet every millisecond, so each of the driver's reads returns after
// about 1 ms with nothing, as the vendor library's ReadFile does; the
// transport's retry pattern then bounds its wait exactly as on Windows.
#include <libusb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "DeviceList.h"
#include "Failures.h"
#include "UsbSettings.h"

namespace kzusb {

class Connection {
 public:
  // The time a command's bulk OUT transfer may take: a device that does not
  // take a 64-byte packet in this time is not working.
  static constexpr unsigned kWriteTimeoutMs = 100;
  // The wait for a reply: longer than the transport's whole wait (100 passes
  // of 10 reads of about 1 ms and a 1 ms sleep), so no reply the transport
  // still waits for is cut off.
  static constexpr unsigned kReplyTimeoutMs = 1200;
  // Empty packets per awaited reply: one for each read of the transport,
  // which has given up on the reply when it has read them all.
  static constexpr int kTicks = 1000;
  // A reply awaited this long is overdue: no healthy reply takes so long,
  // and the driver can have given up on it (its reads wait for the empty
  // packets or about 1 ms each; each pass of 10 then sleeps 1 ms).
  static constexpr long long kOverdueMs = 100;
  // Replies left over from an earlier link (or a reply that came late) are
  // read away before the next command, each read waiting this long.
  static constexpr unsigned kDrainTimeoutMs = 2;

  // Opens the device the settings select, claims the interface and starts
  // the relay. Answers the connection and sets `driverFd` to the driver's
  // end, or answers null with the cause recorded in `failures`.
  static std::unique_ptr<Connection> Open(libusb_context* context, const UsbSettings& settings,
                                          FailureLog& failures, int& driverFd);
  // Ends the relay, releases the interface (the kernel driver is attached
  // again) and closes the device.
  ~Connection();
  // The sentence for a reply awaited for kOverdueMs or longer, or "". The
  // failure is recorded only when the relay gives up (kReplyTimeoutMs) or
  // the driver closes its pipes; a host that asks when the driver has
  // returned (having given up) learns of it now. `atLeastMs` 0: any reply
  // still awaited. Any thread.
  std::string OverdueReply(long long atLeastMs = kOverdueMs) const;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

 private:
  Connection(libusb_context* context, libusb_device_handle* handle, const DeviceName& name,
             int interfaceNumber, std::uint8_t out, std::uint8_t in, FailureLog& failures, int fd);
  void Run();
  // One command and its reply; false ends the connection (the driver then
  // reads the end of its socket and fails the exchange).
  bool Exchange(const std::uint8_t* command, int length);
  void Drain();
  // What the driver did while a reply was awaited.
  enum class DriverState { kWaiting, kGone, kNewCommand };
  DriverState PeekDriver() const;

  libusb_context* context_;
  libusb_device_handle* handle_;
  DeviceName name_;
  int interface_;
  std::uint8_t out_, in_;
  FailureLog& failures_;
  int fd_;                                   // the relay's end of the socket pair
  bool stale_ = false;                       // a reply may still come for an exchange given up
  std::atomic<long long> waitingSince_{-1};  // steady-clock ms of the awaited reply's command
  std::atomic<bool> stop_{false};
  // Set by the relay thread as its last act. The thread is detached, so a
  // process that ends with a link open (the driver keeps its pipes) leaves
  // no thread unjoined; the destructor waits for this instead.
  struct Finished {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
  };
  std::shared_ptr<Finished> finished_ = std::make_shared<Finished>();
};

}  // namespace kzusb
