#include "settings/WindowHistory.h"

#include <cmath>

#include "base/Json.h"
#include "cloud/CloudSync.h"
#include "diagnostics/TesterMode.h"
#include "model/AppSettings.h"

namespace lumarin {

namespace {

json::OrderedJson frameJson(const CocoaRect& f) {
  return json::OrderedJson::array({f.minX(), f.minY(), f.width(), f.height()});
}

}  // namespace

WindowHistory::WindowHistory(const Clock& clock, SettingsSources sources, bool recording)
    : clock_(clock), sources_(sources), start_(clock.monotonicNow()), recording_(recording) {}

double WindowHistory::now() const {
  return std::round(toSeconds(clock_.monotonicNow() - start_) * 1e6) / 1e6;
}

void WindowHistory::add(std::string json) {
  if (recording_) {
    entries_.push_back({now(), std::move(json)});
  }
}

void WindowHistory::windowOpened(const std::string& window, const CocoaRect& frame) {
  add(json::dump(
      json::OrderedJson{{"window", window}, {"event", "opened"}, {"frame", frameJson(frame)}}));
}

void WindowHistory::windowClosed(const std::string& window, const CocoaRect& frame) {
  add(json::dump(
      json::OrderedJson{{"window", window}, {"event", "closed"}, {"frame", frameJson(frame)}}));
}

void WindowHistory::tabShown(const std::string& window, const std::string& tab) {
  add(json::dump(json::OrderedJson{{"window", window}, {"event", "tab"}, {"tab", tab}}));
}

void WindowHistory::controlUsed(const std::string& window, const std::string& control,
                                const std::string& value, const std::string& before) {
  const auto old = json::parseOrdered(before).valueOr(json::OrderedJson::object());
  const auto current = json::parseOrdered(settingsJson()).valueOr(json::OrderedJson::object());
  json::OrderedJson changed = json::OrderedJson::object();
  for (const auto& [key, entry] : current.items()) {
    if (!old.contains(key) || old[key] != entry) {
      changed[key] = entry;
    }
  }
  add(json::dump(json::OrderedJson{{"window", window},
                                   {"event", "control"},
                                   {"control", control},
                                   {"value", value},
                                   {"changed", changed}}));
}

std::string WindowHistory::settingsJson() const {
  const AppSettings& s = sources_.settings;
  json::OrderedJson apps = json::OrderedJson::array();
  for (const MonitoredApp& app : *s.monitoredApps()) {
    apps.push_back(json::OrderedJson{
        {"bundleID", app.bundleID},
        {"style", app.style ? json::OrderedJson(std::string(rawValue(*app.style))) : nullptr},
        {"color", app.color ? json::OrderedJson(std::string(rawValue(*app.color))) : nullptr},
        {"visibility", std::string(rawValue(app.visibility))}});
  }
  json::OrderedJson out{
      {"launchAtLogin", *s.launchAtLogin()},
      {"languageCode",
       s.languageCode()->has_value() ? json::OrderedJson(**s.languageCode()) : nullptr},
      {"defaultStyle", std::string(rawValue(*s.defaultStyle()))},
      {"monitoredApps", apps},
      {"mirrorHUDFollowsControlCenter", *s.mirrorHUDFollowsControlCenter()},
      {"crashReportingEnabled", *s.crashReportingEnabled()},
      {"improveDataSharing", *s.improveDataSharing()}};
  if (sources_.sync != nullptr) {
    out["syncEnabled"] = *sources_.sync->enabled();
  }
  if (sources_.tester != nullptr) {
    out["testerMode"] = *sources_.tester->enabled();
  }
  return json::dump(out);
}

std::string WindowHistory::toJson() const {
  json::OrderedJson out = json::OrderedJson::array();
  for (const Entry& entry : entries_) {
    json::OrderedJson item{{"at", entry.at}};
    const auto fields = json::parseOrdered(entry.json).valueOr(json::OrderedJson::object());
    for (const auto& [key, value] : fields.items()) {
      item[key] = value;
    }
    out.push_back(std::move(item));
  }
  return json::dump(out);
}

}  // namespace lumarin
