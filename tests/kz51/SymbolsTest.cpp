// The symbol readers: Intel HEX with its checks, the .cdb type chains and
// records, and the whole symbol set of the example program that sdcc wrote
// during the build (C line to address and back for every line record).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "symbols/Cdb.h"
#include "symbols/IntelHex.h"
#include "symbols/Symbols.h"

namespace {

using namespace kz51;

const std::string kExampleDir = std::string(KZ_OUT_DIR) + "/examples/checksum/";

TEST(IntelHex, MergesRecordsAndFollowsExtendedAddresses) {
  const std::string text =
      ":0300000002000CEF\n"
      ":03000300AABBCCC9\n"
      ":020000040001F9\n"
      ":01001000559G\n";
  HexImage image;
  std::string error;
  // A letter beyond F in the last record.
  EXPECT_FALSE(ParseIntelHex(text + ":00000001FF\n", "a.ihx", image, error));
  EXPECT_EQ(error, "a.ihx:4: '9G' is not a hex byte");
  const std::string good =
      ":0300000002000CEF\n:03000300AABBCCC9\n:020000040001F9\n:01001000559A\n:00000001FF\r\n";
  ASSERT_TRUE(ParseIntelHex(good, "a.ihx", image, error)) << error;
  ASSERT_EQ(image.segments.size(), 2u);
  EXPECT_EQ(image.segments[0].address, 0u);
  EXPECT_EQ(image.segments[0].bytes,
            (std::vector<std::uint8_t>{0x02, 0x00, 0x0C, 0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(image.segments[1].address, 0x10010u);
  EXPECT_EQ(image.ByteCount(), 7u);
  EXPECT_EQ(image.High(), 0x10010u);
}

TEST(IntelHex, EveryFaultNamesTheFileAndLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {":0300000002000CEE\n:00000001FF\n",
       "p.ihx:1: bad checksum EEh (the record's bytes give EFh)"},
      {":00000001FF\n:0300000002000CEF\n", "p.ihx:2: data after the end-of-file record"},
      {"0300000002000CEF\n", "p.ihx:1: a record must start with ':'"},
      {":0300000002000CEF\n:00000007F9\n", "p.ihx:2: unknown record type 07h"},
      {":0400000002000CEF\n", "p.ihx:1: record length 4 does not match its 3 data bytes"},
      {":0300000002000CE\n", "p.ihx:1: record too short or with an odd number of hex digits"},
      {":0300000002000CEF\n", "p.ihx: no end-of-file record (the file is cut short)"},
      {":01000001FE00\n", "p.ihx:1: end-of-file record with data"},
  };
  for (const auto& c : cases) {
    HexImage image;
    std::string error;
    EXPECT_FALSE(ParseIntelHex(c.text, "p.ihx", image, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(Cdb, TypeChains) {
  const struct {
    const char* text;
    const char* described;
    bool integer, array, pointer;
    unsigned elementSize;
  } cases[] = {
      {"{1}SC:U", "unsigned char", true, false, false, 0},
      {"{2}SI:S", "int", true, false, false, 0},
      {"{4}SL:U", "unsigned long", true, false, false, 0},
      {"{16}DA16d,SC:U", "unsigned char [16]", false, true, false, 1},
      {"{8}DA4d,SI:S", "int [4]", false, true, false, 2},
      {"{3}DG,SC:U", "unsigned char *", false, false, true, 1},
      {"{2}DX,SI:S", "int __xdata *", false, false, true, 2},
      {"{3}STstats:S", "struct stats", false, false, false, 0},
      {"{2}DF,SV:S", "void ()", false, false, false, 0},
      {"{1}SB3$2:U", "unsigned int :2", true, false, false, 0},
  };
  for (const auto& c : cases) {
    const cdb::Type t = cdb::ParseType(c.text);
    EXPECT_EQ(t.Describe(), c.described) << c.text;
    EXPECT_EQ(t.IsInteger(), c.integer) << c.text;
    EXPECT_EQ(t.IsArray(), c.array) << c.text;
    EXPECT_EQ(t.IsPointer(), c.pointer) << c.text;
    if (c.elementSize != 0) {
      EXPECT_EQ(t.Element().size, c.elementSize) << c.text;
    }
  }
}

TEST(Cdb, RecordsOfEveryKind) {
  const std::string text =
      "M:prog\n"
      "F:G$add$0_0$0({2}DF,SI:S),C,0,0,0,0,0\n"
      "F:Fprog$isr$0_0$0({2}DF,SV:S),C,0,0,1,3,2\n"
      "T:Fprog$pt[({0}S:S$x$0_0$0({1}SC:S),Z,0,0)({1}S:S$next$0_0$0({3}DG,STpt:S),Z,0,0)]\n"
      "S:G$g$0_0$0({2}SI:S),E,0,0\n"
      "S:Fprog$counter$0_0$0({4}SL:U),F,0,0\n"
      "S:Lprog.add$a$1_0$1({2}SI:S),B,1,-4\n"
      "S:Lprog.add$sum$1_0$2({2}SI:S),R,0,0,[r6,r7]\n"
      "L:G$add$0$0:100\n"
      "L:XG$add$0$0:11F\n"
      "L:Fprog$isr$0$0:120\n"
      "L:XFprog$isr$0$0:12A\n"
      "L:G$g$0_0$0:30\n"
      "L:Fprog$counter$0_0$0:200\n"
      "L:Lprog.add$tmp$1_0$2:3A\n"
      "L:C$prog.c$5$1_0$1:100\n"
      "L:C$prog.c$6$1_0$1:104\n"
      "L:A$prog$77:104\n"
      "junk\n";
  int skipped = 0;
  const cdb::File f = cdb::Parse(text, &skipped);
  EXPECT_EQ(skipped, 1);
  ASSERT_EQ(f.modules, std::vector<std::string>{"prog"});
  ASSERT_EQ(f.functions.size(), 2u);
  EXPECT_EQ(f.functions[0].name, "add");
  EXPECT_EQ(*f.functions[0].start, 0x100u);
  EXPECT_EQ(*f.functions[0].end, 0x11Fu);
  EXPECT_TRUE(f.functions[1].isStatic && f.functions[1].isInterrupt);
  EXPECT_EQ(f.functions[1].interruptNumber, 3);
  EXPECT_EQ(f.functions[1].registerBank, 2);
  EXPECT_EQ(*f.functions[1].start, 0x120u);
  ASSERT_NE(f.FindStruct("pt"), nullptr);
  ASSERT_EQ(f.FindStruct("pt")->members.size(), 2u);
  EXPECT_EQ(f.FindStruct("pt")->members[1].offset, 1u);
  EXPECT_EQ(f.FindStruct("pt")->members[1].type.Describe(), "struct pt *");
  ASSERT_EQ(f.variables.size(), 5u);
  const auto& g = f.variables[0];
  EXPECT_EQ(g.scope.kind, cdb::ScopeKind::Global);
  EXPECT_EQ(*g.address, 0x30u);
  const auto& counter = f.variables[1];
  EXPECT_EQ(counter.scope.kind, cdb::ScopeKind::File);
  EXPECT_EQ(counter.space, cdb::Space::Xdata);
  EXPECT_EQ(*counter.address, 0x200u);
  const auto& a = f.variables[2];
  EXPECT_EQ(a.scope.function, "add");
  EXPECT_EQ(a.scope.level, 1u);
  EXPECT_TRUE(a.onStack);
  EXPECT_EQ(a.stackOffset, -4);
  const auto& sum = f.variables[3];
  EXPECT_EQ(sum.space, cdb::Space::Register);
  EXPECT_EQ(sum.registers, (std::vector<std::string>{"r6", "r7"}));
  EXPECT_EQ(sum.scope.block, 2u);    // the number after level_sublevel
  const auto& tmp = f.variables[4];  // known only from the linker
  EXPECT_TRUE(tmp.fromLinkerOnly);
  EXPECT_EQ(tmp.scope.function, "add");
  EXPECT_EQ(*tmp.address, 0x3Au);
  ASSERT_EQ(f.lines.size(), 2u);
  EXPECT_EQ(f.lines[1].line, 6u);
  EXPECT_EQ(f.lines[1].address, 0x104u);
  ASSERT_EQ(f.asmLines.size(), 1u);
  EXPECT_EQ(f.asmLines[0].line, 77u);
}

TEST(Symbols, Numbers) {
  const struct {
    const char* text;
    bool ok;
    std::uint32_t value;
  } cases[] = {{"0x1234", true, 0x1234}, {"1234h", true, 0x1234}, {"0FD00H", true, 0xFD00},
               {"4660", true, 4660},     {"FD00h", false, 0},     {"0x", false, 0},
               {"12ab", false, 0},       {"", false, 0},          {"0x1FFFFFFFF", false, 0}};
  for (const auto& c : cases) {
    std::uint32_t v = 0;
    EXPECT_EQ(ParseNumber(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

class ExampleSymbols : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kExampleDir + "checksum.cdb"))
        << "the build writes the example with sdcc";
    files_ = symbols_.LoadBeside(kExampleDir + "checksum.ihx");
  }
  Symbols symbols_;
  std::vector<std::string> files_;
};

TEST_F(ExampleSymbols, ReadsTheFilesBesideTheProgram) {
  std::set<std::string> names;
  for (const auto& f : files_) names.insert(std::filesystem::path(f).filename().string());
  EXPECT_EQ(names,
            (std::set<std::string>{"checksum.map", "checksum.cdb", "checksum.rst", "util.rst"}));
  EXPECT_EQ(symbols_.Cdb().modules, (std::vector<std::string>{"checksum", "util"}));
}

TEST_F(ExampleSymbols, EveryLineRecordMapsToItsAddressAndBack) {
  const auto& lines = symbols_.Cdb().lines;
  ASSERT_GT(lines.size(), 20u);
  for (const auto& r : lines) {
    const auto addresses = symbols_.AddressesOfLine(r.file, r.line);
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), r.address), addresses.end())
        << r.file << ":" << r.line;
    EXPECT_TRUE(symbols_.IsLineStart(r.address));
    // Back: the line shown at the address is one whose records include it
    // (two lines can start at one address, e.g. a function's brace and its
    // first statement).
    const auto back = symbols_.LineAt(r.address);
    ASSERT_TRUE(back.has_value()) << r.file << ":" << r.line;
    const auto backAddresses = symbols_.AddressesOfLine(back->file, back->line);
    EXPECT_NE(std::find(backAddresses.begin(), backAddresses.end(), r.address), backAddresses.end())
        << r.file << ":" << r.line << " came back as " << back->file << ":" << back->line;
    // Every address inside the line's code shows a line of the same file.
    EXPECT_EQ(symbols_.LineAt(r.address)->file, r.file);
    // The location text resolves to the line's first address.
    std::uint32_t resolved = 0;
    std::string error;
    ASSERT_TRUE(symbols_.ResolveCode(r.file + ":" + std::to_string(r.line), resolved, error));
    EXPECT_EQ(resolved, addresses.front());
  }
}

TEST_F(ExampleSymbols, FunctionsAndVariablesAgreeWithTheLinkerMap) {
  auto mapValue = [&](const std::string& name) -> std::int64_t {
    for (const auto& s : symbols_.MapSymbols())
      if (s.name == name) return s.value;
    return -1;
  };
  for (const char* fn : {"main", "done", "fill", "checksum"}) {
    const auto* f = symbols_.FindFunction(fn);
    ASSERT_NE(f, nullptr) << fn;
    ASSERT_TRUE(f->start && f->end) << fn;
    EXPECT_LT(*f->start, *f->end) << fn;
    if (std::string(fn) != "fill") {  // static: not in the map
      EXPECT_EQ(*f->start, mapValue(std::string("_") + fn)) << fn;
    }
    EXPECT_EQ(symbols_.FunctionAt(*f->end), f);
    std::uint32_t a = 0, b = 0;
    std::string error;
    ASSERT_TRUE(symbols_.ResolveCode(fn, a, error));
    ASSERT_TRUE(symbols_.ResolveCode(std::string("_") + fn, b, error));
    EXPECT_EQ(a, *f->start);
    EXPECT_EQ(b, *f->start);
  }
  const struct {
    const char* name;
    const char* type;
    cdb::Space space;
  } globals[] = {{"buffer", "unsigned char [16]", cdb::Space::Data},
                 {"result", "unsigned int", cdb::Space::Data},
                 {"last", "struct stats", cdb::Space::Data},
                 {"log", "unsigned char [4]", cdb::Space::Xdata}};
  for (const auto& g : globals) {
    const auto* v = symbols_.FindVariable(g.name);
    ASSERT_NE(v, nullptr) << g.name;
    EXPECT_EQ(v->type.Describe(), g.type) << g.name;
    EXPECT_EQ(v->space, g.space) << g.name;
    ASSERT_TRUE(v->address) << g.name;
    EXPECT_EQ(*v->address, mapValue(std::string("_") + g.name)) << g.name;
  }
  // main's local in a register, found from inside main only.
  const auto* main = symbols_.FindFunction("main");
  const auto* round = symbols_.FindVariable("round", *main->start + 2);
  ASSERT_NE(round, nullptr);
  EXPECT_EQ(round->space, cdb::Space::Register);
  EXPECT_EQ(round->registers.size(), 1u);
  EXPECT_EQ(symbols_.FindVariable("round"), nullptr);
  const auto* stats = symbols_.Cdb().FindStruct("stats");
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->members.size(), 2u);
}

TEST_F(ExampleSymbols, DescribesAddressesAndInstructions) {
  const auto* done = symbols_.FindFunction("done");
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(symbols_.Describe(*done->start), "done");
  EXPECT_EQ(symbols_.InstructionAt(*done->start), "sjmp 00102$");
  const auto* fill = symbols_.FindFunction("fill");
  EXPECT_EQ(symbols_.Describe(*fill->start + 2), "fill+0x2");
  std::uint32_t a = 0;
  std::string error;
  EXPECT_FALSE(symbols_.ResolveCode("nosuch", a, error));
  EXPECT_EQ(error, "unknown symbol 'nosuch'");
  EXPECT_FALSE(symbols_.ResolveCode("checksum.c:999", a, error));
  EXPECT_EQ(error, "no code at or after line 999 of checksum.c");
  EXPECT_FALSE(symbols_.ResolveCode("other.c:3", a, error));
  EXPECT_FALSE(symbols_.ResolveCode("0x10000", a, error));
  // A line without code resolves to the next line that has some.
  std::string where;
  ASSERT_TRUE(symbols_.ResolveCode("checksum.c:1", a, error, &where));
  EXPECT_EQ(where, "checksum.c:15");
}

}  // namespace
