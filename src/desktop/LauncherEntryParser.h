#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "model/DockItem.h"

namespace lumarin {

// One value of a launcher entry's property map, already unwrapped from the bus's variant.
// Kept free of bus types so the decoder can be fed arbitrary bytes by the fuzzer.
using LauncherValue =
    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string>;
using LauncherProperties = std::vector<std::pair<std::string, LauncherValue>>;

// What one `Update` says. Senders send only what changed, so every field is optional; a
// count present but empty means the sender cleared it (a negative count).
struct LauncherEntryUpdate {
  std::string appID;  // the desktop file ID, with its ".desktop"
  std::optional<std::optional<std::int64_t>> count;
  std::optional<bool> countVisible;
  std::optional<bool> urgent;
  std::optional<double> progress;
  std::optional<bool> progressVisible;
};

enum class LauncherEntryError { NotApplicationURI, NotDesktopFile, NotUTF8, TooLong, EmptyID };

// Counts beyond this are shown as this; the renderer caps far below it anyway, and a sender's
// INT64_MAX must not overflow anything downstream.
inline constexpr std::int64_t kMaxLauncherCount = 99'999;
// Longer URIs are refused outright: no desktop file ID comes near it.
inline constexpr std::size_t kMaxLauncherURIBytes = 1024;

// The desktop file ID named by `application://ID.desktop`, or why it names none.
std::variant<std::string, LauncherEntryError> desktopIDFromLauncherURI(std::string_view uri);

// Decodes one update; properties of a wrong type or unknown name are ignored, not fatal.
std::variant<LauncherEntryUpdate, LauncherEntryError> parseLauncherEntryUpdate(
    std::string_view uri, const LauncherProperties& properties);

// The state one sender has told of one app, updates merged in as they arrive.
struct LauncherEntryState {
  std::optional<std::int64_t> count;
  bool countVisible = false;
  bool urgent = false;
  double progress = 0;
  bool progressVisible = false;

  // Merges an update; true when the badge it shows changed.
  bool apply(const LauncherEntryUpdate& update);
  // The badge as the Dock would show it: the count while visible, else a dot while urgent.
  std::optional<BadgeValue> badge() const;
};

const char* describe(LauncherEntryError error);

}  // namespace lumarin
