#pragma once
// Builds KZ.MDB files for tests: vendors with their CPUs and one details
// block per CPU.
#include <cstdint>
#include <string>
#include <vector>

#include "config/ByteOrder.h"
#include "config/DeviceDatabase.h"

namespace kz::test {

using MdbBytes = std::vector<std::uint8_t>;

struct TestCpu {
  std::string name;
  std::uint32_t podMask = 1;
  std::uint32_t codeFirst = 0, codeLast = 0;
  std::uint32_t word2 = 0, word3 = 0;
};
struct TestVendor {
  std::string name;
  std::vector<TestCpu> cpus;
};

inline void PutText(MdbBytes& b, const std::string& s) {
  b.push_back(static_cast<std::uint8_t>(s.size()));
  b.insert(b.end(), s.begin(), s.end());
}
template <typename T>
void Put(MdbBytes& b, T v) {
  std::uint8_t raw[sizeof(T)];
  StoreLe<T>(raw, v);
  b.insert(b.end(), raw, raw + sizeof(T));
}

inline MdbBytes DetailsBlock(const TestCpu& c) {
  MdbBytes b;
  PutText(b, "text one of " + c.name);
  PutText(b, std::string(255, 'x'));
  PutText(b, "");
  PutText(b, "four");
  for (int g = 1; g <= 5; ++g)
    for (int p = 1; p <= 5; ++p) {
      const bool code = g == 2 && p == 1;
      Put<std::uint32_t>(b, code ? c.codeFirst : static_cast<std::uint32_t>(g * 100 + p));
      Put<std::uint32_t>(b, code ? c.codeLast : static_cast<std::uint32_t>(g * 100 + p + 50));
    }
  for (std::uint32_t w : {0x10u, 0x11u, c.word2, c.word3, 0x14u}) Put<std::uint32_t>(b, w);
  for (int i = 0; i < 10; ++i) PutText(b, "first " + std::to_string(i));
  for (int i = 0; i < 10; ++i) PutText(b, "second " + std::to_string(i));
  return b;
}

// A database file: header, vendors with their CPUs, end markers, then one
// details block per CPU.
inline MdbBytes BuildDatabase(const std::vector<TestVendor>& vendors) {
  MdbBytes tables(kDeviceDatabaseHeader.begin(), kDeviceDatabaseHeader.end());
  Put<std::int32_t>(tables, static_cast<std::int32_t>(vendors.size()));
  std::size_t tableSize = tables.size() + 8;
  for (const auto& v : vendors) {
    tableSize += 3 + v.name.size();
    for (const auto& c : v.cpus) tableSize += 17 + c.name.size();
  }
  MdbBytes details;
  for (const auto& v : vendors) {
    PutText(tables, v.name);
    Put<std::uint16_t>(tables, static_cast<std::uint16_t>(v.cpus.size()));
    for (const auto& c : v.cpus) {
      PutText(tables, c.name);
      Put<std::uint32_t>(tables, c.podMask);
      Put<std::uint32_t>(tables, static_cast<std::uint32_t>(tableSize + details.size()));
      Put<std::uint32_t>(tables, 0x1234);
      Put<std::uint32_t>(tables, 7);
      const MdbBytes block = DetailsBlock(c);
      details.insert(details.end(), block.begin(), block.end());
    }
  }
  Put<std::uint32_t>(tables, kDeviceDatabaseEndMarker1);
  Put<std::uint32_t>(tables, kDeviceDatabaseEndMarker2);
  tables.insert(tables.end(), details.begin(), details.end());
  return tables;
}

}  // namespace kz::test
