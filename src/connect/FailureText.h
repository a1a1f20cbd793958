#pragma once
// The text the project options dialog shows for a failed connection.
#include <cstdint>
#include <string>

namespace kz {

std::string ConnectionFailureText(std::uint8_t errorKind, const std::string& podDescription);

}  // namespace kz
