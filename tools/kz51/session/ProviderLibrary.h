#pragma once
// The pipe provider the driver reaches the emulator through, as the host
// chooses it: the virtual emulator (libusbd12.so, the default) or the
// emulator hardware through libusb (libusbd12-usb.so, set up by KZ51_USB).
//
// The driver reads no settings and loads its provider by the name
// libusbd12.so. The USB provider carries that name as its soname, so a host
// that chooses the hardware loads it, from beside the host program, before
// the driver: the driver's lookup by name then finds it among the loaded
// libraries. Once the driver has loaded a provider it keeps it for the
// process, so the choice is made once per process.
#include <string>
#include <string_view>

#include "usb/kz51usb.h"

namespace kzhost {

enum class Provider { Virtual, Usb };

// "virtual" or "usb", the values of the provider setting.
const char* ProviderName(Provider provider);
bool ParseProvider(std::string_view text, Provider& provider);
// The setting's values with their meaning, for help texts and usage errors.
const char* ProviderChoices();

// The USB provider's functions for its host.
struct UsbProviderExports {
  Kz51UsbListFn list = nullptr;
  Kz51UsbFailureFn failure = nullptr;
};

// Loads the USB provider from beside the host program; false with `error`.
bool LoadUsbProvider(UsbProviderExports& out, std::string& error);

// Makes the driver, when it is loaded after this, use the chosen provider;
// for the USB provider, `usb` receives its functions. False with `error`
// when that cannot be: the USB provider is missing, or the process already
// holds the other provider.
bool PrepareProvider(Provider provider, UsbProviderExports& usb, std::string& error);

}  // namespace kzhost
