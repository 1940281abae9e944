#include "model/MonitoredApp.h"

#include "model/MonitoredAppJson.h"

namespace lumarin {

namespace {

constexpr std::array<std::string_view, 3> kStyleRaw = {"text", "dot", "circle"};
constexpr std::array<std::string_view, 3> kStyleKeys = {"style.text", "style.dot", "style.circle"};
constexpr std::array<std::string_view, 6> kColorRaw = {"red",    "blue",   "green",
                                                       "orange", "purple", "gray"};
constexpr std::array<std::string_view, 6> kColorKeys = {
    "color.red", "color.blue", "color.green", "color.orange", "color.purple", "color.gray"};
constexpr std::array<std::uint32_t, 6> kColorHex = {0xFF3B30, 0x0A84FF, 0x34C759,
                                                    0xFF9500, 0xAF52DE, 0x8E8E93};
constexpr std::array<std::string_view, 3> kVisibilityRaw = {"dim", "hide", "always"};
constexpr std::array<std::string_view, 3> kVisibilityKeys = {"vis.dim", "vis.hide", "vis.always"};

template <typename E, std::size_t N>
std::optional<E> fromRaw(const std::array<std::string_view, N>& raws, std::string_view raw) {
  for (std::size_t i = 0; i < N; ++i) {
    if (raws[i] == raw) {
      return static_cast<E>(i);
    }
  }
  return std::nullopt;
}

std::size_t index(auto e) { return static_cast<std::size_t>(e); }

// An optional enum member: absent or null is absent; anything else must be an exact raw value.
template <typename E, std::size_t N>
Result<std::optional<E>> optionalMember(const json::Json& object, const char* key,
                                        const std::array<std::string_view, N>& raws,
                                        std::size_t element) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) {
    return std::optional<E>();
  }
  if (!it->is_string()) {
    return Error{"element " + std::to_string(element) + ": \"" + key + "\" is not a string"};
  }
  auto value = fromRaw<E>(raws, it->get<std::string>());
  if (!value) {
    return Error{"element " + std::to_string(element) + ": \"" + key +
                 "\" has the unknown value \"" + it->get<std::string>() + "\""};
  }
  return std::optional<E>(*value);
}

}  // namespace

std::string_view rawValue(BadgeStyle style) { return kStyleRaw[index(style)]; }
std::string_view rawValue(BadgeColor color) { return kColorRaw[index(color)]; }
std::string_view rawValue(IconVisibility visibility) { return kVisibilityRaw[index(visibility)]; }
std::string_view labelKey(BadgeStyle style) { return kStyleKeys[index(style)]; }
std::string_view labelKey(BadgeColor color) { return kColorKeys[index(color)]; }
std::string_view labelKey(IconVisibility visibility) { return kVisibilityKeys[index(visibility)]; }

std::optional<BadgeStyle> badgeStyleFromRaw(std::string_view raw) {
  return fromRaw<BadgeStyle>(kStyleRaw, raw);
}
std::optional<BadgeColor> badgeColorFromRaw(std::string_view raw) {
  return fromRaw<BadgeColor>(kColorRaw, raw);
}
std::optional<IconVisibility> visibilityFromRaw(std::string_view raw) {
  return fromRaw<IconVisibility>(kVisibilityRaw, raw);
}

RgbColor colorValue(BadgeColor color) {
  const std::uint32_t hex = kColorHex[index(color)];
  return RgbColor{((hex >> 16) & 0xFF) / 255.0, ((hex >> 8) & 0xFF) / 255.0, (hex & 0xFF) / 255.0,
                  1.0};
}

std::string encodeMonitoredApps(const std::vector<MonitoredApp>& apps) {
  json::OrderedJson array = json::OrderedJson::array();
  for (const auto& app : apps) {
    json::OrderedJson object;
    object["id"] = app.id.toString();
    object["bundleID"] = app.bundleID;
    object["name"] = app.name;
    if (app.style) {
      object["style"] = std::string(rawValue(*app.style));
    }
    if (app.color) {
      object["color"] = std::string(rawValue(*app.color));
    }
    object["visibility"] = std::string(rawValue(app.visibility));
    array.push_back(std::move(object));
  }
  return json::dump(array);
}

Result<std::vector<MonitoredApp>> decodeMonitoredApps(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed) {
    return Error{"not JSON: " + parsed.error().message};
  }
  return monitoredAppsFromJson(*parsed);
}

Result<std::vector<MonitoredApp>> monitoredAppsFromJson(const json::Json& array) {
  const json::Json* parsed = &array;
  if (!parsed->is_array()) {
    return Error{"not a JSON array"};
  }
  std::vector<MonitoredApp> apps;
  apps.reserve(parsed->size());
  for (std::size_t i = 0; i < parsed->size(); ++i) {
    const auto& element = (*parsed)[i];
    const std::string where = "element " + std::to_string(i);
    if (!element.is_object()) {
      return Error{where + " is not an object"};
    }
    auto id = json::stringAt(element, "id");
    auto bundleID = json::stringAt(element, "bundleID");
    auto name = json::stringAt(element, "name");
    auto visibility = json::stringAt(element, "visibility");
    if (!id || !bundleID || !name || !visibility) {
      return Error{where + " lacks \"id\", \"bundleID\", \"name\" or \"visibility\" as strings"};
    }
    MonitoredApp app;
    auto uuid = Uuid::parse(*id);
    if (!uuid) {
      return Error{where + ": \"id\" is not a UUID"};
    }
    app.id = *uuid;
    app.bundleID = *bundleID;
    app.name = *name;
    auto vis = visibilityFromRaw(*visibility);
    if (!vis) {
      return Error{where + ": \"visibility\" has the unknown value \"" + *visibility + "\""};
    }
    app.visibility = *vis;
    auto style = optionalMember<BadgeStyle>(element, "style", kStyleRaw, i);
    if (!style) {
      return style.error();
    }
    app.style = *style;
    auto color = optionalMember<BadgeColor>(element, "color", kColorRaw, i);
    if (!color) {
      return color.error();
    }
    app.color = *color;
    apps.push_back(std::move(app));
  }
  return apps;
}

}  // namespace lumarin
