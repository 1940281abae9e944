#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarin::base64 {

// Standard alphabet with padding (RFC 4648 section 4).
std::string encode(const std::vector<std::uint8_t>& bytes);
// Strict: only the standard alphabet, correct padding, no white space.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace lumarin::base64
