#pragma once
// The things the adapter needs from the operating system.
#include <string>

namespace kzhost::dap {

// Standard input and output carry exact byte counts: no CR/LF translation.
void UseBinaryStdio();
// Sets a variable of this process's environment (the virtual emulator's
// settings, read by the USB provider the driver loads).
void SetEnvironment(const std::string& name, const std::string& value);

// False where a file another part of this process keeps open cannot be
// removed (Windows): the virtual emulator keeps its serial file open until
// the process ends.
bool OpenFilesCanBeRemoved();

}  // namespace kzhost::dap
