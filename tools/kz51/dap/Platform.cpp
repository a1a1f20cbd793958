#include "dap/Platform.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

void kzhost::dap::UseBinaryStdio() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

void kzhost::dap::SetEnvironment(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

bool kzhost::dap::OpenFilesCanBeRemoved() {
  return false;
}
#else
#include <cstdlib>

void kzhost::dap::UseBinaryStdio() {}

void kzhost::dap::SetEnvironment(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

bool kzhost::dap::OpenFilesCanBeRemoved() {
  return true;
}
#endif
