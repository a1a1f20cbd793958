// Stack frames: backtrace, up, down, frame. The selected frame is where
// print, locals, args and set var work; every run selects frame 0 again.
#include "cli/Handlers.h"

namespace kz51::cli {

namespace {

void AddFrame(Json& j, const debug::Frame& f) {
  j["level"] = f.level;
  j["function"] = f.name;
  if (f.line) {
    j["file"] = f.line->file;
    j["line"] = f.line->line;
  }
  j["pc"] = f.pc;
  if (f.interrupted) j["interrupted"] = true;
}

std::string FrameLine(const Symbols& symbols, const debug::Frame& f) {
  std::string text = "#" + std::to_string(f.level) + "  " + LineText(symbols, f.pc);
  if (symbols.Describe(f.pc).empty()) text += " " + f.name;
  if (f.interrupted) text += "   [interrupted]";
  return text;
}

CommandResult Selected(Call& call, Result<const debug::Frame*> f) {
  if (!f) return call.Fail(f.error());
  AddFrame(call.r.json, **f);
  call.r.text = FrameLine(call.symbols(), **f);
  return call.r;
}

// up [N] and down [N]: N frames toward main (up) or the innermost (down).
CommandResult Move(Call& call, int direction) {
  if (call.argc() > 1) return call.Usage();
  std::uint32_t n = 1;
  std::string error;
  if (call.argc() == 1 && !ParseCount(call.arg(0), n, error)) return call.Fail(error);
  debug::DebugModel& model = call.commands.model();
  const int from = model.Selected();
  const long long to = from + direction * static_cast<long long>(n);
  if (to < 0) return call.Fail("frame 0 is the innermost frame; there is none below it");
  auto f = model.FrameAt(static_cast<int>(to));
  if (!f) {
    auto bt = model.Backtrace();
    if (bt && !bt->empty())
      return call.Fail("frame " + std::to_string(bt->size() - 1) + " (" + bt->back()->name +
                       ") is the outermost frame; there is none above it");
    return call.Fail(f.error());
  }
  return Selected(call, model.Select(static_cast<int>(to)));
}

}  // namespace

CommandResult BacktraceCommand(Call& call) {
  if (call.argc() != 0) return call.Usage();
  debug::DebugModel& model = call.commands.model();
  auto bt = model.Backtrace();
  if (!bt) return call.Fail(bt.error());
  Json frames = Json::array();
  std::string text;
  for (const debug::Frame* f : *bt) {
    Json j;
    AddFrame(j, *f);
    frames.push_back(std::move(j));
    text += (text.empty() ? "" : "\n") + FrameLine(call.symbols(), *f);
  }
  call.r.json["frames"] = frames;
  call.r.json["selected"] = model.Selected();
  const std::string end = model.BacktraceEnd();
  if (!end.empty()) {
    call.r.json["end"] = end;
    text += "\n(the walk stops here: " + end + ")";
  }
  call.r.text = text;
  return call.r;
}

CommandResult UpCommand(Call& call) {
  return Move(call, 1);
}

CommandResult DownCommand(Call& call) {
  return Move(call, -1);
}

CommandResult FrameCommand(Call& call) {
  if (call.argc() > 1) return call.Usage();
  debug::DebugModel& model = call.commands.model();
  if (call.argc() == 0) return Selected(call, model.FrameAt(model.Selected()));
  std::uint32_t n = 0;
  if (!ParseNumber(call.arg(0), n) || n > 0xFFFF)
    return call.Fail("'" + call.arg(0) + "' is not a frame number");
  return Selected(call, model.Select(static_cast<int>(n)));
}

}  // namespace kz51::cli
