#include "cli/Prompt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#if defined(_WIN32)
#include <io.h>
#else
#include <editline/readline.h>
#include <unistd.h>
#endif

namespace kz51::cli {

#if !defined(_WIN32)
namespace {

// libedit calls back without context: the reader of the one prompt sets
// these while it reads a line.
LineReader::Completer* activeCompleter = nullptr;
std::vector<std::string> pending;

char* NextMatch(const char* /*text*/, int state) {
  static std::size_t index = 0;
  if (state == 0) index = 0;
  if (index >= pending.size()) return nullptr;
  return strdup(pending[index++].c_str());
}

char** CompleteWord(const char* text, int start, int /*end*/) {
  rl_attempted_completion_over = 1;  // never fall back to file names
  pending.clear();
  if (activeCompleter != nullptr && *activeCompleter)
    pending = (*activeCompleter)(std::string(rl_line_buffer),
                                 static_cast<std::size_t>(start < 0 ? 0 : start));
  // A file's "name.c:" goes on with its line number: no space after it.
  rl_completion_append_character =
      pending.size() == 1 && !pending[0].empty() && pending[0].back() == ':' ? '\0' : ' ';
  return rl_completion_matches(text, NextMatch);
}

}  // namespace
#endif

LineReader::LineReader(Completer completer) : completer_(std::move(completer)) {
#if !defined(_WIN32)
  using_history();
  stifle_history(500);
  activeCompleter = &completer_;
  rl_attempted_completion_function = CompleteWord;
  // Words end at blanks only: "main.c:12" and "xdata:0x10" stay one word.
  static char breaks[] = " \t";
  rl_completer_word_break_characters = breaks;
#endif
}

LineReader::~LineReader() {
#if !defined(_WIN32)
  activeCompleter = nullptr;
  rl_attempted_completion_function = nullptr;
#endif
}

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

std::string WithoutComment(const std::string& line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted) return line.substr(0, i);
  }
  return line;
}

}  // namespace kz51::cli
