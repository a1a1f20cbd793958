#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "config/DeviceDatabase.h"
#include "config/PodTable.h"
#include "unit/config/ConfigTestFiles.h"
#include "unit/config/MdbBuilder.h"

namespace kz {
namespace {

using test::ByteVector;
using test::ScratchDir;
using test::BuildDatabase;
using test::TestCpu;
using test::TestVendor;
using test::Put;
using test::PutText;

std::vector<TestCpu> Cpus(const std::string& prefix, int n) {
  std::vector<TestCpu> cpus;
  for (int i = 1; i <= n; ++i)
    cpus.push_back({prefix + std::to_string(i), 1u << (i % 9), 0x100u * i, 0x100u * i + 0xFF,
                    static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i + 0x40)});
  return cpus;
}

// Vendors of 4, 0 and 5 CPUs: the third vendor's CPUs are 5..9.
std::vector<TestVendor> ThreeVendors() {
  return {{"Vendor A", Cpus("A", 4)}, {"Vendor B", {}}, {"Vendor C", Cpus("C", 5)}};
}

bool Loads(const ScratchDir& dir, const ByteVector& file) {
  dir.Write(kDeviceDatabaseFileName, file);
  DeviceDatabase db;
  return db.LoadDeviceDatabase(dir.Prefix());
}

TargetConfig Selecting(int vendor, int cpu) {
  TargetConfig rec{};
  rec.CpuSelection = static_cast<std::uint32_t>(vendor) << 16 | static_cast<std::uint32_t>(cpu);
  return rec;
}

TEST(DeviceDatabaseLoad, NumbersCpusOverVendors) {
  ScratchDir dir;
  dir.Write(kDeviceDatabaseFileName, BuildDatabase(ThreeVendors()));
  DeviceDatabase db;
  ASSERT_TRUE(db.LoadDeviceDatabase(dir.Prefix()));
  EXPECT_EQ(db.VendorCount(), 3);
  EXPECT_EQ(db.TotalCpus(), 9);
  EXPECT_EQ(db.FirstCpuOfVendor(1), 1);
  EXPECT_EQ(db.FirstCpuOfVendor(2), 5);
  EXPECT_EQ(db.FirstCpuOfVendor(3), 5);
  EXPECT_EQ(db.Vendor(3).VendorName, "Vendor C");
  EXPECT_EQ(db.Vendor(2).CpuCount, 0);
  EXPECT_EQ(db.Cpu(5).CpuName, "C1");
  EXPECT_EQ(db.Cpu(9).CpuName, "C5");
  EXPECT_EQ(db.Cpu(9).ExtraListOffset, 0x1234u);
  EXPECT_EQ(db.Cpu(4).PodMask, 1u << 4);
  // Out-of-range numbers give empty entries.
  EXPECT_EQ(db.Cpu(10).CpuName, "");
  EXPECT_EQ(db.Vendor(0).VendorName, "");
}

TEST(DeviceDatabaseLoad, ZeroVendorsLoads) {
  ScratchDir dir;
  dir.Write(kDeviceDatabaseFileName, BuildDatabase({}));
  DeviceDatabase db;
  ASSERT_TRUE(db.LoadDeviceDatabase(dir.Prefix()));
  EXPECT_EQ(db.VendorCount(), 0);
  EXPECT_EQ(db.TotalCpus(), 0);
}

TEST(DeviceDatabaseLoad, RejectsDamagedFiles) {
  ScratchDir dir;
  const ByteVector good = BuildDatabase(ThreeVendors());
  ASSERT_TRUE(Loads(dir, good));

  for (std::size_t at : {std::size_t{0}, std::size_t{1}, std::size_t{30}, std::size_t{45}}) {
    ByteVector header = good;
    header[at] ^= 0x20;
    EXPECT_FALSE(Loads(dir, header)) << "header byte " << at;
  }
  // The end markers lie right before the first details block.
  DeviceDatabase db;
  ASSERT_TRUE(db.ParseDeviceDatabase(good.data(), good.size()));
  const std::size_t markers = db.Cpu(1).DetailsOffset - 8;
  ByteVector second = good;
  second[markers + 4] ^= 0xFF;
  EXPECT_FALSE(Loads(dir, second));
  ByteVector first = good;
  first[markers] ^= 0xFF;
  EXPECT_FALSE(Loads(dir, first));
  // A file that ends inside the tables or before the second marker.
  EXPECT_FALSE(Loads(dir, ByteVector(good.begin(), good.begin() + 80)));
  EXPECT_FALSE(Loads(dir, ByteVector(good.begin(), good.begin() + static_cast<long>(markers) + 6)));
  EXPECT_FALSE(Loads(dir, ByteVector(good.begin(), good.begin() + 20)));
  EXPECT_FALSE(Loads(dir, {}));
  // A failed load leaves no half-filled tables.
  EXPECT_FALSE(db.ParseDeviceDatabase(second.data(), second.size()));
  EXPECT_EQ(db.VendorCount(), 0);
  EXPECT_EQ(db.TotalCpus(), 0);
}

TEST(DeviceDatabaseLoad, MissingOrReadOnlyFileFails) {
  ScratchDir dir;
  DeviceDatabase db;
  EXPECT_FALSE(db.LoadDeviceDatabase(dir.Prefix()));
  dir.Write(kDeviceDatabaseFileName, BuildDatabase(ThreeVendors()));
  if (!dir.MakeReadOnly(kDeviceDatabaseFileName))
    GTEST_SKIP() << "cannot make a file read-only here";
  EXPECT_FALSE(db.LoadDeviceDatabase(dir.Prefix()));

  // The details are read read-only, so they still come from such a file.
  DeviceDatabase loaded;
  const ByteVector bytes = dir.Read(kDeviceDatabaseFileName);
  ASSERT_TRUE(loaded.ParseDeviceDatabase(bytes.data(), bytes.size()));
  CpuDetails details;
  loaded.LoadCpuDetails(Selecting(1, 2), dir.Prefix(), details);
  EXPECT_EQ(details.VendorName, "Vendor A");
  EXPECT_EQ(details.CpuName, "A2");
}

TEST(DeviceDatabaseLoad, LongNamesAreCutButSkippedWhole) {
  ScratchDir dir;
  const std::string fifty(50, 'N');
  std::vector<TestVendor> vendors = {{std::string(45, 'V'), {{fifty}, {"after"}}}};
  dir.Write(kDeviceDatabaseFileName, BuildDatabase(vendors));
  DeviceDatabase db;
  ASSERT_TRUE(db.LoadDeviceDatabase(dir.Prefix()));
  EXPECT_EQ(db.Vendor(1).VendorName, std::string(40, 'V'));
  EXPECT_EQ(db.Cpu(1).CpuName, std::string(40, 'N'));
  EXPECT_EQ(db.Cpu(2).CpuName, "after");
}

TEST(DeviceDatabaseLoad, MoreThanTheTablesHoldIsAFormatError) {
  DeviceDatabase db;
  std::vector<TestVendor> vendors(kMaxVendors, TestVendor{"v", {}});
  ByteVector file = BuildDatabase(vendors);
  EXPECT_TRUE(db.ParseDeviceDatabase(file.data(), file.size()));
  vendors.push_back({"one too many", {}});
  file = BuildDatabase(vendors);
  EXPECT_FALSE(db.ParseDeviceDatabase(file.data(), file.size()));

  std::vector<TestVendor> cpus = {{"a", Cpus("a", 1000)}, {"b", Cpus("b", 1000)}};
  file = BuildDatabase(cpus);
  EXPECT_TRUE(db.ParseDeviceDatabase(file.data(), file.size()));
  EXPECT_EQ(db.TotalCpus(), kMaxCpus);
  cpus.push_back({"c", Cpus("c", 1)});
  file = BuildDatabase(cpus);
  EXPECT_FALSE(db.ParseDeviceDatabase(file.data(), file.size()));

  // A huge count in a short file ends at the end of the data.
  ByteVector huge(kDeviceDatabaseHeader.begin(), kDeviceDatabaseHeader.end());
  Put<std::int32_t>(huge, 150);
  EXPECT_FALSE(db.ParseDeviceDatabase(huge.data(), huge.size()));
  // A negative count reads no vendors.
  ByteVector negative(kDeviceDatabaseHeader.begin(), kDeviceDatabaseHeader.end());
  Put<std::int32_t>(negative, -3);
  Put<std::uint32_t>(negative, kDeviceDatabaseEndMarker1);
  Put<std::uint32_t>(negative, kDeviceDatabaseEndMarker2);
  EXPECT_TRUE(db.ParseDeviceDatabase(negative.data(), negative.size()));
  EXPECT_EQ(db.VendorCount(), 0);
}

class DeviceDatabaseDetails : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = BuildDatabase(ThreeVendors());
    dir_.Write(kDeviceDatabaseFileName, file_);
    ASSERT_TRUE(db_.LoadDeviceDatabase(dir_.Prefix()));
  }
  ScratchDir dir_;
  ByteVector file_;
  DeviceDatabase db_;
};

TEST_F(DeviceDatabaseDetails, ReadsTheWholeBlock) {
  CpuDetails d;
  db_.LoadCpuDetails(Selecting(3, 6), dir_.Prefix(), d);
  EXPECT_EQ(d.VendorName, "Vendor C");
  EXPECT_EQ(d.CpuName, "C2");
  EXPECT_EQ(d.DetailText[0], "text one of C2");
  EXPECT_EQ(d.DetailText[1], std::string(255, 'x'));
  EXPECT_EQ(d.DetailText[3], "four");
  EXPECT_EQ(d.CodeRange()[0], 0x200u);
  EXPECT_EQ(d.CodeRange()[1], 0x2FFu);
  EXPECT_EQ(d.DetailRanges[4][4][0], 505u);
  EXPECT_EQ(d.DetailRanges[4][4][1], 555u);
  EXPECT_EQ(d.DetailWord[2], 2u);
  EXPECT_EQ(d.DetailWord[3], 0x42u);
  EXPECT_EQ(d.DetailWord[4], 0x14u);
  EXPECT_EQ(d.DetailNames1[9], "first 9");
  EXPECT_EQ(d.DetailNames2[0], "second 0");
}

TEST_F(DeviceDatabaseDetails, CpuNeedNotBelongToTheVendor) {
  CpuDetails d;
  db_.LoadCpuDetails(Selecting(2, 1), dir_.Prefix(), d);
  EXPECT_EQ(d.VendorName, "Vendor B");
  EXPECT_EQ(d.CpuName, "A1");
  EXPECT_EQ(d.DetailText[0], "text one of A1");
}

TEST_F(DeviceDatabaseDetails, InvalidSelectionOnlyEmptiesTheVendorName) {
  CpuDetails before;
  db_.LoadCpuDetails(Selecting(1, 3), dir_.Prefix(), before);
  for (const TargetConfig& rec :
       {Selecting(0, 0), Selecting(0, 3), Selecting(1, 0), Selecting(4, 1), Selecting(1, 10)}) {
    CpuDetails d = before;
    db_.LoadCpuDetails(rec, dir_.Prefix(), d);
    EXPECT_EQ(d.VendorName, "");
    EXPECT_EQ(d.CpuName, "A3");
    EXPECT_EQ(d.DetailText[0], before.DetailText[0]);
    EXPECT_EQ(d.DetailWord, before.DetailWord);
  }
  // A missing file likewise.
  CpuDetails d = before;
  db_.LoadCpuDetails(Selecting(1, 1), dir_.Prefix() + "absent/", d);
  EXPECT_EQ(d.VendorName, "");
  EXPECT_EQ(d.CpuName, "A3");
}

TEST_F(DeviceDatabaseDetails, CutOffBlockClearsTheDetails) {
  CpuDetails d;
  db_.LoadCpuDetails(Selecting(1, 1), dir_.Prefix(), d);
  ASSERT_EQ(d.DetailWord[3], 0x41u);
  // The file ends in the middle of the last CPU's block.
  dir_.Write(kDeviceDatabaseFileName, ByteVector(file_.begin(), file_.end() - 30));
  db_.LoadCpuDetails(Selecting(3, 9), dir_.Prefix(), d);
  EXPECT_EQ(d.VendorName, "Vendor C");
  EXPECT_EQ(d.CpuName, "C5");
  EXPECT_EQ(d.DetailText[0], "");
  EXPECT_EQ(d.CodeRange()[1], 0u);
  EXPECT_EQ(d.DetailWord[3], 0u);
  EXPECT_EQ(d.DetailNames1[0], "");
  // A block offset past the end of the file behaves the same.
  dir_.Write(kDeviceDatabaseFileName, ByteVector(file_.begin(), file_.begin() + 200));
  db_.LoadCpuDetails(Selecting(1, 4), dir_.Prefix(), d);
  EXPECT_EQ(d.CpuName, "A4");
  EXPECT_EQ(d.DetailWord[2], 0u);
}

TEST(DeviceDatabasePods, OccupiedSlotsCarryTheirFamilyDialogCodeAndMonitorKind) {
  struct Row {
    int slot;
    int family, optionDialogKind, podCode, monitorKind;
  };
  const Row rows[] = {
      {1, 0, 2, 0x01, 3},  {2, 0, 1, 0x00, 1},  {3, 0, 1, 0x00, 1},  {4, 0, 0, 0x07, 3},
      {5, 0, 1, 0x04, 1},  {6, 0, 1, 0x02, 1},  {7, 0, 1, 0x03, 1},  {8, 0, 3, 0x05, 2},
      {9, 0, 11, 0x06, 2}, {10, 0, 0, 0x22, 0}, {18, 1, 4, 0x10, 0}, {19, 1, 4, 0x11, 0},
      {20, 1, 4, 0x12, 0}, {21, 1, 4, 0x13, 0}, {22, 4, 0, 0x22, 0}, {23, 5, 0, 0x21, 0},
      {24, 6, 0, 0x20, 0},
  };
  for (const Row& r : rows) {
    const PodSlot& s = kPodSlots[static_cast<std::size_t>(r.slot - 1)];
    EXPECT_EQ((std::array<int, 4>{s.Family, s.OptionDialogKind, s.PodCode, s.MonitorKind}),
              (std::array<int, 4>{r.family, r.optionDialogKind, r.podCode, r.monitorKind}))
        << "slot " << r.slot;
  }
}

TEST(DeviceDatabasePods, PodBitsAndBuiltInTables) {
  const std::pair<int, std::uint32_t> bits[] = {
      {1, 0x1},    {2, 0x2},     {8, 0x80},     {9, 0x100},    {10, 0x10000}, {11, 0}, {17, 0},
      {18, 0x200}, {21, 0x1000}, {22, 0x20000}, {24, 0x80000}, {25, 0},       {0, 0},  {40, 0}};
  for (const auto& [pod, bit] : bits) EXPECT_EQ(PodBit(pod), bit) << "pod " << pod;

  EXPECT_EQ(kPodSlots[1].EmulatorSet, 0x17E);  // emulators 1..6 and 8
  EXPECT_EQ(kPodSlots[9].EmulatorSet, 0x60E);  // emulators 1, 2, 3, 9, 10
  EXPECT_STREQ(kPodSlots[5].MonitorName, kPodSlots[1].MonitorName);
  EXPECT_STREQ(kPodSlots[6].MonitorName, kPodSlots[1].MonitorName);
  for (int slot = 1; slot <= kPodSlotCount; ++slot) {
    const PodSlot& s = kPodSlots[static_cast<std::size_t>(slot - 1)];
    const bool occupied = slot <= 10 || (slot >= 18 && slot <= 24);
    EXPECT_EQ(s.PodName[0] != '\0', occupied) << "slot " << slot;
    EXPECT_LE(std::strlen(s.PodName), 20u);
    // With the longest prefix the configuration name must still fit the
    // pod's 16-character header.
    EXPECT_LE(std::strlen(s.PodConfigName) + 5, 16u);
    if (!occupied) {
      EXPECT_EQ(s.EmulatorSet, 0);
    }
    if (slot >= 25 && slot <= 34) {
      EXPECT_EQ(s.Family, 1);
    }
    if (slot >= 35 && slot <= 37) {
      EXPECT_EQ(s.Family, 3);
    }
  }
  EXPECT_EQ(kEmulatorModels[9].ModelCode, 0x22);
  EXPECT_STREQ(PodNameForCode(0), PodNameForCode(9));
  EXPECT_STRNE(PodNameForCode(1), PodNameForCode(0));
  EXPECT_STRNE(PodNameForCode(35), PodNameForCode(36));
}

}  // namespace
}  // namespace kz
