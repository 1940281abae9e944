// A settings document pulled from the service: anything another Mac (or anyone holding the
// account's token) stored there.
#include <cstdint>
#include <string_view>

#include "cloud/SyncPayload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  auto payload = SyncPayload::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (payload) {
    // A document that was applied must read back the same from the blob this Mac then sends,
    // or two Macs would push it back and forth.
    const std::string blob = payload.value().blob();
    auto again = SyncPayload::decode(blob);
    if (!again || again.value() != payload.value() || again.value().blob() != blob) {
      __builtin_trap();
    }
  }
  return 0;
}
