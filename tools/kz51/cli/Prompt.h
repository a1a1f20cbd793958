#pragma once
// Line input for the interactive prompt: libedit (editing, history and Tab
// completion) on Linux, plain line reading on Windows.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kz51::cli {

class LineReader {
 public:
  // The completions of the word that starts at `start` of `line`.
  using Completer =
      std::function<std::vector<std::string>(const std::string& line, std::size_t start)>;

  explicit LineReader(Completer completer = nullptr);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  // The next line without its newline; empty optional at end of input.
  std::optional<std::string> Read(const char* prompt);
  void Remember(const std::string& line);

 private:
  Completer completer_;  // Windows reads plain lines and completes nothing
};

// True when standard input is a terminal.
bool StdinIsTerminal();

// The line without a comment: from a '#' outside double quotes on.
std::string WithoutComment(const std::string& line);

}  // namespace kz51::cli
