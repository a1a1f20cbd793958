// The driver core: start-up, AG_Init's code groups and notifications, the
// common end, and the entry points that answer without an emulator.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "fakes/FakeUi.h"
#include "fakes/FakeUsbPipes.h"
#include "fakes/MinimalDatabase.h"
#include "fakes/TempDir.h"
#include "host/Breakpoints.h"
#include "host/Driver.h"

namespace kz {
namespace {

std::vector<std::string> calls;
std::uint32_t KZ_CDECL RecordingCallback(std::uint32_t code, void* arg) {
  calls.push_back(std::to_string(code) + ":" +
                  (code == 4 ? std::string(static_cast<const char*>(arg)) : std::string()));
  return 0;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    // The host's own path comes first, quoted, then an argument.
    system.commandLine = '"';
    system.commandLine += dir.DataDirectory();
    system.commandLine += "host\" -x";
    pipes.readOpenFailures = fake::FakeUsbPipes::kAlways;  // no emulator attached
  }
  Driver& Make(bool withDatabase = true) {
    if (withDatabase) dir.Write("KZ.MDB", fake::EmptyDatabase());
    driver = std::make_unique<Driver>(Ports{pipes, ui, system});
    driver->Startup();
    return *driver;
  }

  fake::TempDir dir;
  fake::FakeUsbPipes pipes;
  fake::FakeUi ui;
  fake::FakeSystem system;
  std::unique_ptr<Driver> driver;
};

TEST_F(DriverTest, StartupWithoutDatabaseShowsOneBoxAndMakesNothing) {
  Driver& d = Make(false);
  EXPECT_FALSE(d.Started());
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Information);
  EXPECT_EQ(ui.boxes[0].text,
            "Can not found file or file format error. Please reinstall ZOLT IDE  <" +
                dir.DataDirectory() + "KZ.MDB>");
  EXPECT_TRUE(d.state.codeImage.empty());
  EXPECT_TRUE(d.state.xdataImage.empty());
  EXPECT_TRUE(d.state.memoryMap.empty());
  EXPECT_TRUE(system.events.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "ZOLTKEIL.DSK"));
}

TEST_F(DriverTest, EveryEntryPointRefusesAfterFailedStartup) {
  Driver& d = Make(false);
  AddressRecord rec{0xF0000030u, 0, 0};
  std::uint8_t buf[16] = {};
  std::uint32_t addr = 0xFF000000u;
  EXPECT_EQ(d.AgInit(0x100, 0), 0);
  EXPECT_EQ(d.shadow.PageCount(), 0);
  EXPECT_EQ(d.AgInit(0x30A, 1), 0);
  EXPECT_EQ(d.host.window, 0u);
  EXPECT_EQ(d.AgMemAcc(1, buf, &rec, 16), 1);
  EXPECT_EQ(d.AgMemAtt(1, 0, &rec), 1);
  EXPECT_EQ(d.AgRegAcc(1, 0, buf), 1);
  EXPECT_EQ(d.AgAllReg(1, nullptr), 1);
  EXPECT_EQ(d.AgBreakFunc(1, 0, &addr, nullptr), nullptr);
  EXPECT_EQ(d.AgBpInfo(1, &addr), 0);
  EXPECT_EQ(d.AgGoStep(4, 0, nullptr), 0);
  EXPECT_EQ(d.AgHistFunc(3), 0);
  EXPECT_EQ(d.DllUv3Cap(1), 0);
  EXPECT_EQ(d.EnumUv351(nullptr, 2), 0);
  EXPECT_EQ(d.DllUv3Cap(2), 8051);
  EXPECT_EQ(ui.boxes.size(), 1u);  // still only the start-up box
}

TEST_F(DriverTest, StartupOpensLinkWithSharedBudgetAndAllocatesImages) {
  Driver& d = Make();
  EXPECT_TRUE(d.Started());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(pipes.openReadFailed, 100);
  EXPECT_EQ(pipes.openWriteCalls, 0);
  EXPECT_TRUE(d.link.PipesOpen());
  EXPECT_EQ(d.state.codeImage.size(), 0x10000u);
  EXPECT_EQ(d.state.xdataImage.size(), 0x10000u);
  EXPECT_EQ(d.state.memoryMap.size(), 0x10000u);
  ASSERT_EQ(system.events.size(), 1u);
  EXPECT_EQ(system.events[0], "WaitMS");
  // The settings were loaded: defaults fill a missing file.
  EXPECT_EQ(std::memcmp(d.config.Signature, kSettingsSignature.data(), 33), 0);
  EXPECT_EQ(static_cast<std::int32_t>(d.config.Reserved1080), 1);
}

TEST_F(DriverTest, InitialiseAnyItemAllocatesDefaultPagesAndResetsTarget) {
  Driver& d = Make();
  d.AgInit(0x312, reinterpret_cast<std::uintptr_t>(&RecordingCallback));
  d.state.dataImage[0x81] = 0x55;
  d.state.dataImage[0x90] = 0x12;
  d.state.dataImage[0x87] = 0x77;  // PCON is not among the reset values
  d.state.shadows.ACC = 9;
  d.pc16 = 0x1234;
  EXPECT_EQ(d.AgInit(0x1A5, 0), 0);
  EXPECT_EQ(d.shadow.PageCount(), 4);
  EXPECT_TRUE(d.shadow.Exists(0));    // CODE bank 0
  EXPECT_TRUE(d.shadow.Exists(256));  // XDATA bank 0
  EXPECT_TRUE(d.shadow.Exists(512));  // DATA
  EXPECT_TRUE(d.shadow.Exists(513));  // IDATA
  EXPECT_EQ(d.shadow.At(0).cells[0x1234], 3);
  EXPECT_EQ(d.shadow.At(512).cells[0x10], 6);
  EXPECT_EQ(d.state.dataImage[0x81], 0x07);
  EXPECT_EQ(d.state.dataImage[0x90], 0xFF);
  EXPECT_EQ(d.state.dataImage[0x87], 0x77);
  EXPECT_EQ(d.state.shadows.ACC, 0);
  EXPECT_EQ(d.pc16, 0);
  // The register view first, then the command text.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "3:");
  EXPECT_EQ(calls[1], "4:U $\r");
}

TEST_F(DriverTest, TargetResetClearsEverySfrAndShadowItNames) {
  Driver& d = Make();
  // Every image byte and shadow the reset sets, with its reset value.
  const std::pair<int, std::uint8_t> image[] = {
      {0x81, 0x07}, {0x80, 0xFF}, {0x90, 0xFF}, {0xA0, 0xFF}, {0xB0, 0xFF}, {0xD0, 0}, {0x82, 0},
      {0x83, 0},    {0x88, 0},    {0x89, 0},    {0x8A, 0},    {0x8B, 0},    {0x8C, 0}, {0x8D, 0},
      {0x98, 0},    {0x99, 0},    {0xA8, 0},    {0xB8, 0},    {0xE0, 0},    {0xF0, 0}};
  for (const auto& [at, value] : image)
    d.state.dataImage[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value ^ 0x5A);
  auto& s = d.state.shadows;
  s.ACC = s.PSW = s.DPH = s.DPL = s.TCON = s.T2CON = s.B = s.IE = 0x33;
  d.AgInit(0x100, 0);
  for (const auto& [at, value] : image) EXPECT_EQ(d.state.dataImage[at], value) << std::hex << at;
  for (std::uint8_t v : {s.ACC, s.PSW, s.DPH, s.DPL, s.TCON, s.T2CON, s.B, s.IE}) EXPECT_EQ(v, 0);
}

TEST_F(DriverTest, FeatureQueriesAllAnswerZero) {
  Driver& d = Make();
  for (int code = 0x200; code <= 0x2FF; ++code)
    EXPECT_EQ(d.AgInit(static_cast<std::uint16_t>(code), 0), 0) << code;
}

TEST_F(DriverTest, RegistrationStoresListedItemsOnly) {
  Driver& d = Make();
  std::uint32_t cell = 0;
  BreakpointRecord* anchor = nullptr;
  d.AgInit(0x30A, 0x1111);
  d.AgInit(0x311, 0x8123);
  d.AgInit(0x30E, reinterpret_cast<std::uintptr_t>(&anchor));
  d.AgInit(0x30F, reinterpret_cast<std::uintptr_t>(&cell));
  d.AgInit(0x309, 7);
  d.AgInit(0x30B, 8);
  const HostRegistration before = d.host;
  EXPECT_EQ(d.AgInit(0x30C, 0x9999), 0);
  EXPECT_EQ(d.host.window, 0x1111u);
  EXPECT_EQ(ui.hostWindow, 0x1111u);  // the dialogs are modal to it
  EXPECT_EQ(d.host.messageNumber, 0x8123u);
  EXPECT_EQ(d.host.breakpointAnchor, &anchor);
  EXPECT_EQ(d.host.pcCell, &cell);
  EXPECT_EQ(d.host.kept309, 7u);  // accepted and kept, though never used
  EXPECT_EQ(d.host.kept30B, 8u);
  EXPECT_EQ(std::memcmp(&before, &d.host, sizeof before), 0);
}

TEST_F(DriverTest, ResetNotificationNeedsTheHostWindow) {
  Driver& d = Make();
  d.AgInit(0x312, reinterpret_cast<std::uintptr_t>(&RecordingCallback));
  d.state.dataImage[0x81] = 0x55;
  d.AgInit(0x40D, 0);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(d.state.dataImage[0x81], 0x55);
  d.AgInit(0x30A, 1);
  d.AgInit(0x40D, 0);
  EXPECT_EQ(d.state.dataImage[0x81], 0x07);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "4:U $\r");
}

// A host whose callback hands work to another of its threads and waits for
// it (bounded here), where that thread calls an entry point. The threads are
// joined after the driver returned.
Driver* g_host = nullptr;
std::vector<bool> g_otherThreadServed;
std::vector<std::thread> g_otherThreads;
std::uint32_t KZ_CDECL WaitingCallback(std::uint32_t code, void*) {
  auto served = std::make_shared<std::atomic<bool>>(false);
  g_otherThreads.emplace_back([served] {
    std::uint8_t acc = 0;
    g_host->AgRegAcc(1, 20, &acc);
    *served = true;
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!*served && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  g_otherThreadServed.push_back(served->load());
  calls.push_back(std::to_string(code) + ":");
  return 0;
}

TEST_F(DriverTest, CallbacksOfInitialiseAndResetHoldNoDriverLock) {
  Driver& d = Make();
  g_host = &d;
  g_otherThreadServed.clear();
  d.AgInit(0x30A, 1);
  d.AgInit(0x312, reinterpret_cast<std::uintptr_t>(&WaitingCallback));
  EXPECT_EQ(d.AgInit(0x100, 0), 0);
  EXPECT_EQ(d.AgInit(0x40D, 0), 0);
  for (auto& t : g_otherThreads) t.join();
  g_otherThreads.clear();
  g_host = nullptr;
  EXPECT_EQ(calls, (std::vector<std::string>{"3:", "4:", "4:"}));
  EXPECT_EQ(g_otherThreadServed, (std::vector<bool>{true, true, true}));
}

TEST_F(DriverTest, BreakpointListNotificationEmptiesOnlyTheDriversList) {
  Driver& d = Make();
  BreakpointRecord host{};
  host.flags = kBpEnabled;
  host.address = 0xFF001234u;
  BreakpointRecord* anchor = &host;
  d.AgInit(0x30E, reinterpret_cast<std::uintptr_t>(&anchor));
  d.breakpoints->ListAdd(0x1234);
  d.breakpoints->ListAdd(0x2000);
  d.AgInit(0x410, 0);
  EXPECT_TRUE(d.breakpoints->List().empty());
  EXPECT_EQ(anchor, &host);
  EXPECT_EQ(host.flags, kBpEnabled);
  EXPECT_EQ(host.address, 0xFF001234u);
}

TEST_F(DriverTest, ExitClosesLinkFreesPagesAndClearsAbandonOnReturn) {
  Driver& d = Make();
  d.AgInit(0x30A, 1);
  d.AgInit(0x311, 0x8000);
  d.AgInit(0x100, 0);
  ASSERT_GT(d.shadow.PageCount(), 0);
  EXPECT_EQ(d.AgInit(0x40C, 0), 0);
  EXPECT_FALSE(d.abandon);
  EXPECT_FALSE(d.link.PipesOpen());
  EXPECT_TRUE(d.link.LinkFailed());
  EXPECT_EQ(d.shadow.PageCount(), 0);
  // No operation raises the abandon conditions: no notice is ever posted.
  EXPECT_TRUE(system.posted.empty());
}

TEST_F(DriverTest, SerialAndHistoryAnswerZeroAndTouchNothing) {
  Driver& d = Make();
  std::uint8_t buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (std::uint16_t code : {0, 1, 2, 3, 0xFFFF})
    EXPECT_EQ(d.AgSerial(code, 0, sizeof buffer, buffer), 0);
  const std::uint8_t expect[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(buffer, expect, 8), 0);
  EXPECT_EQ(d.AgHistFunc(3), 0);
  d.running = true;
  EXPECT_EQ(d.AgHistFunc(3), 0);
  EXPECT_EQ(d.AgHistFunc(-1), 0);
}

TEST_F(DriverTest, DiscoveryAnswers) {
  Driver& d = Make();
  const int opensBefore = pipes.openReadCalls;
  EXPECT_EQ(d.DllUv3Cap(2), 8051);
  EXPECT_EQ(pipes.openReadCalls, opensBefore);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "ZOLTKEIL.DSK"));
  EXPECT_EQ(d.DllUv3Cap(0), 0);
  EXPECT_EQ(d.DllUv3Cap(3), 0);
  EXPECT_EQ(d.EnumUv351(nullptr, 1), 0);
  EXPECT_EQ(pipes.openReadCalls, opensBefore);
}

TEST_F(DriverTest, SettingsDialogCancelledAnswersZeroAndStillSaves) {
  Driver& d = Make();
  ui.modalAnswers = {false};
  EXPECT_EQ(d.DllUv3Cap(1), 0);
  EXPECT_EQ(std::filesystem::file_size(dir.Path() / "ZOLTKEIL.DSK"), 1340u);
  ui.modalAnswers = {true};
  EXPECT_EQ(d.DllUv3Cap(1), 1);
  EXPECT_EQ(ui.formCaptions.size(), 2u);
}

TEST_F(DriverTest, ConnectWithoutEmulatorShowsFailureOnceAndSaves) {
  // A complete installation: the configuration library is there too.
  std::filesystem::copy_file(std::string(KZ_DATA_OUT_DIR) + "KZ.FMD", dir.Path() / "KZ.FMD");
  Driver& d = Make();
  ui.boxes.clear();
  EXPECT_EQ(d.EnumUv351(nullptr, 2), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.boxes[0].text, "请检查仿真器、仿真头及其设置!");
  ASSERT_EQ(ui.formCaptions.size(), 1u);  // the retry dialog, cancelled
  EXPECT_EQ(ui.formCaptions[0], "Can not connect USB");
  EXPECT_EQ(d.link.ErrorKindValue(), 1);
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "ZOLTKEIL.DSK"));
}

}  // namespace
}  // namespace kz
