#pragma once

#include <QImage>
#include <functional>
#include <memory>

#include "hud/MirrorHUDController.h"

class QWidget;

namespace lumarin {

class L10n;
class MirrorHUDView;

// The HUD panel as a Qt window: a frameless, translucent tool window that stays on top and
// holds the tile view, kept at the panel's frame. Escape in it is the cancel command. Main
// thread.
class MirrorHUDWindow final : public MirrorHUDSurface {
 public:
  MirrorHUDWindow(std::shared_ptr<HUDTiles> model, const L10n& l10n,
                  MirrorHUDController::SurfaceHandlers handlers,
                  std::function<double()> firstScreenMaxY);
  MirrorHUDWindow(const MirrorHUDWindow&) = delete;
  MirrorHUDWindow& operator=(const MirrorHUDWindow&) = delete;
  ~MirrorHUDWindow() override;

  void setFrame(const CocoaRect& frame) override;
  void setVisible(bool visible, bool takesKeyboard) override;
  void mouseDown(CocoaPoint point, bool right, unsigned modifiers) override;
  void showSearch(const std::string& text, const std::vector<std::string>& visibleIDs,
                  const std::vector<std::pair<std::string, std::string>>& entries,
                  const std::optional<std::string>& focusedID) override;
  std::shared_ptr<Window> ownWindow() override;

  // The panel as Qt paints it, at `scale` pixels per point, with a transparent outside.
  QImage picture(double scale) const;
  bool isShown() const;
  MirrorHUDView& view() const { return *view_; }
  // The toolkit window, where key presses arrive.
  QWidget& widget() const;

 private:
  class Frame;
  class OwnWindow;
  std::unique_ptr<Frame> window_;
  MirrorHUDView* view_ = nullptr;  // owned by the window
  std::function<double()> firstScreenMaxY_;
};

}  // namespace lumarin
