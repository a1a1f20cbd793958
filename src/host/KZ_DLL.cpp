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

kz::Driver* TheDriver();

// Runs one entry point on the driver. No exception may reach the host: an
// allocation failure, at start-up or later, answers as a failure of the call.
// While the start-up runs on this thread (its message box runs a message loop
// in which the host may call in again) the call answers as a failure too.
template <typename Result, typename Call>
Result Guarded(Result failure, Call&& call) noexcept {
  try {
    kz::Driver* driver = TheDriver();
    return driver != nullptr ? call(*driver) : failure;
  } catch (...) {
    return failure;
  }
}

// The register view functions the host calls without a context argument.
void KZ_CDECL RegisterViewGet(kz::RegisterItem* item, std::int32_t selector) {
  Guarded(0, [&](kz::Driver& d) {
    d.RegisterViewGet(item, selector);
    return 0;
  });
}
std::int32_t KZ_CDECL RegisterViewSet(kz::RegisterItem* item, void* value) {
  return Guarded<std::int32_t>(0, [&](kz::Driver& d) { return d.RegisterViewSet(item, value); });
}

thread_local bool startingUp = false;

kz::Driver* TheDriver() {
  static Instance instance;
  static std::once_flag once;
  if (startingUp) return nullptr;
  startingUp = true;
  try {
    std::call_once(once, [] {
      instance.ports = kz::MakePlatformPorts();
      instance.driver = std::make_unique<kz::Driver>(
          kz::Ports{*instance.ports.usb, *instance.ports.ui, *instance.ports.system});
      instance.driver->SetRegisterViewFunctions(&RegisterViewGet, &RegisterViewSet);
      instance.driver->Startup();
    });
  } catch (...) {
    // The start-up is tried again by the next call.
    instance.driver.reset();
    startingUp = false;
    throw;
  }
  startingUp = false;
  return instance.driver.get();
}

}  // namespace

KZ_EXPORT std::int32_t KZ_CDECL AG_Init(std::uint16_t code, void* value) {
  return Guarded<std::int32_t>(
      0, [&](kz::Driver& d) { return d.AgInit(code, reinterpret_cast<std::uintptr_t>(value)); });
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_MemAcc(std::uint16_t code, std::uint8_t* buffer,
                                           kz::AddressRecord* record, std::uint32_t length) {
  return Guarded<std::uint16_t>(
      1, [&](kz::Driver& d) { return d.AgMemAcc(code, buffer, record, length); });
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_RegAcc(std::uint16_t code, std::uint32_t number, void* value) {
  return Guarded<std::uint16_t>(1, [&](kz::Driver& d) { return d.AgRegAcc(code, number, value); });
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_AllReg(std::uint16_t code, void* argument) {
  return Guarded<std::uint16_t>(1, [&](kz::Driver& d) { return d.AgAllReg(code, argument); });
}

KZ_EXPORT std::uint16_t KZ_CDECL AG_MemAtt(std::uint16_t code, std::uint32_t attribute,
                                           kz::AddressRecord* record) {
  return Guarded<std::uint16_t>(1,
                                [&](kz::Driver& d) { return d.AgMemAtt(code, attribute, record); });
}

KZ_EXPORT std::int32_t KZ_CDECL AG_BpInfo(std::uint16_t code, std::uint32_t* address) {
  return Guarded<std::int32_t>(0, [&](kz::Driver& d) { return d.AgBpInfo(code, address); });
}

KZ_EXPORT void* KZ_CDECL AG_BreakFunc(std::uint16_t code, std::uint16_t ignored,
                                      std::uint32_t* address, kz::BreakpointRecord* record) {
  return Guarded<void*>(
      nullptr, [&](kz::Driver& d) { return d.AgBreakFunc(code, ignored, address, record); });
}

KZ_EXPORT std::int32_t KZ_CDECL AG_GoStep(std::uint16_t code, std::uint32_t count,
                                          kz::AddressRecord* until) {
  return Guarded<std::int32_t>(0, [&](kz::Driver& d) { return d.AgGoStep(code, count, until); });
}

KZ_EXPORT std::int32_t KZ_CDECL AG_Serial(std::uint16_t code, std::uint32_t channel,
                                          std::uint32_t count, void* buffer) {
  return Guarded<std::int32_t>(
      0, [&](kz::Driver& d) { return d.AgSerial(code, channel, count, buffer); });
}

KZ_EXPORT std::int32_t KZ_CDECL AG_HistFunc(std::int32_t code) {
  return Guarded<std::int32_t>(0, [&](kz::Driver& d) { return d.AgHistFunc(code); });
}

KZ_EXPORT std::int32_t KZ_CDECL DllUv3Cap(std::int32_t code) {
  // The architecture is answered even when the driver cannot be used.
  const std::int32_t failure = code == 2 ? kz::Driver::kArchitecture : 0;
  return Guarded<std::int32_t>(failure, [&](kz::Driver& d) { return d.DllUv3Cap(code); });
}

KZ_EXPORT std::int32_t KZ_CDECL EnumUv351(void* first, std::int32_t code) {
  return Guarded<std::int32_t>(0, [&](kz::Driver& d) { return d.EnumUv351(first, code); });
}
