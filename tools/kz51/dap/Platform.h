#pragma once
// The two things the adapter needs from the operating system.
#include <string>

namespace kzhost::dap {

// Standard input and output carry exact byte counts: no CR/LF translation.
void UseBinaryStdio();
// Sets a variable of this process's environment (the virtual emulator's
// settings, read by the USB provider the driver loads).
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace kzhost::dap
