#pragma once
// The numbered message table: every text the driver shows is fetched by
// number. Unknown numbers yield "undefined error".
#include <cstdint>
#include <string>

namespace kz {

std::string GetMessage(std::uint16_t number);

}  // namespace kz
