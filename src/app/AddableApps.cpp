#include "app/AddableApps.h"

#include <set>

namespace lumarin {

std::vector<AddableApp> addableDockApps(const std::vector<DockItem>& dock,
                                        const std::vector<MonitoredApp>& monitored,
                                        std::string_view ownBundleID) {
  std::set<std::string, std::less<>> taken;
  for (const MonitoredApp& app : monitored) {
    taken.insert(app.bundleID);
  }
  std::vector<AddableApp> out;
  for (const DockItem& tile : dock) {
    if (tile.bundleID.empty() || tile.bundleID == ownBundleID || taken.contains(tile.bundleID)) {
      continue;
    }
    // A tile listed twice is offered once.
    taken.insert(tile.bundleID);
    out.push_back({tile.bundleID, tile.name});
  }
  return out;
}

std::string bundleDisplayName(const BundleDescription& bundle) {
  for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
    if (auto it = bundle.info.find(key); it != bundle.info.end() && !it->second.empty()) {
      return it->second;
    }
  }
  return bundle.name;
}

std::optional<AddableApp> appAtURL(const Workspace& workspace, const std::string& url) {
  const auto bundle = workspace.bundleAtURL(url);
  if (!bundle || bundle->bundleIdentifier.empty()) {
    return std::nullopt;
  }
  return AddableApp{bundle->bundleIdentifier, bundleDisplayName(*bundle)};
}

}  // namespace lumarin
