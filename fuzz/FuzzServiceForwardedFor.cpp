// The client address a trusted proxy hands over in X-Forwarded-For: whatever the value, the
// answer is nothing or an address that reads back as itself.
#include <cstdint>
#include <string_view>

#include "service/RequestParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto address = lumarin::service::forwardedClientAddress(text);
  if (address && lumarin::service::normaliseIpAddress(*address) != address) {
    __builtin_trap();
  }
  return 0;
}
