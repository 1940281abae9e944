#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hud/MirrorFilter.h"
#include "hud/MirrorHUDSearch.h"

namespace {

using namespace lumarin;

// Sixty tiles of apps with item titles and identifiers, as a crowded menu bar has them.
std::unique_ptr<MirrorHUDSearch> crowdedSearch(std::map<std::string, HUDTiles::Target>& targets,
                                               std::vector<HUDTiles::Tile>& tiles) {
  const std::vector<std::string> apps = {
      "Gauge Meters",  "Weather Now", "Clipboard Keeper", "Battery Health",  "Night Shift Pro",
      "Music Control", "Cloud Drive", "VPN Tunnel",       "Calendar Glance", "Timer Tools"};
  const std::vector<std::string> items = {"Memory", "CPU", "Network", "Disk", "Sensors", "Fans"};
  for (std::size_t i = 0; i < 60; ++i) {
    HUDTiles::Tile tile;
    tile.id = std::to_string(1000 + i) + "#0";
    tile.title = apps[i % apps.size()];
    ExternalStatusItem item;
    item.pid = static_cast<int>(1000 + i);
    item.appName = tile.title;
    item.windowTitle = items[i % items.size()];
    item.bundleID = "com.example.app" + std::to_string(i);
    targets[tile.id] = item;
    tiles.push_back(tile);
  }
  auto search = std::make_unique<MirrorHUDSearch>("en");
  search->setTiles(tiles, targets);
  // Ten menu entries per tile.
  const std::vector<std::string> labels = {
      "Set yourself away", "Preferences…", "Pause",       "Open dashboard", "Check now",
      "Sign out",          "Show details", "Mute alerts", "Reload",         "Quit"};
  std::vector<HUDTiles::MenuEntry> entries;
  for (const auto& tile : tiles) {
    for (std::size_t k = 0; k < labels.size(); ++k) {
      HUDTiles::MenuEntry entry;
      entry.id = tile.id + "›" + std::to_string(k);
      entry.tileID = tile.id;
      entry.label = labels[k];
      entry.title = tile.title + " › " + labels[k];
      entries.push_back(std::move(entry));
    }
  }
  search->setMenuEntries(entries);
  return search;
}

// One key press: the filter grows by a letter (or shrinks), every tile and the six hundred
// menu entries (ten per tile) are matched again.
void BM_HUDFilterKeyPress(benchmark::State& state) {
  std::map<std::string, HUDTiles::Target> targets;
  std::vector<HUDTiles::Tile> tiles;
  auto search = crowdedSearch(targets, tiles);
  const std::string typed = "ga me";
  std::size_t at = 0;
  for (auto _ : state) {
    if (at < typed.size()) {
      search->type(typed.substr(at, 1));
      ++at;
    } else {
      search->clear();
      at = 0;
    }
    benchmark::DoNotOptimize(search->visibleEntries().size());
    benchmark::DoNotOptimize(search->visible().size());
  }
}
BENCHMARK(BM_HUDFilterKeyPress)->Unit(benchmark::kMicrosecond);

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

// Ten thousand edits after a warm-up: the resident size must not grow with them.
void BM_HUDFilterTenThousandEdits(benchmark::State& state) {
  std::map<std::string, HUDTiles::Target> targets;
  std::vector<HUDTiles::Tile> tiles;
  auto search = crowdedSearch(targets, tiles);
  const auto edits = [&](int count) {
    for (int i = 0; i < count; ++i) {
      if (i % 7 == 6) {
        search->clear();
      } else if (i % 3 == 2) {
        search->backspace();
      } else {
        search->type(i % 2 == 0 ? "m" : "é");
      }
    }
  };
  edits(1000);
  const long before = residentKiB();
  for (auto _ : state) {
    edits(10000);
  }
  state.counters["rssGrowthKiB"] = static_cast<double>(residentKiB() - before);
}
BENCHMARK(BM_HUDFilterTenThousandEdits)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
