// The service's token exchange body ("api/app/token").
#include <cstdint>
#include <string_view>

#include "service/RequestParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin::service;
  auto request = parseTokenRequest(std::string_view(reinterpret_cast<const char*>(data), size));
  if (request) {
    // What is accepted is bounded and never empty, whatever came in.
    if (request->code.empty() || request->code.size() > 128 || request->verifier.empty() ||
        request->verifier.size() > 128 || request->deviceId.empty() ||
        request->deviceId.size() > 128) {
      __builtin_trap();
    }
  } else if (request.error().code != kBadRequest) {
    __builtin_trap();
  }
  return 0;
}
