#include "debug/ReturnPoint.h"

namespace kz51::debug {

std::optional<Session::ReturnPoint> ReturnPointOf(DebugModel& model) {
  auto caller = model.FrameAt(1);
  if (!caller) return std::nullopt;
  const Frame& f = **caller;
  Session::ReturnPoint point;
  point.sp = f.sp;
  point.address = f.pc;
  if (!f.interrupted) {
    // A caller's frame stands at its call: the return comes after it.
    auto op = model.target().Read(MemorySpace::Code, f.pc, 1);
    if (!op) return std::nullopt;
    if ((*op)[0] == 0x12)
      point.address = f.pc + 3;  // LCALL
    else if (((*op)[0] & 0x1F) == 0x11)
      point.address = f.pc + 2;  // ACALL
    else
      return std::nullopt;
  }
  point.address &= 0xFFFFu;
  return point;
}

}  // namespace kz51::debug
