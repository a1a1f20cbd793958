// The real driver transport and command set against libusbd12.so, loaded as
// the driver loads it. The provider's emulator is per process; every test
// starts from a fresh one through the provider's kz51emu_configure hook.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "config/TargetConfig.h"
#include "link/CommandSet.h"
#include "link/EmulatorState.h"
#include "link/Transport.h"

namespace {

struct Provider {
  void* handle = nullptr;
  int (*open3)() = nullptr;
  int (*open2)() = nullptr;
  int (*configure)(const char*) = nullptr;
  int (*inject)(const char*) = nullptr;

  static Provider& Get() {
    static Provider p = [] {
      Provider q;
      q.handle = dlopen(KZ_OUT_DIR "/libusbd12.so", RTLD_NOW | RTLD_LOCAL);
      if (q.handle != nullptr) {
        q.open3 = reinterpret_cast<int (*)()>(dlsym(q.handle, "openUSBfile_3"));
        q.open2 = reinterpret_cast<int (*)()>(dlsym(q.handle, "openUSBfile_2"));
        q.configure = reinterpret_cast<int (*)(const char*)>(dlsym(q.handle, "kz51emu_configure"));
        q.inject = reinterpret_cast<int (*)(const char*)>(dlsym(q.handle, "kz51emu_inject"));
      }
      return q;
    }();
    return p;
  }
};

// The pipes as the Linux driver uses them (plain read and write on the
// descriptors), counting the calls so the retry pattern can be checked.
class ProviderPipes : public kz::UsbPipes {
 public:
  int reads = 0, emptyReads = 0, sleeps = 0, writes = 0, failedOpens = 0;

  kz::PipeHandle OpenReadPipe() override { return Open(Provider::Get().open3); }
  kz::PipeHandle OpenWritePipe() override { return Open(Provider::Get().open2); }
  bool Write(kz::PipeHandle h, const std::uint8_t* data, std::uint32_t len) override {
    ++writes;
    return ::send(static_cast<int>(h), data, len, MSG_NOSIGNAL) >= 0;
  }
  bool Read(kz::PipeHandle h, std::uint8_t* data, std::uint32_t len, std::uint32_t& got) override {
    ++reads;
    got = 0;
    const ssize_t n = ::read(static_cast<int>(h), data, len);
    if (n < 0) {
      ++emptyReads;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    got = static_cast<std::uint32_t>(n);
    if (got == 0) ++emptyReads;
    return true;
  }
  void Close(kz::PipeHandle h) override { ::close(static_cast<int>(h)); }
  void SleepMs(std::uint32_t ms) override {
    ++sleeps;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }

 private:
  kz::PipeHandle Open(int (*fn)()) {
    const int fd = fn != nullptr ? fn() : -1;
    if (fd < 0) ++failedOpens;
    return fd < 0 ? kz::kInvalidPipe : fd;
  }
};

class ProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Provider::Get().handle, nullptr) << dlerror();
    ASSERT_NE(Provider::Get().configure, nullptr);
    state.AllocateImages();
    SetPod(1);
  }
  void TearDown() override { link.Close(); }

  void Configure(const std::string& settings) {
    ASSERT_EQ(Provider::Get().configure(settings.c_str()), 0) << settings;
  }
  void SetPod(int pod) { config.PodIndex = pod - 1; }

  // Polls like execution control until status word 0 says stopped.
  bool WaitStopped(int maxPolls = 10000) {
    for (int i = 0; i < maxPolls && !link.LinkFailed(); ++i) {
      commands.ReadStatus(false);
      if ((state.status[0] & 0x0009) == 0x0008) return true;
    }
    return false;
  }

  ProviderPipes pipes;
  kz::Transport link{pipes};
  kz::EmulatorState state;
  kz::TargetConfig config{};
  kz::CommandSet commands{link, state, config};
};

TEST_F(ProviderTest, HandshakeIdentityAndMemoryRoundTrip) {
  Configure("model=0x03,serial=123,date=2006-03,pod=4,podserial=7,poddate=2006-12");
  link.Open();
  ASSERT_FALSE(link.LinkFailed());
  commands.Identify();
  commands.Identify();
  ASSERT_FALSE(link.LinkFailed());
  commands.ReadEmulatorIdentity();
  commands.ReadPodIdentity();
  const auto word = [](const std::array<std::uint8_t, 16>& b) {
    return kz::LoadLe<std::uint32_t>(&b[4]);
  };
  EXPECT_EQ(word(state.emulatorIdentity), 123u | 3u << 15 | 1u << 19 | 0x03u << 22);
  EXPECT_EQ(word(state.podIdentity), 7u | 12u << 15 | 1u << 19 | 0x07u << 22);

  for (int i = 0; i < 56; ++i) state.xdataImage[0x4000 + i] = static_cast<std::uint8_t>(i * 3 + 1);
  commands.WriteXdataBlock(56, 0x4000);
  std::fill(state.xdataImage.begin(), state.xdataImage.end(), 0);
  commands.ReadXdataBlock(64, 0x3FF8);
  ASSERT_FALSE(link.LinkFailed());
  for (int i = 0; i < 56; ++i) EXPECT_EQ(state.xdataImage[0x4000 + i], i * 3 + 1);
  EXPECT_EQ(state.xdataImage[0x3FF8], 0);
}

TEST_F(ProviderTest, HeadersSurviveReconnection) {
  Configure("");
  link.Open();
  for (int i = 0; i < 32; ++i) state.configHeader[i] = static_cast<std::uint8_t>(0xA0 + i);
  commands.WriteConfigHeader();
  state.paramMirror[5] = 0x42;
  commands.WriteParamByte(5);
  link.Close();
  state.configHeader.fill(0);
  state.paramMirror.fill(0);
  link.Open();  // a new connection to the same emulator
  ASSERT_FALSE(link.LinkFailed());
  commands.ReadConfigHeader();
  commands.ReadParamByte(5);
  ASSERT_FALSE(link.LinkFailed());
  for (int i = 0; i < 32; ++i) EXPECT_EQ(state.configHeader[i], 0xA0 + i);
  EXPECT_EQ(state.paramMirror[5], 0x42);
}

TEST_F(ProviderTest, RegisterRoundTripStepAndRunForEveryPodLayout) {
  for (int pod = 1; pod <= 9; ++pod) {
    SCOPED_TRACE("pod " + std::to_string(pod));
    Configure("pod=" + std::to_string(pod) + ",budget=50");
    SetPod(pod);
    link.Open();
    ASSERT_FALSE(link.LinkFailed());

    kz::RegisterShadows want;
    want.ACC = 0x3C;
    want.PSW = 0x40;
    want.DPH = 0x12;
    want.DPL = 0x34;
    want.B = 0x5B;
    want.IE = 0x05;
    want.SP = 0x50;
    want.TCON = 0x55;
    want.T2CON = 0x04;
    want.SfrA2 = 0x21;
    want.R = {0x55, 0x66, 0x77, 0x88, 0x99, 0xAA};
    state.shadows = want;
    state.pcShadow = 0x0200;
    commands.WriteRegisters();
    state.shadows = kz::RegisterShadows{};
    state.pcShadow = 0;
    commands.ReadRegisters();
    ASSERT_FALSE(link.LinkFailed());
    const kz::RegisterShadows& got = state.shadows;
    EXPECT_EQ(state.pcShadow, 0x0200u);
    EXPECT_EQ(got.ACC, want.ACC);
    EXPECT_EQ(got.PSW & 0xFE, want.PSW);
    EXPECT_EQ(got.R[0], want.R[0]);
    if (pod != 8 && pod != 9) {
      EXPECT_EQ(got.DPH, want.DPH);
      EXPECT_EQ(got.DPL, want.DPL);
    }
    if (pod == 1 || pod == 3) {
      EXPECT_EQ(got.SfrA2, want.SfrA2);
    }
    if (pod >= 2 && pod <= 7) {
      EXPECT_EQ(got.B, want.B);
      EXPECT_EQ(got.IE, want.IE);
    }
    if (pod == 3) {
      EXPECT_EQ(got.TCON, want.TCON & 0x50);
      EXPECT_EQ(got.T2CON, want.T2CON & 0x04);
    }
    if (pod == 8 || pod == 9) {
      EXPECT_EQ(got.SP, want.SP);
      EXPECT_EQ(got.DPH, want.DPH);
      EXPECT_EQ(got.DPL, want.DPL);
      for (int r = 0; r < (pod == 8 ? 4 : 6); ++r) EXPECT_EQ(got.R[r], want.R[r]) << "R" << r;
    }
    if (pod == 9) {
      EXPECT_EQ(got.TCON, want.TCON);
    }

    // Step: INC A at 0200h.
    state.codeImage[0x0200] = 0x04;
    commands.WriteCodeBlock(1, 0x0200);
    commands.Step();
    ASSERT_TRUE(WaitStopped());
    commands.ReadRegisters();
    EXPECT_EQ(state.pcShadow, 0x0201u);
    EXPECT_EQ(state.shadows.ACC, want.ACC + 1);

    // Run to a breakpoint: count 30h up to 40h, breakpoint on the SJMP $.
    const std::uint8_t prog[] = {0x05, 0x30, 0xE5, 0x30, 0xB4, 0x40, 0xF9, 0x80, 0xFE};
    std::copy(std::begin(prog), std::end(prog), state.codeImage.begin());
    commands.WriteCodeBlock(sizeof prog, 0x0000);
    state.dataImage[0x30] = 0;
    commands.WriteDataBlock(1, 0x30);
    commands.WriteBreakpointBytes(1, 0x0007, 4);
    state.pcShadow = 0;
    commands.WriteRegisters();
    commands.Run();
    ASSERT_TRUE(WaitStopped());
    commands.ReadRegisters();
    commands.ReadDataBlock(1, 0x30);
    ASSERT_FALSE(link.LinkFailed());
    EXPECT_EQ(state.dataImage[0x30], 0x40);
    // Pods 8 and 9 report the stop one byte past the breakpoint.
    EXPECT_EQ(state.pcShadow, pod == 8 || pod == 9 ? 0x0008u : 0x0007u);
    link.Close();
  }
}

TEST_F(ProviderTest, StopRequestStopsARunningTarget) {
  Configure("budget=100");
  link.Open();
  const std::uint8_t loop[] = {0x80, 0xFE};  // SJMP $
  std::copy(std::begin(loop), std::end(loop), state.codeImage.begin());
  commands.WriteCodeBlock(2, 0);
  commands.WriteRegisters();
  commands.Run();
  commands.ReadStatus(true);
  EXPECT_EQ(state.status[0], 0x0001);
  state.W[1] |= 0x0010;
  commands.WriteConfiguration();
  commands.ReadStatus(true);
  EXPECT_EQ(state.status[0], 0x0008);
  EXPECT_FALSE(link.LinkFailed());
}

// ---------------------------------------------------------------- faults --

TEST_F(ProviderTest, SilentEmulatorFailsTheExchangeAfterTheFullRetryPattern) {
  Configure("");
  link.Open();
  ASSERT_FALSE(link.LinkFailed());
  Configure("fault=silent");  // the emulator goes quiet on the open connection
  pipes.reads = pipes.sleeps = pipes.emptyReads = 0;
  const auto t0 = std::chrono::steady_clock::now();
  std::lock_guard<std::recursive_mutex> hold(link.Lock());
  link.Command()[0] = 10;
  link.Exchange();
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kz::kErrorUsb);
  // 100 passes of 10 reads that each came back empty, one sleep per pass.
  EXPECT_EQ(pipes.reads, 1000);
  EXPECT_EQ(pipes.emptyReads, 1000);
  EXPECT_EQ(pipes.sleeps, 100);
  // Each empty read returned on the provider's time-out instead of blocking.
  EXPECT_LT(took, std::chrono::seconds(30));
}

TEST_F(ProviderTest, SilentEmulatorNeverOpens) {
  Configure("fault=silent");
  link.Open();
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kz::kErrorUsb);
  // Every identification attempt read its short pattern: 3 passes of 3 reads.
  EXPECT_EQ(pipes.reads, kz::Transport::kIdentifyAttempts * 9);
}

TEST_F(ProviderTest, GarbageAndWrongIdentificationFailTheOpen) {
  for (const char* fault : {"fault=garbage", "fault=wrongid"}) {
    SCOPED_TRACE(fault);
    Configure(fault);
    pipes.writes = 0;
    link.Open();
    EXPECT_TRUE(link.LinkFailed());
    EXPECT_EQ(link.ErrorKindValue(), kz::kErrorUsb);
    EXPECT_EQ(pipes.writes, kz::Transport::kIdentifyAttempts);  // asked again each time
    link.Close();
  }
}

TEST_F(ProviderTest, DisconnectAfterNExchanges) {
  Configure("fault=disconnect,after=4");
  link.Open();  // exchange 1: the identification
  ASSERT_FALSE(link.LinkFailed());
  for (int i = 0; i < 3; ++i) commands.ReadStatus(true);  // exchanges 2..4
  EXPECT_FALSE(link.LinkFailed());
  commands.ReadStatus(true);
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kz::kErrorUsb);
  // Unplugged: the pipes no longer open, and the open gives up on its budget.
  pipes.failedOpens = 0;
  link.Open();
  EXPECT_EQ(pipes.failedOpens, kz::Transport::kOpenBudget);
  commands.Identify();
  EXPECT_TRUE(link.LinkFailed());
}

TEST_F(ProviderTest, TargetThatNeverStopsKeepsExecuting) {
  Configure("fault=neverstop");
  link.Open();
  const std::uint8_t loop[] = {0x80, 0xFE};
  std::copy(std::begin(loop), std::end(loop), state.codeImage.begin());
  commands.WriteCodeBlock(2, 0);
  commands.WriteRegisters();
  commands.Run();
  commands.ReadStatus(true);
  state.W[1] |= 0x0010;
  commands.WriteConfiguration();
  commands.ReadStatus(true);
  EXPECT_FALSE(link.LinkFailed());
  EXPECT_EQ(state.status[0], 0x0001);  // execution control must give up on it
}

TEST_F(ProviderTest, SlowRepliesWithinAndBeyondTheRetryPattern) {
  Configure("fault=slow,delay=5");
  link.Open();
  ASSERT_FALSE(link.LinkFailed());
  commands.ReadEmulatorIdentity();
  EXPECT_FALSE(link.LinkFailed());
  EXPECT_GT(pipes.emptyReads, 0);  // the reply was waited for
  link.Close();
  Configure("fault=slow,delay=3000");
  link.Open();  // the identification times out on every attempt
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kz::kErrorUsb);
}

TEST_F(ProviderTest, InjectedFaultsKeepTheEmulatorAndCountFromNow) {
  ASSERT_NE(Provider::Get().inject, nullptr);
  Configure("");
  link.Open();
  state.xdataImage[0x100] = 0x5A;
  commands.WriteXdataBlock(1, 0x100);
  for (int i = 0; i < 5; ++i) commands.ReadStatus(true);
  ASSERT_FALSE(link.LinkFailed());
  // Counted from the injection, not from the configuration.
  ASSERT_EQ(Provider::Get().inject("fault=disconnect,after=2"), 0);
  commands.ReadStatus(true);
  commands.ReadStatus(true);
  EXPECT_FALSE(link.LinkFailed());
  commands.ReadStatus(true);
  EXPECT_TRUE(link.LinkFailed());
  // Healed: plugged in again, with the memory it held.
  ASSERT_EQ(Provider::Get().inject("fault=none"), 0);
  link.Open();
  ASSERT_FALSE(link.LinkFailed());
  state.xdataImage[0x100] = 0;
  commands.ReadXdataBlock(1, 0x100);
  EXPECT_FALSE(link.LinkFailed());
  EXPECT_EQ(state.xdataImage[0x100], 0x5A);
  // Only fault keys; a bad one changes nothing.
  EXPECT_EQ(Provider::Get().inject("pod=3"), -1);
  EXPECT_EQ(Provider::Get().inject("fault=silent,model=1"), -1);
  commands.ReadStatus(true);
  EXPECT_FALSE(link.LinkFailed());
}

TEST_F(ProviderTest, SlowEmulatorLinkOpenEndsWhenItsTimeIsUp) {
  Configure("fault=slow,delay=3000");
  link.SetOpenTimeLimitMs(100);
  const auto start = std::chrono::steady_clock::now();
  link.Open();
  const auto took = std::chrono::steady_clock::now() - start;
  // When the time runs out while the pipes are being opened again (a loaded
  // machine), the open ends as with a spent budget: the first exchange fails.
  if (!link.LinkFailed()) commands.ReadStatus(false);
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kz::kErrorUsb);
  // Each attempt waits about 12 ms; the count alone would allow 100.
  EXPECT_GT(pipes.writes, 0);
  EXPECT_LT(pipes.writes, kz::Transport::kIdentifyAttempts);
  std::printf("slow link open: %d identification attempts in %lld ms\n", pipes.writes,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
