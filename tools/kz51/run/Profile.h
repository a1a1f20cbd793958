#pragma once
// A cycle profile in the callgrind format (callgrind_annotate, KCachegrind):
// machine cycles and instructions per function and source line, and the calls
// between functions with their counts and inclusive cost. Programs add up by
// function and line.
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "run/CodeMap.h"
#include "run/ProviderCounts.h"
#include "run/SourcePaths.h"

namespace kz51::run {

struct ProfileCost {
  std::uint64_t cycles = 0, instructions = 0;
};

class Profile {
 public:
  // One run's counts. `code` holds the program's bytes (an interrupt's
  // vector usually jumps on to its handler, which is then the callee).
  void Add(const CountSnapshot& counts, const CodeMap& map, const SourcePaths& sources,
           const std::vector<std::uint8_t>& code, const std::string& program);
  std::string Write() const;

 private:
  struct Place {
    std::string file;  // "???" where unknown, as callgrind writes it
    std::string function;
    unsigned line = 0;
  };
  Place PlaceOf(std::uint32_t address, const CodeMap& map, const SourcePaths& sources) const;

  using FunctionKey = std::pair<std::string, std::string>;  // file, function
  std::map<FunctionKey, std::map<unsigned, ProfileCost>> self_;
  struct CallCost {
    std::uint64_t count = 0;
    ProfileCost inclusive;
  };
  // caller (file, function), call line, callee (file, function) -> cost
  std::map<std::tuple<FunctionKey, unsigned, FunctionKey>, CallCost> calls_;
  std::map<FunctionKey, unsigned> calleeLine_;  // where a callee starts
  std::vector<std::string> programs_;
};

}  // namespace kz51::run
