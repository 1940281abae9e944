#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "diagnostics/DebugLog.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemScanner.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimAccessibility.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindowServer.h"
#include "platform/sim/SimWorkspace.h"
#include "support/TempDir.h"

namespace lumarin::test {

// A simulated Mac built from a scenario text, with the menu bar readers on top of it.
class MenuBarFixture : public ::testing::Test {
 protected:
  void load(const std::string& scenarioText) {
    auto scenario = sim::parseScenario(scenarioText, "test");
    ASSERT_TRUE(scenario) << scenario.error().message;
    scenario_ = std::make_unique<sim::Scenario>(std::move(scenario).value());
    world_.setClock(&scheduler_.clock());
    world_.setTimeSink([this](Duration d) { scheduler_.elapse(d); });
    sim::buildWorld(*scenario_, world_);
  }

  std::optional<ExternalStatusItem> find(const std::vector<ExternalStatusItem>& items,
                                         const std::string& title) {
    for (const auto& item : items) {
      if (item.windowTitle == title || item.appName == title) {
        return item;
      }
    }
    return std::nullopt;
  }

  TempDir dir_;
  ManualScheduler scheduler_;
  sim::World world_;
  std::unique_ptr<sim::Scenario> scenario_;
  sim::SimAccessibility ax_{world_};
  sim::SimWorkspace workspace_{world_, scheduler_};
  sim::SimWindowServer windowServer_{world_};
  sim::SimScreens screens_{world_};
  SimUserDefaults defaults_;
  DebugLog debugLog_{dir_ / "log", scheduler_.clock()};
  SkyLight skyLight_{windowServer_, false};
  StatusItemScanner scanner_{StatusItemScanner::Dependencies{
      ax_, workspace_, skyLight_, windowServer_, defaults_, debugLog_, 0}};
  ControlCenterExtras extras_{ax_, workspace_};
  MenuBarAgentLayout agent_{ax_, workspace_};
};

}  // namespace lumarin::test
