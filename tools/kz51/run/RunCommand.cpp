#include "run/RunCommand.h"

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/Interrupt.h"
#include "dap/Platform.h"
#include "dap/SerialOutput.h"
#include "debug/DebugModel.h"
#include "debug/Evaluator.h"
#include "debug/Expression.h"
#include "run/CodeMap.h"
#include "run/Coverage.h"
#include "run/JUnitReport.h"
#include "run/Profile.h"
#include "run/ProviderCounts.h"
#include "run/SourcePaths.h"
#include "session/HostProgram.h"
#include "session/Session.h"
#include "symbols/IntelHex.h"

namespace kz51::run {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFailed = 1;
constexpr int kTimedOut = 124;
constexpr int kInterrupted = 130;

struct Options {
  std::string driver;
  kzhost::Provider provider = kzhost::Provider::Virtual;
  std::string until;
  std::string exitCode;
  double timeout = 10;
  std::uint64_t maxCycles = 0;
  std::string uart;
  std::string coverage, profile, junit;
  std::vector<std::string> programs;
};

std::string Hex4(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04XH", v & 0xFFFFu);
  return buf;
}

std::string ReadWhole(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  ok = static_cast<bool>(in);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Writes beside the file and renames, so a failed write never leaves half a
// report where a whole one was.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
  const std::string temporary = path + ".kz51-new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      error = "cannot write " + path;
      std::error_code ec;
      fs::remove(temporary, ec);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    error = "cannot write " + path + ": " + ec.message();
    fs::remove(temporary, ec);
    return false;
  }
  return true;
}

// Where the target's UART output goes: standard output or --uart's file, as
// it arrives; and, for the JUnit report, each program's share.
class UartSink {
 public:
  bool Open(const std::string& path, std::string& error) {
    if (path.empty() || path == "-") return true;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) error = "cannot write the UART output to " + path;
    return file_ != nullptr;
  }
  ~UartSink() {
    if (file_ != nullptr) std::fclose(file_);
  }
  void Write(const std::string& bytes) {
    std::lock_guard<std::mutex> hold(lock_);
    std::FILE* to = file_ != nullptr ? file_ : stdout;
    std::fwrite(bytes.data(), 1, bytes.size(), to);
    std::fflush(to);
    program_ += bytes;
  }
  std::string TakeProgramOutput() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(program_, std::string());
  }

 private:
  std::mutex lock_;
  std::FILE* file_ = nullptr;
  std::string program_;
};

struct Outcome {
  int status = 0;
  std::string failureType;  // empty when the status is 0
  std::string reason;
};

class Runner {
 public:
  explicit Runner(const Options& options) : o_(options) {}
  int Run();

 private:
  Outcome RunProgram(const std::string& program, CountSnapshot& counts, bool& counted);
  Outcome ExitCode(std::uint32_t pc);
  std::string Where(std::uint32_t pc) const;
  // One sentence on standard error; answers the status of an error.
  static int Fail(const std::string& sentence) {
    const bool stop = !sentence.empty() && sentence.back() == '.';
    std::fprintf(stderr, "kz51 run: %s%s\n", sentence.c_str(), stop ? "" : ".");
    return kFailed;
  }
  bool WriteReports(const std::vector<TestCase>& cases);

  const Options& o_;
  Session session_;
  std::unique_ptr<ProviderCounts> counts_;
  UartSink uart_;
  std::unique_ptr<kzhost::dap::SerialOutput> serial_;
  Coverage coverage_;
  Profile profile_;
  std::atomic<bool> interrupted_{false};
};

std::string Runner::Where(std::uint32_t pc) const {
  std::string text = Hex4(pc);
  const std::string symbol = session_.symbols().Describe(pc);
  if (!symbol.empty()) text += " " + symbol;
  if (const auto line = session_.symbols().LineAt(pc))
    text += " (" + line->file + ":" + std::to_string(line->line) + ")";
  return text;
}

int Runner::Run() {
  const bool wantCounts = !o_.coverage.empty() || !o_.profile.empty();
  std::string error;
  if (!uart_.Open(o_.uart, error)) return Fail(error);
  // The virtual emulator writes the target's UART output to a file kz51
  // follows; it reads its settings when the driver first opens the link.
  const char* env = std::getenv("KZ51_EMU");
  kzhost::dap::SerialFile serialFile;
  if (o_.provider == kzhost::Provider::Virtual) {
    serialFile = kzhost::dap::ChooseSerialFile(env ? env : "");
    kzhost::dap::SetEnvironment("KZ51_EMU", serialFile.emulator);
  }
  if (!serialFile.path.empty()) {
    serial_ = std::make_unique<kzhost::dap::SerialOutput>(
        serialFile.path, serialFile.owned, kzhost::dap::SerialOutput::SizeOf(serialFile.path),
        [this](const std::string& bytes) { uart_.Write(bytes); });
  }
  session_.SetProvider(o_.provider);
  if (auto r = session_.Open(o_.driver); !r) return Fail(r.error());
  if (wantCounts || o_.maxCycles > 0) {
    std::string why;
    counts_ = ProviderCounts::Find(why);
    if (counts_ == nullptr) {
      const std::string option = !o_.coverage.empty()  ? "--coverage"
                                 : !o_.profile.empty() ? "--profile"
                                                       : "--max-cycles";
      return Fail(option + " needs the virtual emulator's counts, but " + why);
    }
  }
  if (auto r = session_.Connect(); !r) return Fail(r.error());
  if (!o_.coverage.empty()) {
    // Counts of earlier runs in the file are added to, never lost.
    bool exists = false;
    const std::string earlier = ReadWhole(o_.coverage, exists);
    if (exists && !coverage_.Parse(earlier, error))
      return Fail(o_.coverage + " is not an lcov tracefile (" + error + "); it was left as it is");
  }
  kz51::cli::InterruptToStop interrupt([this] {
    interrupted_ = true;
    if (session_.Running()) session_.Stop();
  });

  int status = 0;
  std::vector<TestCase> cases;
  for (const std::string& program : o_.programs) {
    if (interrupted_.load()) break;
    const auto t0 = Clock::now();
    CountSnapshot counts;
    bool counted = false;
    Outcome outcome = RunProgram(program, counts, counted);
    if (serial_) serial_->Flush();
    TestCase c;
    c.name = program;
    c.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    c.output = uart_.TakeProgramOutput();
    c.failed = outcome.status != 0;
    c.failureType = outcome.failureType;
    c.reason = outcome.reason;
    cases.push_back(std::move(c));
    if (outcome.status != 0 && !outcome.reason.empty()) Fail(program + ": " + outcome.reason);
    if (status == 0) status = outcome.status;
  }
  if (!WriteReports(cases) && status == 0) status = kFailed;
  if (interrupted_.load()) return kInterrupted;
  return status;
}

Outcome Runner::RunProgram(const std::string& program, CountSnapshot& counts, bool& counted) {
  auto error = [](const std::string& why) { return Outcome{kFailed, "error", why}; };
  auto loaded = session_.Load(program);
  if (!loaded) return error(loaded.error());
  const Symbols& symbols = session_.symbols();
  std::uint32_t until = 0;
  if (!o_.until.empty()) {
    std::string why;
    if (!symbols.ResolveCode(o_.until, until, why)) return error("--until: " + why);
  } else {
    // Without --until the run ends where main returns: at its last
    // instruction, the RET.
    const cdb::Function* main = symbols.FindFunction("main");
    if (main == nullptr || !main->end)
      return error("no --until was given and the program's .cdb has no main to return from");
    until = *main->end;
  }
  if (auto r = session_.Reset(); !r) return error(r.error());
  std::optional<CodeMap> map;
  if (!o_.coverage.empty() || !o_.profile.empty()) {
    if (symbols.Cdb().lines.empty())
      std::fprintf(stderr,
                   "kz51 run: %s: no C line records were found beside it (build it with sdcc "
                   "--debug); its coverage and profile name no C lines.\n",
                   program.c_str());
    map.emplace(symbols);
    if (!counts_->Start(map->Regions())) return error("the emulator did not start counting");
  }
  if (o_.maxCycles > 0) counts_->SetCycleLimit(o_.maxCycles);
  if (auto r = session_.Start(Session::RunKind::GoUntil, until); !r) return error(r.error());
  std::optional<Result<StopEvent>> stop = session_.WaitFor(static_cast<int>(o_.timeout * 1000));
  bool timedOut = false;
  if (!stop) {
    timedOut = true;
    session_.Stop();
    stop = session_.Wait();
  }
  const bool limitHit = o_.maxCycles > 0 && counts_->CycleLimitReached();
  if (o_.maxCycles > 0) counts_->SetCycleLimit(0);
  if (map) {
    counted = counts_->Read(counts);
    if (counted) {
      const SourcePaths sources(program, symbols);
      for (const auto& name : sources.Missing())
        std::fprintf(stderr,
                     "kz51 run: %s: the source %s was not found; the reports name it beside "
                     "the program\n",
                     program.c_str(), name.c_str());
      std::vector<std::uint8_t> code(65536, 0);
      bool ok = false;
      const std::string text = ReadWhole(program, ok);
      HexImage image;
      std::string why;
      if (ok && ParseIntelHex(text, program, image, why))
        for (const auto& seg : image.segments)
          for (std::size_t i = 0; i < seg.bytes.size() && seg.address + i < code.size(); ++i)
            code[seg.address + i] = seg.bytes[i];
      if (!o_.coverage.empty()) coverage_.Add(Coverage::FromCounts(counts, *map, symbols, sources));
      if (!o_.profile.empty()) profile_.Add(counts, *map, sources, code, program);
    }
  }
  if (!*stop) return error(stop->error());
  const StopEvent& e = **stop;
  if (interrupted_.load()) return Outcome{kInterrupted, "error", "interrupted at " + Where(e.pc)};
  if (timedOut) {
    char secs[32];
    std::snprintf(secs, sizeof secs, "%g", o_.timeout);
    return Outcome{
        kTimedOut, "timeout",
        std::string("timed out after ") + secs + " s; the target was stopped at " + Where(e.pc)};
  }
  if (limitHit)
    return Outcome{kTimedOut, "max-cycles",
                   "used its " + std::to_string(o_.maxCycles) +
                       " machine cycles without reaching " + Where(until) +
                       "; the target was stopped at " + Where(e.pc)};
  if (e.reason != StopReason::Until)
    return error("the target stopped at " + Where(e.pc) + " before reaching " + Where(until));
  return ExitCode(e.pc);
}

// The status --exit-code gives at the stop: its C expression's value & FFh,
// evaluated by the C model as `print` evaluates it.
Outcome Runner::ExitCode(std::uint32_t pc) {
  if (o_.exitCode.empty()) return Outcome{};
  auto error = [&](const std::string& why) {
    return Outcome{kFailed, "error", "--exit-code '" + o_.exitCode + "': " + why};
  };
  debug::SessionTarget target(session_);
  debug::DebugModel model(target, session_.symbols());
  auto v = model.Evaluate(o_.exitCode);
  if (!v) return error(v.error());
  debug::Value value = *v;
  if (value.Available() && !value.loaded) {
    if (auto r = model.Load(value); !r) return error(r.error());
  }
  if (!value.Available())
    return error("it has no value at " + Where(pc) + " (" + value.unavailable + ")");
  if (!value.type->IsInteger())
    return error("its value is not an integer, so it cannot be an exit status");
  const std::int64_t n = debug::IntegerValue(value);
  int status = static_cast<int>(n & 0xFF);
  if (n == 0) return Outcome{};
  // A value such as a count of 256 failures must not pass as a success.
  if (status == 0)
    return Outcome{kFailed, "status",
                   "--exit-code '" + o_.exitCode + "' is " + std::to_string(n) + " at " +
                       Where(pc) + ", not 0, though its low byte is 0: exit status 1"};
  return Outcome{status, "status",
                 "--exit-code '" + o_.exitCode + "' is " + std::to_string(n) + " at " + Where(pc) +
                     (n != status ? " (" + std::to_string(status) + " as an exit status)" : "")};
}

bool Runner::WriteReports(const std::vector<TestCase>& cases) {
  bool ok = true;
  std::string error;
  auto write = [&](const std::string& path, const std::string& text) {
    if (path.empty() || WriteFileAtomically(path, text, error)) return;
    Fail(error);
    ok = false;
  };
  if (!o_.coverage.empty()) write(o_.coverage, coverage_.Write());
  if (!o_.profile.empty()) write(o_.profile, profile_.Write());
  if (!o_.junit.empty()) write(o_.junit, WriteJUnit(cases));
  return ok;
}

}  // namespace

int RunMain(int argc, char** argv) {
  CLI::App app{
      "kz51 run: run 8051 programs on the emulator (or the virtual emulator) as tests.\n"
      "Connects once; loads, resets and runs each program until the PC reaches --until\n"
      "(default: where main returns). Exit status: the first nonzero program status\n"
      "(0, or --exit-code's value & FFh; 124 past --timeout or --max-cycles), 1 on an error.",
      "kz51 run"};
  Options o;
  o.driver = HostProgramDirectory() + kzhost::DefaultDriverLibrary();
  app.add_option("--driver", o.driver, "driver library")->default_str(o.driver);
  std::string provider = "virtual";
  app.add_option("--provider", provider,
                 std::string("the emulator the driver reaches: ") + kzhost::ProviderChoices())
      ->check(CLI::IsMember({"virtual", "usb"}))
      ->default_str(provider);
  app.add_option("--until", o.until, "where each run ends: an address, a function or file.c:LINE")
      ->type_name("LOC");
  app.add_option("--exit-code", o.exitCode,
                 "a C expression whose value at the stop, & FFh, is the program's status")
      ->type_name("EXPR");
  app.add_option("--timeout", o.timeout, "wall seconds a program may run")
      ->type_name("SECONDS")
      ->check(CLI::PositiveNumber)
      ->default_str("10");
  app.add_option("--max-cycles", o.maxCycles, "machine cycles a program may use (virtual emulator)")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  app.add_option("--uart", o.uart, "the target's UART output to FILE instead of standard output")
      ->type_name("FILE|-");
  app.add_option("--coverage", o.coverage, "C-line coverage: lcov tracefile (merged into FILE)")
      ->type_name("FILE");
  app.add_option("--profile", o.profile, "cycle profile: callgrind format")->type_name("FILE");
  app.add_option("--junit", o.junit, "JUnit XML report: one testcase per program")
      ->type_name("FILE");
  app.add_option("programs", o.programs, "Intel HEX programs built with sdcc --debug")
      ->type_name("PROGRAM.ihx");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "kz51 run: %s (kz51 run --help shows the options).\n", e.what());
    return kFailed;
  }
  kzhost::ParseProvider(provider, o.provider);
  // A mistyped expression fails at once, not after every program has run.
  if (!o.exitCode.empty()) {
    const debug::ParseResult parsed = debug::ParseExpression(o.exitCode);
    if (!parsed.expr) {
      std::fprintf(stderr, "kz51 run: --exit-code '%s': %s.\n", o.exitCode.c_str(),
                   parsed.error.c_str());
      return kFailed;
    }
  }
  if (o.programs.empty()) {
    std::fprintf(stderr, "kz51 run: no program was given (kz51 run --help shows the options).\n");
    return kFailed;
  }
  if (o.timeout > 2'000'000) o.timeout = 2'000'000;  // a wait in milliseconds must fit an int
  Runner runner(o);
  return runner.Run();
}

}  // namespace kz51::run
