#pragma once

#include <functional>
#include <optional>

#include "platform/Events.h"

namespace lumarin {

// Input events on a freedesktop desktop, as far as a tray program can see them. Main queue.
//
// - The current event exists only while a tray click is being dispatched: the status bar
//   adapter sets it around the button's action (a tray host's Activate is a left mouse-up, its
//   ContextMenu a right one) and clears it afterwards.
// - The double-click interval is the desktop's own (the platform theme's), read when asked, so
//   a change in the desktop settings applies to the next click.
// - The mouse location is the cursor's position in global top-left points; absent without a
//   display connection.
// - Nothing is synthesised: a desktop session gives no ordinary client the right to post
//   input to other programs (X11's XTest is an optional extension, and Wayland compositors
//   refuse it), so `postMouseEvent` answers false and callers take their fallback.
// - Global and local monitors are accepted and never fire: there is no portable way to watch
//   other programs' input, and the tray program has no windows of its own whose input it
//   would filter. The subscriptions are real tokens so callers' lifetimes stay the same.
class DesktopEvents final : public Events {
 public:
  // `doubleClickInterval` replaces the desktop's setting (seconds); tests pass one so their
  // outcome does not depend on the machine's theme.
  explicit DesktopEvents(std::optional<double> doubleClickInterval = std::nullopt);
  DesktopEvents(const DesktopEvents&) = delete;
  DesktopEvents& operator=(const DesktopEvents&) = delete;
  ~DesktopEvents() override;

  std::optional<Event> currentEvent() const override { return current_; }
  double doubleClickInterval() const override;
  std::optional<GlobalPoint> mouseLocation() const override;
  bool postMouseEvent(EventType type, GlobalPoint point, unsigned modifierFlags) override;
  [[nodiscard]] Subscription addGlobalMonitor(
      unsigned mask, std::function<void(const MonitoredEvent&)> handler) override;
  [[nodiscard]] Subscription addLocalMonitor(
      unsigned mask, std::function<bool(const LocalEvent&)> handler) override;

  // Used by the status bar adapter around a click's dispatch.
  void setCurrentEvent(std::optional<Event> event) { current_ = event; }

  // Without a desktop setting (no GUI application yet).
  static constexpr double kFallbackDoubleClickInterval = 0.4;

 private:
  std::optional<Event> current_;
  std::optional<double> doubleClickInterval_;
};

}  // namespace lumarin
