// kz51's commands for C-level debugging, run as a program against the driver
// and the virtual emulator on the C model's test program (small model and
// --stack-auto builds): backtrace, up, down, frame, print EXPR with its JSON
// fields, set var, locals, args, break LOC if EXPR with count N, finish, and
// variable names with their own memory space. Each row is one kz51 run; its
// checks name a command's result by the command text and a JSON pointer.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "Kz51Run.h"

namespace {

using kz51::test::JsonScript;
using kz51::test::RunKz51;
using nlohmann::json;

const std::string kBin = KZ_OUT_DIR;

std::string Program(const std::string& way) {
  return std::string(KZ_DEBUG_PROGRAMS) + "/" + way + "/frames.ihx";
}

// "@mark" in a command: the file:line of the line marked so in the program.
std::string Marked(std::string command) {
  const auto at = command.find('@');
  if (at == std::string::npos) return command;
  auto end = command.find(' ', at);
  if (end == std::string::npos) end = command.size();
  const std::string mark = command.substr(at, end - at);
  for (const char* file : {"frames.c", "shapes.c"}) {
    std::istringstream in(
        kz51::test::ReadWhole(std::string(KZ_SOURCE_DIR) + "/tests/debug/programs/" + file));
    int n = 0;
    for (std::string l; std::getline(in, l);)
      if (++n, l.find(mark + " ") != std::string::npos)
        return command.replace(at, end - at, std::string(file) + ":" + std::to_string(n));
  }
  ADD_FAILURE() << "no " << mark;
  return command;
}

struct Check {
  std::string command;  // the result of this command (its first run; "#2 go" its second)
  std::string pointer;  // a JSON pointer into it
  json expected;        // the value there; null: the key must be absent
};

struct Row {
  const char* name;
  std::string way;
  std::vector<std::string> commands;
  std::vector<Check> checks;
  int status = 0;  // kz51's exit status (1: the last command fails)
};

const json kAbsent = nullptr;

std::vector<Row> Rows() {
  const std::string small = "small", stackauto = "stackauto";
  return {
      // A function breakpoint stops after the prologue: the third call of
      // the recursion shows its own n, and the callers theirs.
      {"recursion",
       small,
       {"break fact count 3", "go", "print n", "bt", "up", "print n", "frame 2", "print n", "down",
        "print n * 10", "frame", "args", "locals"},
       {{"print n", "/value", 2},
        {"print n", "/type", "int"},
        {"bt", "/frames/0/function", "fact"},
        {"bt", "/frames/0/level", 0},
        {"bt", "/frames/0/file", "frames.c"},
        {"bt", "/frames/1/function", "fact"},
        {"bt", "/frames/2/function", "fact"},
        {"bt", "/frames/3/function", "main"},
        {"bt", "/frames/4", kAbsent},
        {"up", "/level", 1},
        {"#2 print n", "/value", 3},
        {"frame 2", "/function", "fact"},
        {"#3 print n", "/value", 4},
        {"down", "/level", 1},
        {"print n * 10", "/value", 30},
        {"frame", "/level", 1},
        {"args", "/variables/0/name", "n"},
        {"args", "/variables/0/value", 3},
        {"locals", "/variables/0/name", "r"},
        {"locals", "/variables/0/ok", false},
        {"locals", "/variables/0/value", kAbsent}}},
      // The fourth call of depth (once shown as 512).
      {"depth",
       small,
       {"break depth count 4", "go", "print n"},
       {{"print n", "/value", 2}, {"print n", "/char", "\\x02"}}},
      // Values as JSON: numbers, chars, pointers by space, aggregates.
      {"json values",
       small,
       {"break @area", "go", "print letter", "print greeting", "print ratio", "print big",
        "print boxes[0].corner[1]", "print table", "print xp", "print xp->y", "print $sp",
        "print sizeof(struct box)", "print boxes[0].name[1]"},
       {{"print letter", "/value", 111},
        {"print letter", "/char", "o"},
        {"print letter", "/space", "data"},
        {"print greeting", "/space", "code"},
        {"print greeting", "/string", "hello"},
        {"print ratio", "/value", 1.5},
        {"print big", "/value", -100000},
        {"print boxes[0].corner[1]", "/members", json{{"x", 11}, {"y", 7}}},
        {"print table", "/values", json::array({0, 3, 6, 9, 12, 15, 18, 21})},
        {"print xp", "/space", "xdata"},
        {"print xp->y", "/value", 300},
        {"print sizeof(struct box)", "/value", 14},
        {"print boxes[0].name[1]", "/char", "x"}}},
      // set var and print LVALUE = EXPR write through the evaluator.
      {"writes",
       small,
       {"break @area", "go", "set var letter = 'A'", "dump data:letter 1",
        "print boxes[0].level = 2", "print boxes[0].wide", "set var xp->y = -1",
        "dump xdata:xpts 4", "set var $a = 0x5A", "regs"},
       {{"set var letter = 'A'", "/value", 65},
        {"dump data:letter 1", "/hex", "41"},
        {"print boxes[0].level = 2", "/value", 2},
        {"print boxes[0].wide", "/value", 1},
        {"set var xp->y = -1", "/value", -1},
        {"regs", "/a", 0x5A}}},
      // A name carries its own space; a prefix that disagrees is refused.
      {"named memory",
       small,
       {"break @area", "go", "dump data:_table 8", "dump table 8", "dump xdata:log_count 1",
        "write xdata:log_count 07", "dump log_count 1", "write data:log_count 05"},
       {{"dump data:_table 8", "/hex", "000306090C0F1215"},
        {"dump table 8", "/space", "data"},
        {"dump log_count 1", "/hex", "07"},
        {"write data:log_count 05", "/error",
         "'log_count' lives in xdata, not in data (write xdata:log_count, or log_count alone)"}},
       1},
      {"named memory 2",
       small,
       {"break @area", "go", "dump xdata:table 2"},
       {{"dump xdata:table 2", "/error",
         "'table' lives in data, not in xdata (write data:table, or table alone)"}},
       1},
      // A caller's variable whose register the called code reused is not
      // written (nor shown).
      {"caller writes",
       small,
       {"break @fact_base", "go", "up", "set var n = 7", "print n", "set var r = 3"},
       {{"set var n = 7", "/value", 7},
        {"print n", "/value", 7},
        {"set var r = 3", "/error",
         "cannot set r: kept in registers, which the called code has reused"}},
       1},
      {"caller reads",
       small,
       {"break @fact_base", "go", "up", "print r"},
       {{"print r", "/ok", false},
        {"print r", "/value", kAbsent},
        {"print r", "/unavailable", "kept in registers, which the called code has reused"}},
       1},
      // An empty register list: unavailable, never a number.
      {"empty registers",
       stackauto,
       {"break @mix", "go", "print b", "print c", "print t"},
       {{"print b", "/value", 2},
        {"print c", "/value", 3},
        {"print t", "/ok", false},
        {"print t", "/value", kAbsent},
        {"print t", "/error",
         "t is unavailable here: sdcc recorded no location for it here (an empty register "
         "list)"}},
       1},
      // a's registers hold t = a + b there: not a's value.
      {"registers taken over",
       small,
       {"break @mix", "go", "print a"},
       {{"print a", "/ok", false},
        {"print a", "/unavailable", "its registers (r6 r7) hold another value here"}},
       1},
      // Conditions: the run goes on while they are false, and counts only
      // the hits at which they hold.
      {"conditions",
       small,
       {"break fact if n < 3 count 2", "breaks", "go", "print n", "bt", "delete all",
        "break depth if n == 1", "go", "print n"},
       {{"break fact if n < 3 count 2", "/condition", "n < 3"},
        {"break fact if n < 3 count 2", "/count", 2},
        {"breaks", "/breakpoints/0/condition", "n < 3"},
        {"print n", "/value", 1},
        {"bt", "/frames/3/function", "fact"},
        {"#2 print n", "/value", 1}}},
      // A background run tests the condition on its own thread.
      {"condition in the background",
       small,
       {"break fact if n == 2", "go &", "wait", "print n", "bt"},
       {{"wait", "/reason", "breakpoint"},
        {"print n", "/value", 2},
        {"bt", "/frames/3/function", "main"}}},
      {"condition error",
       small,
       {"break fact if nosuch > 1", "go", "print n"},
       {{"go", "/reason", "breakpoint"},
        {"go", "/conditionError",
         "the condition of breakpoint 1 (nosuch > 1) cannot be evaluated here: unknown variable "
         "'nosuch' (column 1): no variable or function 'nosuch' is in scope here"},
        {"print n", "/value", 4}}},
      // finish returns into the selected frame's caller (not into a deeper
      // call of the same function), and is refused in the outermost frame.
      {"finish",
       small,
       {"break fact if n == 1", "go", "delete all", "up", "finish", "bt", "print n", "finish",
        "finish", "bt", "finish"},
       {{"bt", "/frames/0/function", "fact"},
        {"bt", "/frames/2/function", "main"},
        {"bt", "/frames/3", kAbsent},
        {"print n", "/value", 3},
        {"#2 bt", "/frames/0/function", "main"},
        {"#4 finish", "/error",
         "main (frame 0) is the outermost frame: there is no caller to return to"}},
       1},
      // Under the interrupt handler: the interrupted frame, where it resumes.
      {"interrupted",
       small,
       {"break @isr", "go", "bt", "frame 1", "print $pc"},
       {{"bt", "/frames/0/function", "timer0"},
        {"bt", "/frames/1/interrupted", true},
        {"bt", "/frames/0/interrupted", kAbsent},
        {"frame 1", "/interrupted", true}}},
      // Every run selects frame 0 again.
      {"runs select frame 0",
       small,
       {"break fact count 2", "go", "up", "frame", "next", "frame"},
       {{"#1 frame", "/level", 1}, {"#2 frame", "/level", 0}}},
      // The README's --stack-auto example.
      {"stack-auto",
       stackauto,
       {"break scaled", "go", "bt", "print p->x", "up", "print q", "down", "args", "locals"},
       {{"bt", "/frames/0/function", "scaled"},
        {"bt", "/frames/1/function", "main"},
        {"print p->x", "/value", 6},
        {"print q", "/members", json{{"x", 6}, {"y", 9}}},
        {"args", "/variables/0/name", "p"},
        {"args", "/variables/1/name", "k"},
        {"args", "/variables/1/value", 3}}},
  };
}

const json* Find(const std::vector<json>& objects, const std::string& label) {
  int nth = 1;
  std::string command = label;
  if (label.size() > 3 && label[0] == '#') {
    nth = label[1] - '0';
    command = label.substr(3);
  }
  for (const auto& o : objects)
    if (o.is_object() && o.value("command", "") == command && --nth == 0) return &o;
  return nullptr;
}

TEST(Kz51Values, CommandsOfTheCModel) {
  for (const Row& row : Rows()) {
    std::vector<std::string> commands{"connect", "load " + Program(row.way)};
    for (const auto& c : row.commands) commands.push_back(Marked(c));
    const auto r = RunKz51(kBin, JsonScript(commands));
    EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.out << r.err;
    for (const Check& c : row.checks) {
      const json* o = Find(r.objects, c.command);
      ASSERT_NE(o, nullptr) << row.name << ": no result of " << c.command << "\n" << r.out;
      const json::json_pointer p(c.pointer);
      if (c.expected.is_null()) {
        EXPECT_FALSE(o->contains(p))
            << row.name << ": " << c.command << " " << c.pointer << " in " << o->dump();
      } else {
        ASSERT_TRUE(o->contains(p))
            << row.name << ": " << c.command << " " << c.pointer << " in " << o->dump();
        EXPECT_EQ(o->at(p), c.expected) << row.name << ": " << c.command << " " << c.pointer;
      }
    }
  }
}

// At every stop, in every frame: a variable the model cannot know prints as
// <unavailable> with its reason, and its JSON holds no value.
TEST(Kz51Values, NothingPrintsANumberForAnUnavailableVariable) {
  std::vector<std::string> stops;
  for (const char* mark :
       {"@fact_base", "@depth_test", "@area", "@sum3", "@scaled", "@mix", "@spin"})
    stops.push_back(Marked(mark));
  int unavailable = 0;
  for (const std::string& way : {std::string("small"), std::string("large"),
                                 std::string("stackauto"), std::string("largestack")}) {
    for (const auto& stop : stops) {
      std::vector<std::string> commands{"connect", "load " + Program(way), "break " + stop, "go",
                                        "bt"};
      for (int level = 0; level < 6; ++level) {
        commands.push_back("frame " + std::to_string(level));
        commands.push_back("args");
        commands.push_back("locals");
      }
      const auto r = RunKz51(kBin, JsonScript(commands));
      for (const auto& o : r.objects) {
        if (!o.contains("variables")) continue;
        for (const auto& v : o["variables"]) {
          if (v["ok"] == true) continue;
          ++unavailable;
          for (const char* key : {"value", "values", "members", "hex", "char"})
            EXPECT_FALSE(v.contains(key)) << way << " " << stop << ": " << v.dump();
          EXPECT_TRUE(v.contains("unavailable")) << v.dump();
        }
      }
      // The same in text: "<unavailable> (why)" and no number after '='.
      std::vector<std::string> text{"-c", "connect",       "-c", "load " + Program(way),
                                    "-c", "break " + stop, "-c", "go"};
      for (int level = 0; level < 3; ++level)
        for (const std::string& c : {"frame " + std::to_string(level), std::string("locals")}) {
          text.push_back("-c");
          text.push_back(c);
        }
      const auto t = RunKz51(kBin, text);
      std::istringstream lines(t.out);
      for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find(" = ");
        if (eq == std::string::npos || line.find("<unavailable>") == std::string::npos) continue;
        EXPECT_EQ(line.compare(eq + 3, 15, "<unavailable> ("), 0) << line;
      }
    }
  }
  EXPECT_GT(unavailable, 10);
}

// The README's --stack-auto example is what kz51 prints.
TEST(Kz51Values, ReadmeStackAutoExample) {
  std::istringstream readme(kz51::test::ReadWhole(std::string(KZ_SOURCE_DIR) + "/README.md"));
  std::vector<std::string> commands;
  std::string expected;
  bool in = false;
  for (std::string line; std::getline(readme, line);) {
    if (line == "(kz51) break scaled") in = true;
    if (!in) continue;
    if (line == "```") break;
    expected += line + "\n";
    if (line.rfind("(kz51) ", 0) == 0) commands.push_back(line.substr(7));
  }
  ASSERT_FALSE(commands.empty()) << "no example in the README";
  std::vector<std::string> args{"--echo", "-c", "connect", "-c", "load " + Program("stackauto")};
  for (const auto& c : commands) {
    args.push_back("-c");
    args.push_back(c);
  }
  const auto r = RunKz51(kBin, args);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto at = r.out.find("(kz51) break scaled");
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(at), expected);
}

}  // namespace
