#include <gtest/gtest.h>

#include "connect/FMDU.h"
#include "unit/connect/ConnectRig.h"

namespace kz {
namespace {

using test::ConnectRig;
using test::LibraryEntry;
using test::Pattern;

struct FmduRig : ConnectRig {
  explicit FmduRig(int pod = 1) : ConnectRig(pod) {
    link.Open();
    emu.rec.Forget();
  }
  std::string LastBox() const { return ui.boxes.empty() ? "" : ui.boxes.back().text; }
};

TEST(FmduNames, ConfigurationPrefixByEmulatorIndexAndAlternateFlag) {
  EXPECT_EQ(ConfigNamePrefix(0, false), "JY");
  EXPECT_EQ(ConfigNamePrefix(2, true), "JY");
  EXPECT_EQ(ConfigNamePrefix(3, true), "JZ");
  EXPECT_EQ(ConfigNamePrefix(4, false), "JZ");
  EXPECT_EQ(ConfigNamePrefix(5, true), "QJZT_");
  EXPECT_EQ(ConfigNamePrefix(5, false), "JZ");
  EXPECT_EQ(ConfigNamePrefix(6, true), "Q_");
  EXPECT_EQ(ConfigNamePrefix(7, true), "Q_");
  EXPECT_EQ(ConfigNamePrefix(7, false), "JZ");
  EXPECT_EQ(ConfigNamePrefix(8, true), "");
  EXPECT_EQ(ConfigNamePrefix(9, false), "");

  FmduRig r(5);
  r.config.EmulatorIndex = 5;
  r.fmdu.SetAlternateBoard(true);
  EXPECT_EQ(r.fmdu.ConfigurationName(), "QJZT_P51E");
}

TEST(FmduHeaders, ConfigurationHeaderNeedsMagicByte30ChecksumLengthAndName) {
  std::array<std::uint8_t, 32> h{};
  h.fill(0x33);
  BuildConfigHeader(h, "JYP51A");
  EXPECT_TRUE(ConfigHeaderMatches(h, "JYP51A"));
  EXPECT_EQ(h[10], 'A');
  EXPECT_EQ(h[11], 0x33);                           // bytes past the name keep what was there
  EXPECT_FALSE(ConfigHeaderMatches(h, "JYP51"));    // shorter
  EXPECT_FALSE(ConfigHeaderMatches(h, "JYP51AB"));  // longer, same start
  EXPECT_FALSE(ConfigHeaderMatches(h, "JYP51B"));

  auto broken = [&](int at, std::uint8_t v, bool fixSum) {
    auto b = h;
    b[at] = v;
    if (fixSum) {
      unsigned s = 0;
      for (int i = 0; i < 31; ++i) s += b[i];
      b[31] = static_cast<std::uint8_t>(s);
    }
    return ConfigHeaderMatches(b, "JYP51A");
  };
  EXPECT_FALSE(broken(1, 0x5B, true));   // magic
  EXPECT_FALSE(broken(30, 0xFE, true));  // byte 30
  EXPECT_FALSE(broken(31, h[31] + 1, false));
  EXPECT_FALSE(broken(20, 0x34, false));  // any byte counts in the checksum

  // A name of 17 characters is never valid: downloaded at every connection.
  const std::string longName = "JYABCDEFGHIJKLMNO";
  ASSERT_EQ(longName.size(), 17u);
  BuildConfigHeader(h, longName);
  EXPECT_FALSE(ConfigHeaderMatches(h, longName));
  const std::string sixteen = longName.substr(0, 16);
  BuildConfigHeader(h, sixteen);
  EXPECT_TRUE(ConfigHeaderMatches(h, sixteen));
}

TEST(FmduHeaders, MonitorHeaderNeedsMagicAndChecksumOverPositions0To7) {
  std::uint8_t p[9] = {0xA5, 0x5A, 0x00, 0xFF, 0x01, 0x03, 0x10, 0x20, 0};
  unsigned s = 0;
  for (int i = 0; i < 8; ++i) s += p[i];
  p[8] = static_cast<std::uint8_t>(s);
  EXPECT_TRUE(MonitorHeaderValid(p));
  p[7] ^= 1;
  EXPECT_FALSE(MonitorHeaderValid(p));
  p[7] ^= 1;
  p[2] = 1;
  p[8] = static_cast<std::uint8_t>(p[8] + 1);
  EXPECT_FALSE(MonitorHeaderValid(p));
}

TEST(FmduPieces, ImageIsCutInto448BitPiecesWithKindsFirstMiddleLast) {
  using P = ImagePiece;
  EXPECT_EQ(ImagePieces(57), (std::vector<P>{{0, 448, 0}, {2, 8, 56}}));
  EXPECT_EQ(ImagePieces(112), (std::vector<P>{{0, 448, 0}, {2, 448, 56}}));
  EXPECT_EQ(ImagePieces(170),
            (std::vector<P>{{0, 448, 0}, {1, 448, 56}, {1, 448, 112}, {2, 16, 168}}));
  EXPECT_EQ(ImagePieces(56), (std::vector<P>{{0, 448, 0}}));
  // Shorter than one piece: refused, never a negative remainder.
  EXPECT_TRUE(ImagePieces(55).empty());
  EXPECT_TRUE(ImagePieces(0).empty());
}

TEST(FmduLibrary, LoadsAndDescramblesEveryModeAndDropsTheLastByte) {
  FmduRig r;
  const auto image = Pattern(300, 9);
  r.library.Write({{"M0", image, 0}, {"M1", image, 1}, {"M2", image, 2}, {"M7", image, 7}});
  for (const char* name : {"M0", "M1", "M2", "M7"}) {
    r.fmdu.LoadImage(name);
    ASSERT_EQ(r.fmdu.ImageLength(), 300) << name;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), r.fmdu.ImageBuffer().begin())) << name;
    EXPECT_EQ(r.fmdu.ImageBuffer()[300], 0xEE) << name;  // read, not counted
  }
  EXPECT_TRUE(r.ui.boxes.empty());
  EXPECT_FALSE(r.fmdu.LibraryOpen());
}

TEST(FmduLibrary, RecordNamesCompareLengthsToo) {
  FmduRig r;
  r.library.Write({{"MON51AX", Pattern(10), 0}, {"MON5", Pattern(10), 0}});
  r.fmdu.LoadImage("MON51A");
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  ASSERT_EQ(r.ui.boxes.size(), 1u);
  EXPECT_EQ(r.ui.boxes[0].kind, MessageKind::Error);
  EXPECT_EQ(r.LastBox(), "Hardware configration file not found or file format error: MON51A");
  r.fmdu.LoadImage("MON5");
  EXPECT_EQ(r.fmdu.ImageLength(), 10);
}

TEST(FmduLibrary, CountZeroStillReadsTheFirstRecord) {
  FmduRig r;
  r.library.Write({{"ONLY", Pattern(20), 1}, {"SECOND", Pattern(20), 1}}, 0);
  r.fmdu.LoadImage("ONLY");
  EXPECT_EQ(r.fmdu.ImageLength(), 20);
  r.fmdu.LoadImage("SECOND");  // past the count
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
}

TEST(FmduLibrary, BadLibrariesGiveLengthZeroAndOneBoxEach) {
  FmduRig r;
  r.fmdu.LoadImage("X");  // no file
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  r.library.WriteRaw({});  // empty file
  r.fmdu.LoadImage("X");
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  r.library.Write({{"X", Pattern(20), 0}}, -1, false);  // wrong signature
  r.fmdu.LoadImage("X");
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  r.library.Write({{"X", {}, 0, 0}});  // empty record
  r.fmdu.LoadImage("X");
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  r.library.Write({{"X", Pattern(20), 0, 5000}});  // data past the end of the file
  r.fmdu.LoadImage("X");
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  EXPECT_EQ(r.ui.boxes.size(), 5u);
  EXPECT_EQ(r.LastBox(), "Hardware configration file not found or file format error: X");
}

TEST(FmduLibrary, RecordLongerThanTheBufferIsRefused) {
  FmduRig r;
  r.library.Write(
      {{"BIG", Pattern(kImageBufferSize), 0}, {"FITS", Pattern(kImageBufferSize - 1), 0}});
  r.fmdu.LoadImage("BIG");  // 200,005 bytes stored
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  EXPECT_EQ(r.ui.boxes.size(), 1u);
  r.fmdu.LoadImage("FITS");  // exactly the buffer
  EXPECT_EQ(r.fmdu.ImageLength(), static_cast<std::int32_t>(kImageBufferSize - 1));
}

TEST(FmduMonitor, MatchingHeaderDownloadsNothingAndKindDifferenceDownloads) {
  FmduRig r;
  r.WriteStandardLibrary(300);
  r.emu.param[6] = 0x12;  // positions 6 and 7 are the firmware's, kept in the checksum
  r.fmdu.MonitorCheck("MON51A", 0x01, 3);
  // 300 bytes: pages of 128, 128 and 44 bytes.
  EXPECT_EQ(r.emu.Count(17), 7u);
  const auto pages = r.emu.Sent(18);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(test::U16(pages[0], 1), 0x2000);
  EXPECT_EQ(test::U16(pages[2], 1), 0x2100);
  const auto pieces = r.emu.Sent(17);
  EXPECT_EQ(pieces[6][1], 0);   // offset in the last page
  EXPECT_EQ(pieces[6][2], 44);  // its count
  EXPECT_EQ(pieces[1][1], 48);
  EXPECT_EQ(pieces[2][1], 96);
  EXPECT_EQ(pieces[2][2], 32);
  // Header now names the monitor.
  EXPECT_TRUE(MonitorHeaderValid(r.emu.param.data()));
  EXPECT_EQ(r.emu.param[4], 0x01);
  EXPECT_EQ(r.emu.param[5], 3);
  EXPECT_EQ(r.emu.param[6], 0x12);
  EXPECT_EQ(r.emu.param[16], 6);
  EXPECT_EQ(std::string(r.emu.param.begin() + 17, r.emu.param.begin() + 23), "MON51A");

  r.emu.rec.Forget();
  r.fmdu.MonitorCheck("MON51A", 0x01, 3);
  EXPECT_EQ(r.emu.Count(17), 0u);
  EXPECT_EQ(r.emu.Count(2), 0u);

  r.fmdu.MonitorCheck("MON51A", 0x01, 2);  // same name, other kind
  EXPECT_EQ(r.emu.Count(17), 7u);
  EXPECT_EQ(r.emu.param[5], 2);
}

TEST(FmduMonitor, InvalidatesTheHeaderFirstAndCutsLongImages) {
  FmduRig r;
  r.WriteStandardLibrary(7000);
  r.fmdu.MonitorCheck("MON51A", 0x01, 3);
  const auto& sent = r.emu.rec.Sent();
  // The first writes zero the magic before any page goes out.
  std::size_t firstWrite = 0;
  while (firstWrite < sent.size() && sent[firstWrite][0] != 2) ++firstWrite;
  ASSERT_LT(firstWrite + 3, sent.size());
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(test::U16(sent[firstWrite + i], 1), i);
    EXPECT_EQ(sent[firstWrite + i][16], 0);
  }
  EXPECT_EQ(r.emu.Count(18), 6144u / 128u);
}

TEST(FmduMonitor, MissingMonitorLeavesHeaderInvalidAndRowTenSkipsTheCheck) {
  FmduRig r;
  r.library.Write({{"OTHER", Pattern(10), 0}});
  r.fmdu.MonitorCheck("MON51A", 0x01, 3);
  EXPECT_EQ(r.emu.Count(17), 0u);
  EXPECT_FALSE(MonitorHeaderValid(r.emu.param.data()));
  EXPECT_EQ(r.ui.boxes.size(), 1u);

  FmduRig row10;
  row10.config.EmulatorIndex = 10;
  row10.fmdu.MonitorCheck("MON51A", 0x01, 3);
  EXPECT_TRUE(row10.emu.rec.Sent().empty());
}

TEST(FmduPodConfig, StaleConfigurationIsDownloadedAndHeaderWritten) {
  FmduRig r(1);
  r.WriteStandardLibrary(300, 2000);
  r.fmdu.PodConfigurationCheck();
  // 2000 counted bytes: 35 full pieces and one of 40 bytes.
  const auto pieces = r.emu.Sent(36);
  ASSERT_EQ(pieces.size(), 36u);
  EXPECT_EQ(pieces.front()[1], 0);
  EXPECT_EQ(pieces[1][1], 1);
  EXPECT_EQ(pieces.back()[1], 2);
  EXPECT_EQ(test::U16(pieces.back(), 2), 320);
  EXPECT_EQ(pieces.back()[4], 40);
  EXPECT_EQ(pieces[1][8], Pattern(2000, 5)[56]);
  // The first piece carries the image start again, not the scanned patterns.
  EXPECT_EQ(pieces[0][8], Pattern(2000, 5)[0]);
  EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "JYP51A"));
  EXPECT_TRUE(r.state.podConfigured);
  EXPECT_FALSE(r.link.LinkFailed());

  r.emu.rec.Forget();
  r.fmdu.PodConfigurationCheck();
  EXPECT_EQ(r.emu.Count(36), 0u);
  EXPECT_EQ(r.emu.Count(37), 0u);
  EXPECT_TRUE(r.state.podConfigured);
}

TEST(FmduPodConfig, PieceSequencesFor57And112ByteImages) {
  for (const auto& [bytes, lastKind, lastBits] : {std::tuple{57, 2, 8}, std::tuple{112, 2, 448}}) {
    FmduRig r(1);
    r.library.Write(
        {{"JYP51A", Pattern(static_cast<std::size_t>(bytes)), 0}, {"MON51A", Pattern(100), 0}});
    r.fmdu.PodConfigurationCheck();
    const auto pieces = r.emu.Sent(36);
    ASSERT_EQ(pieces.size(), 2u) << bytes;
    EXPECT_EQ(pieces[0][1], 0);
    EXPECT_EQ(test::U16(pieces[0], 2), 448);
    EXPECT_EQ(pieces[1][1], lastKind);
    EXPECT_EQ(test::U16(pieces[1], 2), lastBits);
  }
}

TEST(FmduPodConfig, ImageShorterThanOnePieceIsRefused) {
  FmduRig r(1);
  r.library.Write({{"JYP51A", Pattern(55), 0}});
  r.fmdu.PodConfigurationCheck();
  EXPECT_EQ(r.fmdu.ImageLength(), 0);
  EXPECT_EQ(r.emu.Count(36), 0u);
  EXPECT_EQ(r.emu.Count(37), 0u);
  EXPECT_FALSE(r.state.podConfigured);
}

TEST(FmduPodConfig, UnexpectedFpgaCodeEndsTheDownloadSilently) {
  FmduRig r(1);
  r.WriteStandardLibrary();
  r.emu.fpgaId = 0x12345678;
  r.fmdu.PodConfigurationCheck();
  EXPECT_EQ(r.emu.Count(36), 0u);
  EXPECT_EQ(r.emu.Count(37), 0u);
  EXPECT_FALSE(r.state.podConfigured);
  EXPECT_TRUE(r.ui.boxes.empty());
}

TEST(FmduPodConfig, AlternateBoardUsesEightBitInstructionsAndItsOwnCode) {
  FmduRig r(5);
  r.config.EmulatorIndex = 5;
  r.fmdu.SetAlternateBoard(true);
  r.emu.fpgaId = kFpgaIdAlternate;
  r.WriteStandardLibrary();
  r.fmdu.PodConfigurationCheck();
  EXPECT_EQ(r.emu.Count(36), 36u);
  EXPECT_EQ(r.emu.Count(16), 1u + 20u + 1u + 1u + 1u + 1u + 2u + 1u);
  for (const auto& p : r.emu.Sent(34)) EXPECT_EQ(p[1], 8);
  EXPECT_TRUE(ConfigHeaderMatches(r.emu.configHeader, "QJZT_P51E"));
  EXPECT_TRUE(r.state.podConfigured);
}

TEST(FmduPodConfig, LinkFailureDuringDownloadIsForgottenAndCommand32Decides) {
  FmduRig r(1);
  r.WriteStandardLibrary();
  int pieces = 0;
  auto& pipes = r.emu.rec.Pipes();
  pipes.replier = [&, inner = pipes.replier](const fake::Packet& p) {
    if (p[0] == 36 && ++pieces == 4) {
      r.emu.configured = true;  // the logic took it, but the reply is lost
      return;
    }
    inner(p);
  };
  r.fmdu.PodConfigurationCheck();
  EXPECT_EQ(pieces, 4);  // nothing more after the failed exchange
  EXPECT_FALSE(r.link.LinkFailed());
  EXPECT_EQ(r.link.ErrorKindValue(), kErrorMcuReset);
  EXPECT_EQ(r.emu.Count(37), 1u);
  EXPECT_TRUE(r.state.podConfigured);
}

TEST(FmduPodConfig, NothingWhenTheLinkHasFailed) {
  FmduRig r(1);
  r.WriteStandardLibrary();
  r.link.Fail(kErrorUsb);
  r.fmdu.PodConfigurationCheck();
  EXPECT_TRUE(r.emu.rec.Sent().empty());
}

TEST(FmduFpgaId, CodeIsTakenMostSignificantByteFirst) {
  FmduRig r(1);
  r.emu.fpgaId = 0x93006180;
  EXPECT_EQ(r.fmdu.ReadFpgaIdentificationCode(), 0x93006180u);
  const auto is = r.emu.Sent(34);
  ASSERT_EQ(is.size(), 1u);
  EXPECT_EQ(is[0][1], 5);
  EXPECT_EQ(is[0][2], 9);
  r.fmdu.SetAlternateBoard(true);
  r.emu.fpgaId = kFpgaIdAlternate;
  EXPECT_EQ(r.fmdu.ReadFpgaIdentificationCode(), kFpgaIdAlternate);
  EXPECT_EQ(r.emu.Sent(34).back()[2], 0x16);
  r.link.Fail(kErrorUsb);
  EXPECT_EQ(r.fmdu.ReadFpgaIdentificationCode(), 0u);
}

}  // namespace
}  // namespace kz
