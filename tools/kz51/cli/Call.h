#pragma once
// One command line on its way through a handler: the row it matched, its
// arguments, the session it works on and the result it builds; and the
// readable forms the handlers share.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/CommandTable.h"
#include "cli/Commands.h"
#include "debug/DebugModel.h"
#include "session/Session.h"

namespace kz51::cli {

using Json = nlohmann::ordered_json;

// A word of a command line and where it starts in the line (at its opening
// quote when quoted). Double quotes group words and are removed.
struct Word {
  std::string text;
  std::size_t at = 0;
};
std::vector<Word> SplitWords(const std::string& line);
std::string Trim(const std::string& s);

struct Call {
  Call(Commands& commands, Session& session, const CommandSpec& entry, std::string line,
       std::vector<Word> args)
      : commands(commands),
        session(session),
        entry(entry),
        line(std::move(line)),
        args(std::move(args)) {}

  Commands& commands;
  Session& session;
  const CommandSpec& entry;
  std::string line;        // trimmed, as typed
  std::vector<Word> args;  // the words after the command's name
  CommandResult r;         // "command" and "ok" are set; the handler adds its fields

  Symbols& symbols() { return session.symbols(); }
  std::size_t argc() const { return args.size(); }
  // Argument i (0 is the first after the name), or "".
  std::string arg(std::size_t i) const { return i < args.size() ? args[i].text : std::string(); }
  // The line from argument i on, as typed; "" when there is none.
  std::string From(std::size_t i) const { return i < args.size() ? line.substr(args[i].at) : ""; }

  CommandResult Fail(const std::string& error);
  CommandResult Usage() { return Fail(std::string("usage: ") + entry.usage); }
};

// Readable forms shared by the handlers.
std::string Hex2(unsigned v);                                    // "0A"
std::string LineText(const Symbols& symbols, std::uint32_t pc);  // "0065H fill (checksum.c:20)"
std::string ValueText(std::int64_t v);                           // "392 (0x188)", "-3"
// "pc", "symbol", "file", "line" of a place.
void AddPlace(Json& j, const Symbols& symbols, std::uint32_t pc);

bool ParseCount(const std::string& text, std::uint32_t& n, std::string& error);
// "SPACE:ADDR", where ADDR may also be a C variable (or any object) of the
// selected frame, which must lie in that space; or the variable alone, in
// its own space.
bool ParseSpaceAddress(const std::string& text, debug::DebugModel& model, MemorySpace& space,
                       std::uint32_t& address, std::string& error);

}  // namespace kz51::cli
