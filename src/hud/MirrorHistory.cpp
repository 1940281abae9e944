#include "hud/MirrorHistory.h"

#include <cmath>

#include "base/Json.h"
#include "platform/Scheduler.h"

namespace lumarin {

namespace {

double stamp(double seconds) { return std::round(seconds * 1e6) / 1e6; }

}  // namespace

MirrorHistory::MirrorHistory(const HUDTiles& model, const Clock& clock, bool recording)
    : model_(model), clock_(clock), start_(clock.monotonicNow()), recording_(recording) {
  if (!recording_) {
    return;
  }
  subscription_ = model_.tiles().observe([this](const std::vector<HUDTiles::Tile>& tiles) {
    Publication publication{now(), model_.lastMode(), {}};
    publication.tiles.reserve(tiles.size());
    for (const auto& tile : tiles) {
      publication.tiles.push_back(TileRecord{tile.id, tile.kind, tile.title, tile.width,
                                             tile.image ? tile.source : "none", tile.hiddenByHost});
    }
    publications_.push_back(std::move(publication));
  });
}

double MirrorHistory::now() const { return stamp(toSeconds(clock_.monotonicNow() - start_)); }

void MirrorHistory::recordClick(const HUDClickSink::Report& report) {
  if (!recording_) {
    return;
  }
  const double at = now();
  std::lock_guard lock(clickMutex_);
  clicks_.push_back(Click{at, report});
}

std::string MirrorHistory::publicationsJson() const {
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& publication : publications_) {
    json::OrderedJson tiles = json::OrderedJson::array();
    for (const auto& tile : publication.tiles) {
      json::OrderedJson entry{{"id", tile.id},
                              {"kind", tile.kind},
                              {"title", tile.title},
                              {"width", stamp(tile.width)},
                              {"picture", tile.picture}};
      if (tile.hiddenByHost) {
        entry["hiddenByHost"] = true;  // only where a host hides items
      }
      tiles.push_back(std::move(entry));
    }
    out.push_back(json::OrderedJson{{"at", publication.at},
                                    {"mode", publication.mode},
                                    {"count", publication.tiles.size()},
                                    {"tiles", tiles}});
  }
  return json::dump(out);
}

std::string MirrorHistory::clicksJson() const {
  std::lock_guard lock(clickMutex_);
  json::OrderedJson out = json::OrderedJson::array();
  for (const auto& click : clicks_) {
    out.push_back(json::OrderedJson{{"at", click.at},
                                    {"tile", click.report.tile},
                                    {"path", click.report.path},
                                    {"ok", click.report.ok},
                                    {"notchHidden", click.report.notchHidden},
                                    {"targetApp", click.report.targetApp}});
  }
  return json::dump(out);
}

void MirrorHistory::recordEvent(const std::string& name, const Properties& properties) {
  if (!recording_) {
    return;
  }
  events_.push_back({now(), {name, properties}});
}

void MirrorHistory::recordShow(const MirrorController::Record& record) {
  if (recording_) {
    shows_.push_back(record);
  }
}

void MirrorHistory::recordKey(const HUDKeyRecord& record) {
  if (recording_) {
    keys_.emplace_back(now(), record);
  }
}

namespace {

std::string keyName(const HUDKey& key) {
  switch (key.kind) {
    case HUDKey::Kind::text:
      return "text";
    case HUDKey::Kind::backspace:
      return "backspace";
    case HUDKey::Kind::escape:
      return "escape";
    case HUDKey::Kind::left:
      return "left";
    case HUDKey::Kind::right:
      return "right";
    case HUDKey::Kind::up:
      return "up";
    case HUDKey::Kind::down:
      return "down";
    case HUDKey::Kind::home:
      return "home";
    case HUDKey::Kind::end:
      return "end";
    case HUDKey::Kind::activate:
      return key.secondary ? "shiftReturn" : "return";
    case HUDKey::Kind::digit:
      return std::to_string(key.digit);
  }
  return "";
}

}  // namespace

std::string MirrorHistory::hudJson() const {
  json::OrderedJson shows = json::OrderedJson::array();
  for (const auto& record : shows_) {
    const CocoaRect& f = record.frame;
    shows.push_back(json::OrderedJson{
        {"at", stamp(record.at)},
        {"event", record.shown ? "show" : "hide"},
        {record.shown ? "trigger" : "reason", record.why},
        {"linked", record.linked},
        {"frame", json::OrderedJson::array({f.minX(), f.minY(), f.width(), f.height()})},
        {"screen", record.screen},
        {"tiles", record.tiles}});
  }
  json::OrderedJson opens = json::OrderedJson::array();
  for (const auto& [at, event] : events_) {
    json::OrderedJson entry{{"at", at}, {"event", event.first}};
    for (const auto& property : event.second) {
      const std::string& key = property.first;
      std::visit([&entry, &key](const auto& v) { entry[key] = v; }, property.second);
    }
    opens.push_back(std::move(entry));
  }
  json::OrderedJson keys = json::OrderedJson::array();
  for (const auto& [at, record] : keys_) {
    json::OrderedJson entry{{"at", at}, {"key", keyName(record.key)}};
    if (record.key.kind == HUDKey::Kind::text) {
      entry["text"] = record.key.text;
    }
    entry["filter"] = record.filter;
    entry["visible"] = record.visible.size();
    entry["of"] = record.total;
    entry["tiles"] = record.visible;
    if (record.reached) {
      entry["reached"] = *record.reached;
      entry["reachedTitle"] = record.reachedTitle;
    }
    keys.push_back(std::move(entry));
  }
  return json::dump(json::OrderedJson{{"shows", shows}, {"opens", opens}, {"keys", keys}});
}

}  // namespace lumarin
