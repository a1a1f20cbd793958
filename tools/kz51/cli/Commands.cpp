#include "cli/Commands.h"

#include "cli/Call.h"
#include "cli/CommandTable.h"

namespace kz51::cli {

Commands::Commands(Session& session, std::string driverPath,
                   std::function<void(const CommandResult&)> out)
    : session_(session), driverPath_(std::move(driverPath)), out_(std::move(out)) {
  // A breakpoint's command text runs with the target stopped at it; its
  // result joins the go's result.
  session_.SetCommandRunner([this](const std::string& text) {
    CommandResult r = Run(text);
    r.json["breakpointCommand"] = true;
    if (nested_ != nullptr) nested_->push_back(r.json);
    if (!r.text.empty() && out_) {
      CommandResult shown;
      shown.text = r.text;
      shown.ok = r.ok;
      shown.json = nullptr;  // shown only as text; the JSON goes with the go
      out_(shown);
    }
  });
}

bool Commands::EnsureDriver(std::string& error) {
  if (session_.IsOpen()) return true;
  auto r = session_.Open(driverPath_);
  if (!r) {
    error = "cannot use the driver library: " + r.error();
    return false;
  }
  return true;
}

CommandResult Commands::Execute(const std::string& line) {
  CommandResult r = Run(line);
  if (out_) out_(r);
  return r;
}

CommandResult Commands::Run(const std::string& rawLine) {
  const std::string line = Trim(rawLine);
  std::vector<Word> words = SplitWords(line);
  std::vector<std::string> texts;
  for (const auto& w : words) texts.push_back(w.text);
  const CommandMatch match = FindCommand(texts);
  static const CommandSpec kNone{"", "", "", "", false, nullptr};
  Call call(
      *this, session_, match.spec != nullptr ? *match.spec : kNone, line,
      std::vector<Word>(words.begin() + static_cast<std::ptrdiff_t>(match.words), words.end()));
  call.r.json["command"] = line;
  call.r.json["ok"] = true;
  if (words.empty()) return call.Fail("empty command");
  if (match.spec == nullptr)
    return call.Fail("unknown command '" + words[0].text + "' (help lists the commands)");
  std::string error;
  if (match.spec->needsDriver && !EnsureDriver(error)) return call.Fail(error);
  return match.spec->handler(call);
}

}  // namespace kz51::cli
