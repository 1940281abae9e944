#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/Image.h"
#include "base/Observable.h"
#include "hud/HUDTiles.h"
#include "menubar/ExternalStatusItem.h"

namespace lumarin {

class Accessibility;
class ControlCenterExtras;
class DebugLog;
class IconCache;
class MenuBarAgentLayout;
class MenuBarOverflow;
class Scheduler;
class Screens;
class SkyLight;
class StatusBar;
class StatusBarButton;
class StatusItemCapture;
class StatusItemScanner;
class Workspace;

// What the menu bar HUD shows: one tile per menu bar item of every other process (also those
// the notch or the overflow chevron hides), per Control Center extra or unclaimed item window,
// and per status item of the program itself, in menu bar order, with the click target of each.
//
// `refresh` is called on the main queue and returns at once: the scan and the placement run
// on the utility global queue, the captures on the capture queue, and the result is published
// on the main queue. Requests that arrive while a refresh runs are folded into it. Create
// with std::make_shared; a refresh holds the model weakly.
class MirrorModel final : public HUDTiles, public std::enable_shared_from_this<MirrorModel> {
 public:
  // A tile on its way through a refresh, with the item's edges in global points.
  struct Entry {
    double minX = 0;
    double maxX = 0;
    Tile tile;
    Target target;
  };

  struct Dependencies {
    Scheduler& scheduler;
    StatusItemScanner& scanner;
    SkyLight& skyLight;
    ControlCenterExtras& extras;
    MenuBarAgentLayout& agentLayout;
    MenuBarOverflow& overflow;
    const Screens& screens;
    std::shared_ptr<StatusItemCapture> capture;
    IconCache& iconCache;
    Accessibility& accessibility;
    Workspace& workspace;
    StatusBar& statusBar;
    const DebugLog& debugLog;
    std::function<bool()> darkAppearance;  // the effective appearance is dark
  };

  explicit MirrorModel(Dependencies dependencies);
  MirrorModel(const MirrorModel&) = delete;
  MirrorModel& operator=(const MirrorModel&) = delete;

  void refresh(std::function<void()> completion = {}) override;

  const Observable<std::vector<Tile>>& tiles() const override { return tiles_; }
  const Observable<bool>& accessibilityMissing() const override { return accessibilityMissing_; }
  const std::map<std::string, Target>& targetsByID() const override { return targetsByID_; }
  void setOnTilesChanged(std::function<void()> callback) override {
    onTilesChanged_ = std::move(callback);
  }
  bool refreshing() const override { return refreshing_; }
  // How the last refresh saw the menu bar: "per-item-windows" or "unified-bar".
  const std::string& lastMode() const override { return lastMode_; }
  // The program's own items' menus are read (built) each time, nothing else's can be read
  // without opening them.
  void readMenus() override;
  static constexpr std::size_t kMaxOwnMenuEntries = 200;
  const std::vector<MenuEntry>& menuEntries() const override { return menuEntries_; }
  void setOnMenusChanged(const std::function<void()>& callback) override {
    onMenusChanged_ = callback;
  }
  void setOwnMenus(std::shared_ptr<OwnItemMenus> menus) { ownMenus_ = std::move(menus); }
  int scanCount() const { return scanCount_; }

  // djb2 of the UTF-8 bytes, modulo 10000.
  static std::uint32_t stableIndex(std::string_view text);
  // The program's own items as entries; main queue.
  std::vector<Entry> ownStatusEntries() const;
  // The button drawn into a trimmed image at scale max(`scale`, 2); none for a button not
  // wider and taller than 1 point.
  static std::optional<Image> snapshotGlyph(const StatusBarButton& button, double scale, bool dark);

 private:
  struct Run;
  void scan(Run& run);
  void placeAndCapture(const std::shared_ptr<Run>& run);
  void buildEntries(Run& run, const std::map<std::string, Image>& captures);
  void publish(Run& run);
  bool isDrawn(const ExternalStatusItem& item) const;
  Entry entryFor(const ExternalStatusItem& item, const std::map<std::string, Image>& captures,
                 bool dark, const std::string& kind);

  Dependencies deps_;
  Observable<std::vector<Tile>> tiles_;
  Observable<bool> accessibilityMissing_{false};
  std::map<std::string, Target> targetsByID_;
  std::function<void()> onTilesChanged_;
  bool refreshing_ = false;
  std::vector<std::function<void()>> pendingCompletions_;
  bool didLogFirstRefresh_ = false;
  int lastLoggedCount_ = -1;
  std::string lastLayoutNote_;
  std::string lastMode_;
  int scanCount_ = 0;
  std::shared_ptr<OwnItemMenus> ownMenus_;
  std::vector<MenuEntry> menuEntries_;
  std::function<void()> onMenusChanged_;
};

}  // namespace lumarin
