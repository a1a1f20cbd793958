#pragma once
// Where the function of frame 0 returns to, from the frame walk: the
// caller's resume address (after its call, or the interrupted instruction
// under an interrupt handler) and the caller's SP there. Finish, until and
// advance run to it.
#include <optional>

#include "debug/DebugModel.h"

namespace kz51::debug {

std::optional<Session::ReturnPoint> ReturnPointOf(DebugModel& model);

}  // namespace kz51::debug
