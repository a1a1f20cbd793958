// libFuzzer target: the device database tables and the CPU details blocks.
#include <cstddef>
#include <cstdint>

#include "config/DeviceDatabase.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kz::DeviceDatabase db;
  if (!db.ParseDeviceDatabase(data, size)) {
    if (db.VendorCount() != 0 || db.TotalCpus() != 0) __builtin_trap();
    return 0;
  }
  if (db.VendorCount() > kz::kMaxVendors || db.TotalCpus() > kz::kMaxCpus) __builtin_trap();
  int sum = 0;
  for (int v = 1; v <= db.VendorCount(); ++v) {
    if (db.Vendor(v).VendorName.size() > kz::kMaxTableNameLength) __builtin_trap();
    sum += db.Vendor(v).CpuCount;
  }
  if (sum != db.TotalCpus() || db.FirstCpuOfVendor(db.VendorCount() + 1) != sum + 1)
    __builtin_trap();

  kz::TargetConfig rec{};
  kz::CpuDetails details;
  // Every CPU's block, each under a vendor that need not own it.
  for (int c = 1; c <= db.TotalCpus(); ++c) {
    const int v = 1 + (c - 1) % db.VendorCount();
    rec.CpuSelection = static_cast<std::uint32_t>(v) << 16 | static_cast<std::uint32_t>(c);
    db.SelectCpuDetails(rec, data, size, details);
    if (details.CpuName != db.Cpu(c).CpuName || details.VendorName != db.Vendor(v).VendorName)
      __builtin_trap();
  }
  // A selection taken from the input's last bytes, valid or not.
  if (size >= 4) {
    rec.CpuSelection = kz::LoadLe<std::uint32_t>(data + size - 4);
    db.SelectCpuDetails(rec, data, size, details);
  }
  return 0;
}
