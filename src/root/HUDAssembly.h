#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "base/Properties.h"
#include "base/Result.h"
#include "menubar/Permissions.h"

class QImage;
class QPainter;

namespace lumarin {

class ControlCenterWatcher;
class DebugLog;
class HUDClickSink;
class HUDLayoutBus;
class HUDTiles;
class L10n;
class MirrorController;
class MirrorHUDController;
class MirrorHUDWindow;
class MirrorHistory;
class SkyLight;
struct Platform;

namespace sim {
class World;
}  // namespace sim

// The HUD's objects for one run: the panel controller with its Qt window and the controller
// that ties it to the hot key and the menu; on the Mac also the layout bus, the Control Center
// watcher and the accessibility permission (each where the platform has what it needs); and
// the HUD's pictures for a run's snapshots.
class HUDAssembly {
 public:
  HUDAssembly(const Platform& platform, const DebugLog& log, std::shared_ptr<HUDTiles> model,
              HUDClickSink& forwarder, SkyLight* skyLight, const L10n& l10n, MirrorHistory& history,
              std::function<void(const std::string&, const Properties&)> statistics);
  HUDAssembly(const HUDAssembly&) = delete;
  HUDAssembly& operator=(const HUDAssembly&) = delete;
  ~HUDAssembly();

  const std::shared_ptr<MirrorController>& controller() const { return controller_; }
  // The permission requests, shared so the system prompt comes once per launch (Mac only).
  Permissions& permissions() { return *permissions_; }

  // Keeps the panel's picture whenever a key leaves a filter in it, for hud-filtered.png.
  void keepFilteredPicture() { keepsFilteredPicture_ = true; }
  // hud.png: the panel as Qt painted it (the last showing's tiles), hud-filtered.png: the panel
  // as the last filter typed into it left it, and desktop.png: the first screen's top with the
  // menu bar, Control Center's panel, the sibling's HUD and the panel where they stand.
  Status writeSnapshots(const std::filesystem::path& directory, const sim::World& world) const;
  // hud.png and hud-filtered.png alone; `picture` receives the panel's picture.
  Status writePanelPictures(const std::filesystem::path& directory,
                            QImage* picture = nullptr) const;
  // Control Center's panel, the sibling's HUD and the panel where they stand, in the first
  // screen's top-left points (`hud`: the panel's picture, when the caller has it).
  void paintWindows(QPainter& painter, const sim::World& world, const QImage* hud = nullptr) const;

 private:
  const Platform& platform_;
  std::shared_ptr<HUDTiles> model_;
  const L10n& l10n_;
  std::shared_ptr<HUDLayoutBus> bus_;
  std::shared_ptr<ControlCenterWatcher> watcher_;
  std::optional<Permissions> permissions_;
  MirrorHUDWindow* window_ = nullptr;  // owned by the panel controller
  std::shared_ptr<MirrorHUDController> hud_;
  std::shared_ptr<MirrorController> controller_;
  bool keepsFilteredPicture_ = false;
  std::unique_ptr<QImage> filteredPicture_;
};

}  // namespace lumarin
