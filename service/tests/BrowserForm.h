#pragma once

#include <cctype>
#include <string>
#include <string_view>

namespace lumarin::service::signin {

// The PKCE pair the tests sign in with: the verifier and its S256 challenge.
inline constexpr std::string_view kVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
inline constexpr std::string_view kChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

// Percent-encodes all but the unreserved characters, as a browser's form encoding does for
// everything that matters here.
inline std::string urlEncode(std::string_view text) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(c);
    } else {
      out += '%';
      out += kHex[byte >> 4U];
      out += kHex[byte & 0x0FU];
    }
  }
  return out;
}

}  // namespace lumarin::service::signin
