#include <gtest/gtest.h>

#include "menubar/SkyLight.h"
#include "platform/WindowServer.h"

namespace lumarin {
namespace {

// A window server answering from a fixed list.
class FixedWindowServer final : public WindowServer {
 public:
  std::vector<WindowDescription> list;
  int error = 0;

  int processMenuBarWindowList(int capacity, std::vector<std::uint32_t>& ids, int& count) override {
    ids.clear();
    for (const auto& d : list) {
      if (static_cast<int>(ids.size()) < capacity && d.layer == 25) {
        ids.push_back(*d.number);
      }
    }
    count = static_cast<int>(ids.size());
    return error;
  }
  std::optional<std::vector<WindowDescription>> windowList(WindowListOption option) override {
    std::vector<WindowDescription> out;
    for (const auto& d : list) {
      if (option == WindowListOption::all || d.isOnscreen.value_or(false)) {
        out.push_back(d);
      }
    }
    return out;
  }
  std::optional<std::vector<WindowDescription>> describeWindows(
      const std::vector<std::uint32_t>&) override {
    return std::vector<WindowDescription>{};  // forces the full-list fallback for names
  }
  int screenRectForWindow(std::uint32_t id, GlobalRect& rect) override {
    for (const auto& d : list) {
      if (d.number == id && d.bounds) {
        rect = *d.bounds;
        return 0;
      }
    }
    return 1001;
  }
};

WindowDescription window(std::uint32_t id, std::string name, GlobalRect bounds, int pid = 50,
                         bool onscreen = true) {
  WindowDescription d;
  d.number = id;
  if (!name.empty()) {
    d.name = std::move(name);
  }
  d.layer = 25;
  d.ownerPID = pid;
  d.bounds = bounds;
  d.isOnscreen = onscreen;
  return d;
}

TEST(SkyLightTest, MenuBarWindowsLeaveOutClonesTallAndThinWindows) {
  FixedWindowServer server;
  server.list = {window(1, "Item-0", GlobalRect(1000, 0, 30, 37)),
                 window(2, "System Status Item Clone", GlobalRect(1040, 0, 30, 37)),
                 window(3, "Item-1", GlobalRect(1080, 0, 30, 41)),
                 window(4, "Item-2", GlobalRect(1120, 0, 1, 37)),
                 window(5, "", GlobalRect(1160, 0, 1.5, 40), 51, false)};
  SkyLight sky(server, false);
  const auto windows = sky.menuBarItemWindows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0], (MenuBarWindow{1, GlobalRect(1000, 0, 30, 37), "Item-0"}));
  EXPECT_EQ(windows[1].id, 5u);
  EXPECT_EQ(windows[1].title, "");
  EXPECT_EQ(sky.onscreenWindowIDs(), (std::set<std::uint32_t>{1, 2, 3, 4}));
  server.error = 1000;
  EXPECT_TRUE(sky.menuBarItemWindows().empty());
}

TEST(SkyLightTest, TiedWindowsAreAllConsumedAndTheOwnersMarkerIsAvoided) {
  const std::vector<MenuBarWindow> windows = {{1, GlobalRect(100, 0, 30, 37), "com.example.app"},
                                              {2, GlobalRect(100.4, 0, 30, 37), "Item-0"},
                                              {3, GlobalRect(103, 0, 30, 37), "Item-1"}};
  const GlobalRect item(100, 0, 30, 37);
  std::set<std::uint32_t> consumed;
  // The closest window bears the owner's bundle id: the tied one that does not is chosen.
  EXPECT_EQ(SkyLight::windowIDForCenter(item, windows, consumed, "com.example.app", 4, false), 2u);
  EXPECT_EQ(consumed, (std::set<std::uint32_t>{1, 2}));
  // With the marker preference the owner's window wins.
  consumed.clear();
  EXPECT_EQ(SkyLight::windowIDForCenter(item, windows, consumed, "com.example.app", 4, true), 1u);
  // The third window is 3 points away: not tied, still free, found next time.
  EXPECT_EQ(SkyLight::windowIDForCenter(item, windows, consumed, std::nullopt, 4, false), 3u);
  EXPECT_FALSE(SkyLight::windowIDForCenter(item, windows, consumed, std::nullopt, 4, false));
  consumed.clear();
  EXPECT_FALSE(SkyLight::windowIDForCenter(GlobalRect(200, 0, 30, 37), windows, consumed,
                                           std::nullopt, 4, false));
}

TEST(SkyLightTest, StatusWindowFallbackMatchesWithin25Points) {
  FixedWindowServer server;
  server.list = {window(7, "", GlobalRect(500, 0, 30, 24), 60)};
  WindowDescription noBounds = window(8, "", GlobalRect(), 60);
  noBounds.bounds.reset();
  server.list.push_back(noBounds);
  const auto map = statusWindowsByPID(server);
  ASSERT_EQ(map.at(60).size(), 1u);
  EXPECT_EQ(windowIDForFrame(GlobalRect(515 + 24.9 - 15, 0, 30, 24), 60, map), 7u);
  EXPECT_FALSE(windowIDForFrame(GlobalRect(515 + 25 - 15, 0, 30, 24), 60, map));
  EXPECT_FALSE(windowIDForFrame(GlobalRect(500, 0, 30, 24), 61, map));
}

}  // namespace
}  // namespace lumarin
