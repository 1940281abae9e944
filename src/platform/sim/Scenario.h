#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "platform/Diagnostics.h"
#include "platform/UserDefaults.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

// An application of the scenario: its bundle on disk and how its process behaves.
struct ScenarioApp {
  InstalledBundle bundle;
  bool running = false;
  bool responsive = true;
  double latency = 0;
};

struct ScenarioTile {
  DockTile tile;  // bundleID set for application tiles
};

// One timeline entry: at `at` seconds, do `action` with its arguments.
struct ScenarioEvent {
  double at = 0;
  std::string action;  // "setBadge", "launch", ...
  std::string app;     // bundle identifier, where the action names one
  std::optional<std::string> label;
  std::string title;
  std::optional<std::size_t> index;
  double seconds = 0;
  bool flag = true;
  std::optional<DockTile> tile;                                         // addTile
  std::vector<MenuExtraSpec> menuExtras;                                // setMenuExtras
  MenuBarArrangement arrangement = MenuBarArrangement::perItemWindows;  // setArrangement
  std::string item;                                                     // clickStatusItem: "own"
  bool rightButton = false;                                             // clickStatusItem
  int clicks = 1;                                                       // clickStatusItem
  unsigned modifiers = 0;     // clicks: KeyModifier bits; pressKeys: the hot key service's bits
  std::uint32_t keyCode = 0;  // pressKeys
  CocoaRect frame;            // siblingHUD: bottom-left convention
  GlobalPoint point;          // clickAt: global top-left
  std::vector<std::string> menuPath;       // chooseMenuItem: entry titles through submenus
  std::optional<std::string> panelAnswer;  // answerOpenPanel: a bundle path; none: cancel
  std::string email;                       // completeSignIn
  std::string password;                    // completeSignIn; never reported
  std::string path;                        // JSON path of the entry, for the report
  std::optional<CrashDiagnostic> crash;    // deliverCrash
};

// A simulated Mac and what happens on it. See docs/scenarios.md for the file format.
struct Scenario {
  std::string name;
  std::vector<Screen> screens;
  bool accessibilityTrusted = true;
  std::vector<ScenarioApp> apps;
  std::vector<DockTile> dock;
  std::string frontmost;
  StringArray appleLanguages;  // the global domain's preferred languages
  MenuBarArrangement arrangement = MenuBarArrangement::perItemWindows;
  bool darkMenuBar = false;
  bool screenRecording = true;
  bool grantScreenRecordingOnRequest = false;
  std::vector<MenuExtraSpec> systemItems;  // Control Center's items, right-most first
  double doubleClickInterval = 0.5;        // seconds
  bool reduceMotion = false;
  std::set<std::pair<std::uint32_t, std::uint32_t>> takenHotKeys;  // (key code, modifiers)
  // The program's own settings for this run. When present the run keeps its settings in
  // memory, starting from these, and never touches the user's settings file.
  std::optional<std::vector<std::pair<std::string, DefaultsValue>>> defaults;
  std::vector<ScenarioEvent> timeline;  // sorted by time, ties in file order
};

// Reads a scenario. Errors name `source` (the file), the JSON path and what is wrong:
// "scenario.json: $.timeline[3].app: no application \"com.example.x\" is declared".
Result<Scenario> parseScenario(std::string_view text, const std::string& source);

// The scenario compiled into the program.
std::string_view defaultScenarioText();

// Lays the scenario's world out: screens, bundles, running processes, Dock, permissions.
void buildWorld(const Scenario& scenario, World& world);

class SimStatusBar;
class SimPanels;
class SimHotKeys;
class SimEvents;
class SimSibling;
class SimBrowser;
class SimDiagnostics;

// Where the scripted user's actions land: the status bar (clicks, menus), the panels, and the
// program itself for actions on its own windows (a click on a HUD tile).
struct Interaction {
  SimStatusBar* statusBar = nullptr;
  SimPanels* panels = nullptr;
  SimHotKeys* hotKeys = nullptr;
  SimEvents* events = nullptr;
  SimSibling* sibling = nullptr;
  SimBrowser* browser = nullptr;
  SimDiagnostics* diagnostics = nullptr;
  std::function<bool(const ScenarioEvent&)> program;
};

// Applies one timeline event to the world. False when it had no effect (for instance a badge
// for an app without a Dock tile, or a click on an item that is not there).
bool applyEvent(const ScenarioEvent& event, World& world, const Interaction& interaction = {});

// Control Center's items when a scenario names none: the clock, Control Center, battery, Wi-Fi.
std::vector<MenuExtraSpec> defaultSystemItems();

// The screen of a laptop or display, with the menu bar, notch and Dock laid out as macOS does.
Screen makeScreen(std::uint32_t displayID, const std::string& name, CocoaRect frame, double scale,
                  double notchWidth, double notchHeight, double dockHeight);

}  // namespace lumarin::sim
