// The terminal renderer through a pseudo-terminal: a person picks a pod,
// changes its option, types a frequency and presses OK.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "config/PrjOpt.h"
#include "connect/umessage.h"
#include "fakes/PtyScript.h"
#include "platform/posix/PosixPorts.h"
#include "unit/config/ConfigTestFiles.h"
#include "unit/config/MdbBuilder.h"

namespace kz {
namespace {

struct Outcome {
  int ok = -1;
  std::int32_t podIndex = -1;
  std::int32_t crystalHz = -1;
  int sixClockMode = -1;
};

// Runs the project dialog with the terminal renderer in a child whose
// terminal is the pty; the child reports the record through a pipe.
class PtyDialog {
 public:
  explicit PtyDialog(bool stdinFromNull = false) {
    dir_.Write(kDeviceDatabaseFileName, test::BuildDatabase({{"Alpha", {{"A1", 1u}, {"A2", 2u}}},
                                                             {"\xD0\xBE\xC6\xAC", {{"B1", 2u}}}}));
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      close(fds[0]);
      if (stdinFromNull) std::freopen("/dev/null", "r", stdin);
      DeviceDatabase db;
      db.LoadDeviceDatabase(dir_.Prefix());
      TargetConfig config{};
      config.CrystalHz = 10000000;
      CpuDetails details;
      PodTable pods = kPodSlots;
      PosixUi ui;
      ProjectDialogContext ctx{ui, config, db, details, pods, dir_.Prefix(), &GetMessage, {}, {}};
      Outcome o;
      o.ok = TPrjOptF(ctx).RunProjectDialog() ? 1 : 0;
      o.podIndex = config.PodIndex;
      o.crystalHz = config.CrystalHz;
      o.sixClockMode = config.SixClockMode;
      if (write(fds[1], &o, sizeof o) != static_cast<ssize_t>(sizeof o)) _exit(2);
      _exit(0);
    }
    close(fds[1]);
    result_ = fds[0];
    script_ = fake::PtyScript(master_);
  }
  ~PtyDialog() {
    close(master_);
    close(result_);
    if (pid_ > 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

  bool Expect(const std::string& text) { return script_.Expect(text); }
  void Type(const std::string& line) { EXPECT_TRUE(script_.Type(line)); }
  Outcome Result() {
    Outcome o;
    pollfd p{result_, POLLIN, 0};
    if (poll(&p, 1, 10000) > 0 && read(result_, &o, sizeof o) != static_cast<ssize_t>(sizeof o))
      o = Outcome{};
    return o;
  }
  const std::string& Screen() const { return script_.Screen(); }

 private:
  test::ScratchDir dir_;
  pid_t pid_ = -1;
  int master_ = -1;
  int result_ = -1;
  fake::PtyScript script_{-1};
};

TEST(TerminalForms, PodOptionAndFrequencyThenOk) {
  PtyDialog d;
  ASSERT_TRUE(d.Expect("== Emulator option ==")) << d.Screen();
  ASSERT_TRUE(d.Expect("2) Select POD: Pod 51-A")) << d.Screen();
  ASSERT_TRUE(d.Expect("5) Oscillator(Hz): 10000000"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("2");
  ASSERT_TRUE(d.Expect("2) Pod 51-B"));
  ASSERT_TRUE(d.Expect("item: "));
  d.Type("2");
  ASSERT_TRUE(d.Expect("6) Select Vendor: Alpha")) << d.Screen();
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("6");
  ASSERT_TRUE(d.Expect("2) 芯片")) << d.Screen();  // the GBK name on a UTF-8 terminal
  d.Type("2");
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("4");  // POD Setting: pod 2's dialog, above the project dialog
  ASSERT_TRUE(d.Expect("== POD Setting =="));
  ASSERT_TRUE(d.Expect("1) P0, P2 function select: P0, P2 used as BUS or I/O"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("1");
  ASSERT_TRUE(d.Expect("item: "));
  d.Type("2");
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("o");
  ASSERT_TRUE(d.Expect("== Emulator option =="));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("5");
  ASSERT_TRUE(d.Expect("text [10000000]: "));
  d.Type("11059200");
  ASSERT_TRUE(d.Expect("5) Oscillator(Hz): 11059200"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("o");
  const Outcome o = d.Result();
  EXPECT_EQ(o.ok, 1);
  EXPECT_EQ(o.podIndex, 1);
  EXPECT_EQ(o.crystalHz, 11059200);
  EXPECT_EQ(o.sixClockMode, 1);
}

TEST(TerminalForms, CancelKeepsClicksAndDropsTheFrequency) {
  PtyDialog d;
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("2");
  ASSERT_TRUE(d.Expect("item: "));
  d.Type("3");
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("5");
  ASSERT_TRUE(d.Expect("text ["));
  d.Type("123");
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("c");
  const Outcome o = d.Result();
  EXPECT_EQ(o.ok, 0);
  EXPECT_EQ(o.podIndex, 2);
  EXPECT_EQ(o.crystalHz, 10000000);
}

TEST(TerminalForms, WithoutATerminalOnStdinTheDialogCancels) {
  PtyDialog d(true);
  const Outcome o = d.Result();
  EXPECT_EQ(o.ok, 0);
  EXPECT_TRUE(d.Expect("answered Cancel"));
}

}  // namespace
}  // namespace kz
