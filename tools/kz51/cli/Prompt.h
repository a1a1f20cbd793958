#pragma once
// Line input for the interactive prompt: libedit (editing and history) on
// Linux, plain line reading on Windows.
#include <optional>
#include <string>

namespace kz51::cli {

class LineReader {
 public:
  LineReader();
  ~LineReader();
  // The next line without its newline; empty optional at end of input.
  std::optional<std::string> Read(const char* prompt);
  void Remember(const std::string& line);
};

// True when standard input is a terminal.
bool StdinIsTerminal();

}  // namespace kz51::cli
