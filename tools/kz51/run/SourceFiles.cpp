#include "run/SourceFiles.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace kz51::run {

namespace fs = std::filesystem;

namespace {

std::string Absolute(const fs::path& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return (ec ? p : a).lexically_normal().generic_string();
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// sdcc's listings quote each C line with the path it compiled:
// ";	/home/me/src/util.c:12: sum += data[i];". Returns the paths that end in
// one of `names`.
std::map<std::string, std::string> PathsInListing(const fs::path& listing,
                                                  const std::set<std::string>& names) {
  std::map<std::string, std::string> found;
  std::ifstream in(listing, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    const auto semi = line.find(';');
    if (semi == std::string::npos) continue;
    const auto start = line.find_first_not_of(" \t", semi + 1);
    if (start == std::string::npos) continue;
    for (const auto& name : names) {
      if (found.count(name) != 0) continue;
      for (auto at = line.find(name + ":", start); at != std::string::npos;
           at = line.find(name + ":", at + 1)) {
        const std::size_t end = at + name.size();
        const bool wholeName = at == start || line[at - 1] == '/' || line[at - 1] == '\\';
        std::size_t digits = end + 1;
        while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits])))
          ++digits;
        if (wholeName && digits > end + 1 && digits < line.size() && line[digits] == ':') {
          found[name] = line.substr(start, end - start);
          break;
        }
      }
    }
    if (found.size() == names.size()) break;
  }
  return found;
}

}  // namespace

SourceFiles::SourceFiles(const std::string& programPath, const Symbols& symbols) {
  const fs::path dir = fs::path(programPath).parent_path();
  directory_ = Absolute(dir.empty() ? fs::path(".") : dir);
  std::set<std::string> wanted;
  for (const auto& r : symbols.Cdb().lines) wanted.insert(r.file);
  std::set<std::string> open;
  for (const auto& name : wanted) {
    if (IsFile(dir / name))
      paths_[name] = Absolute(dir / name);
    else
      open.insert(name);
  }
  if (open.empty()) return;
  std::vector<std::string> modules = symbols.Cdb().modules;
  modules.push_back(fs::path(programPath).stem().string());
  for (const auto& m : modules) {
    for (const char* ext : {".rst", ".lst", ".asm"}) {
      for (const auto& [name, path] : PathsInListing(dir / (m + ext), open)) {
        // A relative path is relative to where sdcc ran: most likely the
        // program's directory.
        const fs::path p = fs::path(path).is_absolute() ? fs::path(path) : dir / path;
        if (IsFile(p)) {
          paths_[name] = Absolute(p);
          open.erase(name);
        }
      }
      if (open.empty()) return;
    }
  }
  for (const auto& name : open) {
    paths_[name] = Absolute(dir / name);
    missing_.push_back(name);
  }
}

std::string SourceFiles::PathOf(const std::string& cdbFile) const {
  const auto it = paths_.find(cdbFile);
  return it != paths_.end() ? it->second : (fs::path(directory_) / cdbFile).generic_string();
}

}  // namespace kz51::run
