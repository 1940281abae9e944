#include <benchmark/benchmark.h>

#include <filesystem>

#include "BenchScenarios.h"
#include "diagnostics/DebugLog.h"
#include "hud/MirrorController.h"
#include "hud/MirrorHUDController.h"
#include "hud/MirrorHUDView.h"
#include "hud/MirrorHUDWindow.h"
#include "hud/TrayTiles.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"

namespace {

using namespace lumarin;

// A tray whose items the benchmark sets; calls go nowhere.
class BenchTray final : public TrayItems {
 public:
  const Observable<std::vector<TrayItem>>& items() const override { return items_; }
  void set(std::vector<TrayItem> items) { items_.set(std::move(items)); }
  void activate(const std::string&, int, int, Done) override {}
  void secondaryActivate(const std::string&, int, int, Done) override {}
  void contextMenu(const std::string&, int, int, Done) override {}
  void scroll(const std::string&, int, const std::string&, Done) override {}
  void readMenu(const std::string&, std::function<void(std::optional<Menu>)> done) override {
    done(menu);
  }
  std::optional<Menu> menu;
  void menuEvent(const std::string&, const MenuItem&, const std::string&) override {}

 private:
  Observable<std::vector<TrayItem>> items_;
};

class NoClicks final : public HUDClickSink {
 public:
  void forward(const HUDTiles::Target&, bool, unsigned) override {}
};

// `count` tray items with 44-pixel pictures, as the tray host publishes them; `generation`
// changes every title and picture.
std::vector<TrayItem> trayItems(int count, int generation) {
  std::vector<TrayItem> items;
  for (int i = 0; i < count; ++i) {
    TrayItem item;
    item.key = ":1." + std::to_string(100 + i) + "/StatusNotifierItem";
    item.service = ":1." + std::to_string(100 + i);
    item.path = "/StatusNotifierItem";
    item.id = "app" + std::to_string(i);
    item.title = "App " + std::to_string(i) + " #" + std::to_string(generation);
    item.status = i % 5 == 0 ? "Passive" : "Active";
    auto picture = std::make_shared<Image>();
    picture->pixelWidth = 44;
    picture->pixelHeight = 44;
    picture->pointSize = {22, 22};
    picture->rgba.assign(44 * 44 * 4, static_cast<std::uint8_t>((i * 37 + generation) % 255));
    item.picture = std::move(picture);
    item.order = static_cast<std::uint64_t>(i);
    item.answered = true;
    items.push_back(std::move(item));
  }
  return items;
}

// The desktop's HUD: the tray's tiles in the panel's own Qt window (the window system's
// screens and input come from a simulated display here; the panel does not use more of it).
struct TrayHUD {
  explicit TrayHUD(int count) {
    auto scenario = sim::parseScenario(bench::menuBarScenario("perItemWindows"), "bench");
    mac.build(*scenario);
    tray.set(trayItems(count, 0));
    controller->start(follows);
  }
  ManualScheduler scheduler;
  SimUserDefaults defaults;
  sim::SimulatedMac mac{scheduler, defaults};
  std::filesystem::path support = std::filesystem::temp_directory_path() / "lumarin-bench-tray";
  DebugLog log{support / "log", scheduler.clock()};
  FrameworkLanguage language;
  L10n l10n{defaults, language, nullptr};
  BenchTray tray;
  std::shared_ptr<TrayTileModel> model = std::make_shared<TrayTileModel>(tray, scheduler, log);
  NoClicks clicks;
  MirrorHUDWindow* window = nullptr;
  std::shared_ptr<MirrorHUDController> hud =
      std::make_shared<MirrorHUDController>(MirrorHUDController::Dependencies{
          model, nullptr, mac.events, mac.screens, scheduler, nullptr, mac.workspace, nullptr,
          clicks, nullptr, log,
          [this](MirrorHUDController::SurfaceHandlers handlers) {
            auto made = std::make_unique<MirrorHUDWindow>(model, l10n, std::move(handlers),
                                                          [] { return 1964.0; });
            window = made.get();
            return std::unique_ptr<MirrorHUDSurface>(std::move(made));
          },
          [] { return std::string("en"); }});
  Observable<bool> follows{false};
  std::shared_ptr<MirrorController> controller =
      std::make_shared<MirrorController>(MirrorController::Dependencies{
          model, hud, nullptr, nullptr, scheduler, mac.screens, nullptr, log, {}});
};

// The hot key with the tray's 30 tiles at hand: from the key's handler to the panel shown and
// painted.
void BM_TrayHotKeyToPanelPainted(benchmark::State& state) {
  TrayHUD desktop(30);
  for (auto _ : state) {
    desktop.controller->toggleHUD("hotkey");
    desktop.window->view().repaint();
    if (!desktop.hud->isVisible()) {
      state.SkipWithError("the panel did not show");
      return;
    }
    state.PauseTiming();
    desktop.controller->toggleHUD("hotkey");
    desktop.scheduler.runUntilIdle();
    state.ResumeTiming();
  }
  state.counters["tiles"] = static_cast<double>(desktop.model->tiles()->size());
}
BENCHMARK(BM_TrayHotKeyToPanelPainted)->Unit(benchmark::kMicrosecond);

// A key typed into the panel with 60 tray items whose menus hold ten entries each: the filter
// over the tiles and the 600 entries, the panel laid out and painted again.
void BM_TrayKeyPressWith60TilesAnd600Entries(benchmark::State& state) {
  TrayHUD desktop(0);
  Menu menu;
  for (const char* label :
       {"Set yourself away", "Preferences…", "Pause", "Open dashboard", "Check now", "Sign out",
        "Show details", "Mute alerts", "Reload", "Quit"}) {
    menu.items.push_back(MenuItem::command(label, "dbusmenu"));
  }
  desktop.tray.menu = menu;
  auto items = trayItems(60, 0);
  for (auto& item : items) {
    item.menuPath = "/MenuBar";
  }
  desktop.tray.set(items);
  desktop.controller->toggleHUD("hotkey");
  if (desktop.model->menuEntries().size() != 600) {
    state.SkipWithError("the menus were not read");
    return;
  }
  const std::string typed = "se aw";
  std::size_t at = 0;
  for (auto _ : state) {
    HUDKey key;
    if (at < typed.size()) {
      key.kind = HUDKey::Kind::text;
      key.text = typed.substr(at++, 1);
    } else {
      key.kind = HUDKey::Kind::escape;  // empties the filter
      at = 0;
    }
    desktop.hud->keyPressed(key);
    desktop.window->view().repaint();
  }
  state.counters["tiles"] = static_cast<double>(desktop.model->tiles()->size());
  state.counters["entries"] = static_cast<double>(desktop.model->menuEntries().size());
}
BENCHMARK(BM_TrayKeyPressWith60TilesAnd600Entries)->Unit(benchmark::kMicrosecond);

// Every one of 30 items changed at once while the panel is up: new tiles, the panel laid out
// and painted again.
void BM_TrayRefreshOf30Items(benchmark::State& state) {
  TrayHUD desktop(30);
  desktop.controller->toggleHUD("hotkey");
  int generation = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto items = trayItems(30, ++generation);
    state.ResumeTiming();
    desktop.tray.set(std::move(items));
    desktop.window->view().repaint();
  }
  state.counters["tiles"] = static_cast<double>(desktop.model->tiles()->size());
}
BENCHMARK(BM_TrayRefreshOf30Items)->Unit(benchmark::kMicrosecond);

}  // namespace
