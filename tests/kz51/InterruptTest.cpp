// Ctrl-C becomes a stop on a second thread. Run in a child process, so the
// child's threads are only the test's and the watcher's and the signals
// reach nothing else.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "cli/Interrupt.h"

namespace {

bool WaitForCalls(const std::atomic<int>& calls, int want) {
  for (int i = 0; i < 200 && calls.load() < want; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return calls.load() >= want;
}

// At the prompt the line editor's own SIGINT handler re-raises the signal
// with kill(0) while SIGINT is still blocked on the main thread, so the
// kernel hands it to another thread. Every Ctrl-C after it must still reach
// the stop.
TEST(Kz51Interrupt, EveryCtrlCReachesTheStopWhicheverThreadTheKernelPicks) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(20);  // a lost watcher must not hang the suite
    std::atomic<int> calls{0};
    int code = 0;
    {
      kz51::cli::InterruptToStop interrupt([&calls] { ++calls; });
      sigset_t intOnly;
      sigemptyset(&intOnly);
      sigaddset(&intOnly, SIGINT);
      pthread_sigmask(SIG_BLOCK, &intOnly, nullptr);
      // The watcher waits in its read by now, as it does at the prompt.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      kill(getpid(), SIGINT);  // as the line editor does from inside its handler
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      pthread_sigmask(SIG_UNBLOCK, &intOnly, nullptr);
      if (!WaitForCalls(calls, 1)) code = 1;
      kill(getpid(), SIGINT);  // the Ctrl-C that should stop the next run
      if (code == 0 && !WaitForCalls(calls, 2)) code = 2;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child hung or died, status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << (WEXITSTATUS(status) == 1 ? "the first Ctrl-C never reached the stop"
                                   : "the second Ctrl-C never reached the stop");
}

}  // namespace
