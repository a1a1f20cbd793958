#pragma once
// What the USB pipe provider (libusbd12-usb.so) offers its host besides the
// two pipe functions the driver uses: the list of candidate devices and the
// sentence of its last failure. The host loads the library and resolves these
// by name; the driver never calls them.
#include <cstddef>
#include <cstdint>

extern "C" {

// A bulk OUT and a bulk IN endpoint of 64 bytes in one interface.
struct Kz51UsbPair {
  std::uint8_t interfaceNumber;
  std::uint8_t out;  // endpoint address, bit 7 clear
  std::uint8_t in;   // endpoint address, bit 7 set
  std::uint8_t reserved;
};
static_assert(sizeof(Kz51UsbPair) == 4);

struct Kz51UsbDevice {
  std::uint16_t vid, pid;
  std::uint8_t bus, address;
  std::uint8_t pairCount;  // entries of `pairs` in use
  std::uint8_t selected;   // 1: the device KZ51_USB selects
  // 1 when the system keeps the string (the kernel read it at enumeration);
  // the strings are UTF-8, zero-terminated, cut at the array's size.
  std::uint8_t hasManufacturer, hasProduct;
  std::uint8_t reserved[2];
  char manufacturer[256];
  char product[256];
  Kz51UsbPair pairs[8];
};
static_assert(sizeof(Kz51UsbDevice) == 12 + 512 + 32);
static_assert(offsetof(Kz51UsbDevice, manufacturer) == 12);
static_assert(offsetof(Kz51UsbDevice, pairs) == 524);

// Lists the USB devices that could be the emulator (at least one interface
// with a bulk pair of 64 bytes) and the device KZ51_USB selects, in bus and
// address order; sends nothing to any device. Fills up to `capacity` entries
// and answers how many there are. `note` receives a sentence about KZ51_USB
// (not set, or not understood), or "" when it selects a listed device.
using Kz51UsbListFn = int (*)(Kz51UsbDevice* out, int capacity, char* note, std::size_t noteSize);
// Copies the sentence of the provider's last failure (cause and fix) into
// `text` and answers how many failures it has had since it was loaded, so a
// host can tell whether one happened during an operation.
using Kz51UsbFailureFn = unsigned (*)(char* text, std::size_t size);

}  // extern "C"

#define KZ51USB_LIST_NAME "kz51usb_list"
#define KZ51USB_FAILURE_NAME "kz51usb_failure"
