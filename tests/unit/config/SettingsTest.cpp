#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "config/Settings.h"
#include "fakes/FakeUi.h"
#include "unit/config/ConfigTestFiles.h"

namespace kz {
namespace {

// Replaces files as the system does.
fake::FakeSystem system;

// A system on which replacing the settings file fails (disk full, locked file).
class NoReplaceSystem : public fake::FakeSystem {
 public:
  int calls = 0;
  bool ReplaceFile(const std::string&, const std::string&) override {
    ++calls;
    return false;
  }
};

// Records the flushes to the disk and the replacements, in order.
class RecordingSystem : public fake::FakeSystem {
 public:
  std::vector<std::string> log;
  bool syncFails = false;
  bool SyncFile(std::FILE* file) override {
    log.push_back("sync");
    return FakeSystem::SyncFile(file) && !syncFails;
  }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    log.push_back("replace");
    return FakeSystem::ReplaceFile(from, to);
  }
};

using test::ByteVector;
using test::ScratchDir;

// A settings image with the signature and recognisable values everywhere.
ByteVector GoodImage() {
  ByteVector image(kTargetConfigSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::memcpy(image.data(), kSettingsSignature.data(), kSettingsSignature.size());
  auto& rec = *reinterpret_cast<TargetConfig*>(image.data());
  rec.EmulatorIndex = 4;
  rec.PodIndex = 8;
  rec.CpuSelection = 0x00020005;
  rec.CrystalHz = 11059200;
  return image;
}

TargetConfig Filled(std::uint8_t value) {
  TargetConfig rec;
  std::memset(rec.Bytes(), value, kTargetConfigSize);
  return rec;
}

ByteVector BytesOf(const TargetConfig& rec) {
  return ByteVector(rec.Bytes(), rec.Bytes() + kTargetConfigSize);
}

// What the defaults make of `before`.
ByteVector WithDefaults(ByteVector before) {
  std::memcpy(before.data(), kSettingsSignature.data(), kSettingsSignature.size());
  auto& rec = *reinterpret_cast<TargetConfig*>(before.data());
  rec.EmulatorIndex = 0;
  rec.PodIndex = 0;
  rec.CpuSelection = 0;
  rec.Reserved1072 = 0;
  rec.Reserved1076 = 0;
  rec.Reserved1080 = 1;
  return before;
}

TEST(SettingsLoad, MissingFileAppliesDefaultsOnly) {
  ScratchDir dir;
  TargetConfig zero = Filled(0);
  LoadSettings(zero, dir.Prefix());
  ByteVector expected(kTargetConfigSize, 0);
  std::memcpy(expected.data(), kSettingsSignature.data(), kSettingsSignature.size());
  expected[1080] = 1;
  EXPECT_EQ(BytesOf(zero), expected);
  EXPECT_EQ(static_cast<std::int32_t>(zero.CrystalHz), 0);

  // Fields the defaults do not name keep what memory held.
  TargetConfig held = Filled(0xEE);
  LoadSettings(held, dir.Prefix());
  EXPECT_EQ(BytesOf(held), WithDefaults(ByteVector(kTargetConfigSize, 0xEE)));
}

TEST(SettingsLoad, GoodFileIsTakenWhole) {
  ScratchDir dir;
  const ByteVector image = GoodImage();
  dir.Write(kSettingsFileName, image);
  TargetConfig rec = Filled(0);
  LoadSettings(rec, dir.Prefix());
  EXPECT_EQ(BytesOf(rec), image);

  // Bytes past 1340 are ignored.
  ByteVector longer = image;
  longer.resize(1400, 0x55);
  dir.Write(kSettingsFileName, longer);
  rec = Filled(0);
  LoadSettings(rec, dir.Prefix());
  EXPECT_EQ(BytesOf(rec), image);
}

TEST(SettingsLoad, ShortFileKeepsArrivedBytesAndResetsSelection) {
  ScratchDir dir;
  const ByteVector image = GoodImage();
  dir.Write(kSettingsFileName, ByteVector(image.begin(), image.begin() + 1000));
  TargetConfig rec = Filled(0x77);
  LoadSettings(rec, dir.Prefix());

  ByteVector expected(kTargetConfigSize, 0x77);
  std::copy(image.begin(), image.begin() + 1000, expected.begin());
  EXPECT_EQ(BytesOf(rec), WithDefaults(expected));
  EXPECT_EQ(static_cast<std::int32_t>(rec.EmulatorIndex), 0);
  EXPECT_EQ(rec.CpuOptionBytes[3], image[813]);  // option bytes came from the file
  EXPECT_EQ(rec.ClockCache[0], 0x77);            // past the end: previous contents
}

TEST(SettingsLoad, ForeignSignatureKeepsOptionsButResetsSelection) {
  ScratchDir dir;
  for (std::size_t changed : {std::size_t{0}, std::size_t{5}, std::size_t{32}}) {
    ByteVector image = GoodImage();
    image[changed] ^= 0x01;
    dir.Write(kSettingsFileName, image);
    TargetConfig rec = Filled(0);
    LoadSettings(rec, dir.Prefix());
    EXPECT_EQ(BytesOf(rec), WithDefaults(image)) << "signature byte " << changed;
    EXPECT_EQ(static_cast<std::int32_t>(rec.CrystalHz), 11059200);
  }
}

TEST(SettingsLoad, ReadOnlyFileCountsAsMissingAndIsNotSaved) {
  ScratchDir dir;
  const ByteVector image = GoodImage();
  dir.Write(kSettingsFileName, image);
  if (!dir.MakeReadOnly(kSettingsFileName)) GTEST_SKIP() << "cannot make a file read-only here";

  TargetConfig rec = Filled(0x11);
  LoadSettings(rec, dir.Prefix());
  EXPECT_EQ(BytesOf(rec), WithDefaults(ByteVector(kTargetConfigSize, 0x11)));

  SaveSettings(rec, dir.Prefix(), system);
  EXPECT_EQ(dir.Read(kSettingsFileName), image);
  EXPECT_FALSE(std::filesystem::exists(dir.Path(kSettingsTempFileName)));
}

TEST(SettingsSave, SaveThenLoadIsByteIdentical) {
  ScratchDir dir;
  const ByteVector image = GoodImage();
  TargetConfig rec;
  std::memcpy(rec.Bytes(), image.data(), kTargetConfigSize);
  SaveSettings(rec, dir.Prefix(), system);
  EXPECT_EQ(dir.Read(kSettingsFileName), image);
  EXPECT_FALSE(std::filesystem::exists(dir.Path(kSettingsTempFileName)));

  TargetConfig back = Filled(0);
  LoadSettings(back, dir.Prefix());
  EXPECT_EQ(BytesOf(back), image);
}

TEST(SettingsSave, ReplacesALongerFileWithExactly1340Bytes) {
  ScratchDir dir;
  dir.Write(kSettingsFileName, ByteVector(5000, 0xAB));
  TargetConfig rec = Filled(0);
  ApplySettingsDefaults(rec);
  SaveSettings(rec, dir.Prefix(), system);
  const ByteVector saved = dir.Read(kSettingsFileName);
  ASSERT_EQ(saved.size(), kTargetConfigSize);
  EXPECT_TRUE(std::equal(kSettingsSignature.begin(), kSettingsSignature.end(), saved.begin()));
}

TEST(SettingsSave, FailedWriteLeavesTheOldFileIntact) {
  ScratchDir dir;
  const ByteVector image = GoodImage();
  dir.Write(kSettingsFileName, image);
  RecordingSystem failing;
  failing.syncFails = true;  // the disk did not take the data

  TargetConfig rec = Filled(0x42);
  SaveSettings(rec, dir.Prefix(), failing);
  EXPECT_EQ(dir.Read(kSettingsFileName), image);
  EXPECT_FALSE(std::filesystem::exists(dir.Path(kSettingsTempFileName)));
  EXPECT_EQ(failing.log, std::vector<std::string>{"sync"});

  SaveSettings(rec, dir.Prefix(), system);
  EXPECT_EQ(dir.Read(kSettingsFileName), BytesOf(rec));
}

TEST(SettingsSave, TheNewImageReachesTheDiskBeforeItReplacesTheOldFile) {
  ScratchDir dir;
  dir.Write(kSettingsFileName, GoodImage());
  RecordingSystem recording;
  TargetConfig rec = Filled(0x42);
  SaveSettings(rec, dir.Prefix(), recording);
  EXPECT_EQ(recording.log, (std::vector<std::string>{"sync", "replace"}));
  EXPECT_EQ(dir.Read(kSettingsFileName), BytesOf(rec));
}

TEST(SettingsSave, WithoutATempFileTheSettingsAreWrittenInPlace) {
  // Each case keeps a temp file from being made.
  struct Case {
    const char* what;
    std::function<bool(ScratchDir&)> block;
  };
  const Case cases[] = {
      {"leftover temp file that cannot be replaced",
       [](ScratchDir& d) {
         d.Write(kSettingsTempFileName, ByteVector(10, 0xEE));
         return d.MakeReadOnly(kSettingsTempFileName);
       }},
      {"leftover directory in the temp file's place",
       [](ScratchDir& d) {
         std::filesystem::create_directory(d.Path(kSettingsTempFileName));
         d.Write(std::string(kSettingsTempFileName) + "/inside", ByteVector(1, 0));
         return true;
       }},
      {"directory that takes no new file", [](ScratchDir& d) { return d.CloseDirectory(); }},
  };
  std::string notArranged;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    dir.Write(kSettingsFileName, ByteVector(5000, 0xAB));
    if (!c.block(dir)) {
      notArranged += std::string(c.what) + "; ";
      continue;
    }
    RecordingSystem recording;
    TargetConfig rec;
    std::memcpy(rec.Bytes(), GoodImage().data(), kTargetConfigSize);
    rec.CrystalHz = 4'000'000;
    SaveSettings(rec, dir.Prefix(), recording);
    const ByteVector saved = dir.Read(kSettingsFileName);
    ASSERT_GE(saved.size(), kTargetConfigSize);
    EXPECT_EQ(ByteVector(saved.begin(), saved.begin() + kTargetConfigSize), BytesOf(rec));
    EXPECT_EQ(recording.log, std::vector<std::string>{"sync"});
    TargetConfig back = Filled(0);
    LoadSettings(back, dir.Prefix());
    EXPECT_EQ(BytesOf(back), BytesOf(rec));
  }
  if (!notArranged.empty()) GTEST_SKIP() << "cannot be arranged here: " << notArranged;
}

TEST(SettingsSave, FailedReplacementLeavesTheOldFileAndNoTemporary) {
  ScratchDir dir;
  const ByteVector image = GoodImage();
  dir.Write(kSettingsFileName, image);
  NoReplaceSystem failing;
  TargetConfig rec = Filled(0x42);
  SaveSettings(rec, dir.Prefix(), failing);
  EXPECT_EQ(failing.calls, 1);
  EXPECT_EQ(dir.Read(kSettingsFileName), image);
  EXPECT_FALSE(std::filesystem::exists(dir.Path(kSettingsTempFileName)));
}

TEST(SettingsSave, MissingDirectoryIsIgnored) {
  ScratchDir dir;
  TargetConfig rec = Filled(0);
  SaveSettings(rec, dir.Prefix() + "absent/", system);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("absent")));
}

TEST(SettingsRecord, PodNumberOfAStoredIndexOutsideThePodTableIsNoPod) {
  const std::pair<std::int32_t, int> cases[] = {
      {0, 1}, {8, 9}, {39, 40}, {40, 0}, {-1, 0}, {0x7FFFFFFF, 0}, {INT32_MIN, 0}, {1000, 0},
  };
  for (const auto& [index, pod] : cases) {
    TargetConfig rec = Filled(0);
    rec.PodIndex = index;
    EXPECT_EQ(rec.PodNumber(), pod) << index;
    EXPECT_EQ(static_cast<std::int32_t>(rec.PodIndex), index);  // the stored bytes stay
  }
}

TEST(SettingsDataDirectory, CommandLineRule) {
  EXPECT_EQ(FindDataDirectory("\"C:\\Tools\\Host\\HOST.EXE\" -d project", '\\'),
            "C:\\Tools\\Host\\");
  // A blank ends the path even between double quotes.
  EXPECT_EQ(FindDataDirectory("\"C:\\Program Files\\Host\\HOST.EXE\"", '\\'), "C:\\");
  EXPECT_EQ(FindDataDirectory("HOST.EXE arg\\x", '\\'), "");
  EXPECT_EQ(FindDataDirectory("", '\\'), "");
  EXPECT_EQ(FindDataDirectory("/usr/local/bin/kz51 --script a/b", '/'), "/usr/local/bin/");
  EXPECT_EQ(FindDataDirectory("\"/opt/my tools/kz51\" x", '/'), "/opt/");
  EXPECT_EQ(FindDataDirectory("/kz51", '/'), "/");
  // Only the platform's separator counts.
  EXPECT_EQ(FindDataDirectory("C:\\Host\\HOST.EXE", '/'), "");
}

}  // namespace
}  // namespace kz
