// Tab completion at the prompt: command names and their short forms from the
// command table, then what the command takes: locations (functions, code
// labels, C files as "file.c:"), variables, register names, command names.
#include <algorithm>
#include <set>

#include "cli/Call.h"
#include "cli/CommandTable.h"

namespace kz51::cli {

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::vector<std::string> Commands::Complete(const std::string& line, std::size_t start) const {
  const std::string head = line.substr(0, std::min(start, line.size()));
  std::string word = line.substr(std::min(start, line.size()));
  const auto space = word.find_first_of(" \t");
  if (space != std::string::npos) word.erase(space);
  std::vector<std::string> before;
  for (const auto& w : SplitWords(head)) before.push_back(w.text);
  std::set<std::string> out;
  // A command's next word: the words so far begin one of its spellings.
  for (const auto& entry : CommandTable()) {
    for (const auto& spelling : Spellings(entry)) {
      if (spelling.size() <= before.size()) continue;
      if (!std::equal(before.begin(), before.end(), spelling.begin())) continue;
      if (StartsWith(spelling[before.size()], word)) out.insert(spelling[before.size()]);
    }
  }
  if (!before.empty()) {
    const CommandMatch m = FindCommand(before);
    const std::string name = m.entry != nullptr ? m.entry->name : "";
    const Symbols& symbols = session_.symbols();
    auto offer = [&](const std::string& candidate) {
      if (StartsWith(candidate, word)) out.insert(candidate);
    };
    if (name == "help") {
      for (const auto& entry : CommandTable()) offer(entry.name);
    } else if (name == "set" && before.size() == m.words) {
      for (const auto& r : RegisterNames()) offer(r);
    } else if (name == "print" || name == "dump" || name == "write" || name == "symbols" ||
               name == "set") {
      for (const auto& v : symbols.Cdb().variables)
        if (!v.fromLinkerOnly) offer(v.name);
    } else if (m.entry != nullptr && name != "directory" && name != "load") {
      // Locations.
      for (const auto& f : symbols.Cdb().functions)
        if (f.start) offer(f.name);
      for (const auto& file : symbols.SourceNames()) offer(FileNameOf(file) + ":");
      if (!symbols.HasDebugInfo())
        for (const auto& s : symbols.MapSymbols())
          if (s.code && s.name.find('$') == std::string::npos) offer(s.name);
    }
  }
  return {out.begin(), out.end()};
}

}  // namespace kz51::cli
