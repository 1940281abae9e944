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

// One application tile of the Dock. Equality ignores `name`: a change of title alone is not a
// change worth publishing.
struct DockItem {
  std::string bundleID;
  std::string name;
  bool isRunning = false;
  std::optional<BadgeValue> badge;

  bool operator==(const DockItem& other) const {
    return bundleID == other.bundleID && isRunning == other.isRunning && badge == other.badge;
  }
};

}  // namespace lumarin
