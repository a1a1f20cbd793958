#include "debug/ReturnPoint.h"

namespace kz51::debug {

std::optional<Session::ReturnPoint> ReturnPointOf(DebugModel& model) {
  // The innermost frame's own return, as the frame walk finds it.
  auto back = model.ReturnOf(0);
  if (!back) return std::nullopt;
  Session::ReturnPoint point;
  point.address = back->address;
  point.sp = back->sp;
  return point;
}

}  // namespace kz51::debug
