#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/Geometry.h"
#include "hud/MirrorModel.h"

namespace lumarin {

class Accessibility;
class AppStatusItemsController;
class DebugLog;
class Events;
class MenuBarOverflow;
class Scheduler;
class Screens;
class StatusBar;
class WindowServer;

// Delivers a click on a HUD tile to the real menu bar item: an accessibility action on its
// element ("ax"), a synthesised click at its place on screen ("skylight"), or nothing
// ("none"). `forward` is called on the main queue and returns at once; for items of other
// processes the delivery runs on the user-initiated global queue.
class MirrorClickForwarder final : public HUDClickSink,
                                   public std::enable_shared_from_this<MirrorClickForwarder> {
 public:
  static constexpr double kPressTimeout = 0.3;
  static constexpr double kButtonHold = 0.030;
  static constexpr double kCursorReturn = 0.010;

  struct Dependencies {
    Accessibility& accessibility;
    WindowServer& windowServer;
    const Screens& screens;
    MenuBarOverflow& overflow;
    Events& events;
    Scheduler& scheduler;
    StatusBar& statusBar;
    const DebugLog& debugLog;
    std::string ownBundleID;  // empty: "self"
  };

  explicit MirrorClickForwarder(Dependencies dependencies);
  MirrorClickForwarder(const MirrorClickForwarder&) = delete;
  MirrorClickForwarder& operator=(const MirrorClickForwarder&) = delete;

  // Paths: "ax", "skylight", "none".
  void forward(const MirrorModel::Target& target, bool right, unsigned modifiers) override;
  // An entry of the program's own item's menu, run as the menu does ("menu-entry"); other
  // items' menus cannot be run unopened ("none").
  void perform(const MirrorModel::Target& target, const HUDTiles::MenuEntry& entry) override;
  void setOwnMenus(std::shared_ptr<OwnItemMenus> menus) { ownMenus_ = std::move(menus); }

  // The per-app status items, reached for clicks on their tiles; may be unset.
  void setAppItems(std::weak_ptr<AppStatusItemsController> controller) {
    appItems_ = std::move(controller);
  }
  // Told every attempt (the statistics event "mirror.click" and the run report); called on
  // the queue the attempt ended on.
  void setReporter(std::function<void(const Report&)> reporter) { reporter_ = std::move(reporter); }

  bool isOnSomeScreenX(double x) const;
  // A hardware-like click: down, 30 ms, up, and the cursor put back 10 ms later.
  void postPhysicalClick(GlobalPoint point, bool right, unsigned flags);
  // Only shift, control, option and command pass.
  static unsigned clickFlags(unsigned modifiers);

 private:
  void forwardExternal(const ExternalStatusItem& item, bool right, unsigned flags);
  void forwardOwn(std::uint32_t windowNumber, bool right, unsigned flags);
  bool hiddenAt(const GlobalRect& rect) const;
  void report(const std::string& tile, bool ok, const std::string& path,
              const std::string& targetApp, bool notchHidden);

  Dependencies deps_;
  std::weak_ptr<AppStatusItemsController> appItems_;
  std::function<void(const Report&)> reporter_;
  std::shared_ptr<OwnItemMenus> ownMenus_;
};

}  // namespace lumarin
