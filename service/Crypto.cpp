#include "service/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <charconv>
#include <stdexcept>
#include <vector>

namespace lumarin::service::crypto {

namespace {

constexpr std::string_view kUrlAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kPasswordScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kDerivedBytes = 32;
// Above this the hash would take minutes; a stored value claiming more is not ours.
constexpr std::uint32_t kMaxIterations = 10'000'000;

bool isUrlChar(char c) { return kUrlAlphabet.find(c) != std::string_view::npos; }

std::optional<std::string> decodeBase64Url(std::string_view text) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    const auto index = kUrlAlphabet.find(c);
    if (index == std::string_view::npos) {
      return std::nullopt;
    }
    buffer = (buffer << 6U) | static_cast<std::uint32_t>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> static_cast<unsigned>(bits)) & 0xFFU));
    }
  }
  // A lone trailing character carries fewer than 8 bits: not a valid encoding.
  if (bits >= 6) {
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> derive(std::string_view password, std::string_view salt,
                                  std::uint32_t iterations) {
  std::array<unsigned char, kDerivedBytes> key{};
  const int ok = PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                                   reinterpret_cast<const unsigned char*>(salt.data()),
                                   static_cast<int>(salt.size()), static_cast<int>(iterations),
                                   EVP_sha256(), static_cast<int>(key.size()), key.data());
  if (ok != 1) {
    return std::nullopt;
  }
  return std::string(reinterpret_cast<const char*>(key.data()), key.size());
}

}  // namespace

std::string base64Url(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() * 4 + 2) / 3);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (char c : bytes) {
    buffer = (buffer << 8U) | static_cast<unsigned char>(c);
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out.push_back(kUrlAlphabet[(buffer >> static_cast<unsigned>(bits)) & 0x3FU]);
    }
  }
  if (bits > 0) {
    out.push_back(kUrlAlphabet[(buffer << static_cast<unsigned>(6 - bits)) & 0x3FU]);
  }
  return out;
}

std::string randomUrlSafe(std::size_t byteCount) {
  std::vector<unsigned char> bytes(byteCount);
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    throw std::runtime_error("the secure random generator failed");
  }
  return base64Url(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string sha256(std::string_view bytes) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest.data());
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string sha256Hex(std::string_view bytes) {
  static constexpr std::string_view kHex = "0123456789abcdef";
  std::string out;
  for (char c : sha256(bytes)) {
    const auto byte = static_cast<unsigned char>(c);
    out.push_back(kHex[byte >> 4U]);
    out.push_back(kHex[byte & 0x0FU]);
  }
  return out;
}

bool isValidVerifier(std::string_view verifier) {
  if (verifier.size() < 43 || verifier.size() > 128) {
    return false;
  }
  for (char c : verifier) {
    if (!isUrlChar(c) && c != '.' && c != '~') {
      return false;
    }
  }
  return true;
}

bool isValidS256Challenge(std::string_view challenge) {
  if (challenge.size() != 43) {
    return false;
  }
  for (char c : challenge) {
    if (!isUrlChar(c)) {
      return false;
    }
  }
  return true;
}

bool pkceMatches(std::string_view verifier, std::string_view challenge) {
  if (!isValidVerifier(verifier)) {
    return false;
  }
  return constantTimeEquals(base64Url(sha256(verifier)), challenge);
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string hashPassword(std::string_view password, std::uint32_t iterations) {
  std::array<unsigned char, kSaltBytes> salt{};
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
    throw std::runtime_error("the secure random generator failed");
  }
  const std::string_view saltView(reinterpret_cast<const char*>(salt.data()), salt.size());
  const auto key = derive(password, saltView, iterations);
  if (!key) {
    throw std::runtime_error("password key derivation failed");
  }
  return std::string(kPasswordScheme) + "$" + std::to_string(iterations) + "$" +
         base64Url(saltView) + "$" + base64Url(*key);
}

bool verifyPassword(std::string_view password, std::string_view stored) {
  // scheme$iterations$salt$hash
  std::array<std::string_view, 4> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const auto end = i + 1 < parts.size() ? stored.find('$', start) : stored.size();
    if (end == std::string_view::npos) {
      return false;
    }
    parts[i] = stored.substr(start, end - start);
    start = end + 1;
  }
  if (parts[0] != kPasswordScheme || parts[3].find('$') != std::string_view::npos) {
    return false;
  }
  std::uint32_t iterations = 0;
  const auto [ptr, ec] =
      std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
  if (ec != std::errc() || ptr != parts[1].data() + parts[1].size() || iterations == 0 ||
      iterations > kMaxIterations) {
    return false;
  }
  const auto salt = decodeBase64Url(parts[2]);
  const auto expected = decodeBase64Url(parts[3]);
  if (!salt || !expected || expected->size() != kDerivedBytes) {
    return false;
  }
  const auto key = derive(password, *salt, iterations);
  return key && constantTimeEquals(*key, *expected);
}

}  // namespace lumarin::service::crypto
