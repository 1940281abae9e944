// The service's sync upload body (PUT "api/sync/lumarin").
#include <cstdint>
#include <string_view>

#include "base/Json.h"
#include "service/RequestParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  using namespace lumarin::service;
  auto put = parseSyncPut(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!put) {
    return 0;
  }
  // Accepted blobs are JSON text, so every device can read what it pulls.
  if (put->baseVersion < 0 || put->blob.find('\0') != std::string::npos ||
      !json::parse(put->blob).ok()) {
    __builtin_trap();
  }
  // What is accepted, sent again, reads the same.
  json::Json again{{"blob", put->blob}, {"baseVersion", put->baseVersion}};
  if (!put->deviceId.empty()) {
    again["deviceId"] = put->deviceId;
  }
  auto reread = parseSyncPut(json::dump(again));
  if (!reread || reread->blob != put->blob || reread->baseVersion != put->baseVersion ||
      reread->deviceId != put->deviceId) {
    __builtin_trap();
  }
  return 0;
}
