#include "symbols/SourceFiles.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "symbols/Listing.h"

namespace kz51 {

namespace fs = std::filesystem;

namespace {

// The absolute form of `path` when it names a regular file.
std::string Existing(const fs::path& path) {
  std::error_code ec;
  if (path.empty() || !fs::is_regular_file(path, ec)) return "";
  const fs::path abs = fs::absolute(path, ec);
  if (ec) return "";
  return abs.lexically_normal().string();
}

}  // namespace

std::string FileNameOf(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SourceFiles::SetProgram(const std::string& programPath, const Listing* listing) {
  programDir_ = fs::path(programPath).parent_path().string();
  listing_ = listing;
  files_.clear();
}

void SourceFiles::AddDirectory(const std::string& directory) {
  for (const auto& d : directories_)
    if (d == directory) return;
  directories_.push_back(directory);
}

void SourceFiles::AddClientPath(const std::string& path) {
  const std::string name = FileNameOf(path);
  if (!name.empty()) clientPaths_[name] = path;
}

std::string SourceFiles::Find(const std::string& name) const {
  const std::string file = FileNameOf(name);
  if (file.empty()) return "";
  if (auto it = clientPaths_.find(file); it != clientPaths_.end())
    if (auto p = Existing(it->second); !p.empty()) return p;
  const fs::path dir = programDir_.empty() ? fs::path(".") : fs::path(programDir_);
  if (auto p = Existing(dir / file); !p.empty()) return p;
  for (const auto& d : directories_)
    if (auto p = Existing(fs::path(d) / file); !p.empty()) return p;
  if (listing_ != nullptr) {
    const fs::path compiled = listing_->CompiledPath(file);
    if (!compiled.empty()) {
      if (auto p = Existing(compiled.is_absolute() ? compiled : dir / compiled); !p.empty())
        return p;
    }
  }
  return "";
}

const std::vector<std::string>* SourceFiles::Lines(const std::string& name) const {
  const std::string path = Find(name);
  if (path.empty()) return nullptr;
  auto it = files_.find(path);
  if (it == files_.end()) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string l; std::getline(in, l);) {
      if (!l.empty() && l.back() == '\r') l.pop_back();
      lines.push_back(std::move(l));
    }
    it = files_.emplace(path, std::move(lines)).first;
  }
  return &it->second;
}

std::optional<std::string> SourceFiles::LineText(const std::string& name, unsigned line) const {
  if (const auto* lines = Lines(name)) {
    if (line >= 1 && line <= lines->size()) return (*lines)[line - 1];
    return std::nullopt;
  }
  if (listing_ != nullptr) {
    std::string quoted = listing_->SourceText(FileNameOf(name), line);
    if (!quoted.empty()) return quoted;
  }
  return std::nullopt;
}

unsigned SourceFiles::LineCount(const std::string& name) const {
  const auto* lines = Lines(name);
  return lines == nullptr ? 0 : static_cast<unsigned>(lines->size());
}

}  // namespace kz51
