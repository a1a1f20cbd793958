#pragma once
// Base64 for the memory requests' data fields.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kzhost::dap {

std::string EncodeBase64(const std::vector<std::uint8_t>& bytes);
// Refuses characters outside the alphabet and bad padding.
std::optional<std::vector<std::uint8_t>> DecodeBase64(const std::string& text);

}  // namespace kzhost::dap
