// kz51 in script mode, run as a program against libkz51.so and the virtual
// emulator (libusbd12.so): every command with its JSON result, and every
// error with its message and exit status.
#include <gtest/gtest.h>

#include "kz51/Kz51Process.h"

namespace {

using namespace kz51test;

const std::string kExample = kBin + "/examples/checksum/checksum.ihx";

TEST(Kz51Script, EveryCommandInOneSession) {
  const std::vector<std::string> commands = {
      "connect",
      "options",
      "load " + kExample,
      "symbols check",
      "break fill",
      "break util.c:7 count 3",
      "disable 2",
      "breaks",
      "go",
      "where",
      "regs",
      "print buffer",
      "set a 0x5A",
      "set rs 2",
      "regs",
      "set psw 0",
      "write xdata:0x100 DEADBEEF",
      "dump xdata:0x100 4",
      "write idata:0x90 0102",
      "dump idata:0x90 2",
      "dump sfr:0x81 1",
      "dump code:0x62 2",
      "write pdata:0x10 77",
      "write code:0x2000 A5C3",
      "dump code:0x2000 2",
      "dump pdata:0x10 1",
      "step",
      "stepi 2",
      "next",
      "delete 1",
      "enable 2",
      "go",
      "print result",
      "delete all",
      "go until done",
      "print result",
      "print last",
      "print log",
      "reset",
      "where",
      "help break",
      "quit",
      "regs",  // not run: quit ends the script
  };
  const Outcome r = Kz51(JsonCommands(commands));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.objects.size(), commands.size() - 1) << r.out;
  for (std::size_t i = 0; i < r.objects.size(); ++i) {
    EXPECT_EQ(r.objects[i]["command"], commands[i]);
    EXPECT_EQ(r.objects[i]["ok"], true) << r.objects[i].dump();
  }
  // The k-th result of a command (commands repeat: go, regs, ...).
  auto nth = [&](const std::string& command, int k) -> const Json& {
    for (const auto& o : r.objects)
      if (o["command"] == command && k-- == 0) return o;
    static const Json none;
    ADD_FAILURE() << "no result for " << command;
    return none;
  };
  auto at = [&](const std::string& command) -> const Json& { return nth(command, 0); };
  EXPECT_EQ(at("connect")["pod"], 1);
  EXPECT_EQ(at("options")["accepted"], false);  // no one answers the dialog here
  EXPECT_EQ(at("load " + kExample)["bytes"], 279);
  const Json& syms = at("symbols check")["symbols"];
  ASSERT_EQ(syms.size(), 1u);
  EXPECT_EQ(syms[0]["name"], "checksum");
  EXPECT_EQ(syms[0]["kind"], "function");
  const int fill = at("break fill")["address"];
  EXPECT_EQ(at("break util.c:7 count 3")["count"], 3);
  EXPECT_EQ(at("breaks")["breakpoints"][1]["enabled"], false);
  // The first go stops in fill, after its prologue has stored its
  // parameter (mov r7,dpl), at the first line of its body.
  EXPECT_EQ(nth("go", 0)["reason"], "breakpoint");
  EXPECT_EQ(nth("go", 0)["pc"], fill);
  EXPECT_EQ(nth("go", 0)["symbol"], "fill+0x2");
  EXPECT_EQ(nth("go", 0)["file"], "checksum.c");
  EXPECT_EQ(nth("go", 0)["line"], 22);
  EXPECT_EQ(at("where")["instruction"], "mov r6,#0x00");
  const Json& regs = nth("regs", 0);
  for (const char* name : {"r0",  "r1",   "r2", "r3", "r4", "r5", "r6", "r7", "a",  "b", "sp",
                           "psw", "dptr", "pc", "cy", "ac", "f0", "rs", "ov", "f1", "p"})
    EXPECT_TRUE(regs.contains(name)) << name;
  EXPECT_EQ(regs["pc"], fill);
  EXPECT_EQ(regs["a"], 1);  // fill's argument: round + 1
  EXPECT_EQ(at("print buffer")["values"].size(), 16u);
  const Json& regs2 = nth("regs", 1);
  EXPECT_EQ(regs2["a"], 0x5A);
  EXPECT_EQ(regs2["rs"], 2);
  EXPECT_EQ(regs2["psw"].get<int>() & 0x18, 0x10);
  EXPECT_EQ(at("dump xdata:0x100 4")["hex"], "DEADBEEF");
  EXPECT_EQ(at("dump xdata:0x100 4")["space"], "xdata");
  EXPECT_EQ(at("dump xdata:0x100 4")["address"], 0x100);
  EXPECT_EQ(at("dump xdata:0x100 4")["length"], 4);
  EXPECT_EQ(at("dump idata:0x90 2")["hex"], "0102");
  EXPECT_EQ(at("dump code:0x62 2")["hex"], "80FE");  // done: sjmp $
  EXPECT_EQ(at("dump pdata:0x10 1")["hex"], "77");
  EXPECT_EQ(at("dump code:0x2000 2")["hex"], "A5C3");
  EXPECT_EQ(at("step")["reason"], "step");
  EXPECT_EQ(at("step")["line"], 23);
  EXPECT_EQ(at("stepi 2")["reason"], "step");
  EXPECT_EQ(at("next")["reason"], "step");
  // Breakpoint 2 (util.c:7, the loop's body) acts on its third hit.
  const Json& go2 = nth("go", 1);
  EXPECT_EQ(go2["reason"], "breakpoint");
  EXPECT_EQ(go2["breakpoint"], 2);
  EXPECT_EQ(go2["file"], "util.c");
  EXPECT_EQ(go2["line"], 7);
  const Json& until = at("go until done");
  EXPECT_EQ(until["reason"], "until");
  EXPECT_EQ(until["symbol"], "done");
  EXPECT_EQ(nth("print result", 1)["value"], 392);
  EXPECT_EQ(at("print last")["members"]["count"], 2);
  EXPECT_EQ(at("print last")["members"]["total"], 392);
  EXPECT_EQ(at("print log")["values"], Json::parse("[120,136,0,0]"));
  EXPECT_EQ(at("reset")["pc"], 0);
  EXPECT_EQ(nth("where", 1)["pc"], 0);
}

// gdb's short forms run the same rows as the long names: the same session
// twice, once spelled each way, gives the same results.
TEST(Kz51Script, ShortFormsRunTheirCommands) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"connect", "connect"},
      {"load " + kExample, "load " + kExample},
      {"break fill", "b fill"},
      {"break done", "b done"},
      {"breaks", "info breakpoints"},
      {"breaks", "i b"},
      {"go", "c"},
      {"regs", "i r"},
      {"regs", "info registers"},
      {"print buffer", "p buffer"},
      {"step", "s"},
      {"next", "n"},
      {"stepi", "si"},
      {"finish", "fin"},
      {"delete 1", "d 1"},
      {"go", "continue"},
      {"help break", "help b"},
  };
  std::vector<std::string> longForms, shortForms;
  for (const auto& [l, s] : rows) {
    longForms.push_back(l);
    shortForms.push_back(s);
  }
  const Outcome a = Kz51(JsonCommands(longForms));
  const Outcome b = Kz51(JsonCommands(shortForms));
  ASSERT_EQ(a.status, 0) << a.out << a.err;
  ASSERT_EQ(b.status, 0) << b.out << b.err;
  ASSERT_EQ(a.objects.size(), rows.size());
  ASSERT_EQ(b.objects.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    Json x = a.objects[i], y = b.objects[i];
    EXPECT_EQ(y["command"], rows[i].second);
    x.erase("command");
    y.erase("command");
    EXPECT_EQ(x, y) << rows[i].first << " / " << rows[i].second;
  }
}

TEST(Kz51Script, BreakpointCommandsRunWhenTheBreakpointActs) {
  const Outcome r = Kz51(JsonCommands(
      {"connect", "load " + kExample, "break fill command print log", "break done", "go"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.objects.size(), 5u);
  const Json& go = r.objects[4];
  EXPECT_EQ(go["reason"], "breakpoint");
  EXPECT_EQ(go["symbol"], "done");
  // fill is entered twice: log shows the first round only the second time.
  ASSERT_EQ(go["commands"].size(), 2u) << go.dump();
  EXPECT_EQ(go["commands"][0]["command"], "print log");
  EXPECT_EQ(go["commands"][0]["values"], Json::parse("[0,0,0,0]"));
  EXPECT_EQ(go["commands"][1]["values"], Json::parse("[120,0,0,0]"));
}

TEST(Kz51Script, CountedBreakpointActsOnItsHit) {
  const Outcome r = Kz51(JsonCommands(
      {"connect", "load " + kExample, "break fill count 2", "go", "print log", "breaks"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.objects[4]["values"], Json::parse("[120,0,0,0]"));
  EXPECT_EQ(r.objects[5]["breakpoints"][0]["remaining"], 1);
}

TEST(Kz51Script, ScriptsAndCommandsRunInTheirOrder) {
  TempDir tmp;
  const fs::path script = tmp.Path() / "s.kz51";
  std::ofstream(script) << "# comment line\n\nconnect   # trailing comment\nload " << kExample
                        << "\n";
  const Outcome r = Kz51({"--json", "-c", "help quit", "-f", script.string(), "-c", "where"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.objects.size(), 4u);
  EXPECT_EQ(r.objects[0]["command"], "help quit");
  EXPECT_EQ(r.objects[1]["command"], "connect");
  EXPECT_EQ(r.objects[2]["command"], "load " + kExample);
  EXPECT_EQ(r.objects[3]["command"], "where");
}

TEST(Kz51Script, ReadableOutputWithoutJson) {
  const Outcome r = Kz51({"-c", "connect", "-c", "load " + kExample, "-c", "break done", "-c", "go",
                          "-c", "print result", "-c", "dump data:result 2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "connected: emulator JY/L, pod 1 (Pod 51-A)\n"
            "loaded " +
                kExample +
                ": 279 bytes, 0000H..0116H; symbols from checksum.map "
                "checksum.cdb checksum.rst util.rst\n"
                "breakpoint 1 at 0062H done (checksum.c:16)\n"
                "breakpoint 1: 0062H done (checksum.c:16)\n"
                "16\t  while (1) {\n"
                "result = 392 (0x188)   (unsigned int)\n"
                "data:0018  88 01                                            ..\n");
}

// Every fault: one clear sentence, exit status 1, nothing after it runs.
TEST(Kz51Script, ErrorsStopTheScriptWithAClearMessage) {
  TempDir tmp;
  const std::string badSum = (tmp.Path() / "badsum.ihx").string();
  const std::string badType = (tmp.Path() / "badtype.ihx").string();
  std::ofstream(badSum) << ":0300000002000CEF\n:03000300AABBCCC8\n:00000001FF\n";
  std::ofstream(badType) << ":0300000002000CEF\n:00000006FA\n:00000001FF\n";
  const std::string beyond = (tmp.Path() / "beyond.ihx").string();
  std::ofstream(beyond) << ":020000040001F9\n:01001000559A\n:00000001FF\n";
  const std::string load = "load " + kExample;
  const struct {
    std::vector<std::string> commands;
    std::string emu;
    std::string error;  // expected start of the last object's error
  } cases[] = {
      {{"connect", "load " + badSum}, "", badSum + ":2: bad checksum C8h"},
      {{"connect", "load " + badType}, "", badType + ":2: unknown record type 06h"},
      {{"connect", "load /nonexistent/x.ihx"}, "", "cannot open /nonexistent/x.ihx"},
      {{"connect", "load " + beyond}, "", beyond + ": data up to 10010h lies beyond the 64 KB"},
      {{"connect", load, "break nosuch"}, "", "unknown symbol 'nosuch'"},
      {{"connect", load, "go until nosuch.c:3"}, "", "no line records for 'nosuch.c'"},
      {{"connect", load, "print nosuch"}, "", "unknown variable 'nosuch'"},
      {{"connect", "dump data:0x80 1"}, "", "address out of range: data space is 00h..007Fh"},
      {{"connect", "dump idata:0xF0 17"}, "", "address out of range: idata space is 00h..00FFh"},
      {{"connect", "write sfr:0x10 00"}, "", "address out of range: sfr space is 80h..00FFh"},
      {{"connect", "dump code:0xFFFF 2"}, "", "address out of range: code space is 00h..FFFFh"},
      {{"connect", "break 0x10000"}, "", "address 0x10000 is outside the code space"},
      {{"connect", "dump bogus:0 1"}, "", "unknown memory space 'bogus'"},
      {{"connect", "write data:0x30 ABC"}, "", "'ABC' is not a sequence of hex bytes"},
      {{"connect", "set zz 1"}, "", "unknown register 'zz'"},
      {{"connect", "set rs 4"}, "", "value 4 does not fit rs (0..3)"},
      {{"connect", "delete 7"}, "", "no breakpoint 7"},
      {{"connect", load, "break done", "break 0x62"}, "", "breakpoint 1 is already at 0062h"},
      {{"connect", "stop"}, "", "the target is not running"},
      {{"connect", load, "go &", "regs"}, "", "the target is running; stop it first"},
      {{"connect", load, "go &", "break main"}, "", "the target is running; stop it first"},
      {{"connect", "frobnicate"}, "", "unknown command 'frobnicate'"},
      {{"connect", "step 0"}, "", "'0' is not a count of 1 or more"},
      {{"connect"}, "fault=silent", "no emulator answered"},
      {{"connect"}, "pod=0", "no emulator answered"},
  };
  for (const auto& c : cases) {
    auto commands = c.commands;
    commands.push_back("where");  // must not run
    const Outcome r = Kz51(JsonCommands(commands), c.emu);
    const std::string what = c.commands.back();
    EXPECT_EQ(r.status, 1) << what << "\n" << r.out << r.err;
    ASSERT_EQ(r.objects.size(), c.commands.size()) << what << "\n" << r.out;
    const Json& last = r.objects.back();
    EXPECT_EQ(last["command"], what);
    EXPECT_EQ(last["ok"], false) << what;
    EXPECT_EQ(last["error"].get<std::string>().rfind(c.error, 0), 0u)
        << what << ": " << last["error"];
    for (std::size_t i = 0; i + 1 < r.objects.size(); ++i)
      EXPECT_EQ(r.objects[i]["ok"], true) << r.objects[i].dump();
  }
}

TEST(Kz51Script, StopEndsABackgroundRun) {
  const Outcome r =
      Kz51(JsonCommands({"connect", "load " + kExample, "go &", "stop", "wait", "where"}));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.objects.size(), 6u);
  EXPECT_EQ(r.objects[2]["running"], true);
  EXPECT_EQ(r.objects[4]["reason"], "stopped");
  EXPECT_EQ(r.objects[5]["pc"], r.objects[4]["pc"]);
}

// Ctrl-C (SIGINT) in a script: it stops a running target and the script
// goes on; when nothing runs it ends kz51.
TEST(Kz51Script, InterruptStopsARunOrEndsTheScript) {
  TempDir tmp;
  const std::string out = (tmp.Path() / "out").string();
  auto run = [&](const std::string& emu, const std::string& commands) {
    const std::string cmd = "cd " + Quote(kBin) + " && (env KZ51_EMU=" + Quote(emu) +
                            " ./kz51 --json " + commands + " </dev/null >" + Quote(out) +
                            " 2>/dev/null & pid=$!; sleep 1; kill -INT $pid; wait $pid)";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(run("pod=1", "-c connect -c " + Quote("load " + kExample) + " -c go -c where"), 0);
  std::istringstream lines(ReadText(out));
  std::vector<Json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(Json::parse(line));
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_EQ(objects[2]["reason"], "stopped");
  EXPECT_EQ(objects[2]["symbol"], "done");
  EXPECT_EQ(objects[3]["pc"], objects[2]["pc"]);
  // A silent emulator keeps connect busy for seconds; Ctrl-C ends kz51.
  EXPECT_EQ(run("fault=silent", "-c connect -c where"), 130);
}

TEST(Kz51Script, DriverLibraryMissing) {
  const Outcome r = Kz51({"--driver", "/nonexistent/libkz51.so", "-c", "connect", "-c", "where"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(
      r.err.rfind("error: cannot use the driver library: cannot load /nonexistent/libkz51.so", 0),
      0u)
      << r.err;
}

TEST(Kz51Script, UsageErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"-c"}, {"-f", "/nonexistent/script"}, {"--json", "extra"}}) {
    const Outcome r = Kz51(args);
    EXPECT_EQ(r.status, 2) << args[0] << "\n" << r.out << r.err;
  }
  EXPECT_EQ(Kz51({"--help"}).status, 0);
}

}  // namespace
