#pragma once
// C-line coverage as an lcov tracefile: per source file its functions (the
// line they are declared on and their entries) and its lines (their entries:
// how often execution arrived at one of the line's recorded addresses from
// outside the line, as gcov counts lines). Programs and earlier files merge
// by adding counts.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "run/CodeMap.h"
#include "run/ProviderCounts.h"
#include "run/SourcePaths.h"

namespace kz51::run {

struct FileCoverage {
  struct Function {
    unsigned line = 0;
    std::uint64_t entries = 0;
  };
  std::map<std::string, Function> functions;  // by name
  std::map<unsigned, std::uint64_t> lines;    // line -> entries
  // Branch records of an earlier file (kz51 writes none): kept and added up.
  // (line, block, branch) -> times taken, none for "-" (never reached).
  std::map<std::tuple<unsigned, unsigned, unsigned>, std::optional<std::uint64_t>> branches;
};

class Coverage {
 public:
  // The counts of one run, attributed to the C lines and functions of the
  // program's .cdb.
  static Coverage FromCounts(const CountSnapshot& counts, const CodeMap& code,
                             const Symbols& symbols, const SourcePaths& sources);
  // Reads a tracefile (as lcov and kz51 write them). False with `error`
  // naming the first line it cannot read.
  bool Parse(const std::string& text, std::string& error);
  void Add(const Coverage& other);
  std::string Write() const;

  const std::map<std::string, FileCoverage>& Files() const { return files_; }

 private:
  std::map<std::string, FileCoverage> files_;  // by source path
};

}  // namespace kz51::run
