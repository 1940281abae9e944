#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "base/Image.h"
#include "menubar/ExternalStatusItem.h"

namespace lumarin {

// The last good glyph of each menu bar item on disk, so the HUD can show it before a fresh
// capture succeeds: "Lumarin/iconcache-v5" under Application Support (written), and the older
// "Lumarin/iconcache-v4" (read only, whose images stand for twice their pixel density). Files
// are PNGs that keep the glyph's point size. Any thread.
class IconCache {
 public:
  using DebugSink = std::function<void(const std::string&)>;

  explicit IconCache(const std::filesystem::path& applicationSupport, DebugSink debug = {})
      : root_(applicationSupport / "Lumarin"), debug_(std::move(debug)) {}

  // The bundle id, else "id:" + window title, else "pid" + pid; then "#" + index.
  static std::string cacheKey(const ExternalStatusItem& item);
  static std::string fileName(const std::string& key);

  std::optional<Image> cachedImage(const std::string& key);
  void write(const std::string& key, const Image& image);

  std::filesystem::path directory(int version) const {
    return root_ / ("iconcache-v" + std::to_string(version));
  }

 private:
  std::filesystem::path root_;
  DebugSink debug_;
};

}  // namespace lumarin
