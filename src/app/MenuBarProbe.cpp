#include "app/MenuBarProbe.h"

#include <algorithm>
#include <cmath>

#include "base/Json.h"
#include "menubar/ControlCenterExtras.h"
#include "menubar/MenuBarAgentLayout.h"
#include "menubar/MenuBarGeometry.h"
#include "menubar/StatusItemCapture.h"
#include "menubar/StatusItemScanner.h"
#include "platform/Screens.h"

namespace lumarin {

MenuBarProbe::MenuBarProbe(Scheduler& scheduler, StatusItemScanner& scanner,
                           ControlCenterExtras& extras, MenuBarAgentLayout& agent,
                           MenuBarOverflow& overflow, const Screens& screens,
                           std::shared_ptr<StatusItemCapture> capture,
                           std::function<bool()> itemWindowsUsable)
    : scheduler_(scheduler),
      scanner_(scanner),
      extras_(extras),
      agent_(agent),
      overflow_(overflow),
      screens_(screens),
      capture_(std::move(capture)),
      itemWindowsUsable_(std::move(itemWindowsUsable)),
      start_(toSeconds(scheduler.clock().monotonicNow())),
      queue_(scheduler.makeSerialQueue("com.kestova.Lumarin.menubarprobe", QoS::utility)) {}

void MenuBarProbe::start(Duration firstDelay, Duration interval) {
  std::weak_ptr<MenuBarProbe> weak = weak_from_this();
  timer_ = queue_->scheduleRepeating(interval, Duration::zero(), [weak] {
    if (auto self = weak.lock()) {
      self->discoverAndCapture([weak](Result result) {
        if (auto strong = weak.lock()) {
          std::lock_guard lock(strong->mutex_);
          strong->results_.push_back(std::move(result));
        }
      });
    }
  });
  timer_->rearm(firstDelay, interval, Duration::zero());
}

MenuBarProbe::Result MenuBarProbe::discover() {
  Result result;
  auto items = scanner_.scan();
  const auto cc = extras_.snapshot();
  overflow_.set(cc.overflowChevron);
  std::vector<GlobalRect> systemRects;
  for (const auto& item : cc.items) {
    systemRects.push_back(item.frame);
  }
  const auto screenInfo = screens_.screens();
  const auto overflow = overflow_.get();
  auto fallback = [&](const ExternalStatusItem& item) {
    if (isHiddenByNotch(screenInfo, item.frame.minX(), item.frame.midX())) {
      return false;
    }
    return !overflow || !(overflow->width() > 0) || item.frame.minX() >= overflow->maxX() - 1;
  };
  auto [placed, note] = agent_.place(items, agent_.snapshot(), menuBarScreens(screens_),
                                     cc.overflowChevron, systemRects, {}, fallback);
  result.at = std::round((toSeconds(scheduler_.clock().monotonicNow()) - start_) * 1e6) / 1e6;
  result.note = note;
  result.items = std::move(placed);
  return result;
}

void MenuBarProbe::discoverAndCapture(const std::function<void(Result)>& done) {
  auto result = std::make_shared<Result>(discover());
  if (!capture_) {
    done(std::move(*result));
    return;
  }
  const bool windowsUsable = itemWindowsUsable_ && itemWindowsUsable_();
  auto finish = [result, done](std::map<std::string, Image> glyphs) {
    result->glyphs = std::move(glyphs);
    done(std::move(*result));
  };
  if (windowsUsable) {
    result->pipeline = "items";
    capture_->captureItems(result->items, finish);
  } else {
    result->pipeline = "band";
    capture_->captureFromMenuBar(result->items, nullptr, finish);
  }
}

std::vector<MenuBarProbe::Result> MenuBarProbe::results() const {
  std::lock_guard lock(mutex_);
  return results_;
}

std::string MenuBarProbe::toJson() const {
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& result : results()) {
    json::OrderedJson scan;
    scan["at"] = result.at;
    scan["note"] = result.note;
    scan["pipeline"] = result.pipeline;
    json::OrderedJson items = json::OrderedJson::array();
    for (const auto& item : result.items) {
      json::OrderedJson j;
      j["id"] = item.id();
      j["owner"] = item.appName;
      j["bundleID"] = item.bundleID ? json::OrderedJson(*item.bundleID) : json::OrderedJson();
      j["frame"] = {item.frame.minX(), item.frame.minY(), item.frame.width(), item.frame.height()};
      j["windowID"] = item.windowID;
      j["title"] = item.windowTitle ? json::OrderedJson(*item.windowTitle) : json::OrderedJson();
      j["drawn"] = item.drawnHint.value_or(false);
      auto glyph = result.glyphs.find(item.id());
      if (glyph != result.glyphs.end()) {
        j["glyph"] = {{"size", {glyph->second.pointSize.width, glyph->second.pointSize.height}},
                      {"pixels", {glyph->second.pixelWidth, glyph->second.pixelHeight}},
                      {"template", glyph->second.isTemplate}};
      } else {
        j["glyph"] = nullptr;
      }
      items.push_back(j);
    }
    scan["items"] = items;
    out.push_back(scan);
  }
  return json::dump(out);
}

}  // namespace lumarin
