// The sign-in page's posted form, with the other small readers of browser and header input:
// bearer tokens and e-mail addresses.
#include <cstdint>
#include <string>
#include <string_view>

#include "service/RequestParsers.h"

namespace {

std::string encode(std::string_view text) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4U];
    out += kHex[byte & 0x0FU];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin::service;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)parseSignInForm(text);
  if (auto token = bearerToken(text); token && token->empty()) {
    __builtin_trap();
  }
  if (auto email = normaliseEmail(text)) {
    // Normalising twice changes nothing.
    if (normaliseEmail(*email) != email) {
      __builtin_trap();
    }
  }
  auto pairs = parseUrlEncoded(text);
  if (pairs) {
    // Encoded again, the pairs decode to themselves.
    std::string again;
    for (const auto& [name, value] : pairs.value()) {
      again += (again.empty() ? "" : "&") + encode(name) + "=" + encode(value);
    }
    auto reread = parseUrlEncoded(again);
    if (!reread || reread.value() != pairs.value()) {
      __builtin_trap();
    }
  }
  return 0;
}
