#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Properties.h"
#include "base/Signal.h"
#include "hud/HUDTiles.h"
#include "hud/MirrorController.h"
#include "hud/MirrorHUDController.h"
#include "platform/Scheduler.h"

namespace lumarin {

// What the mirror model published and where forwarded clicks went, for the run report: each
// publication with its time, mode and tiles, and each click attempt. Main queue, except
// `recordClick`, which any queue may call.
class MirrorHistory {
 public:
  // Without `recording` (a run that writes no report) nothing is kept.
  MirrorHistory(const HUDTiles& model, const Clock& clock, bool recording = true);
  MirrorHistory(const MirrorHistory&) = delete;
  MirrorHistory& operator=(const MirrorHistory&) = delete;

  void recordClick(const HUDClickSink::Report& report);
  // {"publications": [{"at", "mode", "count", "tiles": [{"id", "kind", "title", "width",
  // "picture"}]}], "clicks": [{"at", "tile", "path", "ok", "notchHidden", "targetApp"}]}
  std::string publicationsJson() const;
  std::string clicksJson() const;
  // A statistics event of the HUD ("hud.open" with its properties), and each showing and
  // hiding of the HUD.
  void recordEvent(const std::string& name, const Properties& properties);
  void recordShow(const MirrorController::Record& record);
  // A key the HUD took from the keyboard.
  void recordKey(const HUDKeyRecord& record);
  // {"shows": [{"at", "event" ("show"/"hide"), "trigger" or "reason", "linked", "frame",
  // "screen", "tiles"}], "opens": [{"at", "event", properties…}], "keys": [{"at", "key",
  // "text" (typed), "filter", "visible", "of", "tiles", "reached", "reachedTitle"}]}
  std::string hudJson() const;

 private:
  // What the report shows of a tile; the pictures themselves are not kept.
  struct TileRecord {
    std::string id;
    std::string kind;
    std::string title;
    double width = 0;
    std::string picture;
    bool hiddenByHost = false;
  };
  struct Publication {
    double at = 0;
    std::string mode;
    std::vector<TileRecord> tiles;
  };
  struct Click {
    double at = 0;
    HUDClickSink::Report report;
  };
  double now() const;

  const HUDTiles& model_;
  const Clock& clock_;
  Duration start_{};
  Subscription subscription_;
  std::vector<Publication> publications_;
  bool recording_ = true;
  mutable std::mutex clickMutex_;
  std::vector<Click> clicks_;
  std::vector<std::pair<double, std::pair<std::string, Properties>>> events_;
  std::vector<MirrorController::Record> shows_;
  std::vector<std::pair<double, HUDKeyRecord>> keys_;
};

}  // namespace lumarin
