// USB pipes through usbd12.dll, loaded at run time so that a missing provider
// is the same as pipes that cannot be opened (and the driver still loads).
#include "platform/win32/Win32Ports.h"

namespace kz {

Win32UsbPipes::Win32UsbPipes() {
  HMODULE lib = LoadLibraryA("usbd12.dll");
  if (lib != nullptr) {
    open3_ =
        reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(lib, "openUSBfile_3")));
    open2_ =
        reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(lib, "openUSBfile_2")));
  }
}

PipeHandle Win32UsbPipes::OpenReadPipe() {
  if (open3_ == nullptr) return kInvalidPipe;
  return reinterpret_cast<PipeHandle>(open3_());
}

PipeHandle Win32UsbPipes::OpenWritePipe() {
  if (open2_ == nullptr) return kInvalidPipe;
  return reinterpret_cast<PipeHandle>(open2_());
}

bool Win32UsbPipes::Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) {
  DWORD written = 0;
  return WriteFile(reinterpret_cast<HANDLE>(h), data, len, &written, nullptr) != FALSE;
}

bool Win32UsbPipes::Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) {
  DWORD n = 0;
  BOOL ok = ReadFile(reinterpret_cast<HANDLE>(h), data, len, &n, nullptr);
  got = n;
  if (!ok && GetLastError() == ERROR_SEM_TIMEOUT) return true;  // time-out: nothing yet
  return ok != FALSE;
}

void Win32UsbPipes::Close(PipeHandle h) {
  CloseHandle(reinterpret_cast<HANDLE>(h));
}

void Win32UsbPipes::SleepMs(std::uint32_t ms) {
  ::Sleep(ms);
}

}  // namespace kz
