#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Signal.h"
#include "hud/HUDTiles.h"

namespace lumarin {

class DebugLog;
class Events;
class HUDLayoutBus;
class Permissions;
class Scheduler;
class Screens;
class SkyLight;
class MirrorHUDSearch;
class Window;
class Windows;
class Workspace;

// A key pressed in the HUD while it is the key panel, in the toolkit's terms turned into what
// it asks for.
struct HUDKey {
  enum class Kind { text, backspace, escape, left, right, up, down, home, end, activate, digit };
  Kind kind = Kind::text;
  std::string text;        // typed text (kind text)
  int digit = 0;           // 1…9 (kind digit)
  bool secondary = false;  // Shift-Return or the menu key: a right click (kind activate)
};

// The key a key-down with this virtual key code and these modifier flags means in the HUD
// (Return, keypad Enter, Delete, the arrows, Home, End, 1…9); none for the others (Escape
// included: the panel's cancel handles it).
std::optional<HUDKey> hudKeyForKeyCode(int keyCode, unsigned modifierFlags);

// What a key did in the HUD, for the run's report: the key, the filter and how many tiles it
// left, and the tile a Return or a digit clicked.
struct HUDKeyRecord {
  HUDKey key;
  std::string filter;
  std::vector<std::string> visible;  // the visible tiles' ids, in the model's order
  std::size_t total = 0;
  std::optional<std::string> reached;  // the clicked tile's id
  std::string reachedTitle;
};

// The HUD panel: a borderless floating window at the status-window level that takes the
// keyboard only while `allowsKey`, and is never the main window. Escape reaching it and the
// cancel command call `onCancel`; without one, Escape is swallowed. Main queue.
class MirrorHUDPanel {
 public:
  static constexpr int kEscapeKeyCode = 53;
  static constexpr int kLevel = 25;  // the status-window level

  explicit MirrorHUDPanel(std::shared_ptr<Window> window);
  MirrorHUDPanel(const MirrorHUDPanel&) = delete;
  MirrorHUDPanel& operator=(const MirrorHUDPanel&) = delete;

  Window& window() const { return *window_; }
  bool canBecomeKey() const { return allowsKey; }
  static bool canBecomeMain() { return false; }
  // A key-down that reached the panel; false when it was passed on.
  bool keyDown(int keyCode);
  void cancelOperation();

  std::function<void()> onCancel;
  bool allowsKey = true;

 private:
  std::shared_ptr<Window> window_;
};

// What paints the panel: a toolkit window kept at the panel's frame. It reports clicks on
// tiles and on the permission row through the handlers it was made with. Main queue.
class MirrorHUDSurface {
 public:
  virtual ~MirrorHUDSurface() = default;
  // The panel's frame in the window system's convention.
  virtual void setFrame(const CocoaRect& frame) = 0;
  virtual void setVisible(bool visible, bool takesKeyboard) = 0;
  // A mouse-down that reached the panel, at a point of it (origin at its bottom left).
  virtual void mouseDown(CocoaPoint point, bool right, unsigned modifiers) = 0;
  // What the keyboard made of the panel: the filter ("" for none), the ids of the tiles it
  // leaves (every tile without a filter), the menu entries it found (id and title) and the
  // focused tile or entry.
  virtual void showSearch(const std::string& text, const std::vector<std::string>& visibleIDs,
                          const std::vector<std::pair<std::string, std::string>>& entries,
                          const std::optional<std::string>& focusedID) = 0;
  // The toolkit window as the platform's window, where the toolkit is the window system (a
  // freedesktop desktop); none where a window server keeps windows of its own.
  virtual std::shared_ptr<Window> ownWindow() { return nullptr; }
};

// Shows the mirror model's tiles in the HUD panel: creates the panel on first use, places it
// on the screen under the mouse (beside Control Center's panel and the sibling's HUD when
// opened with Control Center), closes it on Escape, on a click elsewhere or on a tile click,
// checks half a second after showing that it really is on screen, and announces its frame on
// the layout bus. Main queue. Create with std::make_shared.
class MirrorHUDController : public std::enable_shared_from_this<MirrorHUDController> {
 public:
  static constexpr double kVerifyDelay = 0.5;
  static constexpr double kPeerFreshness = 10;

  struct SurfaceHandlers {
    std::function<void(const HUDTiles::Target&, bool right, unsigned modifiers)> onClick;
    std::function<void(const HUDTiles::Target&)> onMiddleClick;
    std::function<void(const HUDTiles::Target&, int delta, bool horizontal)> onScroll;
    // A click on a listed menu entry, by its id.
    std::function<void(const std::string& entryID)> onEntryClick;
    std::function<void()> onPermissionTap;
    // The panel lost the keyboard to another window (a click elsewhere on a desktop).
    std::function<void()> onDeactivated;
    std::function<void()> onCancel;
    // A key pressed in the panel; false when the panel has no use for it.
    std::function<bool(const HUDKey&)> onKey;
  };
  using SurfaceFactory = std::function<std::unique_ptr<MirrorHUDSurface>(SurfaceHandlers)>;

  // What the Mac alone has may be left out: without `windows` the surface's own window is the
  // panel (`makeSurface` must then give a surface with one), without `skyLight` the panel is
  // not checked on screen, without `bus` no layout is exchanged, without `permissions` there
  // is no permission to ask for.
  struct Dependencies {
    std::shared_ptr<HUDTiles> model;
    Windows* windows;
    Events& events;
    const Screens& screens;
    Scheduler& scheduler;
    SkyLight* skyLight;
    const Workspace& workspace;
    HUDLayoutBus* bus;
    HUDClickSink& forwarder;
    Permissions* permissions;
    const DebugLog& debugLog;
    SurfaceFactory makeSurface;  // none: the panel is not painted
    // The interface language's code, whose collation the filter compares by.
    std::function<std::string()> languageCode;
  };

  explicit MirrorHUDController(Dependencies dependencies);
  MirrorHUDController(const MirrorHUDController&) = delete;
  MirrorHUDController& operator=(const MirrorHUDController&) = delete;
  ~MirrorHUDController();

  void show(bool linkedToControlCenter, const std::optional<CocoaRect>& avoiding);
  void hide(const std::string& reason);
  void layout();
  std::string frameDescription() const;

  // The panel; null before the first show.
  MirrorHUDPanel* panel() const { return panel_.get(); }
  bool isVisible() const;
  bool linkedToControlCenter() const { return linkedToControlCenter_; }
  const std::optional<CocoaRect>& peerFrame() const { return peerFrame_; }
  void setPeerFrame(std::optional<CocoaRect> frame) { peerFrame_ = frame; }
  const std::optional<CocoaRect>& avoidRect() const { return avoidRect_; }
  // Why the panel was last hidden ("" before the first hide).
  const std::string& lastHideReason() const { return lastHideReason_; }
  void setOnVisibilityChanged(std::function<void(bool)> callback) {
    onVisibilityChanged_ = std::move(callback);
  }
  // Told of every key the panel took, after it took effect.
  void setOnKey(std::function<void(const HUDKeyRecord&)> callback) { onKey_ = std::move(callback); }
  // A click on a tile as the view reports it: forwarded to the item, then the panel closes.
  void tileClicked(const HUDTiles::Target& target, bool right, unsigned modifiers);
  // A listed menu entry chosen: performed in its item's app, then the panel closes. False when
  // no such entry is listed.
  bool entryChosen(const std::string& entryID);
  MirrorHUDSurface* surface() const { return surface_.get(); }
  // The keyboard while the panel is key: typing filters, arrows move the focus, Return clicks
  // the focused tile, 1…9 the n-th one, Escape empties the filter and then closes. False when
  // the key was not for the panel (it is not up, or not key).
  bool keyPressed(const HUDKey& key);
  // The filter and focus; null before the first show.
  const MirrorHUDSearch* search() const { return search_.get(); }

 private:
  void makePanel();
  void installMonitors(bool global);
  void removeMonitors();
  void verifyActuallyOnScreen(bool retry);
  void scheduleVerify(bool retry);
  std::optional<std::size_t> screenIndexForMouse() const;
  // The search follows the model's tiles and the surface follows the search.
  void syncSearch();
  void searchChanged();
  void showSearchOnSurface();

  Dependencies deps_;
  std::unique_ptr<MirrorHUDPanel> panel_;
  std::unique_ptr<MirrorHUDSurface> surface_;
  std::optional<Subscription> globalMonitor_;
  std::optional<Subscription> localMonitor_;
  bool linkedToControlCenter_ = false;
  std::optional<CocoaRect> avoidRect_;
  std::function<void(bool)> onVisibilityChanged_;
  std::function<void(const HUDKeyRecord&)> onKey_;
  std::optional<CocoaRect> peerFrame_;
  std::string lastHideReason_;
  std::unique_ptr<MirrorHUDSearch> search_;
  std::string searchLanguage_;
  // While the keyboard reshapes the panel it stays on its screen with its top edge in place.
  std::optional<std::size_t> shownScreen_;
  bool keepTop_ = false;
  bool hiding_ = false;
};

}  // namespace lumarin
