// libFuzzer target: a settings file with a valid signature and arbitrary
// contents, read by a driver that then connects to a pod emulator and reads
// the registers. Indexes taken from the file must never leave their tables.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "config/Settings.h"
#include "fakes/FakeUi.h"
#include "fakes/MinimalDatabase.h"
#include "fakes/TempDir.h"
#include "host/Driver.h"
#include "unit/connect/PodEmulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kz::fake::TempDir dir;
  static const bool ready = [] {
    dir.Write("KZ.MDB", kz::fake::EmptyDatabase());
    return true;
  }();
  (void)ready;

  // The signature is always valid so that every input reaches the record.
  std::vector<unsigned char> file(kz::kTargetConfigSize, 0);
  std::copy(kz::kSettingsSignature.begin(), kz::kSettingsSignature.end(), file.begin());
  std::copy_n(data, std::min(size, file.size() - kz::kSettingsSignature.size()),
              file.begin() + kz::kSettingsSignature.size());
  dir.Write(kz::kSettingsFileName, file);

  kz::test::PodEmulator emu;
  kz::fake::FakeUi ui;
  kz::fake::FakeSystem system;
  system.commandLine = dir.DataDirectory() + "host";
  kz::Driver driver(kz::Ports{emu.rec.Pipes(), ui, system});
  if (!driver.Startup()) __builtin_trap();
  const std::int32_t answer = driver.EnumUv351(nullptr, 2);
  if (answer != 0 && answer != kz::Driver::kArchitecture) __builtin_trap();
  // The registers are also read over a working link, whatever the
  // connection's outcome, so the pod's register layout is always chosen.
  std::uint8_t value[4] = {};
  for (int pass = 0; pass < 2; ++pass) {
    driver.AgRegAcc(1, kz::RegisterAccess::kRegAcc, value);
    driver.AgAllReg(1, nullptr);
    driver.link.Open();
  }
  return 0;
}
