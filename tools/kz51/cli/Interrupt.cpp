#include "cli/Interrupt.h"

#include <atomic>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace kz51::cli {

namespace {

std::function<void()> handler;
std::atomic<bool> interrupted{false};

#if defined(_WIN32)
// Windows runs console control handlers on a thread of their own already.
BOOL WINAPI OnConsoleCtrl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  interrupted = true;
  if (handler) handler();
  return TRUE;
}
#else
int wakePipe[2] = {-1, -1};
std::thread watcher;
struct sigaction previous {};

void OnSigint(int) {
  interrupted = true;
  const char c = 1;
  // Only async-signal-safe work here: the watcher thread does the stop.
  [[maybe_unused]] const ssize_t n = write(wakePipe[1], &c, 1);
}
#endif

}  // namespace

InterruptToStop::InterruptToStop(std::function<void()> onInterrupt) {
  handler = std::move(onInterrupt);
#if defined(_WIN32)
  SetConsoleCtrlHandler(&OnConsoleCtrl, TRUE);
#else
  if (pipe(wakePipe) != 0) return;
  watcher = std::thread([] {
    char c = 0;
    while (read(wakePipe[0], &c, 1) == 1 && c == 1) {
      if (handler) handler();
    }
  });
  struct sigaction sa {};
  sa.sa_handler = &OnSigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: the prompt's read returns and shows a new prompt
  sigaction(SIGINT, &sa, &previous);
#endif
}

InterruptToStop::~InterruptToStop() {
#if defined(_WIN32)
  SetConsoleCtrlHandler(&OnConsoleCtrl, FALSE);
#else
  sigaction(SIGINT, &previous, nullptr);
  if (wakePipe[1] >= 0) {
    const char c = 0;  // ends the watcher
    [[maybe_unused]] const ssize_t n = write(wakePipe[1], &c, 1);
  }
  if (watcher.joinable()) watcher.join();
  if (wakePipe[0] >= 0) close(wakePipe[0]);
  if (wakePipe[1] >= 0) close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
#endif
  handler = nullptr;
}

bool InterruptToStop::TakeInterrupted() {
  return interrupted.exchange(false);
}

}  // namespace kz51::cli
