#pragma once
// The Windows ports.
#include <windows.h>
// The ports have methods of these names; the A/W macros must not rename them.
#undef MessageBox
#undef GetMessage

#include <string>

#include "platform/Ports.h"

namespace kz {

class Win32UsbPipes : public UsbPipes {
 public:
  Win32UsbPipes();
  PipeHandle OpenReadPipe() override;
  PipeHandle OpenWritePipe() override;
  bool Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) override;
  bool Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) override;
  void Close(PipeHandle h) override;
  void SleepMs(std::uint32_t ms) override;

 private:
  using OpenFn = HANDLE(__cdecl*)();
  OpenFn open3_ = nullptr;
  OpenFn open2_ = nullptr;
};

class Win32System : public System {
 public:
  std::string CommandLine() override;
  char PathSeparator() const override { return '\\'; }
  void CreateNamedEvent(const char* name) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool SyncFile(std::FILE* file) override;
  void PostHostMessage(std::uintptr_t window, std::uint32_t message, std::uintptr_t wparam,
                       std::intptr_t lparam) override;
};

class Win32Ui : public Ui {
 public:
  ~Win32Ui() override;
  void MessageBox(MessageKind kind, const std::string& text) override;
  bool RunModal(Form& form) override;
  void UpdateProgress(const ProgressView& view) override;
  void SetHostWindow(std::uintptr_t window) override;

 private:
  HWND hostWindow_ = nullptr;
  HWND progressWindow_ = nullptr;
  HWND progressBar_ = nullptr;
};

// Text held as bytes (UTF-8 for fixed texts, GBK for names from the data
// files) to UTF-16 for display.
std::wstring ToWide(const std::string& text);
// Form texts are GBK (code page 936) throughout; the message table's texts are
// ASCII and read the same. Never guessed: GBK bytes may also be valid UTF-8.
std::wstring GbkToWide(const std::string& text);
std::string WideToGbk(const std::wstring& text);
// The top-level window of the host's window, to own the driver's dialogs and
// message boxes; none when the host registered none or its thread does not
// answer.
HWND HostOwner(HWND host);
// Shows the form as a modal dialog, modal to the host's window; true for OK.
bool RunFormModal(Form& form, HWND host);

}  // namespace kz
