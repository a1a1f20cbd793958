// End to end: DllUv3Cap(1) of libkz51.so on a terminal, as `kz51 -c options`
// runs it. The driver derives its data directory from the command line, so
// the child is this program re-executed with argv[0] inside a fresh data
// directory and the pseudo-terminal as its terminal; the parent plays the
// person at the terminal and then reads the saved ZOLTKEIL.DSK.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "config/TargetConfig.h"
#include "fakes/PtyScript.h"
#include "fakes/TempDir.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kOptionsChildVar = "KZ_E2E_OPTIONS_CHILD";

[[noreturn]] void RunOptionsChild(const char* resultPath) {
  const std::string bin = KZ_OUT_DIR;
  using CapFn = std::int32_t (*)(std::int32_t);
  dlopen((bin + "/libusbd12.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
  void* driver = dlopen((bin + "/libkz51.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  auto cap = driver != nullptr ? reinterpret_cast<CapFn>(dlsym(driver, "DllUv3Cap")) : nullptr;
  if (cap == nullptr) _exit(5);
  const std::int32_t answer = cap(1);
  std::FILE* out = std::fopen(resultPath, "w");
  if (out == nullptr) _exit(3);
  std::fprintf(out, "%d\n", answer);
  std::fclose(out);
  _exit(0);
}

const bool kOptionsChildDispatch = [] {
  if (const char* result = std::getenv(kOptionsChildVar)) RunOptionsChild(result);
  return false;
}();

std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

std::int32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(OptionsE2E, DllUv3CapOnATerminalChangesTheSettings) {
  kz::fake::TempDir dir;
  const fs::path bin = KZ_OUT_DIR;
  for (const char* name : {"KZ.MDB", "KZ.FMD"}) fs::copy_file(bin / name, dir.Path() / name);
  const std::string result = (dir.Path() / "result.txt").string();
  const std::string argv0 = (dir.Path() / "e2e_tests").string();
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    setenv(kOptionsChildVar, result.c_str(), 1);
    execl("/proc/self/exe", argv0.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  kz::fake::PtyScript person(master);
  EXPECT_TRUE(person.Expect("== Emulator option ==")) << person.Screen();
  EXPECT_TRUE(person.Expect("choice: "));
  person.Type("2");  // the pod list
  EXPECT_TRUE(person.Expect("item: "));
  person.Type("3");  // the third pod
  EXPECT_TRUE(person.Expect("choice: "));
  person.Type("5");  // the frequency
  EXPECT_TRUE(person.Expect("text ["));
  person.Type("24000000");
  EXPECT_TRUE(person.Expect("Oscillator(Hz): 24000000"));
  EXPECT_TRUE(person.Expect("choice: "));
  person.Type("o");
  int status = 0;
  for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
    person.Expect("\x01");  // drains the terminal while waiting
  }
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << person.Screen();
  std::ifstream answer(result);
  int cap = -1;
  answer >> cap;
  EXPECT_EQ(cap, 1);
  const auto dsk = ReadBytes(dir.Path() / "ZOLTKEIL.DSK");
  ASSERT_EQ(dsk.size(), kz::kTargetConfigSize);
  EXPECT_EQ(Le32(dsk, 260), 2);  // PodIndex of the third pod
  EXPECT_EQ(Le32(dsk, 1068), 24000000);
}

}  // namespace
