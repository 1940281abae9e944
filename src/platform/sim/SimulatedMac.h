#pragma once

#include "platform/Platform.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimAppShell.h"
#include "platform/sim/SimBrowser.h"
#include "platform/sim/SimDiagnostics.h"
#include "platform/sim/SimDistributedNotifications.h"
#include "platform/sim/SimHotKeys.h"
#include "platform/sim/SimPanels.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimSibling.h"
#include "platform/sim/SimStatusBar.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

// The simulated Mac in one piece: the world and one adapter per port it provides. The status
// bar keeps the program's item positions in `defaults`, the program's own domain.
struct SimulatedMac {
  SimulatedMac(Scheduler& scheduler, UserDefaults& defaults)
      : workspace(world, scheduler),
        events(world),
        statusBar(world, scheduler, defaults, events),
        notifications(world, scheduler),
        hotKeys(world, scheduler),
        browser(workspace, appShell, scheduler) {
    events.attach(&statusBar, &windows, &scheduler);
  }
  SimulatedMac(const SimulatedMac&) = delete;
  SimulatedMac& operator=(const SimulatedMac&) = delete;

  // Lays the scenario's world out and takes its input settings.
  void build(const Scenario& scenario) {
    buildWorld(scenario, world);
    events.setDoubleClickInterval(scenario.doubleClickInterval);
    hotKeys.setTaken(scenario.takenHotKeys);
  }
  // Points the platform's ports at this Mac's adapters.
  void provide(Platform& platform) {
    platform.accessibility = &accessibility;
    platform.workspace = &workspace;
    platform.windowServer = &windowServer;
    platform.screens = &screens;
    platform.screenCapture = &screenCapture;
    platform.appShell = &appShell;
    platform.statusBar = &statusBar;
    platform.events = &events;
    platform.panels = &panels;
    platform.notifications = &notifications;
    platform.hotKeys = &hotKeys;
    platform.windows = &windows;
    platform.diagnostics = &diagnostics;
  }
  Interaction interaction() {
    return Interaction{&statusBar, &panels,  &hotKeys,     &events,
                       &sibling,   &browser, &diagnostics, {}};
  }

  World world;
  SimAccessibility accessibility{world};
  SimWorkspace workspace;
  SimWindowServer windowServer{world};
  SimScreens screens{world};
  SimScreenCapture screenCapture{world};
  SimAppShell appShell;
  SimEvents events;
  SimWindows windows{world};
  SimStatusBar statusBar;
  SimPanels panels{world};
  SimDistributedNotifications notifications;
  SimHotKeys hotKeys;
  SimSibling sibling{world};
  SimBrowser browser;
  SimDiagnostics diagnostics;
};

}  // namespace lumarin::sim
