#pragma once
// kz51 devices [--json]: the USB devices that could be the emulator, from the
// USB provider, without sending anything to any of them; the one KZ51_USB
// selects is marked. Exit status 0 when the list could be made (also when it
// is empty), 1 when the USB provider is missing, 2 for a usage error.

namespace kz51::cli {

int RunDevices(int argc, char** argv);

}  // namespace kz51::cli
