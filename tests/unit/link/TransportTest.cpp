// Link open, exchange and close against a scriptable pipe provider.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeUsbPipes.h"
#include "link/Transport.h"

namespace kz {
namespace {

using fake::Delivery;
using fake::FakeUsbPipes;
using fake::MakePacket;
using fake::Packet;

// A device that answers "V1" to identify and, when `answer` is set, echoes the
// command code after an AB byte, delivered as `next` says.
struct Rig {
  FakeUsbPipes pipes;
  Transport link{pipes};
  Delivery next;
  bool answer = true;

  Rig() {
    pipes.replier = [this](const Packet& c) {
      if (c[0] == 1)
        pipes.QueueReply(MakePacket({0x56, 0x31}));
      else if (answer)
        pipes.QueueReply(MakePacket({0xAB, c[0]}), next);
    };
  }
  void OpenAndForget() {
    link.Open();
    ASSERT_FALSE(link.LinkFailed());
    pipes.ResetCounters();
  }
  void Exchange(std::uint8_t code) {
    std::lock_guard<std::recursive_mutex> hold(link.Lock());
    link.Command()[0] = code;
    link.Exchange();
  }
};

TEST(TransportOpen, NoEmulatorSpendsExactlyTheSharedBudgetOnTheReadPipe) {
  Rig rig;
  rig.pipes.readOpenFailures = FakeUsbPipes::kAlways;
  rig.pipes.writeOpenFailures = FakeUsbPipes::kAlways;
  rig.link.Open();
  EXPECT_EQ(rig.pipes.openReadCalls, 100);
  EXPECT_EQ(rig.pipes.openReadFailed, 100);
  EXPECT_EQ(rig.pipes.openWriteCalls, 0);
  EXPECT_EQ(rig.pipes.sleepCalls, 101);  // one per failed opening, one before giving up
  EXPECT_EQ(rig.pipes.writeCalls, 0);
  EXPECT_TRUE(rig.link.PipesOpen());
  EXPECT_FALSE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorNone);

  rig.Exchange(10);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(rig.pipes.writeCalls, 0);  // the invalid handle is not handed to the provider
  EXPECT_EQ(rig.pipes.readCalls, 0);
}

TEST(TransportOpen, GivesUpWhenItsTimeIsUpHoweverLongTheReadsBlock) {
  struct Case {
    const char* what;
    std::uint32_t readCostMs;
    bool answersV2;  // answers, but never "V1"
  };
  const Case cases[] = {
      {"silent, each read blocks 50 ms", 50, false},
      {"silent, each read blocks 1 s", 1000, false},
      {"wrong answer after a 100 ms read", 100, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeUsbPipes pipes;
    pipes.readCostMs = c.readCostMs;
    pipes.replier = [&](const Packet&) {
      if (c.answersV2) pipes.QueueReply(MakePacket({0x56, 0x32}));
    };
    Transport link{pipes};
    link.Open();
    EXPECT_TRUE(link.LinkFailed());
    EXPECT_EQ(link.ErrorKindValue(), kErrorUsb);
    EXPECT_LT(pipes.writeCalls, Transport::kIdentifyAttempts);
    // At most the read under way and a sleep run past the limit.
    EXPECT_LE(pipes.nowMs, Transport::kOpenTimeLimitMs + c.readCostMs + 1);
    EXPECT_EQ(pipes.OpenHandles(), 0);
  }
}

TEST(TransportOpen, BothPipesDrawOnOneBudgetAndNoHandleIsLeftOpen) {
  Rig rig;
  rig.pipes.readOpenFailures = 30;
  rig.pipes.writeOpenFailures = FakeUsbPipes::kAlways;
  rig.link.Open();
  EXPECT_EQ(rig.pipes.openReadCalls, 31);
  EXPECT_EQ(rig.pipes.openWriteFailed, 70);
  EXPECT_EQ(rig.pipes.OpenHandles(), 0);  // the read pipe that did open is closed again
  EXPECT_TRUE(rig.link.PipesOpen());
  rig.Exchange(10);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorUsb);
}

TEST(TransportOpen, IdentifiesWithCommandOneKeepingTheOtherBytes) {
  Rig rig;
  for (std::size_t i = 1; i < 64; ++i) rig.link.Command()[i] = static_cast<std::uint8_t>(i * 3);
  Packet before = rig.link.Command();
  rig.link.Open();
  EXPECT_FALSE(rig.link.LinkFailed());
  EXPECT_EQ(rig.pipes.OpenHandles(), 2);
  ASSERT_EQ(rig.pipes.written.size(), 1u);
  before[0] = 1;
  EXPECT_EQ(rig.pipes.written[0], before);

  // Opening again closes the pipes first.
  rig.pipes.ResetCounters();
  rig.link.Open();
  EXPECT_EQ(rig.pipes.closeCalls, 2);
  EXPECT_EQ(rig.pipes.OpenHandles(), 2);
  EXPECT_FALSE(rig.link.LinkFailed());
}

TEST(TransportOpen, WrongAnswerClosesAndAsksAgain) {
  FakeUsbPipes pipes;
  Transport link{pipes};
  int asked = 0;
  pipes.replier = [&](const Packet&) {
    pipes.QueueReply(++asked == 1 ? MakePacket({0x56, 0x30}) : MakePacket({0x56, 0x31}));
  };
  link.Open();
  EXPECT_FALSE(link.LinkFailed());
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(pipes.openReadCalls, 2);
  EXPECT_EQ(pipes.openWriteCalls, 2);
  EXPECT_EQ(pipes.closeCalls, 2);
  EXPECT_EQ(pipes.OpenHandles(), 2);
}

TEST(TransportOpen, DeviceThatNeverIdentifiesIsBoundedAndLeftFailed) {
  FakeUsbPipes pipes;
  Transport link{pipes};
  link.SetErrorKind(kErrorNoMcu);
  pipes.replier = [&](const Packet&) { pipes.QueueReply(MakePacket({0x58, 0x31})); };
  link.Open();
  EXPECT_EQ(pipes.openReadCalls, Transport::kIdentifyAttempts);
  EXPECT_EQ(static_cast<int>(pipes.written.size()), Transport::kIdentifyAttempts);
  EXPECT_TRUE(link.PipesOpen());
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(pipes.OpenHandles(), 0);

  pipes.ResetCounters();
  std::lock_guard<std::recursive_mutex> hold(link.Lock());
  link.Exchange();
  EXPECT_EQ(pipes.writeCalls, 0);
  EXPECT_EQ(pipes.readCalls, 0);
}

TEST(TransportOpen, HandshakeWriteFailureRetriesWithoutReading) {
  FakeUsbPipes pipes;
  Transport link{pipes};
  pipes.writeFails = true;
  link.Open();
  EXPECT_EQ(pipes.writeCalls, Transport::kIdentifyAttempts);
  EXPECT_EQ(pipes.readCalls, 0);
  EXPECT_TRUE(link.LinkFailed());
  EXPECT_EQ(link.ErrorKindValue(), kErrorUsb);
}

TEST(TransportOpen, SilentDeviceGetsThreePassesOfThreeReadsPerAttempt) {
  FakeUsbPipes pipes;
  Transport link{pipes};
  link.Open();
  EXPECT_EQ(pipes.readCalls, 9 * Transport::kIdentifyAttempts);
  EXPECT_EQ(pipes.sleepCalls, 3 * Transport::kIdentifyAttempts);
  EXPECT_TRUE(link.LinkFailed());
}

// The answer to the first identification arrives as `first` says; later ones
// at once. Returns the number of identification attempts link open made.
int AttemptsWithFirstAnswer(Delivery first, FakeUsbPipes& pipes) {
  Transport link{pipes};
  int asked = 0;
  pipes.replier = [&](const Packet&) {
    pipes.QueueReply(MakePacket({0x56, 0x31}), ++asked == 1 ? first : Delivery{});
  };
  link.Open();
  EXPECT_FALSE(link.LinkFailed());
  return asked;
}

TEST(TransportOpen, ShortPatternBoundaries) {
  {  // second read of the third pass: still in time
    FakeUsbPipes pipes;
    EXPECT_EQ(AttemptsWithFirstAnswer({.emptyReadsBefore = 7}, pipes), 1);
    EXPECT_EQ(pipes.readCalls, 8);
    EXPECT_EQ(pipes.sleepCalls, 2);
  }
  {  // third read of the third pass: that pass counts, so the attempt fails
    FakeUsbPipes pipes;
    EXPECT_EQ(AttemptsWithFirstAnswer({.emptyReadsBefore = 8}, pipes), 2);
    EXPECT_EQ(pipes.readCalls, 10);
  }
  {  // "V1" in a short read does not count
    FakeUsbPipes pipes;
    EXPECT_EQ(AttemptsWithFirstAnswer({.bytes = 63}, pipes), 2);
  }
  {  // nor in a read that reports failure
    FakeUsbPipes pipes;
    EXPECT_EQ(AttemptsWithFirstAnswer({.readFails = true}, pipes), 2);
  }
}

TEST(TransportOpen, ErrorKindSurvivesReopen) {
  Rig rig;
  rig.link.Fail(kErrorPodMismatch);
  rig.link.Open();
  EXPECT_FALSE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorPodMismatch);
}

TEST(TransportExchange, HealthyExchangeIsOneWriteAndOneRead) {
  Rig rig;
  rig.OpenAndForget();
  rig.Exchange(0x4A);
  EXPECT_FALSE(rig.link.LinkFailed());
  EXPECT_EQ(rig.pipes.writeCalls, 1);
  EXPECT_EQ(rig.pipes.readCalls, 1);
  EXPECT_EQ(rig.pipes.sleepCalls, 0);
  EXPECT_EQ(rig.link.Reply()[0], 0xAB);
  EXPECT_EQ(rig.link.Reply()[1], 0x4A);
}

TEST(TransportExchange, LongPatternAllowsOneHundredPassesOfTenReads) {
  struct Case {
    int deliveredOnRead;  // 1-based read call that delivers
    bool ok;
    int sleeps;
  };
  const Case cases[] = {
      {99 * 10 + 9, true, 99},     // ninth read of the hundredth pass
      {98 * 10 + 10, true, 99},    // tenth read of the ninety-ninth pass
      {99 * 10 + 10, false, 100},  // tenth read of the hundredth pass
      {3, true, 0},
      {10, true, 1},  // a pass that needed all ten calls still sleeps
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.deliveredOnRead);
    Rig rig;
    rig.OpenAndForget();
    rig.next.emptyReadsBefore = c.deliveredOnRead - 1;
    rig.Exchange(0x48);
    EXPECT_EQ(rig.link.LinkFailed(), !c.ok);
    EXPECT_EQ(rig.link.ErrorKindValue(), c.ok ? kErrorNone : kErrorUsb);
    EXPECT_EQ(rig.pipes.readCalls, c.deliveredOnRead);
    EXPECT_EQ(rig.pipes.sleepCalls, c.sleeps);
  }
}

TEST(TransportExchange, SilentEmulatorCostsAThousandReadsAndAHundredSleeps) {
  Rig rig;
  rig.OpenAndForget();
  rig.answer = false;
  rig.Exchange(0x10);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(rig.pipes.readCalls, 1000);
  EXPECT_EQ(rig.pipes.sleepCalls, 100);
}

TEST(TransportExchange, ShortOrFailedLastReadFails) {
  {
    Rig rig;
    rig.OpenAndForget();
    rig.next.bytes = 32;  // then nothing more arrives
    rig.Exchange(0x48);
    EXPECT_TRUE(rig.link.LinkFailed());
    EXPECT_EQ(rig.pipes.readCalls, 1000);
  }
  {
    Rig rig;
    rig.OpenAndForget();
    rig.next.readFails = true;
    rig.Exchange(0x48);
    EXPECT_TRUE(rig.link.LinkFailed());
    EXPECT_EQ(rig.pipes.readCalls, 1);
  }
  {  // failed empty reads do not matter once a later read delivers
    Rig rig;
    rig.OpenAndForget();
    rig.next = {.emptyReadsBefore = 4, .emptyReadsFail = true};
    rig.Exchange(0x48);
    EXPECT_FALSE(rig.link.LinkFailed());
    EXPECT_EQ(rig.pipes.readCalls, 5);
  }
}

TEST(TransportExchange, WriteFailureSetsKindOneWithoutReading) {
  Rig rig;
  rig.OpenAndForget();
  rig.pipes.writeFails = true;
  rig.Exchange(0x4D);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.link.ErrorKindValue(), kErrorUsb);
  EXPECT_EQ(rig.pipes.readCalls, 0);
}

TEST(TransportExchange, FailedLinkHasNoTrafficAndKeepsTheReply) {
  Rig rig;
  rig.OpenAndForget();
  for (std::size_t i = 0; i < 64; ++i) rig.link.Reply()[i] = static_cast<std::uint8_t>(0xF0 - i);
  const Packet reply = rig.link.Reply();
  rig.link.SetLinkFailed(true);
  rig.Exchange(0x4A);
  EXPECT_EQ(rig.pipes.writeCalls, 0);
  EXPECT_EQ(rig.pipes.readCalls, 0);
  EXPECT_EQ(rig.pipes.sleepCalls, 0);
  EXPECT_EQ(rig.link.Reply(), reply);
}

TEST(TransportClose, ClosesTheWritePipeBeforeTheReadPipe) {
  // Both the link's own close and the close of a failed identification.
  Rig rig;
  rig.OpenAndForget();
  rig.link.Close();
  EXPECT_EQ(rig.pipes.closed, (std::vector<char>{'w', 'r'}));

  Rig wrong;
  wrong.pipes.replier = [&](const Packet&) { wrong.pipes.QueueReply(MakePacket({0x56, 0x32})); };
  wrong.link.Open();
  ASSERT_EQ(wrong.pipes.closed.size(), 2u * Transport::kIdentifyAttempts);
  for (std::size_t i = 0; i < wrong.pipes.closed.size(); i += 2)
    EXPECT_EQ(std::string(wrong.pipes.closed.begin() + static_cast<std::ptrdiff_t>(i),
                          wrong.pipes.closed.begin() + static_cast<std::ptrdiff_t>(i + 2)),
              "wr");
}

TEST(TransportExchange, ExchangeAfterCloseFailsWithoutWriting) {
  Rig rig;
  rig.OpenAndForget();
  rig.link.Close();
  EXPECT_EQ(rig.pipes.closeCalls, 2);
  EXPECT_EQ(rig.pipes.OpenHandles(), 0);
  EXPECT_FALSE(rig.link.PipesOpen());
  EXPECT_TRUE(rig.link.LinkFailed());
  // Even with the flag cleared by hand, a closed link does not write.
  rig.link.SetLinkFailed(false);
  rig.Exchange(0x4A);
  EXPECT_TRUE(rig.link.LinkFailed());
  EXPECT_EQ(rig.pipes.writeCalls, 0);
  // Closing a closed link does nothing.
  rig.link.Close();
  EXPECT_EQ(rig.pipes.closeCalls, 2);
}

TEST(TransportConcurrency, CloseWaitsForTheCommandHoldingTheLink) {
  Rig rig;
  rig.OpenAndForget();
  std::promise<void> held, release;
  std::thread command([&] {
    std::lock_guard<std::recursive_mutex> hold(rig.link.Lock());
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  auto closing = std::async(std::launch::async, [&] { rig.link.Close(); });
  bool closedUnderTheCommand =
      closing.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready;
  release.set_value();
  command.join();
  closing.wait();
  EXPECT_FALSE(closedUnderTheCommand);
  EXPECT_EQ(rig.pipes.closeCalls, 2);
  EXPECT_TRUE(rig.link.LinkFailed());
}

}  // namespace
}  // namespace kz
