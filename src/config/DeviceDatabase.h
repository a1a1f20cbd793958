#pragma once
// The device database KZ.MDB: vendors, their CPUs with the pods that emulate
// them, and one CPU details block per CPU.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/CpuDetails.h"
#include "config/TargetConfig.h"

namespace kz {

inline constexpr const char* kDeviceDatabaseFileName = "KZ.MDB";

// Length byte 45, "ZOLT MCU DataBase, !DO NOT MODIFY THIS FILE!", 0x1A.
inline constexpr std::size_t kDeviceDatabaseHeaderSize = 46;
extern const std::array<std::uint8_t, kDeviceDatabaseHeaderSize> kDeviceDatabaseHeader;
inline constexpr std::uint32_t kDeviceDatabaseEndMarker1 = 0x12345678;
inline constexpr std::uint32_t kDeviceDatabaseEndMarker2 = 0x55AA00FF;

inline constexpr int kMaxVendors = 200;
inline constexpr int kMaxCpus = 2000;
// Names in the tables keep at most this many bytes (GBK).
inline constexpr std::size_t kMaxTableNameLength = 40;

struct VendorEntry {
  std::string VendorName;
  std::uint16_t CpuCount = 0;
};

struct CpuEntry {
  std::string CpuName;
  std::uint32_t PodMask = 0;
  std::uint32_t DetailsOffset = 0;
  std::uint32_t ExtraListOffset = 0;
  std::uint32_t ExtraListCount = 0;
};

class DeviceDatabase {
 public:
  // Reads the vendor and CPU tables from dataDir + KZ.MDB. The file must
  // exist and open for reading and writing. On false the tables are empty.
  bool LoadDeviceDatabase(const std::string& dataDir);
  // The same from the file's bytes.
  bool ParseDeviceDatabase(const std::uint8_t* data, std::size_t size);

  // Reads the details of the CPU in rec.CpuSelection into out. The vendor
  // name is emptied first and stays empty when the file is missing or the
  // selection is out of range; the rest of out is then unchanged.
  void LoadCpuDetails(const TargetConfig& rec, const std::string& dataDir, CpuDetails& out) const;
  // The same with the file's bytes. A details block that is cut off by the
  // end of the file sets the names but clears the block (texts empty,
  // numbers 0), so no half-read block nor another CPU's details survive.
  void SelectCpuDetails(const TargetConfig& rec, const std::uint8_t* data, std::size_t size,
                        CpuDetails& out) const;

  int VendorCount() const { return static_cast<int>(vendors_.size()); }
  int TotalCpus() const { return static_cast<int>(cpus_.size()); }
  // F(v) = 1 + CpuCount of vendors 1..v-1 (vendors past the table count 0).
  int FirstCpuOfVendor(int v) const;

  // 1-based; an out-of-range number gives an empty entry.
  const VendorEntry& Vendor(int v) const;
  const CpuEntry& Cpu(int c) const;

 private:
  bool SelectedCpu(const TargetConfig& rec, int& v, int& c) const;
  void FillCpuDetails(int v, int c, const std::uint8_t* data, std::size_t size, std::size_t offset,
                      CpuDetails& out) const;

  std::vector<VendorEntry> vendors_;
  std::vector<CpuEntry> cpus_;
};

// Reads one CPU details block at offset; false (out untouched) when the
// block does not lie completely inside data.
bool ParseCpuDetailsBlock(const std::uint8_t* data, std::size_t size, std::size_t offset,
                          CpuDetails& out);

}  // namespace kz
