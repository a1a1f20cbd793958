#pragma once
// The handlers of the command table's rows, grouped by file: TargetCommands
// (the emulator and the program), BreakpointCommands, RunCommands,
// DataCommands (registers, memory, symbols), ValueCommands (C values),
// FrameCommands (stack frames), SourceCommands (list, disassemble,
// directory), and the table's own (info, help, quit).
#include "cli/Call.h"

namespace kz51::cli {

CommandResult ConnectCommand(Call& call);
CommandResult OptionsCommand(Call& call);
CommandResult LoadCommand(Call& call);
CommandResult ResetCommand(Call& call);

CommandResult BreakCommand(Call& call);
CommandResult TbreakCommand(Call& call);
CommandResult DeleteCommand(Call& call);
CommandResult DisableCommand(Call& call);
CommandResult EnableCommand(Call& call);
CommandResult BreaksCommand(Call& call);

CommandResult GoCommand(Call& call);
CommandResult WaitCommand(Call& call);
CommandResult StepCommand(Call& call);
CommandResult StepiCommand(Call& call);
CommandResult NextCommand(Call& call);
CommandResult NextiCommand(Call& call);
CommandResult UntilCommand(Call& call);
CommandResult AdvanceCommand(Call& call);
CommandResult FinishCommand(Call& call);
CommandResult StopCommand(Call& call);

CommandResult WhereCommand(Call& call);
CommandResult RegsCommand(Call& call);
CommandResult SetCommand(Call& call);
CommandResult DumpCommand(Call& call);
CommandResult WriteCommand(Call& call);
CommandResult SymbolsCommand(Call& call);

CommandResult PrintCommand(Call& call);
CommandResult SetVarCommand(Call& call);
CommandResult LocalsCommand(Call& call);
CommandResult ArgsCommand(Call& call);

CommandResult BacktraceCommand(Call& call);
CommandResult UpCommand(Call& call);
CommandResult DownCommand(Call& call);
CommandResult FrameCommand(Call& call);

CommandResult ListCommand(Call& call);
CommandResult DisassembleCommand(Call& call);
CommandResult DirectoryCommand(Call& call);

CommandResult InfoCommand(Call& call);
CommandResult HelpCommand(Call& call);
CommandResult QuitCommand(Call& call);

}  // namespace kz51::cli
