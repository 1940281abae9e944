#include "desktop/LauncherEntryParser.h"

#include <algorithm>
#include <cmath>

namespace lumarin {
namespace {

constexpr std::string_view kScheme = "application://";
constexpr std::string_view kSuffix = ".desktop";
// The Dock's own mark for "needs attention without a number"; the renderer draws it as a dot.
constexpr const char* kUrgentLabel = "\xE2\x80\xA2";

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      codePoint = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      codePoint = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      codePoint = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not text.
    if ((length == 2 && codePoint < 0x80) || (length == 3 && codePoint < 0x800) ||
        (length == 4 && codePoint < 0x10000) || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

std::optional<std::int64_t> integerOf(const LauncherValue& value) {
  if (const auto* s = std::get_if<std::int64_t>(&value)) {
    return *s;
  }
  if (const auto* u = std::get_if<std::uint64_t>(&value)) {
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(*u, static_cast<std::uint64_t>(kMaxLauncherCount)));
  }
  return std::nullopt;
}

}  // namespace

std::variant<std::string, LauncherEntryError> desktopIDFromLauncherURI(std::string_view uri) {
  if (uri.size() > kMaxLauncherURIBytes) {
    return LauncherEntryError::TooLong;
  }
  if (!uri.starts_with(kScheme)) {
    return LauncherEntryError::NotApplicationURI;
  }
  if (!isValidUTF8(uri)) {
    return LauncherEntryError::NotUTF8;
  }
  const std::string_view id = uri.substr(kScheme.size());
  if (!id.ends_with(kSuffix)) {
    return LauncherEntryError::NotDesktopFile;
  }
  if (id.size() == kSuffix.size()) {
    return LauncherEntryError::EmptyID;
  }
  // A file ID never holds a path separator or control characters; such a name could only
  // be an attempt to reach outside the applications directories.
  if (std::any_of(id.begin(), id.end(), [](char c) {
        return c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      })) {
    return LauncherEntryError::NotDesktopFile;
  }
  return std::string(id);
}

std::variant<LauncherEntryUpdate, LauncherEntryError> parseLauncherEntryUpdate(
    std::string_view uri, const LauncherProperties& properties) {
  auto id = desktopIDFromLauncherURI(uri);
  if (const auto* error = std::get_if<LauncherEntryError>(&id)) {
    return *error;
  }
  LauncherEntryUpdate update;
  update.appID = std::move(std::get<std::string>(id));
  for (const auto& [name, value] : properties) {
    if (name == "count") {
      if (const auto n = integerOf(value)) {
        if (*n < 0) {
          update.count = std::optional<std::int64_t>{};
        } else {
          update.count = std::optional<std::int64_t>{std::min(*n, kMaxLauncherCount)};
        }
      }
    } else if (name == "count-visible") {
      if (const auto* b = std::get_if<bool>(&value)) {
        update.countVisible = *b;
      }
    } else if (name == "urgent") {
      if (const auto* b = std::get_if<bool>(&value)) {
        update.urgent = *b;
      }
    } else if (name == "progress") {
      if (const auto* d = std::get_if<double>(&value); d && std::isfinite(*d)) {
        update.progress = std::clamp(*d, 0.0, 1.0);
      }
    } else if (name == "progress-visible") {
      if (const auto* b = std::get_if<bool>(&value)) {
        update.progressVisible = *b;
      }
    }
  }
  return update;
}

bool LauncherEntryState::apply(const LauncherEntryUpdate& update) {
  const auto before = badge();
  if (update.count) {
    count = *update.count;
  }
  if (update.countVisible) {
    countVisible = *update.countVisible;
  }
  if (update.urgent) {
    urgent = *update.urgent;
  }
  if (update.progress) {
    progress = *update.progress;
  }
  if (update.progressVisible) {
    progressVisible = *update.progressVisible;
  }
  return badge() != before;
}

std::optional<BadgeValue> LauncherEntryState::badge() const {
  // A visible count of zero shows nothing, as the Dock hides a tile's badge at zero.
  if (countVisible && count && *count > 0) {
    return BadgeValue{std::to_string(*count), *count};
  }
  if (urgent) {
    return BadgeValue{kUrgentLabel, std::nullopt};
  }
  return std::nullopt;
}

const char* describe(LauncherEntryError error) {
  switch (error) {
    case LauncherEntryError::NotApplicationURI:
      return "not an application:// URI";
    case LauncherEntryError::NotDesktopFile:
      return "not a desktop file ID";
    case LauncherEntryError::NotUTF8:
      return "not valid UTF-8";
    case LauncherEntryError::TooLong:
      return "URI too long";
    case LauncherEntryError::EmptyID:
      return "empty desktop file ID";
  }
  return "unknown";
}

}  // namespace lumarin
