#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The service's few cryptographic needs, all on OpenSSL: random URL-safe strings for codes and
// tokens, SHA-256 for storing those only as hashes and for the PKCE check, and a salted,
// slow key derivation for passwords. Safe to call from any thread.
namespace lumarin::service::crypto {

// Base64url without padding (RFC 4648 section 5), the encoding the program uses for its code
// verifier, challenge and state.
std::string base64Url(std::string_view bytes);

// `byteCount` bytes from the system's secure generator, Base64url-encoded: 43 characters for
// 32 bytes. Throws only when the generator itself fails, which leaves nothing sensible to do.
std::string randomUrlSafe(std::size_t byteCount);

// SHA-256 of the bytes: raw digest, and lower-case hex for database columns.
std::string sha256(std::string_view bytes);
std::string sha256Hex(std::string_view bytes);

// PKCE method S256: BASE64URL(SHA256(ASCII(verifier))) compared with the stored challenge in
// constant time. A verifier outside the RFC 7636 form (43-128 unreserved characters) never
// matches, whatever the challenge.
bool pkceMatches(std::string_view verifier, std::string_view challenge);
bool isValidVerifier(std::string_view verifier);
// A challenge as S256 produces it: exactly 43 Base64url characters.
bool isValidS256Challenge(std::string_view challenge);

// Password hashes are self-describing ("pbkdf2-sha256$<iterations>$<salt>$<hash>", Base64url
// parts), so the work factor can grow later without invalidating stored accounts.
inline constexpr std::uint32_t kDefaultPasswordIterations = 600'000;
std::string hashPassword(std::string_view password,
                         std::uint32_t iterations = kDefaultPasswordIterations);
// False for a wrong password and for a stored value that is not one of our hashes.
bool verifyPassword(std::string_view password, std::string_view stored);

bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace lumarin::service::crypto
