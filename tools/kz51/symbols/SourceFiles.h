#pragma once
// Where the C files named by the debug information lie, and their lines.
// A file name from the .cdb ("main.c") is looked for, in this order: the
// path a client named for a file of that name (an editor's breakpoint), beside
// the program, in the source directories, then at the path the listing says it
// was compiled from (relative paths taken from the program's directory).
// Found paths are absolute and name existing files; nothing is guessed.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kz51 {

class Listing;

class SourceFiles {
 public:
  // The loaded program (its directory is searched) and its listings (for the
  // compiled-from paths and the quoted lines). Forgets the files read.
  void SetProgram(const std::string& programPath, const Listing* listing);
  // Kept across programs.
  void AddDirectory(const std::string& directory);
  void ClearDirectories() { directories_.clear(); }
  const std::vector<std::string>& Directories() const { return directories_; }
  // A path a client uses for a file: preferred for every file of its name.
  void AddClientPath(const std::string& path);

  // The absolute path of an existing file for `name`, or "".
  std::string Find(const std::string& name) const;
  // The text of a line: from the file, else as the listing quotes it.
  std::optional<std::string> LineText(const std::string& name, unsigned line) const;
  // The number of lines of the file, 0 when it is not found.
  unsigned LineCount(const std::string& name) const;

 private:
  const std::vector<std::string>* Lines(const std::string& name) const;

  std::string programDir_;
  const Listing* listing_ = nullptr;
  std::vector<std::string> directories_;
  std::map<std::string, std::string> clientPaths_;                 // by file name
  mutable std::map<std::string, std::vector<std::string>> files_;  // by absolute path
};

// The file name without its directory ("../src/main.c" -> "main.c").
std::string FileNameOf(const std::string& path);

}  // namespace kz51
