#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumarin {

// A Dock tile's badge: the text as the Dock shows it and, when it is purely numeric, its count.
struct BadgeValue {
  std::string label;  // never empty
  std::optional<std::int64_t> count;
  bool operator==(const BadgeValue&) const = default;
};

// One application tile of the Dock (on the desktop: one app the launcher protocol told of).
// Equality ignores `name` and `sender`: a change of title alone, or of who repeated the same
// badge, is not a change worth publishing.
struct DockItem {
  std::string bundleID;
  std::string name;
  bool isRunning = false;
  std::optional<BadgeValue> badge;
  // The bus name the badge came from, on the desktop; empty on the Mac.
  std::string sender;

  bool operator==(const DockItem& other) const {
    return bundleID == other.bundleID && isRunning == other.isRunning && badge == other.badge;
  }
};

}  // namespace lumarin
