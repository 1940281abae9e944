#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumarin::pkce {

// `n` bytes from the system's secure random generator as Base64url without padding
// (RFC 4648 section 5): 32 bytes give 43 characters, 16 give 22.
std::string randomURLBase64(std::size_t n);
// The S256 code challenge of RFC 7636: Base64url (no padding) of SHA-256 of the verifier.
std::string challenge(std::string_view verifier);

}  // namespace lumarin::pkce
