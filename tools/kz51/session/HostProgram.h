#pragma once
// The directory of the running host program: the driver reads its data files
// (KZ.MDB, KZ.FMD, ZOLTKEIL.DSK) there, so the session reads the saved
// settings from the same place.
#include <string>

namespace kz51 {

// With a trailing separator; empty when it cannot be found.
std::string HostProgramDirectory();

}  // namespace kz51
