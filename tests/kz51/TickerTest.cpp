// kz51 in script mode on the ticker program (a timer interrupt ticking while
// main loops; sources in src/, built in build/): stepping that stays in its
// function, source lines, listing and disassembly, breakpoint placement and
// the runs that end at a place or at the function's return.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "kz51/Kz51Process.h"

namespace {

using namespace kz51test;

const fs::path kTicker = KZ_TICKER_DIR;
const std::string kProgram = (kTicker / "build" / "ticker.ihx").string();
const std::string kLoad = "load " + kProgram;

std::vector<std::string> SourceLines(const std::string& file) {
  std::vector<std::string> lines;
  std::istringstream in(ReadText(kTicker / "src" / file));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The line of "@marker" in a source file.
unsigned Line(const std::string& file, const std::string& marker) {
  const auto lines = SourceLines(file);
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find("@" + marker + " ") != std::string::npos) return static_cast<unsigned>(i + 1);
  ADD_FAILURE() << "no @" << marker << " in " << file;
  return 0;
}

std::string At(const std::string& file, const std::string& marker) {
  return file + ":" + std::to_string(Line(file, marker));
}

Outcome Session(const std::vector<std::string>& commands) {
  std::vector<std::string> all = {"connect", kLoad};
  all.insert(all.end(), commands.begin(), commands.end());
  Outcome r = Kz51(JsonCommands(all));
  if (r.objects.size() >= 2) r.objects.erase(r.objects.begin(), r.objects.begin() + 2);
  return r;
}

// An interrupt taken during next, step or nexti runs to its RETI: none of
// them stops in the handler (the timer interrupts every 256 cycles, so most
// steps see one).
TEST(Kz51Ticker, SteppingNeverStopsInAnInterruptHandler) {
  const struct {
    const char* command;
    int times;
  } rows[] = {{"next", 300}, {"step", 150}, {"nexti", 1000}};
  for (const auto& row : rows) {
    std::vector<std::string> commands = {"break " + At("ticker.c", "loop"), "go", "delete all",
                                         "print ticks"};
    for (int i = 0; i < row.times; ++i) commands.push_back(row.command);
    commands.push_back("print ticks");
    const Outcome r = Session(commands);
    ASSERT_EQ(r.status, 0) << row.command << r.out << r.err;
    ASSERT_EQ(r.objects.size(), commands.size());
    int inHandler = 0;
    for (std::size_t i = 4; i + 1 < r.objects.size(); ++i) {
      const Json& o = r.objects[i];
      EXPECT_EQ(o["reason"], "step") << o.dump();
      const std::string symbol = o.value("symbol", "");
      if (symbol.rfind("timer0_isr", 0) == 0 || o["pc"].get<int>() < 0x30) ++inHandler;
    }
    EXPECT_EQ(inHandler, 0) << row.command;
    // The handler did run meanwhile.
    EXPECT_GE(r.objects.back()["value"].get<int>(), r.objects[3]["value"].get<int>() + 3)
        << row.command;
  }
}

// A breakpoint on a line without code moves to the next line with code in
// a function of the same file, never into start-up code (the initialisers of
// globals have line records there).
TEST(Kz51Ticker, BreakpointsOnLinesWithoutCode) {
  const unsigned isrLine = Line("ticker.c", "isr") - 1;  // the handler's first line
  const struct {
    std::string location;
    std::string expect;  // "file:line" where it lands, or the error's start
  } rows[] = {
      {"ticker.c:1", "ticker.c:" + std::to_string(isrLine)},
      {"ticker.c:12", "ticker.c:" + std::to_string(isrLine)},  // int scale = 5;
      {"util.c:2", "util.c:4"},
      {"util.c:7", "util.c:8"},
      {"util.c:40", "no code at or after line 40 of util.c"},
      {"nosuch.c:3", "no line records for 'nosuch.c'"},
  };
  for (const auto& row : rows) {
    const Outcome r = Session({"break " + row.location});
    const Json& b = r.objects.at(0);
    if (b["ok"] == true) {
      EXPECT_EQ(b["location"], row.expect) << row.location;
      EXPECT_NE(b.value("symbol", std::string("?")).rfind("__", 0), 0u);
    } else {
      EXPECT_EQ(b["error"].get<std::string>().rfind(row.expect, 0), 0u) << b.dump();
    }
    EXPECT_EQ(b["ok"], row.expect.find(':') != std::string::npos) << row.location;
  }
}

// Every stop shows its C line; list shows lines around a place and goes on;
// disassemble shows the function with its symbols and the PC marked.
TEST(Kz51Ticker, SourceListingAndDisassembly) {
  const auto text = SourceLines("ticker.c");
  const unsigned work = Line("ticker.c", "work");
  const Outcome r = Session({"break " + At("ticker.c", "work"), "go", "list", "list -", "list work",
                             "disassemble", "disassemble 0x0000 3", "list"});
  ASSERT_EQ(r.objects.size(), 8u) << r.out << r.err;
  const Json& stop = r.objects[1];
  EXPECT_EQ(stop["line"], work);
  EXPECT_EQ(stop["source"], text[work - 1]);
  const Json& list = r.objects[2];
  ASSERT_EQ(list["lines"].size(), 10u) << list.dump();
  EXPECT_EQ(list["lines"][0]["line"], work - 5);
  EXPECT_EQ(list["file"], "ticker.c");
  EXPECT_EQ(list["path"], (kTicker / "src" / "ticker.c").lexically_normal().string());
  for (const auto& l : list["lines"]) EXPECT_EQ(l["text"], text[l["line"].get<unsigned>() - 1]);
  // list - shows what lies before the first list.
  EXPECT_EQ(r.objects[3]["lines"][0]["line"], work - 15);
  EXPECT_EQ(r.objects[3]["lines"].back()["line"], work - 6);
  const Json& util = r.objects[4];
  EXPECT_EQ(util["file"], "util.c");
  EXPECT_TRUE(std::any_of(util["lines"].begin(), util["lines"].end(), [](const Json& l) {
    return l["text"] == "int work(unsigned char k) {";
  }));
  const Json& dis = r.objects[5]["instructions"];
  ASSERT_GT(dis.size(), 10u);
  EXPECT_EQ(dis[0]["symbol"], "main");
  EXPECT_EQ(dis.back()["text"], "RET");
  int current = 0;
  for (const auto& i : dis) {
    EXPECT_EQ(i["symbol"].get<std::string>().rfind("main", 0), 0u);
    if (i.value("current", false)) {
      ++current;
      EXPECT_EQ(i["address"], stop["pc"]);
      EXPECT_EQ(i["line"], work);
    }
  }
  EXPECT_EQ(current, 1);
  const Json& three = r.objects[6]["instructions"];
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[0]["address"], 0);
  EXPECT_EQ(three[0]["text"].get<std::string>().rfind("LJMP", 0), 0u);
  EXPECT_EQ(three[0]["bytes"].get<std::string>().size(), 6u);
  // The listing of work reached the end of util.c: list goes no further.
  const unsigned utilLines = static_cast<unsigned>(SourceLines("util.c").size());
  EXPECT_EQ(util["lines"].back()["line"], utilLines);
  EXPECT_EQ(r.objects[7]["error"], "line " + std::to_string(utilLines + 1) +
                                       " is beyond the end of util.c (" +
                                       std::to_string(utilLines) + " lines)");
}

// Without the source files the lines come from the listing; `directory`
// adds where they lie; a program without its .cdb says so at load.
TEST(Kz51Ticker, SourcesElsewhereAndNoDebugInformation) {
  TempDir tmp;
  for (const auto& e : fs::directory_iterator(kTicker / "build"))
    fs::copy_file(e.path(), tmp.Path() / e.path().filename());
  const std::string moved = "load " + (tmp.Path() / "ticker.ihx").string();
  const unsigned work = Line("ticker.c", "work");
  const Outcome r = Kz51(JsonCommands({"connect", moved, "break " + At("ticker.c", "work"), "go",
                                       "directory " + (kTicker / "src").string(), "list"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  // The listing quotes the line without its indentation.
  const std::string line = SourceLines("ticker.c")[work - 1];
  EXPECT_EQ(r.objects[3]["source"], line.substr(line.find_first_not_of(' ')));
  EXPECT_EQ(r.objects[5]["path"], (kTicker / "src" / "ticker.c").lexically_normal().string());
  EXPECT_EQ(r.objects[5]["lines"].size(), 10u);

  TempDir bare;
  fs::copy_file(kProgram, bare.Path() / "ticker.ihx");
  const Outcome b =
      Kz51(JsonCommands({"connect", "load " + (bare.Path() / "ticker.ihx").string()}));
  ASSERT_EQ(b.status, 0) << b.out << b.err;
  EXPECT_EQ(b.objects[1]["warning"], "no debug information: build with --debug");
}

// tbreak acts once; until and advance stop at their place or where the
// function returns; until without a place leaves a loop.
TEST(Kz51Ticker, TemporaryBreakpointsAndRunsToAPlace) {
  const Outcome r =
      Session({"tbreak work", "break " + At("ticker.c", "record"), "go", "delete 2", "breaks",
               "advance " + At("util.c", "store"), "finish", "next", "next", "next", "until", "go",
               "breaks", "until " + At("ticker.c", "loop"), "advance " + At("ticker.c", "loop")});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.objects.size(), 15u);
  auto symbolOf = [](const Json& o) { return o.value("symbol", std::string()); };
  EXPECT_EQ(r.objects[0]["temporary"], true);
  EXPECT_EQ(r.objects[2]["reason"], "breakpoint");
  EXPECT_EQ(r.objects[2]["line"], Line("ticker.c", "record"));
  // The temporary breakpoint has not acted yet.
  ASSERT_EQ(r.objects[4]["breakpoints"].size(), 1u);
  EXPECT_EQ(r.objects[4]["breakpoints"][0]["temporary"], true);
  const Json& advance = r.objects[5];
  EXPECT_EQ(advance["reason"], "until");
  EXPECT_EQ(advance["line"], Line("util.c", "store"));
  EXPECT_EQ(symbolOf(advance).rfind("record", 0), 0u);
  EXPECT_EQ(symbolOf(r.objects[6]).rfind("main", 0), 0u);  // finish
  // The loop's increment, the call, the increment; until then leaves the
  // loop where next would go back into it.
  EXPECT_EQ(r.objects[9]["line"], r.objects[7]["line"]);
  EXPECT_EQ(r.objects[8]["line"], Line("ticker.c", "record"));
  const Json& until = r.objects[10];
  EXPECT_EQ(until["reason"], "step");
  EXPECT_GT(until["line"].get<unsigned>(), Line("ticker.c", "record"));
  EXPECT_LT(until["line"].get<unsigned>(), Line("ticker.c", "work"));
  // The temporary breakpoint acts once and is gone.
  EXPECT_EQ(r.objects[11]["reason"], "breakpoint");
  // After work's prologue, as every function breakpoint.
  EXPECT_EQ(symbolOf(r.objects[11]).rfind("work", 0), 0u);
  EXPECT_EQ(r.objects[12]["breakpoints"].size(), 0u);
  // until from inside work: work returns before the place is reached.
  EXPECT_EQ(r.objects[13]["reason"], "step");
  EXPECT_EQ(symbolOf(r.objects[13]).rfind("main+", 0), 0u);
  EXPECT_EQ(r.objects[13]["line"], Line("ticker.c", "work"));
  EXPECT_EQ(r.objects[14]["reason"], "until");
  EXPECT_EQ(r.objects[14]["line"], Line("ticker.c", "loop"));
}

// finish in an interrupt handler returns to the interrupted code (it ran
// for ever when the word at SP, a register the handler pushed, was taken
// for the return address).
TEST(Kz51Ticker, FinishLeavesAnInterruptHandler) {
  const Outcome r =
      Session({"break " + At("ticker.c", "isr"), "go", "delete all", "finish", "print ticks"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.objects.size(), 5u);
  const Json& finish = r.objects[3];
  EXPECT_EQ(finish["reason"], "step");
  EXPECT_EQ(finish.value("symbol", std::string()).rfind("timer0_isr", 0), std::string::npos);
  EXPECT_GE(finish["pc"].get<int>(), 0x30);  // not in the vectors either
  EXPECT_EQ(r.objects[4]["value"], 1);       // the handler's work was done
}

// A breakpoint's command that runs the target: go (continue) is what the run
// does after the command anyway; other runs are refused when it is set.
TEST(Kz51Ticker, BreakpointCommandsThatRunTheTarget) {
  const Outcome r = Session({"break work command go", "break " + At("ticker.c", "led") + " count 3",
                             "go", "break " + At("ticker.c", "loop") + " command next"});
  ASSERT_EQ(r.objects.size(), 4u) << r.out << r.err;
  const Json& go = r.objects[2];
  EXPECT_EQ(go["reason"], "breakpoint");
  EXPECT_EQ(go["line"], Line("ticker.c", "led"));
  ASSERT_EQ(go["commands"].size(), 3u) << go.dump();
  for (const auto& c : go["commands"]) {
    EXPECT_EQ(c["command"], "go");
    EXPECT_EQ(c["continues"], true);
  }
  EXPECT_EQ(r.objects[3]["ok"], false);
  EXPECT_EQ(r.objects[3]["error"].get<std::string>().rfind(
                "a breakpoint's command cannot run the target ('next')", 0),
            0u);
}

}  // namespace
