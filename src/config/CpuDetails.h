#pragma once
// The details of the selected CPU, read from the device database by
// LoadCpuDetails. Texts are GBK bytes as stored in the file.
#include <array>
#include <cstdint>
#include <string>

namespace kz {

struct CpuDetails {
  std::string VendorName;  // empty when the selection is not valid
  std::string CpuName;
  std::array<std::string, 4> DetailText;
  // DetailRanges[group - 1][pair - 1] = {first, second}; 5 groups of 5 pairs.
  std::array<std::array<std::array<std::uint32_t, 2>, 5>, 5> DetailRanges{};
  std::array<std::uint32_t, 5> DetailWord{};
  std::array<std::string, 10> DetailNames1;
  std::array<std::string, 10> DetailNames2;

  // Group 2, pair 1: the code address range target preparation maps.
  std::array<std::uint32_t, 2>& CodeRange() { return DetailRanges[1][0]; }
};

}  // namespace kz
