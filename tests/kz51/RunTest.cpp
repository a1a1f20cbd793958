// kz51 run, run as a program against libkz51.so and the virtual emulator:
// exit statuses, the UART output, and the coverage, profile and JUnit files
// read back by the tools CI uses (lcov, genhtml, callgrind_annotate, python's
// XML parser).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::string kBin = KZ_OUT_DIR;
const std::string kPrograms = KZ_RUN_PROGRAMS;
const std::string kCounts = kPrograms + "/counts.ihx";
const std::string kForever = kPrograms + "/forever.ihx";
const std::string kUnitTests = kBin + "/examples/unit-test";

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

using kz::fake::TempDir;

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome Shell(const std::string& command) {
  TempDir tmp;
  const std::string cmd =
      command + " </dev/null >" + Quote(tmp / "out") + " 2>" + Quote(tmp / "err");
  Outcome r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadText(tmp / "out");
  r.err = ReadText(tmp / "err");
  return r;
}

// `kz51 run ARGS` from `bin` (the build's, or a copy), KZ51_EMU set to `emu`.
Outcome Kz51Run(const std::vector<std::string>& args, const std::string& emu = "",
                const std::string& bin = kBin) {
  std::string cmd = "cd " + Quote(bin) + " && ";
  cmd += emu.empty() ? "env -u KZ51_EMU" : "env KZ51_EMU=" + Quote(emu);
  cmd += " timeout 60 ./kz51 run";
  for (const auto& a : args) cmd += " " + Quote(a);
  return Shell(cmd);
}

// lcov's view of a tracefile: "file:function" -> FNDA, "file:line" -> DA.
std::map<std::string, std::uint64_t> ReadLcov(const std::string& text) {
  std::map<std::string, std::uint64_t> out;
  std::string file;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SF:", 0) == 0) file = fs::path(line.substr(3)).filename().string();
    if (line.rfind("FNDA:", 0) == 0) {
      const auto comma = line.find(',');
      out[file + ":" + line.substr(comma + 1)] += std::stoull(line.substr(5, comma - 5));
    }
    if (line.rfind("DA:", 0) == 0) {
      const auto comma = line.find(',');
      out[file + ":" + line.substr(3, comma - 3)] += std::stoull(line.substr(comma + 1));
    }
  }
  return out;
}

// The line of `file` holding `marker`.
int LineOf(const std::string& file, const std::string& marker) {
  std::istringstream in(ReadText(file));
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    ++n;
    if (line.find(marker) != std::string::npos) return n;
  }
  return 0;
}

// Exit statuses: the status of each program, the first nonzero one of
// several, and one sentence on stderr for each failure.
TEST(Kz51Run, ExitStatuses) {
  TempDir tmp;
  const std::string bad = tmp / "bad.ihx";
  std::ofstream(bad) << ":10000000GARBAGE\n";
  fs::copy_file(kCounts, tmp / "nocdb.ihx");  // without its .cdb: no main to return from
  struct Row {
    std::vector<std::string> args;
    std::string emu;
    int status;
    std::string says;  // on stderr
  };
  const std::vector<Row> rows = {
      {{kCounts}, "", 0, ""},
      {{"--until", "sum_to", kCounts}, "", 0, ""},
      {{"--until", "counts.c:40", "--timeout", "5", kCounts}, "", 0, ""},
      {{"--timeout", "0.3", kForever}, "", 124, "timed out after 0.3 s; the target was stopped at"},
      {{"--max-cycles", "5000", kForever},
       "",
       124,
       "used its 5000 machine cycles without reaching"},
      {{kCounts, kCounts, "--timeout", "0.3", kForever, bad}, "", 124, "timed out"},
      {{bad, "--timeout", "0.3", kForever}, "", 1, "bad.ihx"},
      {{}, "", 1, "no program was given"},
      {{tmp / "missing.ihx"}, "", 1, "cannot open"},
      {{tmp / "nocdb.ihx"}, "", 1, "has no main to return from"},
      {{"--until", "nosuch", kCounts}, "", 1, "--until: unknown symbol 'nosuch'"},
      {{"--timeout", "0", kCounts}, "", 1, "--timeout"},
      {{"--bogus", kCounts}, "", 1, "--bogus"},
      {{kCounts}, "fault=silent", 1, "no emulator answered"},
      {{"--exit-code", "status", kCounts}, "", 0, ""},
      {{"--exit-code", "status + 3", kCounts}, "", 3, "--exit-code 'status + 3' is 3 at "},
      {{"--exit-code", "total", kCounts}, "", 58, "is 58"},
      {{"--exit-code", "-(int)total", kCounts}, "", 198, "is -58"},
      {{"--exit-code", "total + 198", kCounts}, "", 1, "is 256 at"},
      {{"--exit-code", "total * 1.5", kCounts}, "", 1, "not an integer"},
      {{"--exit-code", "nosuch", kCounts}, "", 1, "no variable or function 'nosuch'"},
      {{"--exit-code", "1 +", kCounts}, "", 1, "--exit-code '1 +': an operand is missing"},
  };
  for (const Row& row : rows) {
    std::string what;
    for (const auto& a : row.args) what += " " + a;
    SCOPED_TRACE(what + " " + row.emu);
    const Outcome r = Kz51Run(row.args, row.emu);
    EXPECT_EQ(r.status, row.status) << r.err;
    if (row.says.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("kz51 run: "), std::string::npos) << r.err;
    }
  }
}

// The target's UART output goes to standard output as it arrives, or to the
// --uart file instead.
TEST(Kz51Run, UartOutput) {
  TempDir tmp;
  EXPECT_EQ(Kz51Run({kCounts}).out, "ok\n");
  EXPECT_EQ(Kz51Run({"--uart", "-", kCounts, kCounts}).out, "ok\nok\n");
  const Outcome r = Kz51Run({"--uart", tmp / "uart.txt", kCounts});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadText(tmp / "uart.txt"), "ok\n");
  // The emulator's own serial_out setting is followed, not replaced.
  const Outcome own = Kz51Run({kCounts}, "serial_out=" + tmp / "own.txt");
  EXPECT_EQ(own.out, "ok\n");
  EXPECT_EQ(ReadText(tmp / "own.txt"), "ok\n");
}

// Coverage counts line and function entries: known counts of a known
// program, a tracefile lcov and genhtml read without complaint.
TEST(Kz51Run, CoverageCountsEntries) {
  TempDir tmp;
  const std::string info = tmp / "coverage.info";
  const Outcome r = Kz51Run({"--coverage", info, kCounts});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = ReadText(info);
  const std::string source = fs::path(KZ_SOURCE_DIR) / "tests/kz51/programs/counts.c";
  EXPECT_NE(text.find("SF:" + source + "\n"), std::string::npos) << text;
  const auto c = ReadLcov(text);
  const std::map<std::string, std::uint64_t> want = {
      {"counts.c:square", 5},
      {"counts.c:never", 0},
      {"counts.c:twice", 2},  // through a function pointer
      {"counts.c:sum_to", 1},
      {"counts.c:main", 1},
      {"counts.c:" + std::to_string(LineOf(source, "@loop-body")), 7},
      {"counts.c:" + std::to_string(LineOf(source, "return x + 1;")), 0},
      {"counts.c:" + std::to_string(LineOf(source, "return (unsigned int)x * x;")), 5},
      // Where the run stopped, at main's return, execution arrived.
      {"counts.c:" + std::to_string(LineOf(source, "status = total") + 1), 1},
  };
  for (const auto& [key, n] : want) {
    ASSERT_EQ(c.count(key), 1u) << key << "\n" << text;
    EXPECT_EQ(c.at(key), n) << key;
  }
  const Outcome summary = Shell("lcov --summary " + Quote(info));
  EXPECT_EQ(summary.status, 0) << summary.err;
  EXPECT_EQ(summary.err.find("WARNING"), std::string::npos) << summary.err;
  EXPECT_NE((summary.out + summary.err).find("functions..: 83.3% (5 of 6 functions)"),
            std::string::npos)
      << summary.out << summary.err;
  const Outcome html = Shell("genhtml -q -o " + Quote(tmp / "html") + " " + Quote(info));
  EXPECT_EQ(html.status, 0) << html.err;
  EXPECT_EQ(html.err, "");
  EXPECT_TRUE(fs::exists(tmp.Path() / "html/index.html"));
}

// Coverage of several programs, and of several runs into one file, adds up;
// a file that is not a tracefile is refused and left as it is.
TEST(Kz51Run, CoverageMerges) {
  TempDir tmp;
  const std::string info = tmp / "unit.info";
  const std::string ring = kUnitTests + "/test_ring/test_ring.ihx";
  const std::string crc = kUnitTests + "/test_crc8/test_crc8.ihx";
  ASSERT_EQ(Kz51Run({"--until", "check_end", "--coverage", info, ring, crc}).status, 0);
  auto c = ReadLcov(ReadText(info));
  EXPECT_EQ(c["check.c:check_init"], 2u);  // once in each program
  EXPECT_EQ(c["crc8.c:crc8"], 3u);         // linked into both, called by one
  EXPECT_EQ(c["ring.c:ring_init"], 3u);
  ASSERT_EQ(Kz51Run({"--until", "check_end", "--coverage", info, crc}).status, 0);
  c = ReadLcov(ReadText(info));
  EXPECT_EQ(c["check.c:check_init"], 3u);
  EXPECT_EQ(c["crc8.c:crc8"], 6u);
  EXPECT_EQ(c["ring.c:ring_init"], 3u);
  EXPECT_EQ(Shell("lcov --summary " + Quote(info)).status, 0);

  const std::string notes = tmp / "notes.txt";
  std::ofstream(notes) << "my notes\n";
  const Outcome r = Kz51Run({"--coverage", notes, kCounts});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is not an lcov tracefile"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(notes), "my notes\n");
}

// The profile: cycles and instructions per function and line with the call
// edges, read by callgrind_annotate; its total is exactly what --max-cycles
// allows.
TEST(Kz51Run, ProfileAndCycleLimit) {
  TempDir tmp;
  const std::string out = tmp / "callgrind.out";
  ASSERT_EQ(Kz51Run({"--profile", out, kCounts}).status, 0);
  const std::string text = ReadText(out);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, std::regex("summary: (\\d+) (\\d+)"))) << text;
  const std::uint64_t cycles = std::stoull(m[1]);
  EXPECT_GT(std::stoull(m[2]), 100u);
  // square is called 5 times from one line of main.
  EXPECT_TRUE(std::regex_search(text, std::regex("cfn=\\(\\d+\\) square\ncalls=5 "))) << text;
  for (const char* options : {"", "--inclusive=yes --tree=caller"}) {
    const Outcome a = Shell(std::string("callgrind_annotate ") + options + " " + Quote(out));
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(a.err, "");  // no "WARNING: line N malformed"
    EXPECT_NE(a.out.find("counts.c:square"), std::string::npos) << a.out;
    EXPECT_NE(a.out.find("PROGRAM TOTALS"), std::string::npos);
  }
  EXPECT_EQ(Kz51Run({"--max-cycles", std::to_string(cycles), kCounts}).status, 0);
  EXPECT_EQ(Kz51Run({"--max-cycles", std::to_string(cycles - 1), kCounts}).status, 124);
}

// One testcase per program with its time, a failure with the reason, and
// the UART output; python's XML parser reads it.
TEST(Kz51Run, JUnitReport) {
  TempDir tmp;
  const std::string xml = tmp / "junit.xml";
  const Outcome r = Kz51Run({"--junit", xml, "--timeout", "0.3", kCounts, kForever});
  EXPECT_EQ(r.status, 124);
  const std::string script =
      "import sys, xml.etree.ElementTree as E\n"
      "for c in E.parse(sys.argv[1]).getroot().iter('testcase'):\n"
      "  f = c.find('failure')\n"
      "  print(c.get('name'), float(c.get('time')) >= 0, f.get('type') if f is not None else "
      "'ok',\n"
      "        repr(c.find('system-out').text))\n";
  std::ofstream(tmp / "read.py") << script;
  const Outcome p = Shell("python3 " + Quote(tmp / "read.py") + " " + Quote(xml));
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(p.out, kCounts + " True ok 'ok\\n'\n" + kForever + " True timeout None\n");
  EXPECT_NE(ReadText(xml).find("timed out after 0.3 s"), std::string::npos);
}

// A provider library without the counting entry points (as the hardware's
// has none): coverage, profile and cycle limit are refused at once, and the
// run itself works.
TEST(Kz51Run, ProviderWithoutCountsIsRefused) {
  TempDir tmp;
  for (const char* f : {"kz51", "libkz51.so", "KZ.MDB", "KZ.FMD"})
    fs::copy_file(fs::path(kBin) / f, tmp.Path() / f);
  fs::copy_file(fs::path(kBin) / "nocounts/libusbd12.so", tmp.Path() / "libusbd12.so");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--coverage", tmp / "c.info", kCounts},
        {"--profile", tmp / "p.out", kCounts},
        {"--max-cycles", "1000", kCounts}}) {
    const Outcome r = Kz51Run(args, "", tmp.Path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(args[0] + " needs the virtual emulator's counts, but the provider library "
                                   "libusbd12.so keeps no execution counts"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");  // nothing ran
  }
  EXPECT_FALSE(fs::exists(tmp.Path() / "c.info"));
  const Outcome r = Kz51Run({kCounts}, "", tmp.Path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "ok\n");
}

}  // namespace
