#include "dap/MemoryReference.h"

#include <cctype>
#include <cstdio>

#include "dap/Server.h"

namespace kzhost::dap {

using kz51::MemorySpace;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string HexAddress(std::uint32_t a) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%04X", a);
  return s;
}

std::string MemoryReference(MemorySpace space, std::uint32_t address) {
  return std::string(kz51::MemorySpaceName(space)) + ":" + HexAddress(address);
}

// "xdata:0x0010" (a bare number means code) plus an offset.
void ParseMemoryReference(const nlohmann::json& args, const char* key, MemorySpace& space,
                          std::uint32_t& address) {
  const std::string ref = args.at(key).get<std::string>();
  std::string number = ref;
  space = MemorySpace::Code;
  if (const std::size_t colon = ref.find(':'); colon != std::string::npos) {
    if (!kz51::ParseMemorySpace(Lower(ref.substr(0, colon)), space))
      throw RequestError{"unknown memory space in \"" + ref +
                         "\" (code, data, idata, sfr, xdata, pdata)"};
    number = ref.substr(colon + 1);
  }
  std::uint32_t base = 0;
  if (!kz51::ParseNumber(number, base))
    throw RequestError{"\"" + ref + "\" is not a memory reference such as xdata:0x0010"};
  const long long at = static_cast<long long>(base) + args.value("offset", 0LL);
  if (at < static_cast<long long>(kz51::MemorySpaceLow(space)) ||
      at > static_cast<long long>(kz51::MemorySpaceHigh(space)))
    throw RequestError{"address " + std::to_string(at) + " lies outside " +
                       kz51::MemorySpaceName(space) + " space"};
  address = static_cast<std::uint32_t>(at);
}

}  // namespace kzhost::dap
