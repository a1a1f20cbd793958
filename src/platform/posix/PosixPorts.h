#pragma once
// The Linux ports.
#include <string>

#include "platform/Ports.h"

namespace kz {

class PosixUsbPipes : public UsbPipes {
 public:
  explicit PosixUsbPipes(const char* library = "libusbd12.so");
  ~PosixUsbPipes() override;
  PipeHandle OpenReadPipe() override;
  PipeHandle OpenWritePipe() override;
  bool Write(PipeHandle h, const std::uint8_t* data, std::uint32_t len) override;
  bool Read(PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) override;
  void Close(PipeHandle h) override;
  void SleepMs(std::uint32_t ms) override;

 private:
  using OpenFn = int (*)();
  void* handle_ = nullptr;
  OpenFn open3_ = nullptr;
  OpenFn open2_ = nullptr;
};

class PosixSystem : public System {
 public:
  std::string CommandLine() override;
  char PathSeparator() const override { return '/'; }
  void CreateNamedEvent(const char*) override {}
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool SyncFile(std::FILE* file) override;
  void PostHostMessage(std::uintptr_t, std::uint32_t, std::uintptr_t, std::intptr_t) override {}
};

// Text held as bytes (UTF-8 for fixed texts, GBK for names from the data
// files) as UTF-8 for the terminal.
std::string ToTerminalText(const std::string& text);
// Converts between character sets with iconv (for example "UTF-8", "GBK").
std::string ConvertText(const std::string& text, const char* to, const char* from);

// Form texts are GBK throughout (the message table's are ASCII); the
// terminal speaks UTF-8. Explicit, never guessed.
std::string GbkToUtf8(const std::string& text);
std::string Utf8ToGbk(const std::string& text);
// Runs the form as a numbered menu on stderr answered on stdin; true for OK.
// The end of input is Cancel.
bool RunTerminalForm(Form& form);

// Message boxes go to stderr; modal forms run on the terminal while stdin is
// one and answer Cancel otherwise, so nothing blocks without a person; the
// progress window is a bar on stderr when it is a terminal.
class PosixUi : public Ui {
 public:
  void MessageBox(MessageKind kind, const std::string& text) override;
  bool RunModal(Form& form) override;
  void UpdateProgress(const ProgressView& view) override;
  // The terminal has no windows to keep out of the way.
  void SetHostWindow(std::uintptr_t) override {}

 private:
  bool barShown_ = false;
};

}  // namespace kz
