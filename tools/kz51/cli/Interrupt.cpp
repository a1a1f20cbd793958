#include "cli/Interrupt.h"

#include <atomic>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
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
  // The watcher takes no signals: a Ctrl-C the kernel hands to it would end
  // its read with EINTR. That happens at the prompt, where the line editor
  // re-raises Ctrl-C with kill(0) while its own handler still blocks SIGINT
  // on the main thread, so the kernel picks another thread. The thread
  // inherits this mask; the creating thread gets its own back at once.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  watcher = std::thread([] {
    char c = 0;
    for (;;) {
      const ssize_t n = read(wakePipe[0], &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n != 1 || c != 1) break;
      if (handler) handler();
    }
  });
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
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
