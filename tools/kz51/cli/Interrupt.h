#pragma once
// Ctrl-C while the target runs: the interrupt is turned into the driver's
// stop, called from a second thread (the run blocks the control thread, and
// a signal handler may not call into the driver).
#include <functional>

namespace kz51::cli {

class InterruptToStop {
 public:
  // `onInterrupt` runs on the second thread at every Ctrl-C.
  explicit InterruptToStop(std::function<void()> onInterrupt);
  ~InterruptToStop();
  InterruptToStop(const InterruptToStop&) = delete;
  InterruptToStop& operator=(const InterruptToStop&) = delete;

  // True once since the last call if a Ctrl-C arrived.
  bool TakeInterrupted();
};

}  // namespace kz51::cli
