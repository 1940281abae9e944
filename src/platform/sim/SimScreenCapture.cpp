#include "platform/sim/SimScreenCapture.h"

#include <QImage>
#include <QPainter>
#include <cmath>

#include "gfx/Drawing.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

bool SimScreenCapture::preflightAccess() { return world_.screenRecordingGranted(); }

bool SimScreenCapture::requestAccess() { return world_.requestScreenRecording(); }

std::optional<ShareableContent> SimScreenCapture::shareableContent(bool /*excludeDesktopWindows*/,
                                                                   bool onScreenOnly) {
  ++contentFetches_;
  if (!world_.screenRecordingGranted() || world_.consumeCaptureFailure()) {
    return std::nullopt;
  }
  ShareableContent content;
  const auto screens = world_.screens();
  const double firstMaxY = screens.empty() ? 0 : screens.front().frame.maxY();
  for (const auto& s : screens) {
    content.displays.push_back(ShareableDisplay{s.displayID, toGlobal(s.frame, firstMaxY)});
  }
  for (const auto& w : world_.windows()) {
    if (onScreenOnly && !w.onscreen) {
      continue;
    }
    content.windows.push_back(
        ShareableWindow{w.id, w.layer, w.bounds, w.name, w.onscreen, w.ownerPID});
  }
  return content;
}

std::optional<Image> SimScreenCapture::captureWindow(std::uint32_t windowID, int pixelWidth,
                                                     int pixelHeight) {
  world_.spendTime(seconds(kWindowCaptureCost));
  ++captures_;
  if (!world_.screenRecordingGranted() || world_.consumeCaptureFailure() || pixelWidth < 1 ||
      pixelHeight < 1) {
    return std::nullopt;
  }
  const auto window = world_.window(windowID);
  if (!window) {
    return std::nullopt;
  }
  for (const auto& extra : world_.menuExtras()) {
    if (extra.windowID == windowID) {
      // The window draws its item on a transparent background, wherever it stands.
      return renderMenuExtra(world_, extra, window->bounds, pixelWidth, pixelHeight);
    }
  }
  // Any other window: its pixels are not the menu bar's business; an empty picture.
  QImage blank(pixelWidth, pixelHeight, QImage::Format_RGBA8888_Premultiplied);
  blank.fill(Qt::transparent);
  return fromQImage(blank, window->bounds.size);
}

std::optional<Image> SimScreenCapture::captureDisplay(std::uint32_t displayID,
                                                      const GlobalRect& source, int pixelWidth,
                                                      int pixelHeight, bool includeMenuBar) {
  world_.spendTime(seconds(kDisplayCaptureCost));
  ++captures_;
  if (!world_.screenRecordingGranted() || world_.consumeCaptureFailure() || pixelWidth < 1 ||
      pixelHeight < 1) {
    return std::nullopt;
  }
  const auto screens = world_.screens();
  if (screens.empty() || screens.front().displayID != displayID) {
    // Only the first display carries the menu bar's items here; others show an empty bar.
    QImage empty(pixelWidth, pixelHeight, QImage::Format_RGBA8888_Premultiplied);
    empty.fill(QColor(0xEC, 0xEC, 0xEE));
    return fromQImage(empty, source.size);
  }
  const double scale = pixelWidth / source.width();
  const Image bar = renderMenuBar(world_, scale);
  QImage out(pixelWidth, pixelHeight, QImage::Format_RGBA8888_Premultiplied);
  // Below the bar lies the desktop (windows are excluded): a plain wallpaper colour.
  out.fill(QColor(0x3A, 0x6E, 0xA5));
  if (includeMenuBar) {
    QPainter p(&out);
    p.drawImage(QPointF(-source.minX() * scale, -source.minY() * scale), toQImage(bar));
  }
  return fromQImage(out, source.size);
}

}  // namespace lumarin::sim
