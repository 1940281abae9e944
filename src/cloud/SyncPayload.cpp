#include "cloud/SyncPayload.h"

#include "base/Json.h"
#include "model/AppSettings.h"
#include "model/MonitoredAppJson.h"

namespace lumarin {

using json::Json;

SyncPayload SyncPayload::from(const AppSettings& settings) {
  SyncPayload payload;
  payload.defaultStyle = settings.defaultStyle().get();
  payload.monitoredApps = settings.monitoredApps().get();
  payload.languageCode = settings.languageCode().get();
  payload.improveDataSharing = settings.improveDataSharing().get();
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
    if (improveDataSharing) {
      root["improveDataSharing"] = *improveDataSharing;
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
  if (auto improve = root.find("improveDataSharing");
      improve != root.end() && !improve->is_null()) {
    if (!improve->is_boolean()) {
      return Result<SyncPayload>::failure("improveDataSharing is not a boolean");
    }
    payload.improveDataSharing = improve->get<bool>();
  }
  return payload;
}

void SyncPayload::apply(AppSettings& settings) const {
  settings.setDefaultStyle(defaultStyle);
  settings.setMonitoredApps(monitoredApps);
  // The setter switches the interface language too.
  settings.setLanguageCode(languageCode);
  if (improveDataSharing) {
    settings.setImproveDataSharing(*improveDataSharing);
  }
}

}  // namespace lumarin
