// The C expression evaluator and value text at one stop of the test program
// (small model, in `scaled`, called from main): literals and C's promotions
// on SDCC's sizes, pointers of each space, structures, bits, registers,
// errors that name the token, and assignments that write the target.
#include <gtest/gtest.h>

#include <sstream>

#include "CpuRun.h"
#include "debug/DebugModel.h"
#include "debug/Format.h"

namespace kz51::debug::test {
namespace {

const std::string kProgram = std::string(KZ_DEBUG_PROGRAMS) + "/small/frames.ihx";

std::uint32_t LineOf(const Symbols& s, const std::string& file, const std::string& mark) {
  const std::string text = ReadText(std::string(KZ_SOURCE_DIR) + "/tests/debug/programs/" + file);
  std::istringstream in(text);
  unsigned n = 0;
  for (std::string l; std::getline(in, l);)
    if (++n, l.find("@" + mark + " ") != std::string::npos)
      return s.AddressesOfLine(file, n).front();
  return 0;
}

// The program stopped at `mark`, with its model.
struct Stopped {
  explicit Stopped(const char* file, const char* mark, int hits = 1) : run(kProgram) {
    symbols.LoadBeside(kProgram);
    ok = run.RunTo(LineOf(symbols, file, mark), hits);
  }
  std::string Text(const std::string& expression, int level = 0) {
    auto v = model.EvaluateAt(expression, level);
    if (!v) return "error: " + v.error();
    if (!v->Available()) return "unavailable: " + v->unavailable;
    return FormatValue(model, *v);
  }
  CpuRun run;
  Symbols symbols;
  DebugModel model{run.target, symbols};
  bool ok = false;
};

TEST(Evaluator, ValuesAndOperators) {
  Stopped s("shapes.c", "scaled");
  ASSERT_TRUE(s.ok);
  const struct {
    const char* expression;
    const char* text;
  } cases[] = {
      // Literals and C's arithmetic on 16-bit int and 32-bit long.
      {"1 + 2 * 3", "7"},
      {"-7 / 2", "-3"},
      {"-7 % 2", "-1"},
      {"32767 + 1", "-32768"},
      {"65535u + 1", "0"},
      {"0xFFFF + 1", "0"},
      {"40000", "40000"},
      {"40000 + 40000", "80000"},
      {"1 << 15", "-32768"},
      {"1L << 20", "1048576"},
      {"~0", "-1"},
      {"~0u", "65535"},
      {"'a'", "97"},
      {"'\\n' + 0", "10"},
      {"010 + 0x10 + 0b10", "26"},
      {"!5", "0"},
      {"3 > 2 && 2 > 3", "0"},
      {"0 || 7", "1"},
      {"1 ? 10 : 20", "10"},
      {"(unsigned char)300", "44 ','"},
      {"(char)-1", "255 '\\xFF'"},
      {"(signed char)-1", "-1 '\\xFF'"},
      {"(int)(unsigned char)-1", "255"},
      {"(long)40000 * 2", "80000"},
      {"1.5f * 3", "4.5"},
      {"(int)2.75", "2"},
      {"7 / 2.0", "3.5"},
      {"sizeof(int)", "2"},
      {"sizeof(long)", "4"},
      {"sizeof(char *)", "3"},
      {"sizeof(__xdata char *)", "2"},
      {"sizeof(struct box)", "14"},
      {"sizeof boxes", "28"},
      {"sizeof table / sizeof table[0]", "8"},
      // Globals of every kind.
      {"letter", "111 'o'"},
      {"letter + 1", "112"},
      {"(char)(letter + 1)", "112 'p'"},
      {"ratio", "1.5"},
      {"ratio / 4", "0.375"},
      {"big", "-100000"},
      {"big / 3", "-33333"},
      {"big >> 4", "-6250"},
      {"(unsigned long)big", "4294867296"},
      {"table", "{0, 3, 6, 9, 12, 15, 18, 21}"},
      {"table[2] + table[3]", "15"},
      {"*(table + 7)", "21 '\\x15'"},
      {"&table[5] - &table[1]", "4"},
      {"3[table]", "9 '\\t'"},
      {"squares[3]", "9 '\\t'"},
      {"boxes[0].corner[1].x - boxes[0].corner[0].x", "10"},
      {"boxes[0].corner[1]", "{x = 11, y = 7}"},
      {"boxes[0].name", "{98, 120, 0, 0}"},
      {"boxes[0].level", "5"},
      {"boxes[0].wide", "1"},
      {"boxes[1].tag", "0 '\\0'"},
      {"xp->y", "300"},
      {"(*xp).x", "-3"},
      {"xp[0].y - xp->x", "303"},
      {"*xp", "{x = -3, y = 300}"},
      {"greeting[1]", "101 'e'"},
      {"*greeting == 'h'", "1"},
      {"ready", "1"},
      {"!ready", "0"},
      {"ready + 1", "2"},
      {"visits", "1 '\\x01'"},
      {"_letter", "111 'o'"},  // the linker's spelling
      // Locals of the frame: parameters on the stack through _bp.
      {"k * k", "9"},
      {"p->x * k", "18"},
      {"p->y", "9"},
      {"k > 2 && p->x == 6", "1"},
      {"-k", "-3"},
      {"s", "unavailable: its registers (r6 r7 r5 r4) hold another value here"},
      {"s + 1", "unavailable: its registers (r6 r7 r5 r4) hold another value here"},
      {"sizeof s", "4"},  // the size is known though the value is not
      // Errors name the offending token.
      {"1 +", "error: an operand is missing after '+' at column 3"},
      {"nosuch + 1",
       "error: unknown variable 'nosuch' (column 1): no variable or function 'nosuch' is in scope "
       "here"},
      {"k.", "error: a member name must follow '.' at column 2"},
      {"p.x",
       "error: 'x' at column 3: the left side is a pointer (struct point *); write -> instead of "
       "."},
      {"k->x", "error: '->' at column 2 needs a pointer to a structure, not int"},
      {"boxes[0].nope", "error: struct box has no member 'nope' at column 10"},
      {"1 / 0", "error: division by zero at '/' at column 3"},
      {"(k", "error: expected ')' for the '(' at column 1, found the end"},
      {"k @ 2", "error: unexpected character '@' at column 3"},
      {"1 << 16", "error: the shift count 16 of '<<' at column 3 is outside 0..15 for int"},
      {"*k", "error: '*' at column 1: only a pointer can be dereferenced, not int"},
      {"&1", "error: '&' needs an object, not the value of '1' at column 2"},
      {"fact(1)", "error: function calls are not supported at column 5"},
      {"k++", "error: '++' at column 2 is not supported: write x = x + 1"},
      {"$zz", "error: unknown register '$zz' (registers are $a $b $r0..$r7 $sp $dptr $pc $psw)"},
      {"table + ratio",
       "error: invalid operands to '+' at column 7 (unsigned char __data * and float)"},
      {"", "error: an expression is missing"},
  };
  for (const auto& c : cases) EXPECT_EQ(s.Text(c.expression), c.text) << c.expression;
  // Pointers show their space; a char pointer its string; a function its name.
  EXPECT_EQ(s.Text("greeting").rfind("code:0x", 0), 0u);
  EXPECT_NE(s.Text("greeting").find(" \"hello\""), std::string::npos) << s.Text("greeting");
  EXPECT_EQ(s.Text("xp").rfind("xdata:0x", 0), 0u) << s.Text("xp");
  EXPECT_EQ(s.Text("p").rfind("data:0x", 0), 0u) << s.Text("p");
  EXPECT_EQ(s.Text("&boxes[1]").rfind("data:0x", 0), 0u);
  EXPECT_NE(s.Text("fact").find("<fact>"), std::string::npos) << s.Text("fact");
  EXPECT_EQ(s.Text("(char *)xp"), s.Text("xp"));  // the space is kept; bytes are no string
  EXPECT_EQ(s.Text("(__xdata struct point *)(char *)xp == xp"), "1");
}

// A register name is never a C name, and a C name is never a register: a
// parameter called a or b is the parameter.
TEST(Evaluator, NamesAndRegisters) {
  Stopped s("shapes.c", "sum3");
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.Text("b"), "9");
  EXPECT_EQ(s.Text("c"), "3");
  EXPECT_EQ(s.Text("a"), "unavailable: its registers (r6 r7) hold another value here");
  EXPECT_EQ(s.Text("$a"), std::to_string(s.run.cpu.A()));
  EXPECT_EQ(s.Text("$b"), std::to_string(s.run.cpu.ReadSfr(0xF0)));
  EXPECT_EQ(s.Text("$r6"), std::to_string(s.run.cpu.R(6)));
  EXPECT_EQ(s.Text("$dptr"), std::to_string(s.run.cpu.Dptr()));
  EXPECT_EQ(s.Text("$pc"), std::to_string(s.run.cpu.pc));
  EXPECT_EQ(s.Text("$SP"), std::to_string(s.run.cpu.Sp()));
  // In the caller's frame: its own parameter k, and its SP above the call.
  EXPECT_EQ(s.Text("k", 1), "3");
  EXPECT_EQ(s.Text("b", 1),
            "error: unknown variable 'b' (column 1): no variable or function 'b' is in scope here");
  EXPECT_EQ(s.Text("$pc", 1), std::to_string(s.run.shadow.back().pc));
  EXPECT_EQ(s.Text("$sp", 1), std::to_string(s.run.shadow.back().Sp()));
}

TEST(Evaluator, AssignmentsWriteTheTarget) {
  Stopped s("shapes.c", "scaled");
  ASSERT_TRUE(s.ok);
  const struct {
    const char* assignment;
    const char* result;  // the object read back, or the error
    const char* check;   // then this expression
    const char* value;
  } cases[] = {
      {"k = 7", "7", "k * 2", "14"},
      {"p->x = -5", "-5", "q.x",
       "error: unknown variable 'q' (column 1): no variable or function 'q' is in scope here"},
      {"boxes[0].level = 6", "6", "boxes[0].wide", "1"},
      {"boxes[0].wide = 0", "0", "boxes[0].level", "6"},
      {"ready = 0", "0", "ready", "0"},
      {"ready = 5", "1", "ready", "1"},
      {"letter = 'A'", "65 'A'", "letter", "65 'A'"},
      {"ratio = 2.25", "2.25", "ratio * 2", "4.5"},
      {"big += 1", "-99999", "big", "-99999"},
      {"table[1] = 300", "44 ','", "table[1]", "44 ','"},
      {"xp->y = xp->y * 2", "600", "xpts[1].y", "600"},
      {"xp = &xpts[2]", "", "xp - &xpts[0]", "2"},
      {"boxes[1].corner[0] = boxes[0].corner[1]", "{x = 11, y = 7}", "boxes[1].corner[0].y", "7"},
      {"$a = 0x5A", "90", "$a", "90"},
      {"$dptr = 0x1234", "4660", "$dptr", "4660"},
      {"s = 1", "error: cannot set s: its registers (r6 r7 r5 r4) hold another value here", "s",
       "unavailable: its registers (r6 r7 r5 r4) hold another value here"},
      {"squares[0] = 1",
       "error: cannot set squares[0]: it lives in code memory, which the program cannot change "
       "(write code:ADDR changes code)",
       "squares[0]", "0 '\\0'"},
      {"table = 1",
       "error: the left side of '=' at column 7 is unsigned char [8], which cannot be set as a "
       "whole",
       "table[0]", "0 '\\0'"},
      {"5 = k", "error: the left side of '=' at column 3 is not an object that can be set", "k",
       "7"},
      {"boxes[0] = 1", "error: cannot convert int to struct box ('=' at column 10)", "k", "7"},
  };
  for (const auto& c : cases) {
    const std::string r = s.Text(c.assignment);
    if (std::string(c.result).empty()) {
      EXPECT_EQ(r.rfind("error", 0), std::string::npos) << c.assignment << ": " << r;
    } else {
      EXPECT_EQ(r, c.result) << c.assignment;
    }
    EXPECT_EQ(s.Text(c.check), c.value) << c.assignment << " then " << c.check;
  }
  // The writes are in the target itself.
  EXPECT_EQ(s.run.cpu.A(), 0x5A);
  EXPECT_EQ(s.run.cpu.Dptr(), 0x1234);
  EXPECT_EQ(s.Text("q.x", 1), "-5");
}

// A caller's variable is written through the copy its frame will get back
// (the PUSH before the call); one whose register the called code reused is
// refused instead of writing the callee's register.
TEST(Evaluator, CallerFrameWrites) {
  Stopped s("frames.c", "fact_base");
  ASSERT_TRUE(s.ok);
  const std::uint8_t r6 = s.run.cpu.R(6);
  EXPECT_EQ(s.Text("n", 1), "2");
  EXPECT_EQ(s.Text("n = 9", 1), "9");
  EXPECT_EQ(s.Text("n", 1), "9");
  EXPECT_EQ(s.Text("n", 0), "1");  // the callee's own n is untouched
  EXPECT_EQ(s.run.cpu.R(6), r6);   // and so is its register
  EXPECT_EQ(s.Text("r = 3", 1),
            "error: cannot set r: kept in registers, which the called code has reused");
  EXPECT_EQ(s.run.cpu.R(6), r6);
  EXPECT_EQ(s.Text("$r4 = 1", 1),
            "error: cannot set $r4: kept in registers, which the called code has reused");
  EXPECT_EQ(s.Text("$r6", 1), "9");  // n's low byte, saved by the caller's PUSH
  // fact(2) returns 9 * fact(1) once the run goes on: the write took.
  ASSERT_TRUE(s.run.RunTo(LineOf(s.symbols, "frames.c", "depth_test"), 1));
  EXPECT_EQ(s.Text("v", 1), "unavailable: kept in registers, which the called code has reused");
  std::int32_t v = 0;
  const auto truth = *s.symbols.FindVariable("truth")->address;
  for (int i = 3; i >= 0; --i) v = v << 8 | s.run.cpu.xdata[truth + 8 + static_cast<unsigned>(i)];
  EXPECT_EQ(v, 4 * 3 * 9);  // truth[2] = fact(4) with fact(2)'s n set to 9
}

// sbits and bits are read and written through the byte that holds them; the
// byte's other bits stay as they are.
TEST(Evaluator, BitsThroughTheirBytes) {
  Stopped s("frames.c", "spin", 2);
  ASSERT_TRUE(s.ok);
  const struct {
    const char* expression;
    const char* text;
  } cases[] = {
      {"EA", "1"},
      {"ET0", "1"},
      {"TR0", "1"},
      {"P1", "255 '\\xFF'"},
      {"P1_0 = 0", "0"},
      {"P1", "254 '\\xFE'"},
      {"P1_3 = 5", "1"},  // a bit is 0 or 1: C's conversion to _Bool
      {"P1_0 + P1_1 + P1_2", "2"},
      {"ready = !ready", "0"},
      {"ready", "0"},
      {"ready = 1", "1"},
      {"&ready", "error: 'ready' at column 2 is a bit, which has no address a pointer can hold"},
  };
  for (const auto& c : cases) EXPECT_EQ(s.Text(c.expression), c.text) << c.expression;
  EXPECT_EQ(s.run.cpu.ReadSfr(0x90), 0xFE);
  EXPECT_EQ(s.run.cpu.ReadSfr(0xA8) & 0x82, 0x82);  // EA and ET0 as they were
}

}  // namespace
}  // namespace kz51::debug::test
