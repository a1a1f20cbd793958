// The virtual emulator's firmware, one packet at a time.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "emu/firmware/FirmwareTestUtil.h"

namespace kzemu::test {
namespace {

// ------------------------------------------------------------- settings --

TEST(FirmwareConfig, ParsesEverySetting) {
  FirmwareConfig c;
  std::string err;
  ASSERT_TRUE(ParseFirmwareConfig(
      "model=0x20, serial=123,date=2006-03,pod=9,podcode=5,podserial=7,poddate=2007-12,"
      "logic=alternate,configured=1,cputype=4,budget=50,ta=1-2,tb=1,tc=3-9,tx=0,"
      "fault=neverstop+slow,after=5,delay=7,seed=9,serial_out=/tmp/x.txt",
      c, &err))
      << err;
  EXPECT_EQ(c.modelCode, 0x20);
  EXPECT_EQ(c.serial, 123);
  EXPECT_EQ(c.year, 2006);
  EXPECT_EQ(c.month, 3);
  EXPECT_EQ(c.pod, 9);
  EXPECT_EQ(c.podCode, 5);
  EXPECT_EQ(c.podSerial, 7);
  EXPECT_EQ(c.podYear, 2007);
  EXPECT_EQ(c.podMonth, 12);
  EXPECT_EQ(c.logic, LogicDevice::kAlternate);
  EXPECT_TRUE(c.logicConfigured);
  EXPECT_EQ(c.cpuType, 4);
  EXPECT_EQ(c.budget, 50u);
  EXPECT_EQ(c.aMin, 1);
  EXPECT_EQ(c.aMax, 2);
  EXPECT_EQ(c.bMin, 1);
  EXPECT_EQ(c.bMax, 1);
  EXPECT_EQ(c.cMin, 3);
  EXPECT_EQ(c.cMax, 9);
  EXPECT_EQ(c.x, 0);
  EXPECT_EQ(c.faults, kFaultNeverStop | kFaultSlow);
  EXPECT_EQ(c.disconnectAfter, 5u);
  EXPECT_EQ(c.delayMs, 7u);
  EXPECT_EQ(c.seed, 9u);
  EXPECT_EQ(c.serialOut, "/tmp/x.txt");
}

TEST(FirmwareConfig, RejectsBadSettingsAndNamesThem) {
  for (const char* bad : {"model=64", "serial=32768", "date=2004-01", "date=2006-13", "pod=41",
                          "fault=loud", "tc=9-3", "colour=red", "budget", "budget=0"}) {
    FirmwareConfig c;
    std::string err;
    EXPECT_FALSE(ParseFirmwareConfig(bad, c, &err)) << bad;
    EXPECT_NE(err.find(bad), std::string::npos) << err;
  }
  FirmwareConfig c;
  EXPECT_TRUE(ParseFirmwareConfig("", c, nullptr));
  EXPECT_EQ(c.modelCode, 0);  // defaults: model code 00h, pod slot 1
  EXPECT_EQ(c.pod, 1);
}

// ------------------------------------------------------------- identity --

TEST(FirmwareIdentity, AnswersV1AndIdentityWords) {
  FirmwareConfig cfg;
  cfg.modelCode = 0x22;
  cfg.serial = 123;
  cfg.year = 2006;
  cfg.month = 3;
  cfg.pod = 4;
  cfg.podSerial = 7;
  cfg.podYear = 2006;
  cfg.podMonth = 12;
  Firmware fw(cfg);
  const Packet v = Send(fw, Cmd({1}));
  EXPECT_EQ(v[0], 'V');
  EXPECT_EQ(v[1], '1');
  const Packet e = Send(fw, Cmd({4}));
  const std::uint32_t ew = e[4] | e[5] << 8 | e[6] << 16 | static_cast<std::uint32_t>(e[7]) << 24;
  EXPECT_EQ(ew & 0x7FFF, 123u);
  EXPECT_EQ(ew >> 15 & 0xF, 3u);
  EXPECT_EQ(ew >> 19 & 7, 1u);
  EXPECT_EQ(ew >> 22 & 0x3F, 0x22u);
  const Packet p = Send(fw, Cmd({5}));
  const std::uint32_t pw = p[4] | p[5] << 8 | p[6] << 16 | static_cast<std::uint32_t>(p[7]) << 24;
  EXPECT_EQ(pw & 0x7FFF, 7u);
  EXPECT_EQ(pw >> 15 & 0xF, 12u);
  EXPECT_EQ(pw >> 22 & 0x3F, 0x07u);  // pod 4
}

TEST(FirmwareIdentity, PodCodesOfTheBuiltInSlotsAndPodlessModels) {
  const std::map<int, std::uint8_t> codes = {{1, 0x01}, {2, 0x00}, {3, 0x00}, {4, 0x07},
                                             {5, 0x04}, {6, 0x02}, {7, 0x03}, {8, 0x05},
                                             {9, 0x06}, {10, 0x22}};
  for (auto [pod, code] : codes) {
    FirmwareConfig cfg;
    cfg.pod = pod;
    Firmware fw(cfg);
    const Packet p = Send(fw, Cmd({5}));
    EXPECT_EQ(p[6] >> 6 | (p[7] & 0x0F) << 2, code) << "pod " << pod;
  }
  for (std::uint8_t model : {6, 7}) {
    FirmwareConfig cfg;
    cfg.modelCode = model;
    Firmware fw(cfg);
    const Packet p = Send(fw, Cmd({5}));
    EXPECT_EQ(p, Packet{}) << "model " << int(model);
  }
}

// ---------------------------------------------------------- logic device --

std::uint32_t ReadId(Firmware& fw, bool alternate) {
  Send(fw, alternate ? Cmd({34, 8, 0x16}) : Cmd({34, 5, 9}));
  const Packet r = Send(fw, Cmd({35, 32, 0}));
  return static_cast<std::uint32_t>(r[0]) << 24 | r[1] << 16 | r[2] << 8 | r[3];
}

TEST(FirmwareLogic, IdentificationCodeOfTheBoard) {
  {
    Firmware fw;
    Send(fw, Cmd({33}));
    EXPECT_EQ(ReadId(fw, false), 0x93C06120u);
    EXPECT_EQ(ReadId(fw, true), 0u);  // the standard device has no such instruction
  }
  for (auto [model, serial, alt] : {std::tuple{5, 3000, true}, std::tuple{5, 2999, false},
                                    std::tuple{7, 3000, true}, std::tuple{1, 5000, false}}) {
    FirmwareConfig cfg;
    cfg.modelCode = static_cast<std::uint8_t>(model);
    cfg.serial = static_cast<std::uint16_t>(serial);
    Firmware fw(cfg);
    EXPECT_EQ(ReadId(fw, alt), alt ? 0x43002411u : 0x93C06120u) << model << "/" << serial;
  }
  FirmwareConfig none;
  none.logic = LogicDevice::kNone;
  Firmware fw(none);
  EXPECT_EQ(ReadId(fw, false), 0u);
}

// The driver's standard download, packet by packet; `mutate` may alter the
// n-th scan packet (or return false to drop it).
struct Download {
  std::vector<Packet> packets;
  void I(std::uint8_t len, std::uint8_t v) { packets.push_back(Cmd({34, len, v})); }
  void D(std::uint16_t bits, std::vector<std::uint8_t> bytes = {}) {
    Packet p = Cmd({35, static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8)});
    for (std::size_t i = 0; i < bytes.size(); ++i) p[16 + i] = bytes[i];
    packets.push_back(p);
  }
  void Idle(int n = 1) {
    for (int i = 0; i < n; ++i) packets.push_back(Cmd({16}));
  }
  void Pieces(const std::vector<std::uint8_t>& image) {
    auto piece = [&](std::uint8_t kind, std::size_t at, std::size_t bytes) {
      const std::uint16_t bits = static_cast<std::uint16_t>(bytes * 8);
      Packet p = Cmd({36, kind, static_cast<std::uint8_t>(bits),
                      static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bytes)});
      for (std::size_t i = 0; i < bytes; ++i) p[8 + i] = image[at + i];
      packets.push_back(p);
    };
    piece(0, 0, 56);
    std::size_t r = image.size() - 56, k = 1;
    while (r != 0) {
      if (r < 56) {
        piece(2, 56 * k, r);
        r = 0;
      } else {
        r -= 56;
        piece(r == 0 ? 2 : 1, 56 * k, 56);
      }
      ++k;
    }
  }
};

const std::vector<std::vector<std::uint8_t>> kSequences = {
    {0x0C, 0x80, 0x04, 0x80, 0x00, 0x05, 0xFD, 0xBC, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00,
     0x00, 0xA0, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00},
    {0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0x10, 0x0C, 0x80, 0x04, 0x80,
     0x00, 0x05, 0xFC, 0xFF, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xA0,
     0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00},
    {0x0C, 0x80, 0x04, 0x80, 0x00, 0x05, 0xFD, 0xB4, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00,
     0x00, 0xA0, 0x0C, 0x00, 0x01, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x00, 0x00, 0x00, 0x00}};

Download Standard(const std::vector<std::uint8_t>& image) {
  Download d;
  d.packets.push_back(Cmd({33}));  // pod configuration check
  d.I(5, 0xFF);
  d.packets.push_back(Cmd({33}));  // the download itself
  d.I(5, 0xFF);
  d.I(5, 9);
  d.D(32);
  for (const auto& seq : kSequences) {
    d.I(5, 5);
    d.D(static_cast<std::uint16_t>(seq.size() * 8), seq);
    d.I(5, 12);
    d.D(13, {0, 0});
  }
  d.I(5, 5);
  d.Pieces(image);
  d.I(5, 12);
  d.D(13, {0, 0});
  for (int i = 0; i < 4; ++i) d.I(5, 0xFF);
  d.D(1, {0});
  return d;
}

Download Alternate(const std::vector<std::uint8_t>& image) {
  Download d;
  d.packets.push_back(Cmd({33}));
  d.packets.push_back(Cmd({33}));
  d.I(8, 0x16);
  d.D(32);
  const std::vector<std::uint8_t> ones(30, 0xFF);
  d.I(8, 0x1C);
  d.D(234, ones);
  d.I(8, 0x23);
  d.Idle();
  d.I(8, 0x15);
  d.Idle(20);
  d.I(8, 0x03);
  d.Idle();
  d.I(8, 0x1A);
  d.D(32, {0, 0, 0, 0});
  d.Idle();
  d.I(8, 0x21);
  d.Idle();
  d.I(8, 0x02);
  d.Pieces(image);
  d.Idle();
  d.I(8, 0x17);
  d.D(32);
  d.I(8, 0x1E);
  d.Idle(2);
  d.I(8, 0xFF);
  d.Idle();
  d.I(8, 0x1C);
  d.D(234, ones);
  return d;
}

std::vector<std::uint8_t> Image(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return v;
}

bool Configured(Firmware& fw) {
  return Send(fw, Cmd({32}))[0] != 0;
}

TEST(FirmwareLogic, CompleteStandardDownloadConfiguresTheDevice) {
  for (std::size_t size : {56u, 57u, 112u, 1000u}) {
    Firmware fw;
    EXPECT_FALSE(Configured(fw));
    for (const Packet& p : Standard(Image(size)).packets) Send(fw, p);
    EXPECT_TRUE(Configured(fw)) << size;
    EXPECT_EQ(fw.LogicImage(), Image(size)) << size;
  }
}

TEST(FirmwareLogic, CompleteAlternateDownloadConfiguresTheDevice) {
  FirmwareConfig cfg;
  cfg.modelCode = 5;
  cfg.serial = 3000;
  Firmware fw(cfg);
  for (const Packet& p : Alternate(Image(300)).packets) Send(fw, p);
  EXPECT_TRUE(Configured(fw));
  EXPECT_EQ(fw.LogicImage(), Image(300));
  // The standard procedure does not configure the alternate device.
  Firmware other(cfg);
  for (const Packet& p : Standard(Image(300)).packets) Send(other, p);
  EXPECT_FALSE(Configured(other));
}

TEST(FirmwareLogic, MalformedDownloadsLeaveTheDeviceUnconfigured) {
  const Download good = Standard(Image(200));
  // Every single packet dropped, and a few packets altered.
  std::vector<std::function<void(std::vector<Packet>&)>> breaks;
  for (std::size_t i = 4; i < good.packets.size(); ++i)  // the first four only repeat
    breaks.push_back([i](std::vector<Packet>& ps) { ps.erase(ps.begin() + static_cast<long>(i)); });
  breaks.push_back([](std::vector<Packet>& ps) { ps[7][17] ^= 1; });  // sequence 1 content
  breaks.push_back([](std::vector<Packet>& ps) { ps[7][1] = 200; });  // sequence 1 bit count
  breaks.push_back([](std::vector<Packet>& ps) {                      // an idle step inside
    ps.insert(ps.begin() + 10, Cmd({16}));
  });
  breaks.push_back([](std::vector<Packet>& ps) {  // pieces of the wrong kind
    for (auto& p : ps)
      if (p[0] == 36 && p[1] == 2) p[1] = 1;
  });
  breaks.push_back([](std::vector<Packet>& ps) {  // byte count not matching the bits
    for (auto& p : ps)
      if (p[0] == 36 && p[1] == 0) p[4] = 55;
  });
  for (std::size_t b = 0; b < breaks.size(); ++b) {
    std::vector<Packet> ps = good.packets;
    const bool middlePiece = b + 4 < ps.size() && ps[b + 4][0] == 36 && ps[b + 4][1] == 1;
    breaks[b](ps);
    Firmware fw;
    for (const Packet& p : ps) Send(fw, p);
    if (middlePiece) {
      // A lost middle piece leaves a well-formed sequence; the image shows it.
      EXPECT_NE(fw.LogicImage(), Image(200)) << "variant " << b;
    } else {
      EXPECT_FALSE(Configured(fw)) << "variant " << b;
    }
  }
}

TEST(FirmwareLogic, ReprogrammingUnconfiguresUntilComplete) {
  FirmwareConfig cfg;
  cfg.logicConfigured = true;
  Firmware fw(cfg);
  EXPECT_TRUE(Configured(fw));
  const auto ps = Standard(Image(200)).packets;
  std::size_t firstPiece = 0;
  while (ps[firstPiece][0] != 36) ++firstPiece;
  for (std::size_t i = 0; i <= firstPiece; ++i) Send(fw, ps[i]);
  EXPECT_FALSE(Configured(fw));
  Send(fw, Cmd({33}));  // abandoned half-way
  EXPECT_FALSE(Configured(fw));
  for (const Packet& p : ps) Send(fw, p);
  EXPECT_TRUE(Configured(fw));
  EXPECT_EQ(fw.LogicDownloads(), 1u);
}

// ------------------------------------------------------------- headers --

TEST(FirmwareHeaders, ParameterMemoryAndConfigurationHeaderKeepWhatWasWritten) {
  Firmware fw;
  EXPECT_EQ(Send(fw, Cmd({3, 0, 0}))[0], 0xFF);  // erased
  Packet w = Cmd({2, 0x11, 0x00});
  w[16] = 0xA5;
  Send(fw, w);
  EXPECT_EQ(Send(fw, Cmd({3, 0x11, 0x00}))[0], 0xA5);
  EXPECT_EQ(Send(fw, Cmd({3, 0x11, 0x01}))[0], 0xFF);  // index is 16 bits
  Packet h = Cmd({37});
  for (int i = 0; i < 32; ++i)
    h[static_cast<std::size_t>(1 + i)] = static_cast<std::uint8_t>(i + 100);
  Send(fw, h);
  const Packet r = Send(fw, Cmd({38}));
  for (int i = 0; i < 32; ++i) EXPECT_EQ(r[static_cast<std::size_t>(i)], i + 100);
}

Packet StorePage(std::uint16_t addr) {
  Packet p = Cmd({18, static_cast<std::uint8_t>(addr), static_cast<std::uint8_t>(addr >> 8)});
  for (int n = 3; n < 64; ++n) p[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(n + 2);
  return p;
}

TEST(FirmwareHeaders, MonitorPagesAreStoredAtTheirAddress) {
  Firmware fw;
  const auto img = Image(128 + 60);
  auto load = [&](std::size_t page, std::size_t len) {
    for (std::size_t off = 0; off < len; off += 48) {
      const std::size_t n = std::min<std::size_t>(48, len - off);
      Packet p = Cmd({17, static_cast<std::uint8_t>(off), static_cast<std::uint8_t>(n)});
      for (std::size_t i = 0; i < 48 && page * 128 + off + i < img.size(); ++i)
        p[16 + i] = img[page * 128 + off + i];
      Send(fw, p);
    }
  };
  load(0, 128);
  Send(fw, StorePage(0x2000));
  load(1, 60);
  Send(fw, StorePage(0x2080));
  EXPECT_EQ(fw.PagesStored(), 2u);
  EXPECT_TRUE(std::equal(img.begin(), img.end(), fw.MonitorMemory().begin()));
  EXPECT_EQ(fw.MonitorMemory()[188], 0);  // the short page wrote 60 bytes only
  // A store with a damaged filler or outside the monitor area is refused.
  load(0, 10);
  Packet bad = StorePage(0x2100);
  bad[40] = 0;
  Send(fw, bad);
  load(0, 10);
  Send(fw, StorePage(0x1F80));
  EXPECT_EQ(fw.PagesRejected(), 2u);
  EXPECT_EQ(fw.MonitorMemory()[0x100], 0);
}

// -------------------------------------------------- status and config --

TEST(FirmwareStatus, EchoesConfigurationWordsAndConsumesTheStopRequest) {
  Firmware fw;
  WriteWords(fw, 0x1234, 0x5670 | 0x0010, 0x9ABC, 0xDEF0);
  const Packet s = Status(fw);
  EXPECT_EQ(Le16(s, 0), 0x0008);  // stopped
  EXPECT_EQ(Le16(s, 4), 0x1234);
  EXPECT_EQ(Le16(s, 6), 0x5660);  // bit 4 is a pulse, not kept
  EXPECT_EQ(Le16(s, 8), 0x9ABC);
  EXPECT_EQ(Le16(s, 10), 0xDEF0);
}

TEST(FirmwareStatus, ControlClockAndOptionCommands) {
  Firmware fw;
  EXPECT_EQ(Send(fw, Cmd({15, 2, 0x0C}))[0], 0x0C);
  EXPECT_EQ(Send(fw, Cmd({15, 5}))[0], 0x0C);
  EXPECT_EQ(Send(fw, Cmd({15, 0}))[0], 0x0C);
  EXPECT_EQ(Send(fw, Cmd({15, 1}))[0], 0x0C);
  Packet clk = Cmd({14, 2});
  for (int i = 0; i < 23; ++i)
    clk[static_cast<std::size_t>(16 + i)] = static_cast<std::uint8_t>(i + 1);
  Send(fw, clk);
  EXPECT_EQ(fw.ClockRegisters(2)[0], 1);
  EXPECT_EQ(fw.ClockRegisters(2)[22], 23);
  Send(fw, Cmd({81, 2, 5}));
  EXPECT_EQ(fw.ClockClass(), 2);
  EXPECT_EQ(fw.ClockFactor(), 5);
  Send(fw, Cmd({83}));
  Send(fw, Cmd({84, 1, 0x77}));
  EXPECT_EQ(fw.OptionAccesses(), 1u);
  EXPECT_EQ(fw.OptionByte(1), 0x77);
}

std::uint16_t TrialW1(int a, int b, int c, int x) {
  return static_cast<std::uint16_t>(a << 5 | b << 7 | c << 8 | x << 13);
}

TEST(FirmwareStatus, TimingTrialPassesOnlyInsideTheWindow) {
  FirmwareConfig cfg;
  cfg.pod = 2;
  cfg.logicConfigured = true;
  Firmware fw(cfg);
  auto trial = [&](int a, int b, int c, int x, std::uint16_t w0 = 0) {
    WriteWords(fw, w0, TrialW1(a, b, c, x), 0, 0);
    return Le16(Status(fw), 2);
  };
  int passes = 0;
  for (int a = 1; a <= 2; ++a)
    for (int b = 0; b <= 1; ++b)
      for (int c = 0; c < 32; ++c) {
        const std::uint16_t s1 = trial(a, b, c, 1);
        const bool pass = (s1 & 0x78) == 0 && (s1 & 0x580) == 0x580;
        EXPECT_EQ(pass, a == 1 && b == 0 && c >= 10 && c <= 20) << a << b << c;
        EXPECT_EQ(s1 & 7, 6);
        passes += pass;
      }
  EXPECT_EQ(passes, 11);
  EXPECT_EQ(trial(1, 1, 0, 0, 0x0200) & 7, 3);  // six-clock mode
  // An unconfigured pod reports nothing the calibration could use.
  Firmware raw(Cfg("pod=2"));
  WriteWords(raw, 0, TrialW1(1, 0, 15, 0), 0, 0);
  EXPECT_EQ(Le16(Status(raw), 2), 0);
}

TEST(FirmwareStatus, CpuTypeCodePerPod) {
  const std::map<int, int> types = {{1, 6}, {3, 6}, {4, 4}, {8, 6}, {9, 1}, {10, 6}};
  for (auto [pod, type] : types) {
    FirmwareConfig cfg;
    cfg.pod = pod;
    cfg.logicConfigured = true;
    Firmware fw(cfg);
    EXPECT_EQ(Le16(Status(fw), 2) & 7, type) << "pod " << pod;
  }
  FirmwareConfig six;
  six.pod = 8;
  six.logicConfigured = true;
  Firmware fw(six);
  WriteWords(fw, 0, 0, 0, 0x0040);
  EXPECT_EQ(Le16(Status(fw), 2) & 7, 3);
}

// -------------------------------------------------------------- memory --

TEST(FirmwareMemory, BlockWritesAndReadsReachTheCpuMemories) {
  Firmware fw;
  std::vector<std::uint8_t> bytes(56);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
  WriteBlock(fw, 65, 0xFFF0, bytes);  // wraps to 0 as the address counter does
  EXPECT_EQ(fw.Cpu().code[0xFFF0], 0xC0);
  EXPECT_EQ(fw.Cpu().code[0x0000], 0xC0 + 16);
  WriteBlock(fw, 66, 0x1234, bytes);
  EXPECT_EQ(ReadBlock(fw, 72, 0x1234, 56), bytes);
  EXPECT_EQ(ReadBlock(fw, 72, 0x1234, 64)[56], 0);
  // Idata: upper RAM reached indirectly; data: SFRs above 7Fh.
  WriteBlock(fw, 68, 0x78, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  EXPECT_EQ(fw.Cpu().iram[0x78], 1);
  EXPECT_EQ(fw.Cpu().iram[0x81], 10);
  EXPECT_EQ(ReadBlock(fw, 74, 0x7E, 4), (std::vector<std::uint8_t>{7, 8, 9, 10}));
  WriteBlock(fw, 69, 0x90, {0x5A});  // P1
  EXPECT_EQ(fw.Cpu().ReadSfr(0x90), 0x5A);
  EXPECT_EQ(ReadBlock(fw, 75, 0x90, 1)[0], 0x5A);
  EXPECT_EQ(fw.Cpu().iram[0x90], 0);    // not the indirect RAM
  WriteBlock(fw, 69, 0xFE, {1, 2, 3});  // stops at FFh
  EXPECT_EQ(fw.Cpu().ReadSfr(0xFF), 2);
}

TEST(FirmwareMemory, MemoryMapFillAndBreakpointBytes) {
  Firmware fw;
  Send(fw, Cmd({76, 0x00, 0x00, 0x10, 0x00, 0x10, 2}));  // 4096 from 1000h
  EXPECT_EQ(fw.MemoryMap(0x0FFF), 0);
  EXPECT_EQ(fw.MemoryMap(0x1000), 2);
  EXPECT_EQ(fw.MemoryMap(0x1FFF), 2);
  EXPECT_EQ(fw.MemoryMap(0x2000), 0);
  Send(fw, Cmd({76, 0x05, 0x00, 0x30, 0x01, 0x10, 2}));  // low byte disagrees: refused
  EXPECT_EQ(fw.MemoryMap(0x3000), 0);
  Send(fw, Cmd({76, 0x10, 0xF8, 0xFF, 0x10, 0x00, 2}));  // clipped at FFFFh
  EXPECT_EQ(fw.MemoryMap(0xFFFF), 2);
  EXPECT_EQ(fw.MemoryMap(0x0000), 0);
  SetBreakpoint(fw, 0x0123, 4);
  EXPECT_EQ(fw.BreakpointByte(0x0123), 4);
  EXPECT_EQ(fw.MemoryMap(0x0123), 0);  // a memory of its own
  SetBreakpoint(fw, 0x0123, 0);
  EXPECT_EQ(fw.BreakpointByte(0x0123), 0);
}

}  // namespace
}  // namespace kzemu::test
