#pragma once
// The table of kz51's commands, as gdb keeps its own: one row per command
// with its name, short forms, usage, help text and handler. The dispatcher,
// `help` and completion at the prompt all read this one table, so a new
// command is one row and one function.
#include <cstddef>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace kz51::cli {

struct Call;
using Handler = CommandResult (*)(Call&);

// What a command is, for the prompt and for breakpoint commands.
enum CommandFlag : unsigned {
  kRepeats = 1u << 0,     // Enter at the prompt runs it again (step, next, list, ...)
  kRunsTarget = 1u << 1,  // runs the target (go, step, until, ...)
  // Connects, loads, resets, quits or changes breakpoints: the debug
  // adapter does these itself, and its console refuses them.
  kAdapterOwns = 1u << 2,
};

struct CommandSpec {
  const char* name;        // "break", "info registers" (words separated by one space)
  const char* shortForms;  // alternatives separated by '|': "b", "i r|info reg"; "" for none
  const char* usage;       // "break LOC [count N] [command TEXT]"
  const char* help;        // one line
  bool needsDriver;        // loads the driver library before the handler runs
  Handler handler;
  unsigned flags = 0;  // CommandFlag bits
};

const std::vector<CommandSpec>& CommandTable();

// Every spelling of a command: its name first, then its short forms, each as
// words.
std::vector<std::vector<std::string>> Spellings(const CommandSpec& entry);

// The row whose spelling matches the most leading words of `words`, and how
// many words that spelling has; null when none matches.
struct CommandMatch {
  const CommandSpec* entry = nullptr;
  std::size_t words = 0;
};
CommandMatch FindCommand(const std::vector<std::string>& words);

// The row of a command line, or null.
const CommandSpec* CommandOf(const std::string& line);

// The row of a command text when it runs the target, else null; and the
// sentence refusing it as a breakpoint's command.
const CommandSpec* RunsTarget(const std::string& text);
std::string RunRefusal(const std::string& text);

}  // namespace kz51::cli
