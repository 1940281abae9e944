#include "platform/sim/SimWindowServer.h"

#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

WindowDescription describe(const SimWindow& w) {
  WindowDescription d;
  d.number = w.id;
  // The window server leaves out an empty name rather than reporting it.
  if (!w.name.empty()) {
    d.name = w.name;
  }
  d.layer = w.layer;
  d.ownerPID = w.ownerPID;
  d.ownerName = w.ownerName;
  d.bounds = w.bounds;
  d.isOnscreen = w.onscreen;
  return d;
}

}  // namespace

int SimWindowServer::processMenuBarWindowList(int capacity, std::vector<std::uint32_t>& ids,
                                              int& count) {
  count = 0;
  if (menuBarListFails_) {
    return 1000;  // kCGErrorFailure
  }
  const auto all = world_.menuBarItemWindowIDs();
  const std::size_t n = std::min<std::size_t>(all.size(), static_cast<std::size_t>(capacity));
  ids.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
  count = static_cast<int>(n);
  return 0;
}

std::optional<std::vector<WindowDescription>> SimWindowServer::windowList(WindowListOption option) {
  std::vector<WindowDescription> out;
  for (const auto& w : world_.windows()) {
    if (option == WindowListOption::onScreenOnly && !w.onscreen) {
      continue;
    }
    out.push_back(describe(w));
  }
  return out;
}

std::optional<std::vector<WindowDescription>> SimWindowServer::describeWindows(
    const std::vector<std::uint32_t>& ids) {
  std::vector<WindowDescription> out;
  for (auto id : ids) {
    if (auto w = world_.window(id)) {
      out.push_back(describe(*w));
    }
  }
  return out;
}

int SimWindowServer::screenRectForWindow(std::uint32_t id, GlobalRect& rect) {
  auto w = world_.window(id);
  if (!w) {
    return 1001;  // kCGErrorIllegalArgument
  }
  rect = w->bounds;
  return 0;
}

std::vector<ScreenInfo> SimScreens::screens() const {
  std::vector<ScreenInfo> out;
  for (const auto& s : world_.screens()) {
    ScreenInfo info;
    info.displayID = s.displayID;
    info.frame = s.frame;
    info.visibleFrame = s.visibleFrame;
    info.backingScale = s.backingScale;
    info.safeAreaTopInset = s.safeAreaTop;
    info.auxiliaryTopLeftArea = s.auxiliaryTopLeft;
    info.auxiliaryTopRightArea = s.auxiliaryTopRight;
    out.push_back(info);
  }
  return out;
}

CocoaPoint SimScreens::mouseLocation() const { return world_.mouseLocation(); }

Subscription SimScreens::subscribeParametersChanged(std::function<void()> handler) {
  return world_.subscribeScreensChanged(std::move(handler));
}

}  // namespace lumarin::sim
