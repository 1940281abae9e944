#include "cloud/SyncPayload.h"

#include <cmath>
#include <map>
#include <set>

#include "base/Json.h"
#include "model/AppSettings.h"
#include "model/MonitoredAppJson.h"

namespace lumarin {

using json::Json;

namespace {

std::optional<double> timeOf(const SyncPayload& payload, std::string_view key) {
  auto it = payload.changedAt.find(key);
  return it == payload.changedAt.end() ? std::nullopt : std::optional<double>(it->second);
}

// Whether the merge takes this Mac's value of one part: only this Mac changed it, or both did
// and this Mac's change is the newer one.
template <typename T>
bool takeLocal(const std::optional<T>& base, const T& local, const std::optional<T>& remote,
               std::optional<double> localTime, std::optional<double> remoteTime) {
  if (remote && local == *remote) {
    return false;
  }
  if (base && local == *base) {
    return false;
  }
  if (base && remote == base) {
    return true;
  }
  return localTime && (!remoteTime || *localTime > *remoteTime);
}

}  // namespace

std::string SyncPayload::appKey(const Uuid& id) { return "app." + id.toString(); }

SyncPayload SyncPayload::from(const AppSettings& settings) {
  SyncPayload payload;
  payload.defaultStyle = settings.defaultStyle().get();
  payload.monitoredApps = settings.monitoredApps().get();
  payload.languageCode = settings.languageCode().get();
  return payload;
}

std::string SyncPayload::blob() const {
  try {
    // nlohmann's object keeps its keys sorted, nested ones included.
    Json root = Json::object();
    root["defaultStyle"] = std::string(rawValue(defaultStyle));
    root["monitoredApps"] = Json::parse(encodeMonitoredApps(monitoredApps));
    if (languageCode) {
      root["languageCode"] = *languageCode;
    }
    if (!changedAt.empty()) {
      Json times = Json::object();
      for (const auto& [key, seconds] : changedAt) {
        times[key] = seconds;
      }
      root["changedAt"] = std::move(times);
    }
    return root.dump(-1, ' ', false, Json::error_handler_t::strict);
  } catch (const Json::exception&) {
    // Text that is not UTF-8 cannot be written as JSON.
    return "{}";
  }
}

Result<SyncPayload> SyncPayload::decode(std::string_view blob) {
  auto parsed = json::parse(blob);
  if (!parsed.ok()) {
    return parsed.error();
  }
  const Json& root = parsed.value();
  if (!root.is_object()) {
    return Result<SyncPayload>::failure("the payload is not an object");
  }
  SyncPayload payload;
  auto style = root.find("defaultStyle");
  if (style == root.end() || !style->is_string()) {
    return Result<SyncPayload>::failure("defaultStyle is missing");
  }
  auto known = badgeStyleFromRaw(style->get<std::string>());
  if (!known) {
    return Result<SyncPayload>::failure("defaultStyle is not a style");
  }
  payload.defaultStyle = *known;
  auto apps = root.find("monitoredApps");
  if (apps == root.end() || !apps->is_array()) {
    return Result<SyncPayload>::failure("monitoredApps is missing");
  }
  auto decoded = monitoredAppsFromJson(*apps);
  if (!decoded.ok()) {
    return decoded.error();
  }
  payload.monitoredApps = std::move(decoded).value();
  if (auto language = root.find("languageCode"); language != root.end() && !language->is_null()) {
    if (!language->is_string()) {
      return Result<SyncPayload>::failure("languageCode is not a string");
    }
    payload.languageCode = language->get<std::string>();
  }
  // Only a help for merging: a bad entry costs its own time, never the document.
  if (auto times = root.find("changedAt"); times != root.end() && times->is_object()) {
    for (const auto& [key, value] : times->items()) {
      if (value.is_number() && std::isfinite(value.get<double>())) {
        payload.changedAt.emplace(key, value.get<double>());
      }
    }
  }
  return payload;
}

void SyncPayload::apply(AppSettings& settings) const {
  settings.setDefaultStyle(defaultStyle);
  settings.setMonitoredApps(monitoredApps);
  // The setter switches the interface language too.
  settings.setLanguageCode(languageCode);
}

bool SyncPayload::sameSettings(const SyncPayload& other) const {
  return defaultStyle == other.defaultStyle && monitoredApps == other.monitoredApps &&
         languageCode == other.languageCode;
}

SyncPayload mergeSyncPayloads(const std::optional<SyncPayload>& base, const SyncPayload& local,
                              const SyncPayload& remote) {
  SyncPayload merged;
  auto stamp = [&merged](std::string_view key, const SyncPayload& from) {
    if (auto time = timeOf(from, key)) {
      merged.changedAt.insert_or_assign(std::string(key), *time);
    }
  };
  {
    const auto key = SyncPayload::kStyleKey;
    const bool mine =
        takeLocal(base ? std::optional(base->defaultStyle) : std::nullopt, local.defaultStyle,
                  std::optional(remote.defaultStyle), timeOf(local, key), timeOf(remote, key));
    merged.defaultStyle = mine ? local.defaultStyle : remote.defaultStyle;
    stamp(key, mine ? local : remote);
  }
  {
    const auto key = SyncPayload::kLanguageKey;
    using Language = std::optional<std::string>;
    const bool mine = takeLocal<Language>(
        base ? std::optional<Language>(base->languageCode) : std::nullopt, local.languageCode,
        std::optional<Language>(remote.languageCode), timeOf(local, key), timeOf(remote, key));
    merged.languageCode = mine ? local.languageCode : remote.languageCode;
    stamp(key, mine ? local : remote);
  }
  // Each side's apps by id, the first entry of an id counting (a list with an id twice is
  // broken, and the merge must not double it). Maps keep a long list from costing the square
  // of its length.
  using Index = std::map<Uuid, const MonitoredApp*>;
  auto index = [](const std::vector<MonitoredApp>& apps) {
    Index byId;
    for (const auto& app : apps) {
      byId.emplace(app.id, &app);
    }
    return byId;
  };
  const Index baseApps = base ? index(base->monitoredApps) : Index{};
  const Index localApps = index(local.monitoredApps);
  const Index remoteApps = index(remote.monitoredApps);
  using App = std::optional<MonitoredApp>;
  auto find = [](const Index& apps, const Uuid& id) -> App {
    auto it = apps.find(id);
    return it == apps.end() ? std::nullopt : App(*it->second);
  };
  std::set<Uuid> decided;
  std::set<std::string, std::less<>> bundleIDs;
  // One app: present on either side, decided like any other part. Absent is a value too (an
  // app removed on one Mac and left alone on the other stays removed).
  auto decide = [&](const Uuid& id) {
    if (!decided.insert(id).second) {
      return;
    }
    const std::string key = SyncPayload::appKey(id);
    const auto b = find(baseApps, id);
    const auto l = find(localApps, id);
    const auto r = find(remoteApps, id);
    // Without a common copy an app missing on one side was never there, not removed.
    const bool mine = !base ? (!r || (l && takeLocal<App>(std::nullopt, l, std::optional<App>(r),
                                                          timeOf(local, key), timeOf(remote, key))))
                            : takeLocal<App>(std::optional<App>(b), l, std::optional<App>(r),
                                             timeOf(local, key), timeOf(remote, key));
    const auto& chosen = mine ? l : r;
    // The same app added on both Macs (each entry with its own id) is kept once, as the
    // service has it: two badges for one app would be the merge's doing.
    if (mine && l && !r && bundleIDs.contains(l->bundleID)) {
      return;
    }
    if (chosen) {
      bundleIDs.insert(chosen->bundleID);
      merged.monitoredApps.push_back(*chosen);
    }
    stamp(key, mine ? local : remote);
  };
  for (const auto& app : remote.monitoredApps) {
    decide(app.id);
  }
  for (const auto& app : local.monitoredApps) {
    decide(app.id);
  }
  return merged;
}

}  // namespace lumarin
