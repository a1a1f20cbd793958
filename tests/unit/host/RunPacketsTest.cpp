// The packets of a go, packet by packet, against a recording emulator that
// keeps the configuration words it is sent: arming, the configuration words
// with their masked bits, the start, the polls, the stop request, the
// register read-back and the disarm.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeUi.h"
#include "fakes/FakeUsbPipes.h"
#include "fakes/MinimalDatabase.h"
#include "fakes/TempDir.h"
#include "host/Driver.h"
#include "host/ExecutionControl.h"

namespace kz {
namespace {

using fake::Packet;

// A pod-3 emulator reduced to what a run needs: it keeps W0..W3 as written
// (a stop request in W1 bit 4 is acted upon and not kept), answers the status
// with them, runs after command 78 for a number of status reads, and keeps
// the control byte.
class ScriptedTarget {
 public:
  std::array<std::uint16_t, 4> W{};
  std::uint8_t control = 0x85;
  bool executing = false;
  int readsBeforeBreakpoint = -1;  // status reads while running; -1: never stops by itself
  std::uint16_t pc = 0;
  std::uint16_t breakpointPc = 0, requestPc = 0;
  std::function<void()> onFirstPoll;  // at the first status read of a run

  explicit ScriptedTarget(fake::RecordingEmulator& emu) {
    emu.respond = [this](const Packet& cmd, Packet& rep) {
      if (cmd[0] == 1) return false;  // the recording emulator identifies itself
      rep.fill(0);
      switch (cmd[0]) {
        case 9:
          for (int i = 0; i < 4; ++i)
            W[i] = static_cast<std::uint16_t>(cmd[1 + 2 * i] | cmd[2 + 2 * i] << 8);
          if ((W[1] & 0x10) != 0) {
            W[1] = static_cast<std::uint16_t>(W[1] & ~0x10);
            if (executing) Stop(requestPc);
          }
          break;
        case 10: {
          if (executing && firstPoll_) {
            firstPoll_ = false;
            if (onFirstPoll) onFirstPoll();
          }
          if (executing && readsBeforeBreakpoint >= 0 && readsBeforeBreakpoint-- == 0)
            Stop(breakpointPc);
          const std::uint16_t s0 = executing ? 0x0001 : 0x0008;
          rep[0] = static_cast<std::uint8_t>(s0);
          rep[1] = static_cast<std::uint8_t>(s0 >> 8);
          for (int i = 0; i < 4; ++i) {
            rep[4 + 2 * i] = static_cast<std::uint8_t>(W[i]);
            rep[5 + 2 * i] = static_cast<std::uint8_t>(W[i] >> 8);
          }
          break;
        }
        case 15:
          if (cmd[1] == 2) control = cmd[2];
          rep[0] = control;
          break;
        case 78:
          executing = true;
          firstPoll_ = true;
          break;
        case 79:  // pod 3: ACC, PSW, A2, DPH, DPL, PC lo, PC hi, R0, TCON, T2CON, B, IE
          rep[0] = 0x5A;
          rep[5] = static_cast<std::uint8_t>(pc);
          rep[6] = static_cast<std::uint8_t>(pc >> 8);
          break;
        default:
          break;
      }
      return true;
    };
  }

 private:
  void Stop(std::uint16_t at) {
    executing = false;
    pc = at;
  }
  bool firstPoll_ = false;
};

struct RunRig {
  fake::TempDir dir;
  fake::RecordingEmulator emu;
  ScriptedTarget target{emu};
  fake::FakeUi ui;
  fake::FakeSystem system;
  std::unique_ptr<Driver> d;
  BreakpointRecord bp{};
  BreakpointRecord* anchor = &bp;
  std::uint32_t pcCell = 0;

  RunRig() {
    dir.Write("KZ.MDB", fake::EmptyDatabase());
    system.commandLine = dir.DataDirectory() + "host";
    d = std::make_unique<Driver>(Ports{emu.Pipes(), ui, system});
    d->Startup();
    d->config.PodIndex = 2;  // pod 3
    d->state.podConfigured = true;
    d->AgInit(0x30A, 1);
    d->AgInit(0x30E, reinterpret_cast<std::uintptr_t>(&anchor));
    d->AgInit(0x30F, reinterpret_cast<std::uintptr_t>(&pcCell));
    d->AgInit(0x100, 0);
    bp.flags = kBpEnabled;
    bp.address = 0xFF000123u;
    bp.remainingCount = bp.initialCount = 1;
    std::uint32_t pc = 0xFF000100u;
    EXPECT_EQ(d->AgRegAcc(2, 0x500, &pc), 0);
    std::uint8_t acc = 0x5A;
    EXPECT_EQ(d->AgRegAcc(2, 20, &acc), 0);
    target.breakpointPc = 0x0123;
    target.requestPc = 0x0110;
    // The words as the emulator reports them at the start of the go, with
    // the bits the run must clear set.
    target.W = {0xFFFF, 0x2345, 0xFFFF, 0xABCD};
    emu.Forget();
  }
};

std::string Hex(const Packet& p, std::size_t n = 16) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    s += b;
  }
  return s;
}

// Each pattern gives the packet's leading bytes in hex; ".." leaves a byte
// open (bytes a command does not set keep what an earlier one left).
void ExpectPackets(const std::vector<Packet>& sent, const std::vector<std::string>& want) {
  for (std::size_t i = 0; i < std::max(sent.size(), want.size()); ++i) {
    if (i >= sent.size()) {
      ADD_FAILURE() << "packet " << i << " missing: " << want[i];
      continue;
    }
    if (i >= want.size()) {
      ADD_FAILURE() << "packet " << i << " not expected: " << Hex(sent[i]);
      continue;
    }
    std::string pattern;
    for (char c : want[i])
      if (c != ' ') pattern += c;
    bool same = true;
    for (std::size_t k = 0; k + 2 <= pattern.size(); k += 2) {
      const std::string byte = pattern.substr(k, 2);
      if (byte != ".." && std::stoi(byte, nullptr, 16) != sent[i][k / 2]) same = false;
    }
    EXPECT_TRUE(same) << "packet " << i << ": want " << want[i] << ", sent " << Hex(sent[i]);
  }
}

// The start of every go from 0100h with 0123h armed: the breakpoint byte,
// the configuration words read and written back with W0 bits 13..15 cleared
// and bit 10 set and W2 kept to bits 7, 12 and 13, the run indicator off, the
// registers (PC 0100h), the words again, and the run command.
const std::vector<std::string> kStart = {"46 01 2301 ........ 04",
                                         "0A",
                                         "09 FF1F 4523 8030 CDAB",
                                         "0F 05",
                                         "0F 02 81",
                                         "50 5A 00 00 00 00 0001 00 00 00 00 00",
                                         "09 FF1F 4523 8030 CDAB",
                                         "4E"};
// A status poll: status, control byte read, run indicator off (running) or on.
const std::vector<std::string> kPollRunning = {"0A", "0F 05", "0F 02 81"};
const std::vector<std::string> kPollStopped = {"0A", "0F 05", "0F 02 85"};
// After the target stopped: registers, the register bank (PSW 00h), the
// breakpoint byte cleared, the run indicator on.
const std::vector<std::string> kEnd = {"4F", "4A 08 0000", "46 01 2301 ........ 00",
                                       "0A", "0F 05",      "0F 02 85"};
// The register record refreshed for the host: SP, which pod 3's monitor
// leaves on the chip.
const std::vector<std::string> kRefresh = {"4B 01 8100"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(RunPackets, AGoThatStopsOnItsBreakpoint) {
  RunRig r;
  r.target.readsBeforeBreakpoint = 1;
  EXPECT_EQ(r.d->AgGoStep(4, 0, nullptr), 0);
  ExpectPackets(r.emu.Sent(), Join({kStart, kPollRunning, kPollStopped, kEnd, kRefresh}));
  EXPECT_EQ(r.pcCell, 0xFF000123u);
  EXPECT_EQ(r.target.W, (std::array<std::uint16_t, 4>{0x1FFF, 0x2345, 0x3080, 0xABCD}));
}

TEST(RunPackets, AGoStoppedByTheHost) {
  RunRig r;
  std::thread stopper;
  std::int32_t answer = -1;
  // The stop comes from a second thread during the first poll and acts
  // before the next one.
  r.target.onFirstPoll = [&] {
    stopper = std::thread([&] { answer = r.d->AgGoStep(1, 0, nullptr); });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!r.d->execution->StopWaiting() && std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
  };
  EXPECT_EQ(r.d->AgGoStep(4, 0, nullptr), 0);
  ASSERT_TRUE(stopper.joinable());
  stopper.join();
  EXPECT_EQ(answer, 1);
  // The stop: status with the words, the words back with the stop request
  // (W1 bit 4), status, then the end of a stopped run on the stopping
  // thread; the go's own thread only updates the run indicator.
  ExpectPackets(r.emu.Sent(), Join({kStart,
                                    kPollRunning,
                                    {"0A", "09 FF1F 5523 8030 CDAB", "0A"},
                                    kEnd,
                                    kPollStopped,
                                    kRefresh}));
  EXPECT_EQ(r.pcCell, 0xFF000110u);
}

}  // namespace
}  // namespace kz
