// The C model against the truth, over one SDCC program built four ways
// (small, --model-large, --stack-auto, both; each with __reentrant functions
// and an interrupt handler), stopped at several places on the emulator's CPU:
//  - frame 0's values equal what the program itself logged into `truth`;
//  - every caller frame sits at the call the CPU really made, and each of
//    its variables and registers that the model shows equals what the
//    caller itself saw at that call (a copy of the CPU kept at the call);
//  - where the debug information allows it, the values are shown at all.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "CpuRun.h"
#include "debug/DebugModel.h"
#include "debug/Evaluator.h"
#include "debug/Format.h"

namespace kz51::debug::test {
namespace {

const char* const kWays[] = {"small", "large", "stackauto", "largestack"};

std::string Program(const std::string& way) {
  return std::string(KZ_DEBUG_PROGRAMS) + "/" + way + "/frames.ihx";
}

// The code address of the line marked "@mark" in a program source.
std::uint32_t Mark(const Symbols& s, const std::string& file, const std::string& mark) {
  const std::string text = ReadText(std::string(KZ_SOURCE_DIR) + "/tests/debug/programs/" + file);
  std::istringstream in(text);
  unsigned n = 0;
  for (std::string l; std::getline(in, l);) {
    ++n;
    if (l.find("@" + mark + " ") != std::string::npos) {
      const auto a = s.AddressesOfLine(file, n);
      if (!a.empty()) return a.front();
    }
  }
  ADD_FAILURE() << "no @" << mark << " in " << file;
  return 0;
}

std::int32_t Truth(const CpuRun& run, const Symbols& s, int slot) {
  const cdb::Variable* truth = s.FindVariable("truth");
  const std::uint32_t at = *truth->address + 4u * static_cast<std::uint32_t>(slot);
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | run.cpu.xdata[at + static_cast<std::uint32_t>(i)];
  return static_cast<std::int32_t>(v);
}

// A value in frame `level` that must equal a slot of the log (or, for a
// slot below 0, `value`); `required` lists the builds in which it must be
// shown at all.
struct Logged {
  int level;
  const char* expression;
  int slot;
  const char* required;
  long value = 0;
};

struct Stop {
  const char* file;  // with `mark`: a C line; else `function`: its breakpoint
  const char* mark;
  const char* function;
  int hits;
  std::vector<std::string> frames;  // empty: checked by `framesContain`
  std::vector<std::string> framesContain;
  std::vector<Logged> logged;
};

const char* const kAll = "small large stackauto largestack";
const char* const kNever = "unavailable";  // must be unavailable in every build

const Stop kStops[] = {
    {"frames.c",
     "fact_base",
     nullptr,
     1,
     {"fact", "fact", "fact", "fact", "main"},
     {},
     {{0, "n", 11, kAll},
      {1, "n", 12, "small stackauto largestack"},
      {2, "n", 13, "small stackauto largestack"},
      {3, "n", 14, "small stackauto largestack"},
      {4, "q.x", 0, kAll},
      {4, "q.y", 1, kAll}}},
    // The third call of fact, stopped by its function breakpoint.
    {nullptr,
     nullptr,
     "fact",
     3,
     {"fact", "fact", "fact", "main"},
     {},
     {{0, "n", -1, kAll, 2},
      {1, "n", 13, "small stackauto largestack"},
      {2, "n", 14, "small stackauto largestack"}}},
    {nullptr,
     nullptr,
     "depth",
     4,
     {"depth", "depth", "depth", "depth", "main"},
     {},
     {{0, "n", -1, kAll, 2},
      {1, "n", 23, "stackauto largestack"},
      {3, "n", 25, "stackauto largestack"}}},
    {"frames.c",
     "depth_test",
     nullptr,
     6,
     {"depth", "depth", "depth", "depth", "depth", "depth", "main"},
     {},
     {{0, "n", 20, kAll},
      {2, "n", 22, "stackauto largestack"},
      {5, "n", 25, "stackauto largestack"}}},
    {"shapes.c",
     "area",
     nullptr,
     1,
     {"area", "main"},
     {},
     {{0, "w", 30, "small stackauto largestack"},
      {0, "h", 31, ""},
      {0, "visits", 33, kAll},
      {0, "boxes[0].tag", 32, kAll},
      {1, "q.y", 1, kAll}}},
    {"shapes.c",
     "sum3",
     nullptr,
     1,
     {"sum3", "scaled", "main"},
     {},
     {{0, "a", 34, ""},
      {0, "b", 35, kAll},
      {0, "c", 36, kAll},
      {0, "t[0]", 37, kAll},
      {0, "t[1]", 38, kAll},
      {0, "t[0] + c", 38, kAll},
      {0, "(long)t[0] * -c >> 1", -1, kAll, -23},
      {1, "k", 39, kAll},
      {1, "p->x", 40, kAll},
      {1, "s", 41, ""},
      {2, "q.x", 0, kAll}}},
    {"shapes.c",
     "scaled",
     nullptr,
     1,
     {"scaled", "main"},
     {},
     {{0, "k", 39, kAll}, {0, "p->x", 40, kAll}, {0, "(*p).x", 40, kAll}, {0, "s", 41, ""}}},
    {"frames.c",
     "spin",
     nullptr,
     5,
     {"spin", "main"},
     {},
     {{0, "i", 43, "small stackauto largestack"},
      {0, "seen", 44, "small stackauto largestack"},
      {0, "rounds", -1, "small stackauto largestack", 40}}},
    {"frames.c", "isr", nullptr, 3, {}, {"timer0", "spin", "main"}, {{0, "ticks", 42, kAll}}},
    // A block's own k, then main's k again after it.
    {"frames.c",
     "block",
     nullptr,
     1,
     {"main"},
     {},
     {{0, "k", 8, "small stackauto largestack"}, {0, "v", 7, ""}}},
    {"frames.c", "after_block", nullptr, 1, {"main"}, {}, {{0, "k", 10, ""}, {0, "v", 9, ""}}},
};

bool In(const char* list, const std::string& way) {
  if (list == nullptr) return false;
  std::istringstream words(list);
  for (std::string w; words >> w;)
    if (w == way) return true;
  return false;
}

std::vector<NamedValue> InScope(DebugModel& m, int level) {
  std::vector<NamedValue> out;
  for (auto list : {m.Args(level), m.Locals(level)}) {
    EXPECT_TRUE(list.ok()) << list.error();
    if (list) out.insert(out.end(), list->begin(), list->end());
  }
  return out;
}

const char* const kRegisters[] = {"$a",  "$b",  "$psw", "$dptr", "$r0", "$r1", "$r2",
                                  "$r3", "$r4", "$r5",  "$r6",   "$r7", "$sp", "$pc"};

class Truths : public ::testing::TestWithParam<const char*> {};

TEST_P(Truths, EveryStopEveryFrame) {
  const std::string way = GetParam();
  int compared = 0, shown = 0;
  for (const Stop& stop : kStops) {
    CpuRun run(Program(way));
    ASSERT_TRUE(run.Loaded());
    Symbols symbols;
    symbols.LoadBeside(Program(way));
    DebugModel model(run.target, symbols);
    std::uint32_t at = 0;
    std::string where;
    if (stop.mark != nullptr) {
      at = Mark(symbols, stop.file, stop.mark);
      where = way + " @" + stop.mark;
    } else {
      auto a = model.FunctionBreakAddress(*symbols.FindFunction(stop.function));
      ASSERT_TRUE(a.ok()) << a.error();
      at = *a;
      where = way + " break " + stop.function;
      // After the prologue: never the first instruction.
      EXPECT_GT(at, *symbols.FindFunction(stop.function)->start) << where;
    }
    where += " hit " + std::to_string(stop.hits);
    ASSERT_TRUE(run.RunTo(at, stop.hits)) << where;

    auto bt = model.Backtrace();
    ASSERT_TRUE(bt.ok()) << where << ": " << bt.error();
    std::vector<std::string> names;
    for (const Frame* f : *bt) names.push_back(f->name);
    if (!stop.frames.empty()) {
      EXPECT_EQ(names, stop.frames) << where;
    } else {
      std::set<std::string> have(names.begin(), names.end());
      for (const auto& n : stop.framesContain) EXPECT_TRUE(have.count(n)) << where << ": no " << n;
      EXPECT_EQ(names.front(), stop.framesContain.front()) << where;
    }
    EXPECT_EQ(model.BacktraceEnd(), "") << where;

    // Caller frames against the CPU at their calls (or interrupts).
    const auto& shadow = run.shadow;
    for (const Frame* f : *bt) {
      if (f->level == 0) continue;
      ASSERT_LE(static_cast<std::size_t>(f->level), shadow.size()) << where;
      kzemu::Cpu8051 then = shadow[shadow.size() - static_cast<std::size_t>(f->level)];
      EXPECT_EQ(f->pc, then.pc) << where << " frame " << f->level;
      CpuTarget thenTarget(then);
      DebugModel ref(thenTarget, symbols);
      const std::string frame = where + " frame " + std::to_string(f->level) + " (" + f->name + ")";
      std::map<std::string, Value> refValues;
      for (auto& nv : InScope(ref, 0)) refValues[nv.name] = nv.value;
      for (auto& nv : InScope(model, f->level)) {
        if (!nv.value.Available()) continue;
        ++shown;
        Value mine = nv.value;
        ASSERT_TRUE(model.Load(mine).ok()) << frame << " " << nv.name;
        auto it = refValues.find(nv.name);
        ASSERT_NE(it, refValues.end()) << frame << " " << nv.name;
        Value theirs = it->second;
        ASSERT_TRUE(theirs.Available())
            << frame << ": " << nv.name << " = " << FormatValue(model, mine)
            << " is shown, but the caller itself did not know it: " << theirs.unavailable;
        ASSERT_TRUE(ref.Load(theirs).ok());
        EXPECT_EQ(mine.bytes, theirs.bytes)
            << frame << ": " << nv.name << " = " << FormatValue(model, mine) << ", the caller had "
            << FormatValue(ref, theirs);
        ++compared;
      }
      for (const char* r : kRegisters) {
        auto mine = model.EvaluateAt(r, f->level);
        ASSERT_TRUE(mine.ok()) << frame << " " << r << ": " << mine.error();
        if (!mine->Available()) continue;
        auto theirs = ref.EvaluateAt(r, 0);
        ASSERT_TRUE(theirs.ok() && theirs->Available()) << frame << " " << r;
        Value a = *mine, b = *theirs;
        ASSERT_TRUE(model.Load(a).ok() && ref.Load(b).ok());
        EXPECT_EQ(IntegerValue(a), IntegerValue(b)) << frame << " " << r;
        ++compared;
      }
    }

    // Values the program logged.
    for (const Logged& l : stop.logged) {
      if (l.required == nullptr) continue;
      const std::string what = where + " frame " + std::to_string(l.level) + " " + l.expression;
      auto v = model.EvaluateAt(l.expression, l.level);
      ASSERT_TRUE(v.ok()) << what << ": " << v.error();
      if (l.required == kNever) {
        EXPECT_FALSE(v->Available()) << what << " is shown: " << FormatValue(model, *v);
        continue;
      }
      if (!v->Available()) {
        EXPECT_FALSE(In(l.required, way)) << what << " is unavailable: " << v->unavailable;
        continue;
      }
      Value x = *v;
      ASSERT_TRUE(model.Load(x).ok()) << what;
      EXPECT_EQ(IntegerValue(x), l.slot < 0 ? l.value : Truth(run, symbols, l.slot)) << what;
      ++compared;
    }
  }
  // The table is not vacuous: most of what is shown is checked.
  EXPECT_GT(compared, 40) << way;
  EXPECT_GT(shown, 5) << way;
}

INSTANTIATE_TEST_SUITE_P(Builds, Truths, ::testing::ValuesIn(kWays));

}  // namespace
}  // namespace kz51::debug::test
