#include "app/BadgeSnapshots.h"

#include "badges/AppIcons.h"
#include "badges/BadgeRenderer.h"
#include "badges/DockBadgeMonitor.h"
#include "gfx/Drawing.h"

namespace lumarin {

namespace {

std::string fileSafe(const std::string& text) {
  if (text == "•") {
    return "bullet";
  }
  std::string out;
  for (char c : text) {
    out += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
  }
  return out;
}

}  // namespace

Result<int> writeBadgeSnapshots(const std::filesystem::path& directory, AppIcons& icons,
                                const std::string& sampleBundleID,
                                const std::vector<MonitoredApp>& apps, BadgeStyle defaultStyle,
                                const std::map<std::string, DockItem>& dock, double scale) {
  std::error_code error;
  std::filesystem::create_directories(directory / "catalogue", error);
  std::filesystem::create_directories(directory / "apps", error);
  if (error) {
    return Error{"cannot create " + directory.string() + ": " + error.message()};
  }
  int written = 0;
  auto write = [&](const Image& image, const std::filesystem::path& file) -> Status {
    auto status = writePng(image, file);
    if (status) {
      ++written;
    }
    return status;
  };

  const Image sample = icons.icon(sampleBundleID, BadgeRenderer::kIconSize);
  const std::vector<std::optional<BadgeValue>> badges = {
      DockBadgeMonitor::parseBadge("3"), DockBadgeMonitor::parseBadge("12"),
      DockBadgeMonitor::parseBadge("•"), DockBadgeMonitor::parseBadge("1234")};
  for (BadgeStyle style : kAllBadgeStyles) {
    for (BadgeColor color : kAllBadgeColors) {
      for (const auto& badge : badges) {
        const std::string name = std::string(rawValue(style)) + "-" + std::string(rawValue(color)) +
                                 "-" + fileSafe(BadgeRenderer::displayText(*badge)) + ".png";
        const auto image = BadgeRenderer::image(sample, badge, style, colorValue(color), false);
        if (auto status = write(image.rasterize(scale), directory / "catalogue" / name); !status) {
          return status.error();
        }
      }
    }
    const auto dimmed =
        BadgeRenderer::image(sample, badges[0], style, colorValue(BadgeColor::red), true);
    if (auto status =
            write(dimmed.rasterize(scale),
                  directory / "catalogue" / (std::string(rawValue(style)) + "-dimmed.png"));
        !status) {
      return status.error();
    }
    const auto idle =
        BadgeRenderer::image(sample, std::nullopt, style, colorValue(BadgeColor::red), false);
    if (auto status = write(idle.rasterize(scale),
                            directory / "catalogue" / (std::string(rawValue(style)) + "-idle.png"));
        !status) {
      return status.error();
    }
  }

  for (const auto& app : apps) {
    auto it = dock.find(app.bundleID);
    const std::optional<BadgeValue> badge = it == dock.end() ? std::nullopt : it->second.badge;
    const bool dimmed = app.visibility == IconVisibility::dim && !badge;
    const auto image =
        BadgeRenderer::image(icons.icon(app.bundleID, BadgeRenderer::kIconSize), badge,
                             app.effectiveStyle(defaultStyle), app.effectiveColor(), dimmed);
    if (auto status = write(image.rasterize(scale), directory / "apps" / (app.bundleID + ".png"));
        !status) {
      return status.error();
    }
  }
  return written;
}

}  // namespace lumarin
