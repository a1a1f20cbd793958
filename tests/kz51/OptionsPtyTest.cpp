// `kz51 -c options` at a pseudo-terminal, as a person runs it: the driver's
// dialog is a menu on the terminal, and kz51 then says truthfully what the
// driver saved. kz51 runs from a copy in a scratch directory, since the
// driver keeps its settings beside the host program.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes/PtyScript.h"
#include "fakes/TempDir.h"

namespace {

namespace fs = std::filesystem;

class Kz51AtATerminal {
 public:
  Kz51AtATerminal() {
    const fs::path bin = KZ_OUT_DIR;
    for (const char* name : {"kz51", "libkz51.so", "libusbd12.so", "KZ.MDB", "KZ.FMD"})
      fs::copy_file(bin / name, dir_.Path() / name);
    const std::string program = (dir_.Path() / "kz51").string();
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      unsetenv("KZ51_EMU");
      execl(program.c_str(), program.c_str(), "-c", "options", static_cast<char*>(nullptr));
      _exit(127);
    }
    person_ = kz::fake::PtyScript(master_);
  }
  ~Kz51AtATerminal() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool Expect(const std::string& text) { return person_.Expect(text); }
  void Type(const std::string& line) { EXPECT_TRUE(person_.Type(line)); }
  const std::string& Screen() const { return person_.Screen(); }
  // kz51's exit status (at most 10 s), or -1.
  int Exit() {
    int status = 0;
    for (int i = 0; i < 100 && status_ < 0; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      else if (!person_.Expect("\x01"))  // drains the terminal while waiting
        usleep(100000);                  // the terminal has closed
    }
    return status_;
  }
  std::vector<std::uint8_t> Settings() const {
    std::ifstream in(dir_.Path() / "ZOLTKEIL.DSK", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  kz::fake::TempDir dir_;
  pid_t pid_ = -1;
  int master_ = -1;
  int status_ = -1;
  kz::fake::PtyScript person_{-1};
};

std::int32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// The pod clicked before Cancel stays in the record and is saved: kz51 says
// so instead of a plain "options cancelled".
TEST(OptionsAtATerminal, CancelSaysWhatWasKept) {
  Kz51AtATerminal k;
  ASSERT_TRUE(k.Expect("== Emulator option ==")) << k.Screen();
  ASSERT_TRUE(k.Expect("choice: "));
  k.Type("2");
  ASSERT_TRUE(k.Expect("item: "));
  k.Type("3");
  ASSERT_TRUE(k.Expect("choice: "));
  k.Type("c");
  ASSERT_TRUE(
      k.Expect("options cancelled, but the driver kept and saved what the dialog had "
               "chosen: pod 3 (Pod 51-C)"))
      << k.Screen();
  EXPECT_EQ(k.Exit(), 0);
  const auto dsk = k.Settings();
  ASSERT_EQ(dsk.size(), 1340u);
  EXPECT_EQ(Le32(dsk, 260), 2);
}

// A frequency that is no number is refused in the menu, with the dialog's
// field named; only a number goes in, and "options saved" names it.
TEST(OptionsAtATerminal, AnInvalidFrequencyIsRefusedAndNeverSaved) {
  Kz51AtATerminal k;
  ASSERT_TRUE(k.Expect("choice: ")) << k.Screen();
  k.Type("5");
  ASSERT_TRUE(k.Expect("text ["));
  k.Type("abc");
  ASSERT_TRUE(k.Expect("Oscillator(Hz): \"abc\" is not a whole number of hertz")) << k.Screen();
  ASSERT_TRUE(k.Expect("choice: "));
  k.Type("5");
  ASSERT_TRUE(k.Expect("text ["));
  k.Type("11059200");
  ASSERT_TRUE(k.Expect("choice: "));
  k.Type("o");
  ASSERT_TRUE(k.Expect("options saved: ")) << k.Screen();
  ASSERT_TRUE(k.Expect("crystal 11059200 Hz")) << k.Screen();
  EXPECT_EQ(k.Exit(), 0);
  const auto dsk = k.Settings();
  ASSERT_EQ(dsk.size(), 1340u);
  EXPECT_EQ(Le32(dsk, 1068), 11059200);
}

}  // namespace
