// The driver's monitor check against the virtual emulator's firmware: a
// download cut off by the emulator's disconnect fault must leave the monitor
// header invalid, so that the next connection downloads the monitor again.
#include <gtest/gtest.h>

#include <string>

#include "config/PodTable.h"
#include "connect/CY22393.h"
#include "connect/FMDU.h"
#include "emu/firmware/FirmwareTestUtil.h"
#include "fakes/FakeUi.h"
#include "fakes/FakeUsbPipes.h"
#include "firmware/Firmware.h"
#include "link/MemoryTransfers.h"
#include "link/TargetPrep.h"
#include "unit/link/ConnRig.h"

namespace {

// The driver's library, monitor check and command set over pipes that the
// firmware answers, with the sample KZ.FMD the build wrote.
struct MonitorRig {
  kzemu::Firmware fw;
  kz::fake::FakeUsbPipes pipes;
  kz::Transport link{pipes};
  kz::EmulatorState state;
  kz::TargetConfig config{};
  kz::CommandSet cmd{link, state, config};
  kz::fake::FakeUi ui;
  kz::TProgForm progress{ui};
  kz::CpuDetails details;
  kz::PodTable pods = kz::kPodSlots;
  kz::ClockCacheRecord clockCache{};
  kz::test::RecordedProgress transferProgress;
  kz::MemoryTransfers transfers{cmd, state, config, transferProgress};
  kz::TargetPrep prep{cmd, state, config, clockCache, details, transfers};
  kz::ClockGenerator clock{config, clockCache, cmd, state, progress, [] {}};
  std::string dataDir = std::string(KZ_OUT_DIR) + "/";  // the library keeps a reference
  kz::Fmdu fmdu{cmd, state, config, pods, ui, progress, clock, prep, dataDir};

  explicit MonitorRig(const char* emu) : fw(kzemu::test::Cfg(emu)) {
    pipes.replier = [this](const kz::fake::Packet& c) {
      kz::fake::Packet reply{};
      if (fw.Serve(c, reply)) pipes.QueueReply(reply);
    };
    state.AllocateImages();
  }
  void Check() {
    const kz::PodSlot& pod = kz::kPodSlots[0];
    fmdu.MonitorCheck(pod.MonitorName, pod.PodCode, pod.MonitorKind);
  }
};

TEST(MonitorDownload, CompleteDownloadValidatesTheHeader) {
  MonitorRig r("pod=1");
  r.link.Open();
  r.Check();
  ASSERT_FALSE(r.link.LinkFailed());
  const auto pages = r.fw.PagesStored();
  EXPECT_GE(pages, 1u);
  EXPECT_TRUE(kz::MonitorHeaderValid(r.fw.ParamMemory().data()));
  r.Check();  // the header now names the monitor: nothing is downloaded
  EXPECT_EQ(r.fw.PagesStored(), pages);
}

TEST(MonitorDownload, DisconnectDuringThePagesLeavesTheHeaderInvalid) {
  // Where the pages go in a whole download: the cut falls after the first
  // page piece, and after the last page is stored (before the header).
  MonitorRig whole("pod=1");
  whole.link.Open();
  whole.Check();
  ASSERT_GE(whole.fw.PagesStored(), 1u);
  const auto& sent = whole.pipes.written;
  std::size_t firstPiece = 0, lastStore = 0;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (sent[i][0] == 17 && firstPiece == 0) firstPiece = i;
    if (sent[i][0] == 18) lastStore = i;
  }
  ASSERT_GT(firstPiece, 0u);
  ASSERT_GT(lastStore, firstPiece);
  // The emulator serves `after` packets, the link's identification included.
  for (std::size_t after : {firstPiece + 1, lastStore + 1}) {
    SCOPED_TRACE(after);
    const std::string emu = "pod=1,fault=disconnect,after=" + std::to_string(after);
    MonitorRig r(emu.c_str());
    r.link.Open();
    r.Check();
    EXPECT_TRUE(r.link.LinkFailed());
    EXPECT_TRUE(r.fw.Unplugged());
    EXPECT_FALSE(kz::MonitorHeaderValid(r.fw.ParamMemory().data()));
  }
}

}  // namespace
