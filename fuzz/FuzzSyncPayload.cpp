// A settings document pulled from the service: anything another Mac (or anyone holding the
// account's token) stored there, decoded and then merged as a conflict or a first sign-in
// merges it.
#include <cstdint>
#include <set>
#include <string_view>

#include "cloud/SyncPayload.h"

namespace {

bool uniqueIds(const lumarin::SyncPayload& payload) {
  std::set<lumarin::Uuid> ids;
  for (const auto& app : payload.monitoredApps) {
    if (!ids.insert(app.id).second) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  auto payload = SyncPayload::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!payload) {
    return 0;
  }
  const SyncPayload& remote = payload.value();
  // A document that was applied must read back the same from the blob this Mac then sends,
  // or two Macs would push it back and forth.
  const std::string blob = remote.blob();
  auto again = SyncPayload::decode(blob);
  if (!again || again.value() != remote || again.value().blob() != blob) {
    __builtin_trap();
  }
  // Merged with itself, or into a Mac without settings, the document comes out as it is
  // (an id listed twice once); the merge never lists an id twice.
  const bool unique = uniqueIds(remote);
  const SyncPayload self = mergeSyncPayloads(remote, remote, remote);
  const SyncPayload fresh = mergeSyncPayloads(std::nullopt, SyncPayload{}, remote);
  for (const SyncPayload* merged : {&self, &fresh}) {
    if (!uniqueIds(*merged) || (unique && !merged->sameSettings(remote))) {
      __builtin_trap();
    }
  }
  // A Mac that had the document's apps under other ids keeps no second entry of any of them.
  SyncPayload twin = remote;
  for (auto& app : twin.monitoredApps) {
    auto bytes = app.id.bytes();
    bytes[0] ^= 0xFF;
    app.id = Uuid(bytes);
  }
  if (unique && mergeSyncPayloads(std::nullopt, twin, remote).monitoredApps.size() >
                    remote.monitoredApps.size()) {
    __builtin_trap();
  }
  return 0;
}
