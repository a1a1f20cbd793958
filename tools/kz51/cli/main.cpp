// kz51: the command-line debugger host. Loads the driver library, registers
// itself as the host, and runs commands from -c and -f in order (or from an
// interactive prompt when stdin is a terminal).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Devices.h"
#include "cli/Interrupt.h"
#include "cli/Prompt.h"
#include "dap/Server.h"
#include "run/RunCommand.h"
#include "session/HostProgram.h"

namespace {

using kz51::cli::CommandResult;

// Exit statuses.
constexpr int kAllSucceeded = 0;
constexpr int kCommandFailed = 1;
constexpr int kUsageError = 2;

struct Step {
  std::string text;
  std::string origin;  // "-c" or "script.txt:12", for messages
};

std::string DefaultDriverPath() {
  // Beside this program first: that is where the build and an installation
  // put it, together with the driver's data files.
  const std::string beside = kz51::HostProgramDirectory() + kzhost::DefaultDriverLibrary();
  std::ifstream probe(beside, std::ios::binary);
  return probe ? beside : std::string(kzhost::DefaultDriverLibrary());
}

// One command a line; '#' starts a comment.
bool ReadScript(const std::string& path, std::vector<Step>& steps) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    line = line.substr(first, line.find_last_not_of(" \t\r") + 1 - first);
    steps.push_back({line, path + ":" + std::to_string(n)});
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The debug adapter is the second front end over the session.
  if (argc >= 2 && std::strcmp(argv[1], "dap") == 0) return kzhost::dap::RunDap(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "devices") == 0)
    return kz51::cli::RunDevices(argc - 1, argv + 1);
  // Firmware tests in CI are the third.
  if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return kz51::run::RunMain(argc - 1, argv + 1);
  CLI::App app{
      "kz51: debug 8051 programs on the in-circuit emulator (or the virtual emulator)\n"
      "Runs the commands of -c and -f in order, then exits; without them, offers a prompt\n"
      "when stdin is a terminal (else reads commands from stdin). Exit status: 0 when\n"
      "every command succeeded, 1 at the first failed command, 2 for a usage error.\n"
      "Type 'help' at the prompt, or run: kz51 -c help\n"
      "Also: kz51 dap (Debug Adapter Protocol server), kz51 devices (the USB devices that\n"
      "could be the emulator)",
      "kz51"};
  std::string driverPath = DefaultDriverPath();
  bool json = false;
  bool echo = false;
  std::string provider = "virtual";
  std::vector<std::string> commands, scripts;
  app.add_option("--driver", driverPath, "driver library")->default_str(driverPath);
  app.add_option("--provider", provider,
                 std::string("the emulator the driver reaches: ") + kzhost::ProviderChoices())
      ->check(CLI::IsMember({"virtual", "usb"}))
      ->default_str(provider);
  app.add_flag("--json", json, "print one JSON object per command");
  app.add_flag("--echo", echo, "show each command of -c/-f before its result, as at the prompt");
  auto* cOpt = app.add_option("-c", commands, "a command to run (may repeat)")
                   ->type_name("COMMAND")
                   ->allow_extra_args(false);
  auto* fOpt = app.add_option("-f", scripts, "a script: one command a line, # comments")
                   ->type_name("SCRIPT")
                   ->allow_extra_args(false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? code : kUsageError;
  }

  // -c and -f in the order given.
  std::vector<Step> steps;
  std::size_t ci = 0, fi = 0;
  for (const CLI::Option* opt : app.parse_order()) {
    if (opt == cOpt && ci < commands.size()) {
      steps.push_back({commands[ci++], "-c"});
    } else if (opt == fOpt && fi < scripts.size()) {
      const std::string& path = scripts[fi++];
      if (!ReadScript(path, steps)) {
        std::fprintf(stderr, "kz51: cannot read script %s\n", path.c_str());
        return kUsageError;
      }
    }
  }
  const bool scripted = !commands.empty() || !scripts.empty();
  const bool interactive = !scripted && kz51::cli::StdinIsTerminal();

  auto print = [json, interactive](const CommandResult& r) {
    if (json && !r.json.is_null()) {
      std::cout << r.json.dump() << std::endl;
    } else if (!json && !r.text.empty()) {
      // In scripts a failure also goes to stderr, where logs look for it.
      std::ostream& os = (!r.ok && !interactive) ? std::cerr : std::cout;
      os << r.text << std::endl;
    }
  };

  kz51::Session session;
  kzhost::Provider chosen = kzhost::Provider::Virtual;
  kzhost::ParseProvider(provider, chosen);
  session.SetProvider(chosen);
  kz51::cli::Commands cmds(session, driverPath, print);
  // Ctrl-C stops a running target; otherwise it ends a script (as it would
  // without the handler) and is ignored at the prompt.
  kz51::cli::InterruptToStop interrupt([&session, interactive] {
    if (session.Running()) {
      session.Stop();
    } else if (!interactive) {
      std::_Exit(130);
    }
  });

  if (scripted || !interactive) {
    if (!scripted) {
      std::string line;
      while (std::getline(std::cin, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        steps.push_back({line, "stdin"});
      }
    }
    for (const Step& step : steps) {
      if (echo && !json) std::cout << "(kz51) " << step.text << std::endl;
      const CommandResult r = cmds.Execute(step.text);
      if (!r.ok) return kCommandFailed;
      if (r.quit) break;
    }
    return kAllSucceeded;
  }

  std::printf("kz51: driver %s; type 'help' for the commands, 'quit' to leave\n",
              driverPath.c_str());
  kz51::cli::LineReader reader(
      [&cmds](const std::string& text, std::size_t start) { return cmds.Complete(text, start); });
  std::string repeat;  // what Enter runs: the last step, next, stepi, list
  for (;;) {
    auto line = reader.Read("(kz51) ");
    if (!line) {
      if (interrupt.TakeInterrupted()) {
        std::printf("\n");
        continue;
      }
      std::printf("\n");
      break;
    }
    interrupt.TakeInterrupted();
    const std::string command = kz51::cli::WithoutComment(*line);
    if (line->find_first_not_of(" \t\r") == std::string::npos) {
      if (repeat.empty()) continue;
      const CommandResult r = cmds.Execute(repeat);
      if (!r.ok) repeat.clear();
      continue;
    }
    reader.Remember(*line);
    if (command.find_first_not_of(" \t\r") == std::string::npos) continue;  // a comment
    const CommandResult r = cmds.Execute(command);
    repeat = r.ok ? kz51::cli::Commands::Repetition(command) : std::string();
    if (r.quit) break;
  }
  return kAllSucceeded;
}
