#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "base/StyledText.h"
#include "base/Uuid.h"

namespace lumarin {

enum class BadgeStyle { text, dot, circle };
enum class BadgeColor { red, blue, green, orange, purple, gray };
enum class IconVisibility { dim, hide, always };

inline constexpr std::array<BadgeStyle, 3> kAllBadgeStyles = {BadgeStyle::text, BadgeStyle::dot,
                                                              BadgeStyle::circle};
inline constexpr std::array<BadgeColor, 6> kAllBadgeColors = {
    BadgeColor::red,    BadgeColor::blue,   BadgeColor::green,
    BadgeColor::orange, BadgeColor::purple, BadgeColor::gray};
inline constexpr std::array<IconVisibility, 3> kAllVisibilities = {
    IconVisibility::dim, IconVisibility::hide, IconVisibility::always};

// Raw values (the JSON form) and label keys of the localisation tables.
std::string_view rawValue(BadgeStyle style);
std::string_view rawValue(BadgeColor color);
std::string_view rawValue(IconVisibility visibility);
std::string_view labelKey(BadgeStyle style);  // absent style: "style.default"
std::string_view labelKey(BadgeColor color);
std::string_view labelKey(IconVisibility visibility);

// Exact, case-sensitive matches.
std::optional<BadgeStyle> badgeStyleFromRaw(std::string_view raw);
std::optional<BadgeColor> badgeColorFromRaw(std::string_view raw);
std::optional<IconVisibility> visibilityFromRaw(std::string_view raw);

RgbColor colorValue(BadgeColor color);

// One app the user put into the menu bar.
struct MonitoredApp {
  Uuid id;
  std::string bundleID;
  std::string name;
  std::optional<BadgeStyle> style;  // absent: the settings' default style
  std::optional<BadgeColor> color;  // absent: red
  IconVisibility visibility = IconVisibility::always;

  bool operator==(const MonitoredApp&) const = default;

  BadgeStyle effectiveStyle(BadgeStyle defaultStyle) const { return style.value_or(defaultStyle); }
  RgbColor effectiveColor() const { return colorValue(color.value_or(BadgeColor::red)); }
};

// The stored JSON form: an array of objects with "id", "bundleID", "name", optional "style"
// and "color" (null reads as absent), and "visibility". Reading fails for the whole list when
// any element is malformed. Unknown members are ignored.
std::string encodeMonitoredApps(const std::vector<MonitoredApp>& apps);
Result<std::vector<MonitoredApp>> decodeMonitoredApps(std::string_view json);

}  // namespace lumarin
