#pragma once
// The real ports of this platform, made once by library start-up.
#include <memory>

#include "platform/System.h"
#include "platform/Ui.h"
#include "platform/UsbPipes.h"

namespace kz {

struct PlatformPorts {
  std::unique_ptr<UsbPipes> usb;
  std::unique_ptr<Ui> ui;
  std::unique_ptr<System> system;
};

PlatformPorts MakePlatformPorts();

}  // namespace kz
