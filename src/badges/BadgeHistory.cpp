#include "badges/BadgeHistory.h"

#include <cmath>

#include "badges/BadgeSource.h"
#include "base/Json.h"
#include "platform/Scheduler.h"

namespace lumarin {

BadgeHistory::BadgeHistory(const BadgeSource& monitor, const Clock& clock)
    : clock_(clock), start_(toSeconds(clock.monotonicNow())) {
  subscription_ = monitor.items().observe(
      [this](const std::map<std::string, DockItem>& items) { record(items); });
}

void BadgeHistory::setWatched(std::set<std::string> ids) { watched_ = std::move(ids); }

void BadgeHistory::record(const std::map<std::string, DockItem>& items) {
  const double at = toSeconds(clock_.monotonicNow()) - start_;
  for (const auto& id : watched_) {
    auto it = items.find(id);
    Entry entry;
    entry.at = std::round(at * 1e6) / 1e6;
    entry.inDock = it != items.end();
    if (entry.inDock) {
      entry.isRunning = it->second.isRunning;
      entry.badge = it->second.badge;
      entry.sender = it->second.sender;
    }
    auto& list = entries_[id];
    const bool same = !list.empty() && list.back().inDock == entry.inDock &&
                      list.back().isRunning == entry.isRunning &&
                      list.back().badge == entry.badge && list.back().sender == entry.sender;
    if (!same) {
      list.push_back(entry);
    }
  }
}

std::string BadgeHistory::toJson() const {
  json::OrderedJson out = json::OrderedJson::object();
  for (const auto& [id, list] : entries_) {
    json::OrderedJson array = json::OrderedJson::array();
    for (const auto& e : list) {
      json::OrderedJson j;
      j["at"] = e.at;
      j["inDock"] = e.inDock;
      j["running"] = e.isRunning;
      j["label"] = e.badge ? json::OrderedJson(e.badge->label) : json::OrderedJson();
      j["count"] =
          e.badge && e.badge->count ? json::OrderedJson(*e.badge->count) : json::OrderedJson();
      if (!e.sender.empty()) {
        j["sender"] = e.sender;
      }
      array.push_back(j);
    }
    out[id] = array;
  }
  return json::dump(out);
}

}  // namespace lumarin
