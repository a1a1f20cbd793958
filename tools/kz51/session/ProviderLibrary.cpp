#include "session/ProviderLibrary.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "session/HostProgram.h"

namespace kzhost {

const char* ProviderName(Provider provider) {
  return provider == Provider::Usb ? "usb" : "virtual";
}

bool ParseProvider(std::string_view text, Provider& provider) {
  if (text == "virtual") {
    provider = Provider::Virtual;
  } else if (text == "usb") {
    provider = Provider::Usb;
  } else {
    return false;
  }
  return true;
}

const char* ProviderChoices() {
  return "virtual (the virtual emulator, the default) or usb (the emulator hardware through "
         "libusb, chosen by KZ51_USB)";
}

#if defined(_WIN32)

bool LoadUsbProvider(UsbProviderExports&, std::string& error) {
  error =
      "the USB provider is part of kz51 on Linux; on Windows the driver reaches the emulator "
      "through the usbd12.dll beside it";
  return false;
}

bool PrepareProvider(Provider provider, UsbProviderExports& usb, std::string& error) {
  if (provider == Provider::Virtual) return true;
  return LoadUsbProvider(usb, error);
}

#else

namespace {

constexpr const char* kUsbFile = "libusbd12-usb.so";
constexpr const char* kDriverName = "libusbd12.so";  // what the driver asks for

}  // namespace

bool LoadUsbProvider(UsbProviderExports& out, std::string& error) {
  const std::string path = kz51::HostProgramDirectory() + kUsbFile;
  void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* why = dlerror();
    error = "cannot load the USB provider " + path + " (" + (why != nullptr ? why : "") +
            "); it is built where libusb-1.0 is installed (scripts/setup.sh)";
    return false;
  }
  out.list = reinterpret_cast<Kz51UsbListFn>(dlsym(lib, KZ51USB_LIST_NAME));
  out.failure = reinterpret_cast<Kz51UsbFailureFn>(dlsym(lib, KZ51USB_FAILURE_NAME));
  if (out.list == nullptr || out.failure == nullptr) {
    error = path + " is not the USB provider of this kz51";
    return false;
  }
  return true;
}

bool PrepareProvider(Provider provider, UsbProviderExports& usb, std::string& error) {
  // The provider the process holds already, if any: the driver keeps the
  // one it found first.
  if (void* held = dlopen(kDriverName, RTLD_NOW | RTLD_NOLOAD)) {
    const bool heldUsb = dlsym(held, KZ51USB_FAILURE_NAME) != nullptr;
    dlclose(held);  // only the reference NOLOAD added
    if (heldUsb != (provider == Provider::Usb)) {
      error = std::string("this process already uses the ") + (heldUsb ? "usb" : "virtual") +
              " provider; start it again to use the " + ProviderName(provider) + " provider";
      return false;
    }
  }
  if (provider == Provider::Virtual) return true;
  return LoadUsbProvider(usb, error);
}

#endif

}  // namespace kzhost
