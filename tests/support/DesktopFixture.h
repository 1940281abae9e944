#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "badges/AppIcons.h"
#include "badges/AppItemsRevision.h"
#include "badges/DockBadgeMonitor.h"
#include "diagnostics/DebugLog.h"
#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "menubar/SkyLight.h"
#include "menubar/StatusItemScanner.h"
#include "model/AppSettings.h"
#include "platform/sim/ManualScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimLoginItems.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimSystemLog.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimulatedMac.h"
#include "support/TempDir.h"

namespace lumarin::test {

// The program's services on a simulated Mac built from a scenario text, on virtual time: the
// settings, the languages, the Dock monitor and the menu bar scanner, with every port in
// `platform_`. The program's own process is pid 4242.
class DesktopFixture : public ::testing::Test {
 protected:
  static constexpr int kOwnPid = 4242;

  DesktopFixture() {
    mac_.world.setClock(&scheduler_.clock());
    mac_.world.setTimeSink([this](Duration d) { scheduler_.elapse(d); });
    mac_.world.setProgramProcess(kOwnPid, "Lumarin");
    process_.pid = kOwnPid;
    platform_.scheduler = &scheduler_;
    platform_.clock = &scheduler_.clock();
    platform_.bundle = &bundle_;
    platform_.processInfo = &process_;
    platform_.systemLog = &systemLog_;
    platform_.defaults = &defaults_;
    mac_.provide(platform_);
  }

  void load(const std::string& scenarioText) {
    auto scenario = sim::parseScenario(scenarioText, "test");
    ASSERT_TRUE(scenario) << scenario.error().message;
    scenario_ = std::make_unique<sim::Scenario>(std::move(scenario).value());
    mac_.build(*scenario_);
  }

  // The debug log's lines that contain `text`.
  std::vector<std::string> logLines(const std::string& text) const {
    std::vector<std::string> lines;
    std::string tail = log_.tail();
    std::size_t start = 0;
    while (start < tail.size()) {
      const std::size_t end = tail.find('\n', start);
      const std::string line = tail.substr(start, end - start);
      if (line.find(text) != std::string::npos) {
        lines.push_back(line);
      }
      if (end == std::string::npos) {
        break;
      }
      start = end + 1;
    }
    return lines;
  }

  TempDir dir_;
  ManualScheduler scheduler_;
  SimUserDefaults defaults_;
  sim::SimulatedMac mac_{scheduler_, defaults_};
  std::unique_ptr<sim::Scenario> scenario_;
  SimBundle bundle_;
  SimProcessInfo process_;
  SimSystemLog systemLog_;
  Platform platform_;
  DebugLog log_{dir_ / "log", scheduler_.clock()};
  FrameworkLanguage frameworkLanguage_;
  L10n l10n_{defaults_, frameworkLanguage_, nullptr};
  SimLoginItems loginItems_;
  AppSettings settings_{AppSettings::Dependencies{defaults_, loginItems_, systemLog_, log_,
                                                  scheduler_.clock(), &l10n_}};
  std::shared_ptr<DockBadgeMonitor> monitor_ =
      std::make_shared<DockBadgeMonitor>(mac_.accessibility, mac_.workspace, scheduler_);
  AppIcons icons_{mac_.workspace};
  SkyLight skyLight_{mac_.windowServer, false};
  StatusItemScanner scanner_{StatusItemScanner::Dependencies{
      mac_.accessibility, mac_.workspace, skyLight_, mac_.windowServer, defaults_, log_, kOwnPid}};
  AppItemsRevision revision_;
};

}  // namespace lumarin::test
