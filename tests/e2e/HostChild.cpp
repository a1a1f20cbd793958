#include "e2e/HostChild.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "e2e/ChildProcess.h"

extern char** environ;

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "config/TargetConfig.h"

namespace kz::e2e {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProgramVar = "KZ_E2E_PROGRAM";
constexpr const char* kArgumentVar = "KZ_E2E_ARGUMENT";
constexpr const char* kResultVar = "KZ_E2E_RESULT";

template <typename T>
bool Resolve(void* lib, const char* name, T& fn, std::string& error) {
  fn = reinterpret_cast<T>(dlsym(lib, name));
  if (fn == nullptr) error = std::string("missing ") + name;
  return fn != nullptr;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
}

// Texts in the result file are one line each.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return s;
}

}  // namespace

// ---- child side -------------------------------------------------------------

const char* ChildProgram() {
  return std::getenv(kProgramVar);
}

const char* ChildArgument() {
  const char* a = std::getenv(kArgumentVar);
  return a != nullptr ? a : "";
}

bool HostExports::Load(std::string& error, const char* provider) {
  const std::string bin = KZ_OUT_DIR;
  // Loaded first by path, so the driver's dlopen("libusbd12.so") finds it
  // (the USB provider by its soname).
  void* emu = dlopen((bin + "/" + provider).c_str(), RTLD_NOW | RTLD_GLOBAL);
  void* driver = dlopen((bin + "/libkz51.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (emu == nullptr || driver == nullptr) {
    error = dlerror();
    return false;
  }
  return Resolve(driver, "AG_Init", AG_Init, error) &&
         Resolve(driver, "AG_MemAcc", AG_MemAcc, error) &&
         Resolve(driver, "AG_RegAcc", AG_RegAcc, error) &&
         Resolve(driver, "AG_AllReg", AG_AllReg, error) &&
         Resolve(driver, "AG_MemAtt", AG_MemAtt, error) &&
         Resolve(driver, "AG_BpInfo", AG_BpInfo, error) &&
         Resolve(driver, "AG_BreakFunc", AG_BreakFunc, error) &&
         Resolve(driver, "AG_GoStep", AG_GoStep, error) &&
         Resolve(driver, "AG_Serial", AG_Serial, error) &&
         Resolve(driver, "AG_HistFunc", AG_HistFunc, error) &&
         Resolve(driver, "DllUv3Cap", DllUv3Cap, error) &&
         Resolve(driver, "EnumUv351", EnumUv351, error) &&
         (std::strcmp(provider, "libusbd12.so") != 0 ||
          (Resolve(emu, "kz51emu_configure", EmuConfigure, error) &&
           Resolve(emu, "kz51emu_inject", EmuInject, error)));
}

ChildLog::ChildLog() {
  const char* path = std::getenv(kResultVar);
  if (path != nullptr) fd_ = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
}

ChildLog::~ChildLog() {
  if (fd_ >= 0) close(fd_);
}

void ChildLog::Line(const std::string& text) {
  // One write per line: a line is either in the file whole or not at all,
  // even when the child dies right after it.
  const std::string line = OneLine(text) + "\n";
  if (fd_ >= 0) (void)!write(fd_, line.data(), line.size());
}

void ChildLog::Fail(const std::string& text) {
  Line("fail " + text);
}

void ChildLog::Note(const std::string& key, const std::string& value) {
  Line("note " + key + " " + value);
}

void ChildLog::Call(const char* entry, double ms) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %.2f", ms);
  Line(std::string("call ") + entry + buf);
}

void ChildLog::Finish() {
  Line("end");
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(0);
}

double ChildLog::NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double ChildLog::ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

std::vector<std::string>& HostRecords::CommandTexts() {
  static std::vector<std::string> texts;
  return texts;
}

std::uint32_t KZ_CDECL HostRecords::Callback(std::uint32_t code, void* argument) {
  if (code == 4 && argument != nullptr) CommandTexts().emplace_back(static_cast<char*>(argument));
  return 0;
}

void HostRecords::RegisterAndInit(const HostExports& x) {
  x.AG_Init(0x30A, reinterpret_cast<void*>(std::uintptr_t{1}));
  x.AG_Init(0x311, reinterpret_cast<void*>(std::uintptr_t{0x4711}));
  x.AG_Init(0x312, reinterpret_cast<void*>(&HostRecords::Callback));
  x.AG_Init(0x30E, &firstBreakpoint);
  x.AG_Init(0x30F, &pcCell);
  x.AG_Init(0x100, nullptr);
}

// ---- parent side ------------------------------------------------------------

std::string ChildOutcome::NoteValue(const std::string& key) const {
  for (const auto& [k, v] : notes)
    if (k == key) return v;
  return {};
}

std::string ChildOutcome::Describe() const {
  std::ostringstream s;
  s << (timedOut ? "timed out"
        : exited ? "exit " + std::to_string(exitStatus)
                 : "signal " + std::to_string(signal))
    << " after " << wallMs << " ms\n";
  for (const auto& f : failures) s << "  fail: " << f << "\n";
  for (const auto& c : calls) s << "  call " << c.entry << " " << c.ms << " ms\n";
  s << "  stderr:\n" << stderrText;
  return s.str();
}

namespace {

using kz::e2e::DataDir;

void WriteSettings(const fs::path& p, int podIndex) {
  TargetConfig rec{};
  std::memcpy(rec.Signature, kSettingsSignature.data(), kSettingsSignature.size());
  rec.PodIndex = podIndex;
  rec.Reserved1080 = 1;
  rec.CrystalHz = 11'059'200;
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(rec.Bytes()), sizeof rec);
}

}  // namespace

ChildOutcome RunHostChild(const ChildPlan& plan) {
  ChildOutcome o;
  DataDir dir;
  const fs::path bin = KZ_OUT_DIR;
  for (const char* name : {"KZ.MDB", "KZ.FMD"}) {
    if (!plan.withDatabase && std::strcmp(name, "KZ.MDB") == 0) continue;
    fs::copy_file(bin / name, dir.Path() / name);
  }
  const fs::path settings = dir.Path() / "ZOLTKEIL.DSK";
  WriteSettings(settings, plan.podIndex);
  o.settingsBefore = ReadBytes(settings);
  const std::string result = (dir.Path() / "result.txt").string();
  const std::string errPath = (dir.Path() / "stderr.txt").string();
  const std::string argv0 = (dir.Path() / "e2e_tests").string();

  // The environment is built before the fork: other threads of this process
  // fork children too, and the child only calls what is safe after a fork.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    bool ours = false;
    for (const char* name : {kProgramVar, kArgumentVar, kResultVar, "KZ51_EMU"})
      ours = ours || v.rfind(std::string(name) + "=", 0) == 0;
    if (!ours) env.push_back(v);
  }
  env.push_back(std::string(kProgramVar) + "=" + plan.program);
  env.push_back(std::string(kArgumentVar) + "=" + plan.argument);
  env.push_back(std::string(kResultVar) + "=" + result);
  env.push_back("KZ51_EMU=" + plan.emu);
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  char* const argv[] = {const_cast<char*>(argv0.c_str()), nullptr};

  const double t0 = ChildLog::NowMs();
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (err < 0 || in < 0) _exit(126);
    dup2(err, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    dup2(in, STDIN_FILENO);
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  if (pid < 0) {
    o.failures.push_back("fork failed");
    return o;
  }
  int status = 0;
  o.timedOut = !kz::e2e::WaitForChild(pid, std::chrono::seconds(plan.timeoutSeconds), status);
  o.wallMs = ChildLog::NowMs() - t0;
  o.exited = !o.timedOut && WIFEXITED(status);
  o.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;

  std::ifstream lines(result);
  std::string line;
  bool ended = false;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::string kind;
    in >> kind;
    std::string rest;
    std::getline(in >> std::ws, rest);
    if (kind == "fail") {
      o.failures.push_back(rest);
    } else if (kind == "call") {
      ChildCall c;
      std::istringstream r(rest);
      r >> c.entry >> c.ms;
      o.calls.push_back(c);
    } else if (kind == "note") {
      const auto space = rest.find(' ');
      o.notes.emplace_back(rest.substr(0, space),
                           space == std::string::npos ? std::string() : rest.substr(space + 1));
    } else if (kind == "end") {
      ended = true;
    }
  }
  if (o.exited && !ended) o.failures.push_back("the child ended before its last line");
  const auto err = ReadBytes(errPath);
  o.stderrText.assign(err.begin(), err.end());
  o.settingsAfter = ReadBytes(settings);
  return o;
}

std::vector<ChildOutcome> RunHostChildren(const std::vector<ChildPlan>& plans, int jobs) {
  std::vector<ChildOutcome> out(plans.size());
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> workers;
  for (int j = 0; j < jobs; ++j) {
    workers.emplace_back([&] {
      for (std::size_t i = next++; i < plans.size(); i = next++) out[i] = RunHostChild(plans[i]);
    });
  }
  for (auto& w : workers) w.join();
  return out;
}

}  // namespace kz::e2e
