#include "cli/CommandTable.h"

#include <algorithm>
#include <sstream>

#include "cli/Handlers.h"

namespace kz51::cli {

const std::vector<CommandSpec>& CommandTable() {
  // In the order `help` lists them.
  static const std::vector<CommandSpec> table = {
      {"connect", "", "connect", "connect to the emulator; shows its model and pod", true,
       ConnectCommand, kAdapterOwns},
      {"options", "", "options", "open the driver's project options (emulator, pod, CPU, crystal)",
       true, OptionsCommand, kAdapterOwns},
      {"load", "", "load FILE",
       "load an Intel HEX file into code memory, with its SDCC .map/.cdb/.rst", true, LoadCommand,
       kAdapterOwns},
      {"break", "b", "break LOC [count N] [if EXPR] [command TEXT]",
       "set a breakpoint (after the prologue for a function); it acts on the Nth hit at which "
       "EXPR holds; TEXT is a kz51 command run when it acts (the run then continues)",
       true, BreakCommand, kAdapterOwns},
      {"tbreak", "tb", "tbreak LOC [count N] [if EXPR] [command TEXT]",
       "set a temporary breakpoint: deleted when the target stops at it", true, TbreakCommand,
       kAdapterOwns},
      {"delete", "d", "delete N|all", "delete breakpoint N, or all of them", true, DeleteCommand,
       kAdapterOwns},
      {"disable", "", "disable N", "disable breakpoint N", true, DisableCommand, kAdapterOwns},
      {"enable", "", "enable N", "enable breakpoint N", true, EnableCommand, kAdapterOwns},
      {"breaks", "info breakpoints|info break|info b|i b", "breaks", "list the breakpoints", true,
       BreaksCommand},
      {"go", "continue|c", "go [until LOC] [&]",
       "run until a breakpoint (or LOC, or stop); with & the run goes on in the background", true,
       GoCommand, kRunsTarget},
      {"wait", "", "wait", "wait for a background run to stop", true, WaitCommand, kRunsTarget},
      {"step", "s", "step [N]",
       "step N C lines (into calls), or N instructions where no line is known", true, StepCommand,
       kRunsTarget | kRepeats},
      {"stepi", "si", "stepi [N]", "step N machine instructions", true, StepiCommand,
       kRunsTarget | kRepeats},
      {"next", "n", "next [N]",
       "step N C lines (or instructions where no line is known), over calls", true, NextCommand,
       kRunsTarget | kRepeats},
      {"nexti", "ni", "nexti [N]", "step N machine instructions, over calls", true, NextiCommand,
       kRunsTarget | kRepeats},
      {"finish", "fin", "finish", "run until the selected frame returns to its caller", true,
       FinishCommand, kRunsTarget},
      {"until", "u", "until [LOC]",
       "run until LOC in this function (or an outer one) or until it returns; without LOC, next "
       "without going back in a loop",
       true, UntilCommand, kRunsTarget},
      {"advance", "", "advance LOC", "run until LOC, or until the current function returns", true,
       AdvanceCommand, kRunsTarget},
      {"stop", "", "stop", "stop the running target", true, StopCommand, kAdapterOwns},
      {"reset", "", "reset", "reset the target", true, ResetCommand, kAdapterOwns},
      {"where", "", "where", "show the PC: address, symbol+offset, C file:line, instruction", true,
       WhereCommand},
      {"list", "l", "list [LOC|-]",
       "show C lines around LOC (file.c:LINE, LINE, a function, an address) or the stop; again: "
       "the next lines; -: the lines before",
       true, ListCommand, kRepeats},
      {"disassemble", "disas", "disassemble [LOC [COUNT]]",
       "show instructions: the function holding LOC (or the PC), or COUNT of them from LOC", true,
       DisassembleCommand},
      {"directory", "dir", "directory [DIR]",
       "add a directory where C sources are looked for (beside the program first); without DIR, "
       "show them",
       false, DirectoryCommand},
      {"regs", "info registers|info reg|i r", "regs", "show the registers", true, RegsCommand},
      {"set", "", "set REG VALUE", "set a register: r0..r7 a b sp dptr pc psw p f1 ov rs f0 ac cy",
       true, SetCommand},
      {"dump", "", "dump SPACE:ADDR LEN",
       "show memory; SPACE is code, data, idata, sfr, xdata or pdata", true, DumpCommand},
      {"write", "", "write SPACE:ADDR HEXBYTES", "write bytes, e.g. write xdata:0x100 DEADBEEF",
       true, WriteCommand},
      {"backtrace", "bt|info stack|i s", "backtrace", "list the stack frames, innermost first",
       true, BacktraceCommand},
      {"up", "", "up [N]", "select the frame N levels up (toward main)", true, UpCommand},
      {"down", "", "down [N]", "select the frame N levels down", true, DownCommand},
      {"frame", "f", "frame [N]", "select frame N, or show the selected frame", true, FrameCommand},
      {"print", "p", "print EXPR",
       "show a C expression in the selected frame; print LVALUE = EXPR sets it ($a $b $r0..$r7 "
       "$sp $dptr $pc $psw are the registers)",
       true, PrintCommand},
      {"set var", "set variable", "set var LVALUE = EXPR",
       "set a C variable (or register, or memory through a pointer) in the selected frame", true,
       SetVarCommand},
      {"locals", "info locals", "locals", "show the local variables of the selected frame", true,
       LocalsCommand},
      {"args", "info args", "args", "show the parameters of the selected frame", true, ArgsCommand},
      {"symbols", "", "symbols [PATTERN]",
       "list functions and variables whose name contains PATTERN", true, SymbolsCommand},
      {"info", "i", "info WHAT", "the info commands: info registers, info breakpoints, ...", false,
       InfoCommand},
      {"help", "?|h", "help [COMMAND]", "this list, or one command", false, HelpCommand},
      {"quit", "exit|q", "quit", "leave kz51", false, QuitCommand, kAdapterOwns},
  };
  return table;
}

std::vector<std::vector<std::string>> Spellings(const CommandSpec& entry) {
  std::vector<std::vector<std::string>> out;
  auto add = [&out](const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    if (!words.empty()) out.push_back(std::move(words));
  };
  add(entry.name);
  std::string forms = entry.shortForms;
  for (std::size_t at = 0; at <= forms.size();) {
    const auto bar = forms.find('|', at);
    const auto end = bar == std::string::npos ? forms.size() : bar;
    add(forms.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

CommandMatch FindCommand(const std::vector<std::string>& words) {
  CommandMatch best;
  for (const auto& entry : CommandTable()) {
    for (const auto& spelling : Spellings(entry)) {
      if (spelling.size() > words.size() || spelling.size() <= best.words) continue;
      bool same = true;
      for (std::size_t i = 0; i < spelling.size() && same; ++i) same = spelling[i] == words[i];
      if (same) best = {&entry, spelling.size()};
    }
  }
  return best;
}

std::string Commands::Help(const std::string& command) {
  std::ostringstream out;
  if (!command.empty()) {
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string w; in >> w;) words.push_back(w);
    const CommandMatch m = FindCommand(words);
    if (m.entry == nullptr || m.words != words.size()) return "";
    std::string text = std::string(m.entry->usage) + "\n  " + m.entry->help;
    if (*m.entry->shortForms != '\0') {
      std::string forms = m.entry->shortForms;
      for (auto at = forms.find('|'); at != std::string::npos; at = forms.find('|', at))
        forms.replace(at, 1, ", ");
      text += "\n  also: " + forms;
    }
    return text;
  }
  out << "Commands (LOC is 0x1234, 1234h, a symbol such as main or _main, or file.c:LINE):";
  for (const auto& entry : CommandTable()) {
    std::string usage = entry.usage;
    // A long usage keeps all its words: the help text moves along.
    usage.resize(std::max<std::size_t>(36, usage.size() + 2), ' ');
    out << "\n  " << usage << entry.help;
  }
  return out.str();
}

CommandResult HelpCommand(Call& call) {
  const std::string text = Commands::Help(call.From(0));
  if (text.empty()) return call.Fail("no command '" + call.From(0) + "' (help lists them)");
  call.r.json["help"] = text;
  call.r.text = text;
  return call.r;
}

// "info" alone, or with a word no row has: the info commands of the table.
CommandResult InfoCommand(Call& call) {
  std::string names;
  for (const auto& entry : CommandTable())
    for (const auto& spelling : Spellings(entry))
      if (spelling.size() == 2 && spelling[0] == "info") {
        names += (names.empty() ? "" : ", ") + spelling[0] + " " + spelling[1];
        break;
      }
  const std::string what =
      call.argc() == 0 ? "info needs a subject" : "no info command '" + call.From(0) + "'";
  return call.Fail(what + " (" + names + ")");
}

CommandResult QuitCommand(Call& call) {
  call.r.quit = true;
  return call.r;
}

}  // namespace kz51::cli
