#include "cli/Prompt.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#if defined(_WIN32)
#include <io.h>
#else
#include <editline/readline.h>
#include <unistd.h>
#endif

namespace kz51::cli {

LineReader::LineReader() {
#if !defined(_WIN32)
  using_history();
  stifle_history(500);
#endif
}

LineReader::~LineReader() = default;

std::optional<std::string> LineReader::Read(const char* prompt) {
#if defined(_WIN32)
  std::fputs(prompt, stdout);
  std::fflush(stdout);
  std::string line;
  if (!std::getline(std::cin, line)) {
    if (std::cin.eof()) return std::nullopt;
    std::cin.clear();  // an interrupted read: offer the prompt again
    return std::string();
  }
  return line;
#else
  char* raw = readline(prompt);
  if (raw == nullptr) return std::nullopt;
  std::string line(raw);
  std::free(raw);
  return line;
#endif
}

void LineReader::Remember(const std::string& line) {
#if !defined(_WIN32)
  if (!line.empty()) add_history(line.c_str());
#else
  (void)line;
#endif
}

bool StdinIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace kz51::cli
