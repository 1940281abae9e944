#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/DockItem.h"
#include "model/MonitoredApp.h"
#include "platform/Workspace.h"

namespace lumarin {

// An app the user can put into the menu bar: its identifier and the name it is listed under.
struct AddableApp {
  std::string bundleID;
  std::string name;
  bool operator==(const AddableApp&) const = default;
};

// The Dock's apps that are not monitored yet, leaving out the program itself, in the order
// given. Both "Add App" menus (the own item's and the settings window's) list these.
std::vector<AddableApp> addableDockApps(const std::vector<DockItem>& dock,
                                        const std::vector<MonitoredApp>& monitored,
                                        std::string_view ownBundleID);

// The name a chosen bundle is listed under: its display name, else its short name, else the
// bundle's file name.
std::string bundleDisplayName(const BundleDescription& bundle);

// The app in the bundle at `url` (an open panel's answer); nothing when there is no bundle
// there or it has no identifier.
std::optional<AddableApp> appAtURL(const Workspace& workspace, const std::string& url);

}  // namespace lumarin
