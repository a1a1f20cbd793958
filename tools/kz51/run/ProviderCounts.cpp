#include "run/ProviderCounts.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kz51::run {

namespace {

#if defined(_WIN32)
constexpr const char* kProvider = "usbd12.dll";
// Only the module already loaded: loading another copy would count a
// different emulator than the one the driver talks to.
void* LoadedProvider() {
  return reinterpret_cast<void*>(GetModuleHandleA(kProvider));
}
void* Entry(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}
#else
constexpr const char* kProvider = "libusbd12.so";
void* LoadedProvider() {
  // RTLD_NOLOAD finds the instance the driver loaded (and takes a reference
  // that is never given back: the provider stays for the process anyway).
  return dlopen(kProvider, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}
void* Entry(void* module, const char* name) {
  return dlsym(module, name);
}
#endif

template <typename F>
bool Bind(void* module, const char* name, F& fn) {
  fn = reinterpret_cast<F>(Entry(module, name));
  return fn != nullptr;
}

}  // namespace

std::unique_ptr<ProviderCounts> ProviderCounts::Find(std::string& why) {
  void* module = LoadedProvider();
  if (module == nullptr) {
    why = std::string("the driver has not loaded the provider library ") + kProvider;
    return nullptr;
  }
  std::unique_ptr<ProviderCounts> p(new ProviderCounts());
  if (!Bind(module, "kz51emu_counts_start", p->start_) ||
      !Bind(module, "kz51emu_counts_stop", p->stop_) ||
      !Bind(module, "kz51emu_counts_read", p->read_) ||
      !Bind(module, "kz51emu_counts_calls", p->calls_) ||
      !Bind(module, "kz51emu_cycle_limit", p->limit_) ||
      !Bind(module, "kz51emu_cycle_limit_reached", p->reached_)) {
    why = std::string("the provider library ") + kProvider +
          " keeps no execution counts (only the virtual emulator does)";
    return nullptr;
  }
  return p;
}

bool ProviderCounts::Start(const std::vector<std::uint32_t>& regions) {
  return start_(regions.size() == KZ51EMU_ADDRESSES ? regions.data() : nullptr) == 0;
}

bool ProviderCounts::Read(CountSnapshot& out) {
  out.executions.assign(KZ51EMU_ADDRESSES, 0);
  out.cycles.assign(KZ51EMU_ADDRESSES, 0);
  out.lineEntries.assign(KZ51EMU_ADDRESSES, 0);
  out.functionEntries.assign(KZ51EMU_ADDRESSES, 0);
  if (read_(out.executions.data(), out.cycles.data(), out.lineEntries.data(),
            out.functionEntries.data(), &out.totals) != 0)
    return false;
  // The edges may grow between asking their number and copying them only if
  // the target runs, which it does not while counts are read; still bounded.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int n = calls_(out.calls.data(), static_cast<int>(out.calls.size()));
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) <= out.calls.size()) {
      out.calls.resize(static_cast<std::size_t>(n));
      return true;
    }
    out.calls.resize(static_cast<std::size_t>(n));
  }
  return false;
}

void ProviderCounts::Stop() {
  stop_();
}

void ProviderCounts::SetCycleLimit(std::uint64_t cycles) {
  limit_(cycles);
}

bool ProviderCounts::CycleLimitReached() {
  return reached_() != 0;
}

}  // namespace kz51::run
