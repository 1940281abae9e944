#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "base/Image.h"
#include "base/StyledText.h"
#include "platform/Menu.h"
#include "platform/Scheduler.h"

namespace lumarin {

// NSStatusItem's special lengths.
inline constexpr double kVariableStatusItemLength = -1;
inline constexpr double kSquareStatusItemLength = -2;

enum class ImagePosition { imageOnly, imageLeft };

// Which mouse-ups send a button's action (sendAction(on:)).
enum ActionEventMask : unsigned {
  kSendOnLeftMouseUp = 1u << 0,
  kSendOnRightMouseUp = 1u << 1,
};

// A keyframe animation of one layer property, as the render server plays it: from
// `beginTime` (the Clock's monotonic time) through `values` at `keyTimes` (fractions of
// `duration`), eased in and out between keyframes, repeating forever or once.
struct KeyframeAnimation {
  std::string keyPath;  // "transform.scale"
  std::vector<double> values;
  std::vector<double> keyTimes;
  double duration = 0;
  bool repeatsForever = false;
  bool easeInEaseOut = true;
  Duration beginTime{};

  // The animated value at `now`; the last value once a non-repeating animation has ended.
  double valueAt(Duration now) const;
};

// A sublayer of a button's layer: a filled rounded rectangle centred at `position`, in the
// button's coordinates (origin bottom-left unless the button is flipped).
struct ButtonLayer {
  std::string name;
  Size bounds;
  CocoaPoint position;
  RgbColor background;
  double cornerRadius = 0;
  double contentsScale = 2;
  std::map<std::string, KeyframeAnimation> animations;  // by key
};

// The window a status item's button lives in.
struct StatusItemWindow {
  std::uint32_t number = 0;
  CocoaRect frame;
  std::string title;
  double backingScaleFactor = 2;
};

// A status item's button (NSStatusBarButton): picture, title, tooltip, identifier, target,
// its layer's sublayers and its window. Main queue.
class StatusBarButton {
 public:
  virtual ~StatusBarButton() = default;
  virtual void setImage(std::optional<LazyImage> image) = 0;
  virtual const std::optional<LazyImage>& image() const = 0;
  virtual void setTitle(const std::string& title) = 0;
  virtual void setAttributedTitle(std::optional<StyledText> title) = 0;
  virtual const std::optional<StyledText>& attributedTitle() const = 0;
  virtual void setImagePosition(ImagePosition position) = 0;
  virtual void setToolTip(std::optional<std::string> toolTip) = 0;
  virtual const std::optional<std::string>& toolTip() const = 0;
  virtual void setIdentifier(const std::string& identifier) = 0;
  virtual const std::string& identifier() const = 0;
  // The name assistive technology (and a tray host listing hidden items) gives the button,
  // whatever it shows (NSAccessibility's label).
  virtual void setAccessibilityLabel(const std::string& label) = 0;
  virtual const std::string& accessibilityLabel() const = 0;
  // The action sent, with the button, on the mouse-ups `mask` names.
  virtual void setAction(std::function<void(StatusBarButton&)> action, unsigned mask) = 0;
  // Clicks the button: opens the item's menu when one is attached, else sends the action.
  virtual void performClick() = 0;
  // Pops `menu` up at the button (NSMenu.popUp(positioning:at:in:)).
  virtual void popUpMenu(const Menu& menu, MenuHandlers handlers) = 0;

  virtual Size bounds() const = 0;
  virtual bool isFlipped() const = 0;
  // What the button draws in its bounds (image and title), for a snapshot of it.
  virtual LazyImage display() const = 0;
  virtual std::optional<StatusItemWindow> window() const = 0;
  virtual void setWindowTitle(const std::string& title) = 0;

  virtual std::optional<ButtonLayer> layer(const std::string& name) const = 0;
  virtual void addLayer(ButtonLayer layer) = 0;
  virtual void removeLayer(const std::string& name) = 0;
  virtual void moveLayer(const std::string& name, CocoaPoint position) = 0;
};

// One menu bar item of this program (NSStatusItem). Its place is kept by the system under
// the user-defaults key "NSStatusItem Preferred Position <autosave name>". Main queue.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  virtual void setAutosaveName(const std::string& name) = 0;
  virtual const std::string& autosaveName() const = 0;
  virtual void setLength(double length) = 0;
  virtual double length() const = 0;
  virtual void setVisible(bool visible) = 0;
  virtual bool isVisible() const = 0;
  virtual StatusBarButton& button() = 0;
  // A menu attached to the item opens on a click on it; none detaches.
  virtual void setMenu(std::optional<Menu> menu, MenuHandlers handlers) = 0;
  virtual bool hasMenu() const = 0;
  // The menu a secondary click shows, on status bars that present it themselves
  // (`StatusBar::presentsContextMenus`): a desktop tray host asks for it before the click, so
  // it is kept up to date rather than built on the click. Elsewhere it is ignored and the
  // secondary click reaches the button's action. A choice reports through `handlers`.
  virtual void setContextMenu(std::optional<Menu> menu, MenuHandlers handlers) = 0;
};

// The system status bar (NSStatusBar.system). Main queue.
class StatusBar {
 public:
  virtual ~StatusBar() = default;
  virtual std::shared_ptr<StatusItem> makeStatusItem(double length) = 0;
  virtual void removeStatusItem(const std::shared_ptr<StatusItem>& item) = 0;
  // The bar's thickness: a square item's length.
  virtual double thickness() const = 0;
  // True where the bar shows the items' context menus itself (see
  // `StatusItem::setContextMenu`); false where a secondary click goes to the item's action.
  virtual bool presentsContextMenus() const = 0;
  // The program's items, in creation order (its status bar windows).
  virtual std::vector<std::shared_ptr<StatusItem>> items() const = 0;
};

}  // namespace lumarin
