#pragma once
// The commands of kz51, shared by scripts (-c, -f) and the interactive prompt.
// Each command line gives one result: a JSON object (`--json`) or short
// readable lines; a failure carries a sentence saying why. The commands
// themselves are the rows of the command table (CommandTable.h).
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "debug/DebugModel.h"
#include "session/Session.h"

namespace kz51::cli {

struct CommandResult {
  nlohmann::ordered_json json;  // "command", "ok", then the command's fields
  std::string text;             // readable lines, without a final newline
  bool ok = true;
  bool quit = false;
};

class Commands {
 public:
  // `driverPath`: the library to load at the first command that needs it.
  // `out` receives every finished result (also those of breakpoint commands
  // run during a go), in order.
  Commands(Session& session, std::string driverPath, std::function<void(const CommandResult&)> out);

  // Runs one command line; the result has also gone to `out`.
  CommandResult Execute(const std::string& line);

  // Text for `help` and `help COMMAND` (any spelling); "" for an unknown one.
  static std::string Help(const std::string& command);

  // What Enter at the prompt runs after `line`: the same step, next, stepi
  // ...; `list` goes on with the next lines. "" when Enter does nothing.
  static std::string Repetition(const std::string& line);

  // Completions at the prompt of the word that starts at `start` of `line`:
  // command names, then locations, variables and register names.
  std::vector<std::string> Complete(const std::string& line, std::size_t start) const;

  // Where `list` goes on: the file and the next line to show.
  struct ListPosition {
    std::string file;
    unsigned first = 0;  // first line shown last time
    unsigned next = 0;   // the line after the last one shown
  };
  ListPosition& Listed() { return listed_; }

  // For the run handlers: where the results of breakpoint commands run
  // during a run are collected (null: nowhere).
  void CollectBreakpointCommands(std::vector<nlohmann::ordered_json>* into) { nested_ = into; }

  // The C model of the stopped target (frames, variables, expressions).
  debug::DebugModel& model() { return *model_; }

  // A breakpoint's condition: it acts on the `count`-th hit at which
  // `expression` holds; `command` then runs and the run goes on.
  struct Condition {
    std::string expression;
    int count = 1;
    int hits = 0;  // hits at which the condition held
    std::string command;
  };
  void SetCondition(int breakpoint, Condition c);
  void DropCondition(int breakpoint);  // and all of them for 0
  std::optional<Condition> ConditionOf(int breakpoint);
  // The sentence of the last condition that could not be evaluated, once.
  std::string TakeConditionError();

 private:
  CommandResult Run(const std::string& line);
  CommandResult RunBreakpointCommand(const std::string& text);
  bool EnsureDriver(std::string& error);
  // The session's breakpoint filter: evaluates conditions on the thread
  // that runs the target, with a model of its own.
  bool ConditionHolds(int breakpoint);
  // Runs a breakpoint's command and hands its result on (the run's JSON,
  // the text to `out`).
  void ShowBreakpointCommand(const std::string& text);

  Session& session_;
  std::string driverPath_;
  std::function<void(const CommandResult&)> out_;
  std::vector<nlohmann::ordered_json>* nested_ = nullptr;  // breakpoint commands of a go
  ListPosition listed_;
  std::unique_ptr<debug::SessionTarget> target_;
  std::unique_ptr<debug::DebugModel> model_;
  std::mutex conditionsMutex_;  // the filter runs on the run's thread
  std::map<int, Condition> conditions_;
  std::string conditionError_;
};

// Readable forms shared with other front ends.
std::string AddressText(std::uint32_t address);                // "0062H", "0FD00H"
std::string HexBytes(const std::vector<std::uint8_t>& bytes);  // "0A1B2C"

}  // namespace kz51::cli
