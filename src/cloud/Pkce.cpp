#include "cloud/Pkce.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstdlib>
#include <vector>

#include "base/Base64.h"

namespace lumarin::pkce {
namespace {

std::string urlSafe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '+') {
      out += '-';
    } else if (c == '/') {
      out += '_';
    } else if (c != '=') {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string randomURLBase64(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  // A verifier from a weak generator would make the whole code exchange guessable; a process
  // whose generator fails has nothing safe to continue with.
  if (n > 0 && RAND_bytes(bytes.data(), static_cast<int>(n)) != 1) {
    std::abort();
  }
  return urlSafe(base64::encode(bytes));
}

std::string challenge(std::string_view verifier) {
  std::vector<std::uint8_t> digest(SHA256_DIGEST_LENGTH);
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest.data());
  return urlSafe(base64::encode(digest));
}

}  // namespace lumarin::pkce
