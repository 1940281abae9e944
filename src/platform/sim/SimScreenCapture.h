#pragma once

#include "platform/ScreenCapture.h"

namespace lumarin::sim {

class World;

// Screen recording on the simulated Mac: real pixels of the simulated menu bar. A window
// capture renders the item its window draws (on a transparent background); a display capture
// renders the composed menu bar strip with its background and the notch. Each screenshot costs
// a few milliseconds of the clock, like the real one.
class SimScreenCapture final : public ScreenCapture {
 public:
  static constexpr double kWindowCaptureCost = 0.012;
  static constexpr double kDisplayCaptureCost = 0.030;

  explicit SimScreenCapture(World& world) : world_(world) {}

  bool preflightAccess() override;
  bool requestAccess() override;
  std::optional<ShareableContent> shareableContent(bool excludeDesktopWindows,
                                                   bool onScreenOnly) override;
  std::optional<Image> captureWindow(std::uint32_t windowID, int pixelWidth,
                                     int pixelHeight) override;
  std::optional<Image> captureDisplay(std::uint32_t displayID, const GlobalRect& source,
                                      int pixelWidth, int pixelHeight,
                                      bool includeMenuBar) override;

  int captures() const { return captures_; }
  int contentFetches() const { return contentFetches_; }

 private:
  World& world_;
  int captures_ = 0;
  int contentFetches_ = 0;
};

}  // namespace lumarin::sim
