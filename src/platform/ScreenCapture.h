#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Image.h"

namespace lumarin {

struct ShareableDisplay {
  std::uint32_t displayID = 0;
  GlobalRect frame;  // global points
};

struct ShareableWindow {
  std::uint32_t windowID = 0;
  int layer = 0;
  GlobalRect frame;  // global points
  std::string title;
  bool isOnScreen = true;
  int ownerPID = 0;
};

struct ShareableContent {
  std::vector<ShareableDisplay> displays;
  std::vector<ShareableWindow> windows;
};

// Screen recording: the permission and ScreenCaptureKit's content and screenshots.
// Screenshots block the calling thread for as long as they take; any thread.
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;
  // CGPreflightScreenCaptureAccess.
  virtual bool preflightAccess() = 0;
  // CGRequestScreenCaptureAccess: asks the user (the answer may come later).
  virtual bool requestAccess() = 0;
  virtual std::optional<ShareableContent> shareableContent(bool excludeDesktopWindows,
                                                           bool onScreenOnly) = 0;
  // One window alone, at this pixel size; absent on an error.
  virtual std::optional<Image> captureWindow(std::uint32_t windowID, int pixelWidth,
                                             int pixelHeight) = 0;
  // A region of a display (in the display's points) with no windows but, when asked, the menu
  // bar; absent on an error.
  virtual std::optional<Image> captureDisplay(std::uint32_t displayID, const GlobalRect& source,
                                              int pixelWidth, int pixelHeight,
                                              bool includeMenuBar) = 0;
};

}  // namespace lumarin
