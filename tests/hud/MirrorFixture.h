#pragma once

#include <memory>

#include "hud/MirrorClickForwarder.h"
#include "hud/MirrorModel.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/IconCache.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "support/DesktopFixture.h"

namespace lumarin::test {

// The mirror model and the click forwarder on a simulated Mac, without captures (tiles fall
// back to cached pictures and app icons).
class MirrorFixture : public DesktopFixture {
 protected:
  std::shared_ptr<MirrorModel> model() {
    if (!model_) {
      model_ = std::make_shared<MirrorModel>(
          MirrorModel::Dependencies{scheduler_, scanner_, skyLight_, extras_, agent_, overflow_,
                                    mac_.screens, nullptr, iconCache_, mac_.accessibility,
                                    mac_.workspace, mac_.statusBar, log_, [] { return false; }});
    }
    return model_;
  }

  std::shared_ptr<MirrorClickForwarder> forwarder() {
    if (!forwarder_) {
      forwarder_ = std::make_shared<MirrorClickForwarder>(MirrorClickForwarder::Dependencies{
          mac_.accessibility, mac_.windowServer, mac_.screens, overflow_, mac_.events, scheduler_,
          mac_.statusBar, log_, "com.kestova.Lumarin"});
      forwarder_->setReporter(
          [this](const MirrorClickForwarder::Report& report) { reports_.push_back(report); });
    }
    return forwarder_;
  }

  // One refresh, run to its publication.
  std::vector<MirrorModel::Tile> refresh() {
    model()->refresh();
    scheduler_.runUntilIdle();
    return *model_->tiles();
  }

  const MirrorModel::Tile* tile(const std::vector<MirrorModel::Tile>& tiles,
                                const std::string& title) {
    for (const auto& t : tiles) {
      if (t.title == title) {
        return &t;
      }
    }
    return nullptr;
  }

  ControlCenterExtras extras_{mac_.accessibility, mac_.workspace};
  MenuBarAgentLayout agent_{mac_.accessibility, mac_.workspace};
  MenuBarOverflow overflow_;
  IconCache iconCache_{dir_ / "support"};
  std::shared_ptr<MirrorModel> model_;
  std::shared_ptr<MirrorClickForwarder> forwarder_;
  std::vector<MirrorClickForwarder::Report> reports_;
};

}  // namespace lumarin::test
