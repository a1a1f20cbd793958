#pragma once
// The C source files a program's .cdb names ("util.c"), found on disk for the
// coverage and profile files: beside the program, else where sdcc's listings
// beside it say the file was compiled from.
#include <map>
#include <string>
#include <vector>

#include "symbols/Symbols.h"

namespace kz51::run {

class SourceFiles {
 public:
  SourceFiles(const std::string& programPath, const Symbols& symbols);
  // The absolute path of a .cdb file name; where it is not found, the path
  // beside the program (and it is listed by Missing()).
  std::string PathOf(const std::string& cdbFile) const;
  const std::vector<std::string>& Missing() const { return missing_; }

 private:
  std::map<std::string, std::string> paths_;
  std::vector<std::string> missing_;
  std::string directory_;
};

}  // namespace kz51::run
