// The emulator and the program: connect, options, load, reset.
#include "cli/Handlers.h"

namespace kz51::cli {

CommandResult ConnectCommand(Call& call) {
  auto c = call.session.Connect();
  if (!c) return call.Fail(c.error());
  call.r.json["model"] = c->model;
  call.r.json["pod"] = c->pod;
  call.r.json["podName"] = c->podName;
  call.r.text = "connected: emulator " + c->model + ", pod " + std::to_string(c->pod) + " (" +
                c->podName + ")";
  return call.r;
}

CommandResult OptionsCommand(Call& call) {
  auto o = call.session.Options();
  if (!o) return call.Fail(o.error());
  call.r.json["accepted"] = o->accepted;
  call.r.json["changed"] = o->changed;
  // The driver keeps what was clicked before Cancel, and saves it: say so.
  std::string chosen;
  for (const auto& what : o->changed) {
    chosen += chosen.empty() ? "" : ", ";
    if (what == "emulator")
      chosen += "emulator " + o->model;
    else if (what == "pod")
      chosen += "pod " + std::to_string(o->pod) + " (" + o->podName + ")";
    else if (what == "crystal")
      chosen += "crystal " + std::to_string(o->crystalHz) + " Hz";
    else
      chosen += what;
  }
  if (o->accepted)
    call.r.text = "options saved" + (chosen.empty() ? std::string() : ": " + chosen);
  else if (chosen.empty())
    call.r.text = "options cancelled";
  else
    call.r.text =
        "options cancelled, but the driver kept and saved what the dialog had chosen: " + chosen;
  return call.r;
}

CommandResult LoadCommand(Call& call) {
  if (call.argc() != 1) return call.Usage();
  auto l = call.session.Load(call.arg(0));
  if (!l) return call.Fail(l.error());
  Json& j = call.r.json;
  j["file"] = l->file;
  j["bytes"] = l->bytes;
  j["low"] = l->low;
  j["high"] = l->high;
  j["symbolFiles"] = l->symbolFiles;
  std::string& text = call.r.text;
  text = "loaded " + l->file + ": " + std::to_string(l->bytes) + " bytes, " + AddressText(l->low) +
         ".." + AddressText(l->high);
  if (!l->symbolFiles.empty()) {
    text += "; symbols from";
    for (const auto& f : l->symbolFiles) {
      const auto slash = f.find_last_of("/\\");
      text += " " + (slash == std::string::npos ? f : f.substr(slash + 1));
    }
  }
  // Said now, not first at a print or a break on a line.
  if (!call.symbols().HasDebugInfo()) {
    j["warning"] = "no debug information: build with --debug";
    text += "\n" + j["warning"].get<std::string>();
  }
  return call.r;
}

CommandResult ResetCommand(Call& call) {
  auto s = call.session.Reset();
  if (!s) return call.Fail(s.error());
  auto pc = call.session.Pc();
  if (pc) AddPlace(call.r.json, call.symbols(), *pc);
  call.r.text = "reset; pc " + (pc ? LineText(call.symbols(), *pc) : std::string("unknown"));
  return call.r;
}

}  // namespace kz51::cli
