#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/SettingsTab.h"
#include "base/Geometry.h"
#include "base/Signal.h"
#include "base/WeakBind.h"
#include "platform/Scheduler.h"
#include "settings/SettingsContext.h"
#include "settings/SettingsView.h"
#include "ui/Appearance.h"

namespace lumarin {

class ProcessInfo;
class Screens;
class WindowHistory;

// The settings window itself: closing only hides it. A click while it is not the key window
// activates the program first. Main thread.
class SettingsWindow : public QWidget {
 public:
  static constexpr int kWidth = 760;
  static constexpr int kHeight = 520;
  static constexpr int kMinimumWidth = 720;
  static constexpr int kMinimumHeight = 480;

  SettingsWindow(std::function<void()> activate, std::function<void()> onClose);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::function<void()> activate_;
  std::function<void()> onClose_;
};

// Owns the settings window, created on `show`. A window closed for `kReleaseDelay` is
// destroyed and made again on the next `show`, on the tab, at the size and place it had: the
// settings live in their models, so a program whose window stays closed holds no widgets,
// fonts or pictures for it. Main thread.
class SettingsWindowController {
 public:
  struct Dependencies {
    SettingsContext context;
    const ProcessInfo& processInfo;
    // The screens the window is centred on; without them, Qt's primary screen.
    const Screens* screens = nullptr;
    // The window's appearance; absent follows the desktop.
    std::optional<Appearance> appearance;
    // Where openings, closings and tabs are recorded; may be null.
    WindowHistory* history = nullptr;
    // Writes the HUD's picture into a directory (the snapshot run's "hud.png").
    std::function<void(const std::filesystem::path&)> hudSnapshot;
  };

  // Long enough that closing and reopening soon costs nothing, short enough that a window
  // closed for good gives its memory back within a minute.
  static constexpr Duration kReleaseDelay = std::chrono::seconds(30);

  explicit SettingsWindowController(Dependencies dependencies);
  ~SettingsWindowController();
  SettingsWindowController(const SettingsWindowController&) = delete;
  SettingsWindowController& operator=(const SettingsWindowController&) = delete;

  // Selects `tab` (when given), creates the window if needed, activates the program and
  // brings the window to the front. The first call also starts the snapshot run when
  // LUMARIN_UI_SNAPSHOT names a directory.
  void show(std::optional<SettingsTab> tab = std::nullopt);
  // Hides the window as its close button does.
  void close();

  bool isVisible() const;
  SettingsWindow* window() const { return window_.get(); }
  SettingsView* view() const { return view_; }
  SettingsRouter& router() { return router_; }
  SettingsContext& context() { return deps_.context; }
  // The window's frame on the simulated Mac's main screen (bottom-left convention).
  CocoaRect frame() const;
  // A window of this size centred on the main screen's visible part, as windows open.
  static CocoaRect centredFrame(const Screens* screens, double width, double height);
  void setAppearance(std::optional<Appearance> appearance);
  // Runs after a closed window's widgets were destroyed (where the program can return the
  // freed memory to the system).
  void setOnReleased(std::function<void()> onReleased) { onReleased_ = std::move(onReleased); }

  // Writes every tab ("settings-<tab><suffix>.png", and with `bottoms` a second picture of
  // each scrolled to its end); false when a file could not be written.
  bool writeTabPictures(const std::filesystem::path& directory, const std::string& suffix,
                        bool bottoms);

 private:
  void create();
  void snapshotRun(const std::filesystem::path& directory);
  void scheduleRelease();
  void release();

  Dependencies deps_;
  SettingsRouter router_;
  std::unique_ptr<SettingsWindow> window_;
  SettingsView* view_ = nullptr;
  bool snapshotDone_ = false;
  Subscription tabSubscription_;
  // Where the window was when it was released, for the next one.
  std::optional<QRect> releasedGeometry_;
  TaskHandle releaseTask_;
  std::function<void()> onReleased_;
  WeakPtrFactory<SettingsWindowController> weak_{this};
};

}  // namespace lumarin
