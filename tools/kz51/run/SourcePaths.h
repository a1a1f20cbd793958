#pragma once
// The paths the coverage and profile files name a program's C sources by:
// where the symbols' source lookup finds them (beside the program, else where
// sdcc's listings say they were compiled from), as absolute paths; a file not
// found is named beside the program, and listed as missing.
#include <map>
#include <string>
#include <vector>

#include "symbols/Symbols.h"

namespace kz51::run {

class SourcePaths {
 public:
  SourcePaths(const std::string& programPath, const Symbols& symbols);
  // The path for a .cdb file name ("util.c").
  std::string PathOf(const std::string& cdbFile) const;
  const std::vector<std::string>& Missing() const { return missing_; }

 private:
  std::map<std::string, std::string> paths_;
  std::vector<std::string> missing_;
  std::string directory_;
};

}  // namespace kz51::run
