#include <io.h>

#include <cstdio>

#include "platform/win32/Win32Ports.h"

namespace kz {

std::string Win32System::CommandLine() {
  const char* line = GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

void Win32System::CreateNamedEvent(const char* name) {
  // Kept open for the life of the process; nothing waits on it.
  CreateEventA(nullptr, TRUE, FALSE, name);
}

bool Win32System::ReplaceFile(const std::string& from, const std::string& to) {
  // The A function takes the bytes in the system code page, as fopen does.
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Win32System::SyncFile(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != FALSE;
}

void Win32System::PostHostMessage(std::uintptr_t window, std::uint32_t message,
                                  std::uintptr_t wparam, std::intptr_t lparam) {
  PostMessageA(reinterpret_cast<HWND>(window), message, static_cast<WPARAM>(wparam),
               static_cast<LPARAM>(lparam));
}

PlatformPorts MakePlatformPorts() {
  PlatformPorts p;
  p.usb = std::make_unique<Win32UsbPipes>();
  p.ui = std::make_unique<Win32Ui>();
  p.system = std::make_unique<Win32System>();
  return p;
}

}  // namespace kz
