// The CPU's execution counts: calls and their inclusive cost on the shadow
// stack, line and function entries by the host's regions, and that counting
// changes nothing the program does.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "Cpu8051TestUtil.h"
#include "cpu/ExecutionCounts.h"

namespace kzemu::test {
namespace {

// Regions as the host gives them: {first address, last address, function,
// line}; everything else is region 0.
std::vector<std::uint32_t> Regions(
    std::initializer_list<std::tuple<std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t>>
        spans) {
  std::vector<std::uint32_t> r(ExecutionCounts::kAddresses, 0);
  for (const auto& [from, to, fn, line] : spans)
    for (unsigned a = from; a <= to; ++a) r[a] = static_cast<std::uint32_t>(fn) << 16 | line;
  return r;
}

void RunTo(Cpu& c, std::uint16_t pc) {
  for (int i = 0; i < 1000 && c.pc != pc; ++i) c.Step();
  ASSERT_EQ(c.pc, pc);
}

const CallEdge* Edge(const std::vector<CallEdge>& edges, std::uint16_t site, std::uint16_t target) {
  for (const auto& e : edges)
    if (e.site == site && e.target == target) return &e;
  return nullptr;
}

// main calls f twice on one line; f calls g with ACALL.
//   0000 mov sp,#30h | 0003 lcall f | 0006 lcall f | 0009 sjmp $
//   f: 0010 acall g | 0012 ret      g: 0020 nop | 0021 ret
TEST(ExecutionCounts, CallsCarryInclusiveCostAndReturnsResumeTheCallingLine) {
  Cpu c;
  c.Load({0x75, 0x81, 0x30, 0x12, 0x00, 0x10, 0x12, 0x00, 0x10, 0x80, 0xFE});
  c.Load({0x11, 0x20, 0x22}, 0x0010);
  c.Load({0x00, 0x22}, 0x0020);
  ExecutionCounts counts(Regions({{0x0000, 0x0002, 1, 1},
                                  {0x0003, 0x0008, 1, 2},
                                  {0x0009, 0x000A, 1, 3},
                                  {0x0010, 0x0012, 2, 10},
                                  {0x0020, 0x0021, 3, 20}}));
  c.SetCounts(&counts);
  RunTo(c, 0x0009);

  const auto edges = counts.Calls(c.cycles, c.instructions);
  ASSERT_EQ(edges.size(), 3u);
  struct Want {
    std::uint16_t site, target;
    std::uint64_t count, cycles, instructions;
  };
  for (const Want& w : {Want{0x0003, 0x0010, 1, 7, 4}, Want{0x0006, 0x0010, 1, 7, 4},
                        Want{0x0010, 0x0020, 2, 6, 4}}) {
    const CallEdge* e = Edge(edges, w.site, w.target);
    ASSERT_NE(e, nullptr) << w.site;
    EXPECT_EQ(e->count, w.count) << w.site;
    EXPECT_EQ(e->cycles, w.cycles) << w.site;
    EXPECT_EQ(e->instructions, w.instructions) << w.site;
    EXPECT_FALSE(e->interrupt);
  }
  EXPECT_EQ(counts.OpenFrames(), 0u);

  // address: executions, line entries, function entries
  const std::map<std::uint16_t, std::array<std::uint64_t, 3>> want = {
      {0x0000, {1, 1, 1}}, {0x0003, {1, 1, 0}}, {0x0006, {1, 0, 0}},  // back from f on the calling
                                                                      // line: no new entry
      {0x0009, {0, 0, 0}},                                            // reached, not executed
      {0x0010, {2, 2, 2}}, {0x0012, {2, 0, 0}}, {0x0020, {2, 2, 2}}, {0x0021, {2, 0, 0}},
  };
  for (const auto& [a, n] : want) {
    EXPECT_EQ(counts.Executions()[a], n[0]) << a;
    EXPECT_EQ(counts.LineEntries()[a], n[1]) << a;
    EXPECT_EQ(counts.FunctionEntries()[a], n[2]) << a;
  }
  std::uint64_t line = 0, function = 0;
  counts.PendingArrival(0x0009, line, function);
  EXPECT_EQ(line, 1u);  // the stop arrived at line 3 from line 2
  EXPECT_EQ(function, 0u);
}

// A RET used as a computed jump (push target, ret) ends no call; the callee's
// own RET then ends the LCALL.
//   0000 mov sp,#30h | 0003 lcall 0010 | 0006 sjmp $
//   0010 mov a,#20h | push acc | mov a,#0 | push acc | ret  ->  0020 ret
TEST(ExecutionCounts, ARetThatJumpsEndsNoCall) {
  Cpu c;
  c.Load({0x75, 0x81, 0x30, 0x12, 0x00, 0x10, 0x80, 0xFE});
  c.Load({0x74, 0x20, 0xC0, 0xE0, 0x74, 0x00, 0xC0, 0xE0, 0x22}, 0x0010);
  c.Load({0x22}, 0x0020);
  ExecutionCounts counts({});
  c.SetCounts(&counts);
  RunTo(c, 0x0006);
  const auto edges = counts.Calls(c.cycles, c.instructions);
  ASSERT_EQ(edges.size(), 1u);
  EXPECT_EQ(edges[0].count, 1u);
  EXPECT_EQ(edges[0].cycles, 10u);  // mov, push, mov, push, ret, ret
  EXPECT_EQ(edges[0].instructions, 6u);
  EXPECT_EQ(counts.OpenFrames(), 0u);
}

// An interrupt is a call from the interrupted address to its vector; RETI
// ends it and resumes the interrupted line.
//   0000 ljmp 0030 | 0003 (INT0) ljmp 0040
//   0030 mov sp,#30h | 0033 mov ie,#81h | 0036 setb it0 | 0038 nop | 0039 sjmp $
//   0040 nop | 0041 reti
TEST(ExecutionCounts, InterruptsAreCallsFromTheInterruptedAddress) {
  Cpu c;
  c.Load({0x02, 0x00, 0x30, 0x02, 0x00, 0x40});
  c.Load({0x75, 0x81, 0x30, 0x75, 0xA8, 0x81, 0xD2, 0x88, 0x00, 0x80, 0xFE}, 0x0030);
  c.Load({0x00, 0x32}, 0x0040);
  ExecutionCounts counts(
      Regions({{0x0030, 0x0035, 1, 1}, {0x0036, 0x003A, 1, 2}, {0x0040, 0x0041, 2, 40}}));
  c.SetCounts(&counts);
  RunTo(c, 0x0036);
  c.portPins[3] = static_cast<std::uint8_t>(~0x04);
  c.PinsChanged();  // INT0 low: requested, taken after the SETB that starts the line
  RunTo(c, 0x0039);
  ASSERT_EQ(c.interrupts, 1u);

  const auto edges = counts.Calls(c.cycles, c.instructions);
  ASSERT_EQ(edges.size(), 1u);
  EXPECT_TRUE(edges[0].interrupt);
  EXPECT_EQ(edges[0].site, 0x0038);  // taken before the NOP of the same line
  EXPECT_EQ(edges[0].target, 0x0003);
  EXPECT_EQ(edges[0].cycles, 7u);  // vectoring 2, ljmp 2, nop 1, reti 2
  EXPECT_EQ(edges[0].instructions, 3u);
  EXPECT_EQ(counts.ExtraCyclesAt(0x0003), 2u);
  EXPECT_EQ(counts.FunctionEntries()[0x0040], 1u);
  EXPECT_EQ(counts.LineEntries()[0x0038], 0u);  // back in the line it interrupted
}

TEST(ExecutionCounts, AResetEndsTheOpenCallsWhereTheyStand) {
  Cpu c;
  c.Load({0x75, 0x81, 0x30, 0x12, 0x00, 0x10});
  c.Load({0x80, 0xFE}, 0x0010);  // never returns
  ExecutionCounts counts({});
  c.SetCounts(&counts);
  c.Steps(2 + 5);
  EXPECT_EQ(counts.OpenFrames(), 1u);
  // An open call counts up to the totals asked for, and keeps counting.
  EXPECT_EQ(counts.Calls(c.cycles, c.instructions)[0].cycles, 10u);
  c.Reset();
  EXPECT_EQ(counts.OpenFrames(), 0u);
  c.Step();
  const auto edges = counts.Calls(c.cycles, c.instructions);
  ASSERT_EQ(edges.size(), 1u);
  EXPECT_EQ(edges[0].count, 1u);
  EXPECT_EQ(edges[0].cycles, 10u);
}

}  // namespace
}  // namespace kzemu::test
