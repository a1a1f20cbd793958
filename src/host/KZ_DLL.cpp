// The library's exports: thin C wrappers over the one process-wide driver.
//
// Library start-up runs once, on the first call into the library, rather than
// in the loader's attach notification: start-up loads the USB provider library
// and may show a message box, neither of which is allowed under the loader
// lock.
#include <cstdint>
#include <memory>
#include <mutex>

#include "host/Driver.h"
#include "platform/Ports.h"

#if defined(_WIN32)
#define KZ_EXPORT extern "C"
#else
#define KZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Instance {
  kz::PlatformPorts ports;
  std::unique_ptr<kz::Driver> driver;
};

kz::Driver& TheDriver();

// The register view functions the host calls without a context argument.
void KZ_CDECL RegisterViewGet(kz::RegisterItem* item, std::int32_t selector) {
  TheDriver().RegisterViewGet(item, selector);
}
std::int32_t KZ_CDECL RegisterViewSet(kz::RegisterItem* item, void* value) {
  return TheDriver().RegisterViewSet(item, value);
}

kz::Driver& TheDriver() {
  static Instance instance;
  static std::once_flag once;
  std::call_once(once, [] {
    instance.ports = kz::MakePlatformPorts();
    instance.driver = std::make_unique<kz::Driver>(
        kz::Ports{*instance.ports.usb, *instance.ports.ui, *instance.ports.system});
    instance.driver->SetRegisterViewFunctions(&RegisterViewGet, &RegisterViewSet);
    instance.driver->Startup();
  });
  return *instance.driver;
}

}  // namespace

KZ_EXPORT std::int32_t KZ_CDECL AG_Init(std::uint16_t code, void* value) {
  return TheDriver().AgInit(code, reinterpret_cast<std::uintptr_t>(value));
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_MemAcc(std::uint16_t code, std::uint8_t* buffer,
                                           kz::AddressRecord* record, std::uint32_t length) {
  return TheDriver().AgMemAcc(code, buffer, record, length);
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_RegAcc(std::uint16_t code, std::uint32_t number, void* value) {
  return TheDriver().AgRegAcc(code, number, value);
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_AllReg(std::uint16_t code, void* argument) {
  return TheDriver().AgAllReg(code, argument);
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_MemAtt(std::uint16_t code, std::uint32_t attribute,
                                           kz::AddressRecord* record) {
  return TheDriver().AgMemAtt(code, attribute, record);
}

KZ_EXPORT std::int32_t KZ_CDECL AG_BpInfo(std::uint16_t code, std::uint32_t* address) {
  return TheDriver().AgBpInfo(code, address);
}

KZ_EXPORT void* KZ_CDECL AG_BreakFunc(std::uint16_t code, std::uint16_t ignored,
                                      std::uint32_t* address, kz::BreakpointRecord* record) {
  return TheDriver().AgBreakFunc(code, ignored, address, record);
}

KZ_EXPORT std::int32_t KZ_CDECL AG_GoStep(std::uint16_t code, std::uint32_t count,
                                          kz::AddressRecord* until) {
  return TheDriver().AgGoStep(code, count, until);
}

KZ_EXPORT std::int32_t KZ_CDECL AG_Serial(std::uint16_t code, std::uint32_t channel,
                                          std::uint32_t count, void* buffer) {
  return TheDriver().AgSerial(code, channel, count, buffer);
}

KZ_EXPORT std::int32_t KZ_CDECL AG_HistFunc(std::int32_t code) {
  return TheDriver().AgHistFunc(code);
}

KZ_EXPORT std::int32_t KZ_CDECL DllUv3Cap(std::int32_t code) {
  return TheDriver().DllUv3Cap(code);
}

KZ_EXPORT std::int32_t KZ_CDECL EnumUv351(void* first, std::int32_t code) {
  return TheDriver().EnumUv351(first, code);
}
