#include "run/SourcePaths.h"

#include <filesystem>
#include <set>

namespace kz51::run {

namespace fs = std::filesystem;

SourcePaths::SourcePaths(const std::string& programPath, const Symbols& symbols) {
  std::error_code ec;
  fs::path dir = fs::absolute(fs::path(programPath), ec).parent_path();
  if (ec) dir = fs::path(programPath).parent_path();
  directory_ = dir.lexically_normal().generic_string();
  std::set<std::string> names;
  for (const auto& r : symbols.Cdb().lines) names.insert(r.file);
  for (const auto& name : names) {
    const std::string found = symbols.Sources().Find(name);
    if (!found.empty()) {
      paths_[name] = fs::path(found).generic_string();
    } else {
      missing_.push_back(name);
    }
  }
}

std::string SourcePaths::PathOf(const std::string& cdbFile) const {
  const auto it = paths_.find(cdbFile);
  return it != paths_.end() ? it->second : (fs::path(directory_) / cdbFile).generic_string();
}

}  // namespace kz51::run
