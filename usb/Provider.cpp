// libusbd12-usb.so: the pipe provider that reaches the emulator hardware
// through libusb. Its soname is libusbd12.so, the name the driver loads: a
// host that wants the hardware loads this file first, and the driver's
// dlopen("libusbd12.so") then finds it among the loaded libraries.
//
// openUSBfile_3 (read pipe) opens the device KZ51_USB selects, claims the
// interface and answers the driver's end of a socket pair whose other end a
// relay thread serves (see Connection); the next openUSBfile_2 (write pipe)
// answers a duplicate of that end, so the driver's writes and reads of one
// link meet one connection, packet by packet. Opening a link ends the one
// before (the driver closes its pipes before it opens them again).
//
// Failures answer -1 or end the relay (the driver then reads the end of its
// pipe and fails the exchange); the sentence saying why is kept for the host.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>

#include "Connection.h"
#include "DeviceList.h"
#include "Failures.h"
#include "UsbSettings.h"
#include "kz51usb.h"
#include "platform/posix/PipeHandOff.h"

namespace kzusb {
namespace {

void CopyText(const std::string& text, char* out, std::size_t size) {
  if (out == nullptr || size == 0) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

class Provider {
 public:
  static Provider& Instance() {
    static Provider* const provider = new Provider();  // a relay may outlive static destructors
    return *provider;
  }

  int OpenRead() {
    std::lock_guard<std::mutex> hold(lock_);
    return pipes_.OpenRead([this] { return NewConnection(); });
  }

  int OpenWrite() {
    std::lock_guard<std::mutex> hold(lock_);
    return pipes_.OpenWrite([this] { return NewConnection(); });
  }

  int List(Kz51UsbDevice* out, int capacity, char* note, std::size_t noteSize) {
    std::lock_guard<std::mutex> hold(lock_);
    CopyText("", note, noteSize);
    std::string error;
    libusb_context* context = Context(error);
    if (context == nullptr) {
      CopyText(error, note, noteSize);
      return 0;
    }
    UsbSettings settings;
    const char* env = std::getenv("KZ51_USB");
    const bool haveSettings =
        env != nullptr && *env != '\0' && ParseUsbSettings(env, settings, error);
    if (env == nullptr || *env == '\0') error = sentence::NotSet();
    DeviceList list(context);
    if (list.Error() != 0) {
      CopyText(sentence::NoLibusb(list.Error()), note, noteSize);
      return 0;
    }
    const DeviceInfo* selected = haveSettings ? list.Select(settings) : nullptr;
    if (haveSettings && selected == nullptr) error = sentence::NotFound(settings);
    if (!error.empty()) CopyText(error, note, noteSize);
    int count = 0;
    for (const DeviceInfo& d : list.Devices()) {
      const auto pairs = Pairs(d);
      if (pairs.empty() && &d != selected) continue;
      if (count < capacity && out != nullptr) {
        Kz51UsbDevice& e = out[count];
        e = Kz51UsbDevice{};
        e.vid = d.vid;
        e.pid = d.pid;
        e.bus = d.bus;
        e.address = d.address;
        e.selected = &d == selected ? 1 : 0;
        e.hasManufacturer = d.manufacturer ? 1 : 0;
        e.hasProduct = d.product ? 1 : 0;
        CopyText(d.manufacturer.value_or(""), e.manufacturer, sizeof e.manufacturer);
        CopyText(d.product.value_or(""), e.product, sizeof e.product);
        for (const EndpointPair& p : pairs) {
          if (e.pairCount == std::size(e.pairs)) break;
          e.pairs[e.pairCount++] = Kz51UsbPair{p.interfaceNumber, p.out, p.in, 0};
        }
      }
      ++count;
    }
    return count;
  }

  unsigned Failure(char* text, std::size_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    std::string last;
    unsigned count = failures_.Last(last);
    // An overdue reply is the failure the relay will record when it gives up.
    if (current_ != nullptr) {
      if (std::string overdue = current_->OverdueReply(); !overdue.empty()) {
        ++count;
        last = overdue;
      }
    }
    CopyText(last, text, size);
    return count;
  }

 private:
  Provider() = default;

  // Caller holds lock_. Created once and kept for the process: a relay
  // thread may use it until the process ends.
  libusb_context* Context(std::string& error) {
    if (context_ == nullptr) {
      const int r = libusb_init(&context_);
      if (r != 0) {
        context_ = nullptr;
        error = sentence::NoLibusb(r);
      }
    }
    return context_;
  }

  // Caller holds lock_. Ends the current link and opens a new one; answers
  // the driver's end, or -1 with the cause recorded.
  int NewConnection() {
    // A link the driver gives up while it awaits a reply (it opens the next
    // one at once): the device did not answer. The relay would record it
    // too, but only once its thread runs, which may be after the host has
    // asked why the connection failed.
    if (current_ != nullptr)
      if (std::string abandoned = current_->OverdueReply(0); !abandoned.empty())
        failures_.Record(abandoned);
    current_.reset();
    const char* env = std::getenv("KZ51_USB");
    if (env == nullptr || *env == '\0') {
      failures_.Record(sentence::NotSet());
      return -1;
    }
    UsbSettings settings;
    std::string error;
    if (!ParseUsbSettings(env, settings, error)) {
      failures_.Record(error);
      return -1;
    }
    libusb_context* context = Context(error);
    if (context == nullptr) {
      failures_.Record(error);
      return -1;
    }
    int fd = -1;
    current_ = Connection::Open(context, settings, failures_, fd);
    return fd;
  }

  std::mutex lock_;
  libusb_context* context_ = nullptr;
  std::unique_ptr<Connection> current_;
  kz::PipeHandOff pipes_;
  FailureLog failures_;
};

}  // namespace
}  // namespace kzusb

#define KZUSB_EXPORT extern "C" __attribute__((visibility("default")))

KZUSB_EXPORT int openUSBfile_3() {
  return kzusb::Provider::Instance().OpenRead();
}
KZUSB_EXPORT int openUSBfile_2() {
  return kzusb::Provider::Instance().OpenWrite();
}
KZUSB_EXPORT int kz51usb_list(Kz51UsbDevice* out, int capacity, char* note, std::size_t noteSize) {
  return kzusb::Provider::Instance().List(out, capacity, note, noteSize);
}
KZUSB_EXPORT unsigned kz51usb_failure(char* text, std::size_t size) {
  return kzusb::Provider::Instance().Failure(text, size);
}

static_assert(std::is_same_v<decltype(&kz51usb_list), Kz51UsbListFn>);
static_assert(std::is_same_v<decltype(&kz51usb_failure), Kz51UsbFailureFn>);
