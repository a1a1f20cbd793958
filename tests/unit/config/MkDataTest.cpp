// The sample data files written by kz51-mkdata, and the library index code
// they are read with.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>

#include "config/DeviceDatabase.h"
#include "config/PodTable.h"
#include "connect/FmdIndex.h"
#include "connect/FmdScramble.h"
#include "unit/config/ConfigTestFiles.h"

namespace kz {
namespace {

using test::ByteVector;

ByteVector FmdFile(const std::vector<FmdIndexRecord>& records, std::int32_t count) {
  ByteVector file(kFmdSignatureFieldSize, 0xCC);  // the last 8 bytes are not examined
  std::copy(kFmdSignature.begin(), kFmdSignature.end(), file.begin());
  file.resize(kFmdIndexOffset);
  StoreLe<std::int32_t>(file.data() + kFmdCountOffset, count);
  for (const auto& r : records) {
    const auto bytes = EncodeFmdIndexRecord(r);
    file.insert(file.end(), bytes.begin(), bytes.end());
  }
  return file;
}

TEST(MkDataLibraryIndex, NamesMatchInLengthAndCharacters) {
  ByteVector file = FmdFile({{4, "JYAB", 100, 3, 0}, {5, "JYABC", 103, 2, 1}}, 2);
  file.resize(110, 0);
  std::vector<FmdIndexRecord> index;
  ASSERT_TRUE(ParseFmdIndex(file.data(), file.size(), index));
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(FindFmdRecord(index, "JYABC")->dataOffset, 103);
  EXPECT_EQ(FindFmdRecord(index, "JYAB")->dataOffset, 100);
  EXPECT_EQ(FindFmdRecord(index, "JYA"), nullptr);
  EXPECT_EQ(FindFmdRecord(index, "JYABCD"), nullptr);
}

TEST(MkDataLibraryIndex, CountAndBoundsAreChecked) {
  std::vector<FmdIndexRecord> index;
  // A count of 0 still reads the first record.
  ByteVector zero = FmdFile({{3, "MON", 27 + 35, 0, 5}}, 0);
  ASSERT_TRUE(ParseFmdIndex(zero.data(), zero.size(), index));
  EXPECT_EQ(index.size(), 1u);
  // A count beyond the file reads only the records present.
  ByteVector big = FmdFile({{1, "A", 0, 0, 0}, {1, "B", 0, 0, 0}}, 0x7FFFFFFF);
  big.resize(big.size() - 1);
  ASSERT_TRUE(ParseFmdIndex(big.data(), big.size(), index));
  EXPECT_EQ(index.size(), 1u);
  // A wrong signature byte or a file shorter than signature and count.
  ByteVector bad = FmdFile({}, 1);
  bad[14] ^= 1;
  EXPECT_FALSE(ParseFmdIndex(bad.data(), bad.size(), index));
  EXPECT_FALSE(ParseFmdIndex(zero.data(), 26, index));
  // A stored name length over 22 never matches.
  ByteVector longName = FmdFile({{0, "", 0, 0, 0}}, 1);
  longName[kFmdIndexOffset] = 30;
  ASSERT_TRUE(ParseFmdIndex(longName.data(), longName.size(), index));
  EXPECT_EQ(FindFmdRecord(index, std::string(22, '\0')), nullptr);

  // Record data outside the file is refused.
  ByteVector data;
  EXPECT_FALSE(ExtractFmdRecord(zero.data(), zero.size(), {1, "X", 60, 10, 0}, data));
  EXPECT_FALSE(ExtractFmdRecord(zero.data(), zero.size(), {1, "X", -1, 1, 0}, data));
  EXPECT_FALSE(ExtractFmdRecord(zero.data(), zero.size(), {1, "X", 1, -1, 0}, data));
  EXPECT_FALSE(
      ExtractFmdRecord(zero.data(), zero.size(), {1, "X", 0x7FFFFFFF, 0x7FFFFFFF, 0}, data));
  EXPECT_TRUE(ExtractFmdRecord(zero.data(), zero.size(), {1, "X", 2, 5, 9}, data));
  EXPECT_EQ(data, ByteVector(zero.begin() + 2, zero.begin() + 7));  // mode 9: stored plainly
}

TEST(MkDataLibraryIndex, ScrambleModesRoundTrip) {
  for (int mode = -1; mode <= 3; ++mode) {
    int changed = 0;
    for (int b = 0; b < 256; ++b) {
      const auto plain = static_cast<std::uint8_t>(b);
      EXPECT_EQ(Descramble(mode, Scramble(mode, plain)), plain);
      changed += Scramble(mode, plain) != plain;
    }
    // Modes 0..2 scramble; the others store bytes unchanged.
    if (mode >= 0 && mode <= 2)
      EXPECT_GT(changed, 200) << mode;
    else
      EXPECT_EQ(changed, 0) << mode;
  }
}

#ifdef KZ_DATA_OUT_DIR

TEST(MkDataOutput, DeviceDatabaseOffersCpusForEvery8051Pod) {
  DeviceDatabase db;
  ASSERT_TRUE(db.LoadDeviceDatabase(KZ_DATA_OUT_DIR));
  ASSERT_GT(db.VendorCount(), 1);
  EXPECT_GE(db.TotalCpus(), 20);
  for (int pod = 1; pod <= 10; ++pod) {
    int offered = 0;
    for (int c = 1; c <= db.TotalCpus(); ++c) offered += (db.Cpu(c).PodMask & PodBit(pod)) != 0;
    EXPECT_GT(offered, 0) << "pod " << pod;
  }
  int withCode = 0, withoutCode = 0;
  for (int v = 1; v <= db.VendorCount(); ++v)
    for (int c = db.FirstCpuOfVendor(v); c < db.FirstCpuOfVendor(v) + db.Vendor(v).CpuCount; ++c) {
      TargetConfig rec{};
      rec.CpuSelection = static_cast<std::uint32_t>(v) << 16 | static_cast<std::uint32_t>(c);
      CpuDetails d;
      d.DetailText[0] = "stale";
      db.LoadCpuDetails(rec, KZ_DATA_OUT_DIR, d);
      EXPECT_EQ(d.VendorName, db.Vendor(v).VendorName);
      EXPECT_EQ(d.CpuName, db.Cpu(c).CpuName);
      EXPECT_NE(d.DetailText[0], "stale");
      EXPECT_NE(d.DetailWord[2], 0u) << d.CpuName;
      const auto range = d.CodeRange();
      (range[0] == 0 && range[1] == 0 ? withoutCode : withCode)++;
    }
  EXPECT_GT(withCode, 0);
  EXPECT_GT(withoutCode, 0);
}

TEST(MkDataOutput, LibraryHoldsEveryImageTheConnectionAsksFor) {
  std::ifstream in(std::string(KZ_DATA_OUT_DIR) + kFmdFileName, std::ios::binary);
  const ByteVector file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<FmdIndexRecord> index;
  ASSERT_TRUE(ParseFmdIndex(file.data(), file.size(), index));
  auto load = [&](const std::string& name) {
    const FmdIndexRecord* r = FindFmdRecord(index, name);
    ByteVector image;
    EXPECT_NE(r, nullptr) << name;
    if (r != nullptr) {
      EXPECT_TRUE(ExtractFmdRecord(file.data(), file.size(), *r, image)) << name;
    }
    return image;
  };
  for (const PodSlot& slot : kPodSlots) {
    if (slot.MonitorName[0] != '\0') {
      const ByteVector monitor = load(slot.MonitorName);
      EXPECT_GE(monitor.size(), 2u);
      EXPECT_LE(monitor.size() - 1, 6144u);
      EXPECT_EQ(monitor[0], 0x02) << slot.MonitorName;  // starts with a long jump
    }
    if (slot.Family != 0 || slot.PodConfigName[0] == '\0') continue;
    const ByteVector standard = load(std::string("JY") + slot.PodConfigName);
    EXPECT_GE(standard.size(), 2000u);
    EXPECT_LE(standard.size(), 6100u);
    // JY and JZ share their data under different scramble modes, so equal
    // images show that writer and reader agree on the constants.
    EXPECT_EQ(load(std::string("JZ") + slot.PodConfigName), standard);
    EXPECT_EQ(load(slot.PodConfigName), standard);
    const ByteVector alternate = load(std::string("Q_") + slot.PodConfigName);
    EXPECT_EQ(load(std::string("QJZT_") + slot.PodConfigName), alternate);
    EXPECT_NE(alternate, standard);
  }
  // The modes in use cover all three scrambling ones.
  std::set<std::int32_t> modes;
  for (const auto& r : index) modes.insert(r.scrambleMode);
  EXPECT_TRUE(modes.count(0) && modes.count(1) && modes.count(2));
}

#endif

}  // namespace
}  // namespace kz
