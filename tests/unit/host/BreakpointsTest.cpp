// Breakpoints through AG_BreakFunc and AG_BpInfo: marker transitions, the
// walks of the host's list (damaged ones included), the address list with
// its capacity and removal order, and evaluation with counts and texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "unit/host/DebugRig.h"

namespace kz {
namespace {

using test::DebugRig;
using test::Firmware;
using test::HostBreakpoint;

std::uint16_t CellAt(DebugRig& r, std::uint32_t a) {
  return *r.d->memory->AttributeCell(a) & 0x58;
}

TEST(Breakpoints, MarkerTransitionsOfBpInfoAndBreakFunc) {
  struct Step {
    int entry;  // 0 = AG_BreakFunc, 1 = AG_BpInfo
    std::uint16_t code;
    bool enabled;  // the record's enabled bit (AG_BreakFunc)
    std::uint16_t markers;
  };
  // Each row starts from the markers the previous one left.
  const Step steps[] = {
      {0, 1, false, 0x40},   // disabled record: disabled-break marker only
      {0, 4, true, 0x08},    // enabled: break marker, the other cleared
      {1, 9, false, 0x40},   // disable
      {1, 9, false, 0x40},   // disable again: nothing to turn
      {1, 8, false, 0x08},   // enable
      {1, 10, false, 0x00},  // kill
      {1, 8, false, 0x00},   // enable without a disabled marker: nothing
      {1, 11, false, 0x08},  // set
      {0, 2, false, 0x00},   // clear both
  };
  DebugRig r(Firmware(3));
  std::uint32_t a = 0xFF000200u;
  BreakpointRecord rec = HostBreakpoint(0x200);
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.entry) + "/" + std::to_string(s.code));
    rec.flags = s.enabled ? kBpEnabled : 0;
    if (s.entry == 0)
      EXPECT_EQ(r.d->AgBreakFunc(s.code, 0, &a, &rec), &rec);
    else
      EXPECT_EQ(r.d->AgBpInfo(s.code, &a), 0);
    EXPECT_EQ(CellAt(r, a), s.markers);
    EXPECT_EQ(r.d->AgBpInfo(1, &a), s.markers);
  }
  // Without a page: 0 from AG_BreakFunc, 80000000h from AG_BpInfo.
  std::uint32_t bank1 = 0xFF010200u;
  EXPECT_EQ(r.d->AgBreakFunc(1, 0, &bank1, &rec), nullptr);
  EXPECT_EQ(r.d->AgBpInfo(1, &bank1), static_cast<std::int32_t>(0x80000000u));
  EXPECT_EQ(r.d->AgBpInfo(8, nullptr), static_cast<std::int32_t>(0x80000000u));
  // Code 5 refuses kind 2 only.
  BreakpointRecord kind2 = HostBreakpoint(0x10, 1, 2);
  BreakpointRecord kind1 = HostBreakpoint(0x10, 1, 1);
  EXPECT_EQ(r.d->AgBreakFunc(5, 0, nullptr, &kind2), nullptr);
  EXPECT_EQ(r.d->AgBreakFunc(5, 0, nullptr, &kind1), &kind1);
}

TEST(Breakpoints, DisableAllAndKillAllWalkTheWholeMixedList) {
  DebugRig r(Firmware(3));
  std::vector<BreakpointRecord> recs;
  recs.push_back(HostBreakpoint(0x10));
  recs.push_back(HostBreakpoint(0x20));
  recs.push_back(HostBreakpoint(0x30, 1, 0, false));
  recs.push_back(HostBreakpoint(0x40, 1, 1));
  recs.push_back(HostBreakpoint(0x50, 1, 2));
  recs.push_back(HostBreakpoint(0x60));
  std::vector<BreakpointRecord*> order;
  for (auto& b : recs) order.push_back(&b);
  test::Link(r.anchor, order);
  for (auto& b : recs) {
    std::uint32_t a = b.address;
    r.d->AgBreakFunc(1, 0, &a, &b);
  }
  EXPECT_EQ(r.d->AgBpInfo(5, nullptr), 3);  // the enabled kind-0 ones
  EXPECT_EQ(CellAt(r, 0xFF000010u), 0x40);
  EXPECT_EQ(CellAt(r, 0xFF000060u), 0x40);
  EXPECT_EQ(CellAt(r, 0xFF000040u), 0x08);  // kind 1 is not touched
  EXPECT_EQ(r.d->AgBpInfo(6, nullptr), 4);  // every kind-0 one, enabled or not
  EXPECT_EQ(CellAt(r, 0xFF000030u), 0x00);
  EXPECT_EQ(CellAt(r, 0xFF000040u), 0x08);
}

TEST(Breakpoints, ADamagedListThatLinksBackIsWalkedOnceAroundNotForever) {
  DebugRig r(Firmware(3));
  BreakpointRecord a = HostBreakpoint(0x10), b = HostBreakpoint(0x20), c = HostBreakpoint(0x30);
  test::Link(r.anchor, {&a, &b, &c});
  c.next = &b;  // b -> c -> b -> ...
  EXPECT_EQ(Breakpoints::DistinctRecords(&a), 3u);
  EXPECT_EQ(r.d->AgBpInfo(5, nullptr), 3);
  a.next = &a;
  EXPECT_EQ(Breakpoints::DistinctRecords(&a), 1u);
  EXPECT_EQ(r.d->AgBpInfo(6, nullptr), 1);
}

TEST(Breakpoints, AddressListKeepsOrderOnRemovalAndNeverOverrunsItsCapacity) {
  DebugRig r(Firmware(3));
  Breakpoints& bp = *r.d->breakpoints;
  for (std::uint16_t a : {0x100, 0x200, 0x300, 0x400}) EXPECT_TRUE(bp.ListAdd(a));
  EXPECT_FALSE(bp.ListAdd(0x300));  // no duplicates
  bp.ListRemove(0x200);
  EXPECT_EQ(bp.List(), (std::vector<std::uint16_t>{0x100, 0x300, 0x400}));
  bp.ListEmpty();

  // 1001 enabled host breakpoints: the surplus one is not armed.
  std::vector<BreakpointRecord> recs;
  recs.reserve(1001);
  for (int i = 0; i < 1001; ++i) recs.push_back(HostBreakpoint(static_cast<std::uint16_t>(i * 2)));
  std::vector<BreakpointRecord*> order;
  for (auto& b : recs) order.push_back(&b);
  test::Link(r.anchor, order);
  bp.Arm(ExecutionControl::kNoUntil);
  EXPECT_EQ(bp.List().size(), Breakpoints::kCapacity);
  EXPECT_FALSE(bp.Listed(2000));
  bp.Disarm(ExecutionControl::kNoUntil);
  EXPECT_TRUE(bp.List().empty());
}

TEST(Breakpoints, EvaluationCountsDownHandsTextsToTheHostAndActsOnDamagedCounts) {
  DebugRig r(Firmware(3));
  BreakpointRecord counted = HostBreakpoint(0x10, 3);
  BreakpointRecord texted = HostBreakpoint(0x20, 1, 0, true, "PRINTF \"hit\"");
  BreakpointRecord zero = HostBreakpoint(0x30, 0);
  BreakpointRecord off = HostBreakpoint(0x40, 1, 0, false);
  test::Link(r.anchor, {&counted, &texted, &zero, &off});
  Breakpoints& bp = *r.d->breakpoints;
  EXPECT_EQ(bp.Evaluate(0xFF000010u), Breakpoints::kContinue);
  EXPECT_EQ(bp.Evaluate(0xFF000010u), Breakpoints::kContinue);
  EXPECT_EQ(bp.Evaluate(0xFF000010u), Breakpoints::kStop);
  EXPECT_EQ(bp.Evaluate(0xFF000010u), Breakpoints::kStop);  // never restored
  EXPECT_EQ(counted.remainingCount, 1);
  EXPECT_EQ(bp.Evaluate(0xFF000020u), Breakpoints::kContinue);
  EXPECT_EQ(test::CallbackTexts(), (std::vector<std::string>{"PRINTF \"hit\""}));
  EXPECT_EQ(bp.Evaluate(0xFF000030u), Breakpoints::kStop);
  EXPECT_EQ(zero.remainingCount, 0);
  EXPECT_EQ(bp.Evaluate(0xFF000040u), Breakpoints::kNoBreakpoint);
  EXPECT_EQ(bp.Evaluate(0xFF000050u), Breakpoints::kNoBreakpoint);
}

}  // namespace
}  // namespace kz
