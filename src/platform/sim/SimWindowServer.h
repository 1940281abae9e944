#pragma once

#include "platform/Screens.h"
#include "platform/WindowServer.h"

namespace lumarin::sim {

class World;

// The window server of the simulated Mac: its window list, the menu bar item windows and
// their rectangles. Window names come back empty while screen recording is not granted.
class SimWindowServer final : public WindowServer {
 public:
  explicit SimWindowServer(World& world) : world_(world) {}

  int processMenuBarWindowList(int capacity, std::vector<std::uint32_t>& ids, int& count) override;
  std::optional<std::vector<WindowDescription>> windowList(WindowListOption option) override;
  std::optional<std::vector<WindowDescription>> describeWindows(
      const std::vector<std::uint32_t>& ids) override;
  int screenRectForWindow(std::uint32_t id, GlobalRect& rect) override;

  // A scenario can make the private menu bar call fail (as it does on some systems).
  void setMenuBarListFails(bool fails) { menuBarListFails_ = fails; }

 private:
  World& world_;
  bool menuBarListFails_ = false;
};

// NSScreen on the simulated Mac.
class SimScreens final : public Screens {
 public:
  explicit SimScreens(World& world) : world_(world) {}
  std::vector<ScreenInfo> screens() const override;
  CocoaPoint mouseLocation() const override;
  Subscription subscribeParametersChanged(std::function<void()> handler) override;

 private:
  World& world_;
};

}  // namespace lumarin::sim
