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

// How the child starts: its standard files and the record it opens with.
struct Start {
  bool stdinFromNull = false;
  bool outputsToNull = false;  // stdout and stderr away from the terminal
  std::int32_t podIndex = 0;
  std::uint8_t emulatorResetMode = 0;
};

// Runs the project dialog with the terminal renderer in a child whose
// terminal is the pty; the child reports the record through a pipe.
class PtyDialog {
 public:
  explicit PtyDialog(Start start = {}) {
    dir_.Write(kDeviceDatabaseFileName, test::BuildDatabase({{"Alpha", {{"A1", 1u}, {"A2", 2u}}},
                                                             {"\xD0\xBE\xC6\xAC", {{"B1", 2u}}}}));
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      close(fds[0]);
      if (start.stdinFromNull) std::freopen("/dev/null", "r", stdin);
      if (start.outputsToNull) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
      }
      DeviceDatabase db;
      db.LoadDeviceDatabase(dir_.Prefix());
      TargetConfig config{};
      config.CrystalHz = 10000000;
      config.PodIndex = start.podIndex;
      config.EmulatorResetMode = start.emulatorResetMode;
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
  PtyDialog d({.stdinFromNull = true});
  const Outcome o = d.Result();
  EXPECT_EQ(o.ok, 0);
  EXPECT_TRUE(d.Expect("answered Cancel"));
}

// With stdout and stderr redirected the menu still reaches the person.
TEST(TerminalForms, TheMenuGoesToTheTerminalWhenOnlyStdinIsOne) {
  PtyDialog d({.outputsToNull = true});
  ASSERT_TRUE(d.Expect("== Emulator option ==")) << d.Screen();
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("o");
  EXPECT_EQ(d.Result().ok, 1);
}

TEST(TerminalForms, AFrequencyThatIsNoNumberIsRefusedInTheMenu) {
  PtyDialog d;
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("5");
  ASSERT_TRUE(d.Expect("text [10000000]: "));
  d.Type("11059200");
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("5");
  ASSERT_TRUE(d.Expect("text [11059200]: "));
  d.Type("12 MHz");
  ASSERT_TRUE(d.Expect(
      "Oscillator(Hz): \"12 MHz\" is not a whole number of hertz; the field keeps 11059200"))
      << d.Screen();
  ASSERT_TRUE(d.Expect("5) Oscillator(Hz): 11059200"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("o");
  const Outcome o = d.Result();
  EXPECT_EQ(o.ok, 1);
  EXPECT_EQ(o.crystalHz, 11059200);
}

// O0B (pod 9): each sector entry names its address range under the table's
// heading, and the boot vector field its title.
TEST(TerminalForms, SectorEntriesAndTheBootVectorAreNamed) {
  PtyDialog d({.podIndex = 8});
  ASSERT_TRUE(d.Expect("2) Select POD: Pod 51-J")) << d.Screen();
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("4");  // POD Setting
  ASSERT_TRUE(d.Expect("== POD Setting ==")) << d.Screen();
  ASSERT_TRUE(d.Expect("   -- Secotor security bits --\r\n")) << d.Screen();
  ASSERT_TRUE(d.Expect(" 6) 0000-03FF GEDIS: [ ]"));
  ASSERT_TRUE(d.Expect(" 8) 0000-03FF MOVCDIS: [ ]"));
  ASSERT_TRUE(d.Expect("29) 1C00-1FFF MOVCDIS: [ ]"));
  ASSERT_TRUE(d.Expect("35) Boot Vector: 00H  (disabled)")) << d.Screen();
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("35");
  ASSERT_TRUE(d.Expect("Boot Vector is disabled"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("34");  // Boot Status
  ASSERT_TRUE(d.Expect("35) Boot Vector: 00H\r\n")) << d.Screen();
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("c");
  ASSERT_TRUE(d.Expect("== Emulator option =="));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("c");
  EXPECT_EQ(d.Result().ok, 0);
}

// O02F (pod 1): IRST is disabled while ORST is on item 1 and keeps its number,
// and so does everything after it.
TEST(TerminalForms, MenuNumbersStayWhenAControlIsDisabled) {
  PtyDialog d({.emulatorResetMode = 1});
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("4");  // POD Setting
  ASSERT_TRUE(d.Expect("== POD Setting =="));
  ASSERT_TRUE(d.Expect("5) Target reset function select: Disable target reset  (disabled)"))
      << d.Screen();
  ASSERT_TRUE(d.Expect("6) Emulator reset function select: Emulator reset CPU + target board"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("6");
  ASSERT_TRUE(d.Expect("item: "));
  d.Type("1");
  ASSERT_TRUE(d.Expect("5) Target reset function select: Disable target reset\r\n")) << d.Screen();
  ASSERT_TRUE(d.Expect("6) Emulator reset function select: Emulator reset CPU only"));
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("c");
  ASSERT_TRUE(d.Expect("choice: "));
  d.Type("c");
  EXPECT_EQ(d.Result().ok, 0);
}

}  // namespace
}  // namespace kz
