#include "debug/Value.h"

#include <cstdio>

namespace kz51::debug {

std::string AddressText(MemorySpace space, std::uint32_t address) {
  char s[32];
  std::snprintf(s, sizeof s, "%s:0x%04X", MemorySpaceName(space), address);
  return s;
}

Location Location::Offset(unsigned offset) const {
  Location l = *this;
  if (kind == Kind::Memory) {
    l.address += offset;
  } else if (kind == Kind::Bytes) {
    l.bytes.clear();
    for (std::size_t i = offset; i < bytes.size(); ++i) l.bytes.push_back(bytes[i]);
  }
  return l;
}

std::string Location::Describe() const {
  switch (kind) {
    case Kind::None:
      return "";
    case Kind::Memory:
      return AddressText(space, address);
    case Kind::Bytes: {
      std::string s;
      for (const auto& b : bytes) {
        if (!s.empty()) s += ' ';
        s += b.isRegister ? b.reg : AddressText(b.space, b.address);
      }
      return s;
    }
  }
  return "";
}

}  // namespace kz51::debug
