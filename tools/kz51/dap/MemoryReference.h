#pragma once
// Memory references as the adapter writes and reads them: a space and an
// address, "xdata:0x0010" (a bare number means code).
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "session/Session.h"

namespace kzhost::dap {

std::string HexAddress(std::uint32_t a);  // "0x0010"
std::string MemoryReference(kz51::MemorySpace space, std::uint32_t address);
// The reference args[key] plus args["offset"]; throws RequestError when it
// names no space or lies outside it.
void ParseMemoryReference(const nlohmann::json& args, const char* key, kz51::MemorySpace& space,
                          std::uint32_t& address);

}  // namespace kzhost::dap
