#include "root/HUDAssembly.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "gfx/Drawing.h"
#include "hud/ControlCenterWatcher.h"
#include "hud/HUDLayoutBus.h"
#include "hud/MirrorController.h"
#include "hud/MirrorHUDController.h"
#include "hud/MirrorHUDView.h"
#include "hud/MirrorHUDWindow.h"
#include "hud/MirrorHistory.h"
#include "l10n/AppLanguage.h"
#include "l10n/L10n.h"
#include "platform/Platform.h"
#include "platform/Scheduler.h"
#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/World.h"

namespace lumarin {

HUDAssembly::HUDAssembly(const Platform& p, const DebugLog& log, std::shared_ptr<HUDTiles> model,
                         HUDClickSink& forwarder, SkyLight* skyLight, const L10n& l10n,
                         MirrorHistory& history,
                         std::function<void(const std::string&, const Properties&)> statistics)
    : platform_(p), model_(std::move(model)), l10n_(l10n) {
  // What only a Mac has: the sibling's layout exchange, Control Center and the permission.
  if (p.notifications != nullptr) {
    bus_ = std::make_shared<HUDLayoutBus>(*p.notifications, *p.clock, log);
  }
  if (p.windowServer != nullptr && p.accessibility != nullptr) {
    watcher_ = std::make_shared<ControlCenterWatcher>(ControlCenterWatcher::Dependencies{
        *p.scheduler, *p.windowServer, *p.screens, *p.workspace, *p.accessibility, *p.events, log});
  }
  if (p.accessibility != nullptr) {
    permissions_.emplace(*p.accessibility, *p.workspace);
  }
  Screens* screens = p.screens;
  auto makeSurface = [this, screens](MirrorHUDController::SurfaceHandlers handlers) {
    auto window = std::make_unique<MirrorHUDWindow>(model_, l10n_, std::move(handlers), [screens] {
      const auto list = screens->screens();
      return list.empty() ? 0.0 : list.front().frame.maxY();
    });
    window_ = window.get();
    return std::unique_ptr<MirrorHUDSurface>(std::move(window));
  };
  hud_ = std::make_shared<MirrorHUDController>(MirrorHUDController::Dependencies{
      model_, p.windows, *p.events, *p.screens, *p.scheduler, skyLight, *p.workspace, bus_.get(),
      forwarder, permissions_ ? &*permissions_ : nullptr, log, makeSurface,
      [this] { return std::string(languageCode(*l10n_.language())); }});
  controller_ = std::make_shared<MirrorController>(MirrorController::Dependencies{
      model_, hud_, watcher_, bus_.get(), *p.scheduler, *p.screens, p.screenCapture, log,
      [&history, statistics = std::move(statistics)](const std::string& name,
                                                     const Properties& properties) {
        statistics(name, properties);
        history.recordEvent(name, properties);
      },
      [&history](const MirrorController::Record& record) { history.recordShow(record); }});
  hud_->setOnKey([this, &history](const HUDKeyRecord& record) {
    history.recordKey(record);
    // The panel as the filter left it, for the pictures (painted now: a click closes it).
    if (keepsFilteredPicture_ && window_ != nullptr && !record.filter.empty() && !record.reached) {
      filteredPicture_ = std::make_unique<QImage>(window_->picture(2));
    }
  });
}

HUDAssembly::~HUDAssembly() = default;

Status HUDAssembly::writeSnapshots(const std::filesystem::path& directory,
                                   const sim::World& world) const {
  QImage hud;
  if (auto status = writePanelPictures(directory, &hud); !status) {
    return status;
  }
  const auto screens = world.screens();
  if (screens.empty()) {
    return success();
  }
  const auto& first = screens.front();
  const double scale = 2;
  const double width = first.frame.width();
  const double firstMaxY = first.frame.maxY();
  // Deep enough for the panel, Control Center's panel and the sibling's HUD, within the
  // screen.
  const HUDLayoutBus::PeerState* peer = bus_ && bus_->pellior() ? &*bus_->pellior() : nullptr;
  double height = 420;
  for (const auto& w : world.windows()) {
    if (w.onscreen && (w.layer == 101 || w.ownerPID == world.programPid())) {
      height = std::max(height, w.bounds.maxY() + 40);
    }
  }
  if (peer != nullptr && peer->visible) {
    height = std::max(height, toGlobal(peer->frame, firstMaxY).maxY() + 40);
  }
  height = std::min(first.frame.height(), height);
  QImage desktop(static_cast<int>(width * scale), static_cast<int>(height * scale),
                 QImage::Format_ARGB32_Premultiplied);
  desktop.setDevicePixelRatio(scale);
  {
    QPainter p(&desktop);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient wallpaper(0, 0, width, height);
    wallpaper.setColorAt(0, QColor(0x2B, 0x4C, 0x7E));
    wallpaper.setColorAt(1, QColor(0x6A, 0x3F, 0x8C));
    p.fillRect(QRectF(0, 0, width, height), wallpaper);
    paintWindows(p, world, &hud);
    p.drawImage(QRectF(0, 0, width, world.menuBarHeight()), toQImage(sim::renderMenuBar(world, 2)));
  }
  const auto desktopFile = directory / "desktop.png";
  if (!desktop.save(QString::fromStdString(desktopFile.string()))) {
    return Error{"could not write " + desktopFile.string(), 1};
  }
  return success();
}

Status HUDAssembly::writePanelPictures(const std::filesystem::path& directory,
                                       QImage* picture) const {
  // The panel as it was last painted; a run that never showed it paints one for the picture.
  QImage hud;
  if (window_ != nullptr) {
    hud = window_->picture(2);
  } else {
    MirrorHUDView view(model_, l10n_, nullptr, nullptr);
    hud = QImage(view.width() * 2, view.height() * 2, QImage::Format_ARGB32_Premultiplied);
    hud.setDevicePixelRatio(2);
    hud.fill(Qt::transparent);
    view.render(&hud);
  }
  const auto hudFile = directory / "hud.png";
  if (!hud.save(QString::fromStdString(hudFile.string()))) {
    return Error{"could not write " + hudFile.string(), 1};
  }
  if (filteredPicture_) {
    const auto filteredFile = directory / "hud-filtered.png";
    if (!filteredPicture_->save(QString::fromStdString(filteredFile.string()))) {
      return Error{"could not write " + filteredFile.string(), 1};
    }
  }
  if (picture != nullptr) {
    *picture = hud;
  }
  return success();
}

void HUDAssembly::paintWindows(QPainter& p, const sim::World& world, const QImage* hud) const {
  const auto screens = world.screens();
  if (screens.empty()) {
    return;
  }
  const double firstMaxY = screens.front().frame.maxY();
  const double originX = screens.front().frame.minX();
  for (const auto& w : world.windows()) {
    if (!w.onscreen || w.layer != 101) {
      continue;
    }
    // Control Center's panel.
    QPainterPath panel;
    panel.addRoundedRect(
        QRectF(w.bounds.minX() - originX, w.bounds.minY(), w.bounds.width(), w.bounds.height()), 14,
        14);
    p.fillPath(panel, QColor(0xF4, 0xF4, 0xF6, 0xE6));
    p.setPen(QColor(0x33, 0x33, 0x38));
    const double top = std::max(w.bounds.minY(), world.menuBarHeight()) + 12;
    p.drawText(QRectF(w.bounds.minX() - originX, top, w.bounds.width(), 20), Qt::AlignHCenter,
               QStringLiteral("Control Center"));
  }
  const HUDLayoutBus::PeerState* peer = bus_ && bus_->pellior() ? &*bus_->pellior() : nullptr;
  if (peer != nullptr && peer->visible) {
    const GlobalRect r = toGlobal(peer->frame, firstMaxY);
    QPen pen(QColor(255, 255, 255, 200), 1.5, Qt::DashLine);
    p.setPen(pen);
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawRoundedRect(QRectF(r.minX() - originX, r.minY(), r.width(), r.height()), 16, 16);
    p.drawText(QRectF(r.minX() - originX, r.minY(), r.width(), r.height()), Qt::AlignCenter,
               QStringLiteral("Pellior HUD"));
  }
  if (window_ != nullptr && hud_->isVisible()) {
    const GlobalRect r = toGlobal(hud_->panel()->window().frame(), firstMaxY);
    const QImage painted = hud != nullptr ? *hud : window_->picture(2);
    p.drawImage(QRectF(r.minX() - originX, r.minY(), r.width(), r.height()), painted);
  }
}

}  // namespace lumarin
