#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "model/MonitoredApp.h"

namespace lumarin {

class AppSettings;

// The settings that travel between the user's Macs, as one document: the default style, the
// monitored apps and the language. Consent choices (the statistics and crash-report switches)
// never travel: each Mac asks its own user. A blob of an older program may still carry
// "improveDataSharing"; it is ignored.
//
// "changedAt" tells when each part last changed on the Mac that changed it (seconds since
// 1970): "defaultStyle", "languageCode", and "app.<id>" for each monitored app (also for one
// that was removed). A three-way merge uses it when both Macs changed the same part. Older
// programs ignore the member and send blobs without it.
struct SyncPayload {
  BadgeStyle defaultStyle = BadgeStyle::circle;
  std::vector<MonitoredApp> monitoredApps;
  std::optional<std::string> languageCode;
  std::map<std::string, double, std::less<>> changedAt;

  bool operator==(const SyncPayload&) const = default;

  static constexpr std::string_view kStyleKey = "defaultStyle";
  static constexpr std::string_view kLanguageKey = "languageCode";
  static std::string appKey(const Uuid& id);

  // The settings' values; no change times.
  static SyncPayload from(const AppSettings& settings);
  // The blob: JSON with sorted keys and no white space, so equal settings give equal text and
  // a comparison of texts tells whether anything changed. "{}" when it cannot be written.
  std::string blob() const;
  // "defaultStyle" and "monitoredApps" are required; the language may be missing (null reads
  // as missing). Change times that are not finite numbers are left out.
  static Result<SyncPayload> decode(std::string_view blob);
  // Style, apps, language (absent: the system's), each persisted. Main queue.
  void apply(AppSettings& settings) const;
  // The same settings (change times aside).
  bool sameSettings(const SyncPayload& other) const;
};

// The three-way merge of a sync conflict or of a first sign-in on a Mac that already has
// settings. `base` is the copy both last agreed on (none on a first sign-in). A part changed
// on one side only takes that side's value; changed on both (differently), the newer change
// wins, a change with a time wins over one without, and the service's copy when the times are
// equal or neither is known. Monitored apps are merged one by one by id (added, edited,
// removed), in the service's order with this Mac's additions after them; an addition of this
// Mac's for an app the result already holds (same bundle identifier) is left out. The result's
// change times are those of the values it took.
SyncPayload mergeSyncPayloads(const std::optional<SyncPayload>& base, const SyncPayload& local,
                              const SyncPayload& remote);

}  // namespace lumarin
