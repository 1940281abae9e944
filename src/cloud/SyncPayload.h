#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "model/MonitoredApp.h"

namespace lumarin {

class AppSettings;

// The four settings that travel between the user's Macs, as one document.
struct SyncPayload {
  BadgeStyle defaultStyle = BadgeStyle::circle;
  std::vector<MonitoredApp> monitoredApps;
  std::optional<std::string> languageCode;
  std::optional<bool> improveDataSharing;

  bool operator==(const SyncPayload&) const = default;

  static SyncPayload from(const AppSettings& settings);
  // The blob: JSON with sorted keys and no white space, so equal settings give equal text and
  // a comparison of texts tells whether anything changed. "{}" when it cannot be written.
  std::string blob() const;
  // "defaultStyle" and "monitoredApps" are required; the other two may be missing (null reads
  // as missing).
  static Result<SyncPayload> decode(std::string_view blob);
  // Style, apps, language (absent: the system's), each persisted; the statistics switch only
  // when the payload carries it. Main queue.
  void apply(AppSettings& settings) const;
};

}  // namespace lumarin
