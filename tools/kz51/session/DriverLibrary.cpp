#include "session/DriverLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kzhost {

namespace {

#if defined(_WIN32)
using Module = HMODULE;
Module Open(const std::string& path) {
  return LoadLibraryA(path.c_str());
}
void* Symbol(Module m, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(m, name));
}
std::string LastError() {
  return "error " + std::to_string(GetLastError());
}
#else
using Module = void*;
Module Open(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* Symbol(Module m, const char* name) {
  return dlsym(m, name);
}
std::string LastError() {
  const char* e = dlerror();
  return e != nullptr ? e : "unknown error";
}
#endif

template <typename F>
bool Resolve(Module m, const char* name, F& fn, std::string& error) {
  void* p = Symbol(m, name);
  if (p == nullptr) {
    error = std::string("export ") + name + " not found";
    return false;
  }
  fn = reinterpret_cast<F>(p);
  return true;
}

}  // namespace

const char* DefaultDriverLibrary() {
#if defined(_WIN32)
  return "KZ_DLL.dll";
#else
  return "libkz51.so";
#endif
}

bool LoadDriver(const std::string& path, DriverExports& out, std::string& error) {
  Module m = Open(path);
  if (m == nullptr) {
    error = "cannot load " + path + ": " + LastError();
    return false;
  }
  return Resolve(m, "AG_Init", out.AG_Init, error) &&
         Resolve(m, "AG_MemAcc", out.AG_MemAcc, error) &&
         Resolve(m, "AG_RegAcc", out.AG_RegAcc, error) &&
         Resolve(m, "AG_AllReg", out.AG_AllReg, error) &&
         Resolve(m, "AG_MemAtt", out.AG_MemAtt, error) &&
         Resolve(m, "AG_BpInfo", out.AG_BpInfo, error) &&
         Resolve(m, "AG_BreakFunc", out.AG_BreakFunc, error) &&
         Resolve(m, "AG_GoStep", out.AG_GoStep, error) &&
         Resolve(m, "AG_Serial", out.AG_Serial, error) &&
         Resolve(m, "AG_HistFunc", out.AG_HistFunc, error) &&
         Resolve(m, "DllUv3Cap", out.DllUv3Cap, error) &&
         Resolve(m, "EnumUv351", out.EnumUv351, error);
}

}  // namespace kzhost
