#include "platform/sim/Scenario.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "base/Json.h"
#include "platform/DefaultsJson.h"
#include "platform/Menu.h"
#include "platform/sim/SimBrowser.h"
#include "platform/sim/SimDiagnostics.h"
#include "platform/sim/SimHotKeys.h"
#include "platform/sim/SimPanels.h"
#include "platform/sim/SimSibling.h"
#include "platform/sim/SimStatusBar.h"

namespace lumarin::sim {

namespace {

using json::Json;

// Reads a JSON document against the scenario format, collecting the first error with its
// path. Each reader method returns a default and records the error, so the parsing code stays
// linear; `ok()` tells whether everything was valid.
class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  void fail(const std::string& path, const std::string& message) {
    if (error_.empty()) {
      error_ = source_ + ": " + path + ": " + message;
    }
  }

  bool expectObject(const Json& value, const std::string& path,
                    std::initializer_list<const char*> allowed) {
    if (!value.is_object()) {
      fail(path, "expected an object, found " + json::kindName(value));
      return false;
    }
    for (const auto& [key, member] : value.items()) {
      bool known = false;
      for (const char* name : allowed) {
        known = known || key == name;
      }
      if (!known) {
        fail(json::pathMember(path, key), "unknown key");
        return false;
      }
    }
    return true;
  }

  const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
  }

  std::string string(const Json& object, const std::string& path, const char* key, bool required,
                     std::string fallback = {}) {
    const Json* value = member(object, key);
    if (value == nullptr) {
      if (required) {
        fail(json::pathMember(path, key), "is required");
      }
      return fallback;
    }
    if (!value->is_string()) {
      fail(json::pathMember(path, key), "expected a string, found " + json::kindName(*value));
      return fallback;
    }
    return value->get<std::string>();
  }

  double number(const Json& object, const std::string& path, const char* key, bool required,
                double fallback, double minimum, double maximum) {
    const Json* value = member(object, key);
    if (value == nullptr) {
      if (required) {
        fail(json::pathMember(path, key), "is required");
      }
      return fallback;
    }
    if (!value->is_number()) {
      fail(json::pathMember(path, key), "expected a number, found " + json::kindName(*value));
      return fallback;
    }
    const double v = value->get<double>();
    if (!std::isfinite(v) || v < minimum || v > maximum) {
      fail(json::pathMember(path, key),
           "must be between " + format(minimum) + " and " + format(maximum));
      return fallback;
    }
    return v;
  }

  bool boolean(const Json& object, const std::string& path, const char* key, bool fallback) {
    const Json* value = member(object, key);
    if (value == nullptr) {
      return fallback;
    }
    if (!value->is_boolean()) {
      fail(json::pathMember(path, key), "expected true or false, found " + json::kindName(*value));
      return fallback;
    }
    return value->get<bool>();
  }

  // [a, b] as two numbers.
  std::pair<double, double> pair(const Json& object, const std::string& path, const char* key,
                                 bool required, std::pair<double, double> fallback) {
    const Json* value = member(object, key);
    const std::string at = json::pathMember(path, key);
    if (value == nullptr) {
      if (required) {
        fail(at, "is required");
      }
      return fallback;
    }
    if (!value->is_array() || value->size() != 2 || !(*value)[0].is_number() ||
        !(*value)[1].is_number()) {
      fail(at, "expected two numbers, [x, y] or [width, height]");
      return fallback;
    }
    return {(*value)[0].get<double>(), (*value)[1].get<double>()};
  }

 private:
  static std::string format(double v) {
    if (v == std::floor(v) && std::abs(v) < 1e15) {
      return std::to_string(static_cast<long long>(v));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
  }

  std::string source_;
  std::string error_;
};

std::optional<std::vector<MenuExtraSpec>> readExtras(Reader& r, const Json& value,
                                                     const std::string& path) {
  if (!value.is_array()) {
    r.fail(path, "expected an array of menu bar items, found " + json::kindName(value));
    return std::nullopt;
  }
  std::vector<MenuExtraSpec> out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const Json& e = value[i];
    const std::string at = json::pathIndex(path, i);
    if (!r.expectObject(e, at,
                        {"title", "identifier", "description", "windowName", "glyph", "width",
                         "axOffsetX", "accessible", "offscreen", "glyphColor"})) {
      return std::nullopt;
    }
    MenuExtraSpec spec;
    spec.title = r.string(e, at, "title", false);
    spec.identifier = r.string(e, at, "identifier", false);
    spec.description = r.string(e, at, "description", false);
    spec.windowName = r.string(e, at, "windowName", false);
    spec.glyph = r.string(e, at, "glyph", false);
    spec.width = r.number(e, at, "width", false, 30, 1, 400);
    spec.axOffsetX = r.number(e, at, "axOffsetX", false, 0, -400, 400);
    spec.accessible = r.boolean(e, at, "accessible", true);
    spec.offscreen = r.boolean(e, at, "offscreen", false);
    spec.glyphColor = r.string(e, at, "glyphColor", false);
    if (r.ok() && !spec.glyphColor.empty() &&
        (spec.glyphColor.size() != 7 || spec.glyphColor[0] != '#' ||
         spec.glyphColor.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)) {
      r.fail(json::pathMember(at, "glyphColor"), "expected a colour as \"#RRGGBB\"");
      return std::nullopt;
    }
    if (!r.ok()) {
      return std::nullopt;
    }
    out.push_back(spec);
  }
  return out;
}

std::optional<MenuBarArrangement> arrangementNamed(const std::string& name) {
  if (name == "perItemWindows") {
    return MenuBarArrangement::perItemWindows;
  }
  if (name == "unifiedBar") {
    return MenuBarArrangement::unifiedBar;
  }
  return std::nullopt;
}

std::optional<TileKind> tileKindNamed(const std::string& name) {
  static const std::map<std::string, TileKind> kinds = {
      {"application", TileKind::application},
      {"document", TileKind::document},
      {"folder", TileKind::folder},
      {"url", TileKind::url},
      {"minimizedWindow", TileKind::minimizedWindow},
      {"separator", TileKind::separator},
      {"trash", TileKind::trash}};
  auto it = kinds.find(name);
  if (it == kinds.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<DockTile> readTile(Reader& r, const Json& value, const std::string& path,
                                 const std::set<std::string>& apps, bool inTimeline) {
  // In the timeline the event's own keys were checked already.
  if (!inTimeline &&
      !r.expectObject(value, path, {"app", "kind", "title", "url", "badge", "kept"})) {
    return std::nullopt;
  }
  DockTile tile;
  const std::string kindName = r.string(value, path, "kind", false, "application");
  auto kind = tileKindNamed(kindName);
  if (!kind) {
    r.fail(json::pathMember(path, "kind"), "unknown tile kind \"" + kindName + "\"");
    return std::nullopt;
  }
  tile.kind = *kind;
  tile.title = r.string(value, path, "title", false);
  tile.url = r.string(value, path, "url", false);
  tile.kept = r.boolean(value, path, "kept", true);
  if (tile.kind == TileKind::application) {
    tile.bundleID = r.string(value, path, "app", tile.url.empty());
    if (!tile.bundleID.empty() && apps.count(tile.bundleID) == 0 && tile.url.empty()) {
      r.fail(json::pathMember(path, "app"),
             "no application \"" + tile.bundleID + "\" is declared in $.apps");
      return std::nullopt;
    }
    if (const Json* badge = r.member(value, "badge"); badge != nullptr && !badge->is_null()) {
      if (!badge->is_string()) {
        r.fail(json::pathMember(path, "badge"), "expected a string or null");
        return std::nullopt;
      }
      tile.badge = badge->get<std::string>();
    }
  } else if (r.member(value, "app") != nullptr || r.member(value, "badge") != nullptr) {
    r.fail(path, "only application tiles have \"app\" and \"badge\"");
    return std::nullopt;
  }
  return r.ok() ? std::optional<DockTile>(tile) : std::nullopt;
}

void readScreens(Reader& r, const Json& root, Scenario& scenario) {
  const Json* screens = r.member(root, "screens");
  if (screens == nullptr) {
    scenario.screens.push_back(
        makeScreen(1, "Built-in Retina Display", CocoaRect(0, 0, 1512, 982), 2, 185, 32, 70));
    return;
  }
  const std::string path = "$.screens";
  if (!screens->is_array() || screens->empty()) {
    r.fail(path, "expected a non-empty array of screens");
    return;
  }
  std::set<double> ids;
  for (std::size_t i = 0; i < screens->size() && r.ok(); ++i) {
    const Json& s = (*screens)[i];
    const std::string at = json::pathIndex(path, i);
    if (!r.expectObject(s, at, {"id", "name", "origin", "size", "scale", "notch", "dockHeight"})) {
      return;
    }
    const double id = r.number(s, at, "id", false, static_cast<double>(i + 1), 1, 4294967295.0);
    if (!ids.insert(id).second) {
      r.fail(json::pathMember(at, "id"), "display id used twice");
      return;
    }
    const auto origin = r.pair(s, at, "origin", false, {0, 0});
    const auto size = r.pair(s, at, "size", true, {1512, 982});
    if (r.ok() && (size.first < 320 || size.second < 240)) {
      r.fail(json::pathMember(at, "size"), "a screen is at least 320 x 240 points");
      return;
    }
    const double scale = r.number(s, at, "scale", false, 2, 1, 3);
    double notchWidth = 0;
    double notchHeight = 0;
    if (const Json* notch = r.member(s, "notch"); notch != nullptr && !notch->is_null()) {
      const std::string np = json::pathMember(at, "notch");
      if (!r.expectObject(*notch, np, {"width", "height"})) {
        return;
      }
      notchWidth = r.number(*notch, np, "width", false, 185, 1, size.first / 2);
      notchHeight = r.number(*notch, np, "height", false, 32, 1, 64);
    }
    const double dockHeight = r.number(s, at, "dockHeight", false, i == 0 ? 70 : 0, 0, 200);
    scenario.screens.push_back(
        makeScreen(static_cast<std::uint32_t>(id),
                   r.string(s, at, "name", false, "Display " + std::to_string(i + 1)),
                   CocoaRect(origin.first, origin.second, size.first, size.second), scale,
                   notchWidth, notchHeight, dockHeight));
  }
}

void readApps(Reader& r, const Json& root, Scenario& scenario, std::set<std::string>& ids) {
  const Json* apps = r.member(root, "apps");
  if (apps == nullptr) {
    return;
  }
  const std::string path = "$.apps";
  if (!apps->is_array()) {
    r.fail(path, "expected an array, found " + json::kindName(*apps));
    return;
  }
  std::set<std::string> paths;
  for (std::size_t i = 0; i < apps->size() && r.ok(); ++i) {
    const Json& a = (*apps)[i];
    const std::string at = json::pathIndex(path, i);
    if (!r.expectObject(a, at,
                        {"bundleID", "name", "path", "icon", "running", "accessory", "responsive",
                         "latency", "info", "menuExtras", "menusWidth"})) {
      return;
    }
    ScenarioApp app;
    app.bundle.bundleID = r.string(a, at, "bundleID", true);
    if (!r.ok()) {
      return;
    }
    if (app.bundle.bundleID.empty() || app.bundle.bundleID == "com.apple.dock") {
      r.fail(json::pathMember(at, "bundleID"), "must name an application other than the Dock");
      return;
    }
    if (!ids.insert(app.bundle.bundleID).second) {
      r.fail(json::pathMember(at, "bundleID"), "\"" + app.bundle.bundleID + "\" is declared twice");
      return;
    }
    app.bundle.name = r.string(a, at, "name", true);
    app.bundle.path = r.string(a, at, "path", false, "/Applications/" + app.bundle.name + ".app");
    if (r.ok() && (app.bundle.path.empty() || app.bundle.path[0] != '/')) {
      r.fail(json::pathMember(at, "path"), "expected an absolute path");
      return;
    }
    if (r.ok() && !paths.insert(app.bundle.path).second) {
      r.fail(json::pathMember(at, "path"), "two applications at one path");
      return;
    }
    app.bundle.icon = r.string(a, at, "icon", false);
    app.bundle.accessory = r.boolean(a, at, "accessory", false);
    app.running = r.boolean(a, at, "running", false);
    app.responsive = r.boolean(a, at, "responsive", true);
    app.latency = r.number(a, at, "latency", false, 0, 0, 60);
    app.bundle.menusWidth = r.number(a, at, "menusWidth", false, 280, 0, 2000);
    if (const Json* extras = r.member(a, "menuExtras"); extras != nullptr && r.ok()) {
      auto specs = readExtras(r, *extras, json::pathMember(at, "menuExtras"));
      if (!specs) {
        return;
      }
      app.bundle.menuExtras = std::move(*specs);
    }
    if (const Json* info = r.member(a, "info"); info != nullptr) {
      const std::string ip = json::pathMember(at, "info");
      if (!info->is_object()) {
        r.fail(ip, "expected an object of strings");
        return;
      }
      for (const auto& [key, value] : info->items()) {
        if (!value.is_string()) {
          r.fail(json::pathMember(ip, key), "expected a string, found " + json::kindName(value));
          return;
        }
        app.bundle.info[key] = value.get<std::string>();
      }
    }
    scenario.apps.push_back(std::move(app));
  }
}

const std::map<std::string, std::vector<const char*>>& eventKeys() {
  // Per action: the keys it accepts besides "at" and "do".
  static const std::map<std::string, std::vector<const char*>> keys = {
      {"setBadge", {"app", "label"}},
      {"clearBadge", {"app"}},
      {"launch", {"app"}},
      {"quit", {"app"}},
      {"activate", {"app"}},
      {"addTile", {"app", "kind", "title", "url", "badge", "kept", "index"}},
      {"removeTile", {"app", "title"}},
      {"renameTile", {"app", "title"}},
      {"restartDock", {}},
      {"grantAccessibility", {}},
      {"revokeAccessibility", {}},
      {"setUnresponsive", {"app", "unresponsive"}},
      {"setLatency", {"app", "seconds"}},
      {"setMenuExtras", {"app", "menuExtras"}},
      {"setArrangement", {"arrangement"}},
      {"failCaptures", {"count"}},
      {"grantScreenRecording", {}},
      {"revokeScreenRecording", {}},
      {"clickStatusItem", {"item", "app", "button", "clicks", "modifiers"}},
      {"clickTile", {"tile", "button", "modifiers"}},
      {"pressKeys", {"keyCode", "modifiers"}},
      {"siblingHUD", {"visible", "origin", "size"}},
      {"clickAt", {"point", "button"}},
      {"pressFunctionKey", {}},
      {"openControlCenter", {}},
      {"closeControlCenter", {}},
      {"coverOwnWindows", {"covered"}},
      {"completeSignIn", {"email", "password", "create"}},
      {"chooseMenuItem", {"path"}},
      {"closeMenu", {}},
      {"answerOpenPanel", {"path", "cancel"}},
      {"openSettings", {"tab"}},
      {"pressControl", {"control"}},
      {"typeText", {"control", "text"}},
      {"closeWindow", {"window"}},
      {"deliverCrash",
       {"signal", "exceptionType", "exceptionCode", "terminationReason", "callStack", "osVersion",
        "arch"}},
  };
  return keys;
}

// A key combination: "keyCode" (a virtual key code) and "modifiers" (names) as the hot key
// service's bits.
std::optional<std::pair<std::uint32_t, std::uint32_t>> readKeys(Reader& r, const Json& e,
                                                                const std::string& at) {
  const auto keyCode = static_cast<std::uint32_t>(r.number(e, at, "keyCode", true, 0, 0, 127));
  std::uint32_t bits = 0;
  if (const Json* modifiers = r.member(e, "modifiers"); modifiers != nullptr && r.ok()) {
    const std::string mp = json::pathMember(at, "modifiers");
    static const std::map<std::string, std::uint32_t> kBits = {
        {"command", 0x100}, {"shift", 0x200}, {"option", 0x800}, {"control", 0x1000}};
    if (!modifiers->is_array()) {
      r.fail(mp, "expected an array of \"command\", \"control\", \"option\", \"shift\"");
      return std::nullopt;
    }
    for (std::size_t i = 0; i < modifiers->size(); ++i) {
      const Json& m = (*modifiers)[i];
      auto bit = m.is_string() ? kBits.find(m.get<std::string>()) : kBits.end();
      if (bit == kBits.end()) {
        r.fail(json::pathIndex(mp, i),
               "expected \"command\", \"control\", \"option\" or \"shift\"");
        return std::nullopt;
      }
      bits |= bit->second;
    }
  }
  if (!r.ok()) {
    return std::nullopt;
  }
  return std::make_pair(keyCode, bits);
}

// A non-empty array of non-empty strings.
std::optional<std::vector<std::string>> readTitlePath(Reader& r, const Json& e,
                                                      const std::string& at) {
  const Json* path = r.member(e, "path");
  const std::string p = json::pathMember(at, "path");
  if (path == nullptr || !path->is_array() || path->empty()) {
    r.fail(p, "expected a non-empty array of entry titles");
    return std::nullopt;
  }
  std::vector<std::string> titles;
  for (std::size_t i = 0; i < path->size(); ++i) {
    const Json& title = (*path)[i];
    if (!title.is_string() || title.get<std::string>().empty()) {
      r.fail(json::pathIndex(p, i), "expected a non-empty string");
      return std::nullopt;
    }
    titles.push_back(title.get<std::string>());
  }
  return titles;
}

void readClick(Reader& r, const Json& e, const std::string& at, ScenarioEvent& event) {
  if (event.action == "clickTile") {
    event.item = r.string(e, at, "tile", true);
  } else {
    event.item = r.string(e, at, "item", false);
    if (r.ok() && event.item.empty() == event.app.empty()) {
      r.fail(at, "names either \"item\" (\"own\") or \"app\"");
      return;
    }
  }
  const std::string button = r.string(e, at, "button", false, "left");
  if (r.ok() && button != "left" && button != "right") {
    r.fail(json::pathMember(at, "button"), "expected \"left\" or \"right\"");
    return;
  }
  event.rightButton = button == "right";
  event.clicks = static_cast<int>(r.number(e, at, "clicks", false, 1, 1, 2));
  if (const Json* modifiers = r.member(e, "modifiers"); modifiers != nullptr && r.ok()) {
    const std::string mp = json::pathMember(at, "modifiers");
    if (!modifiers->is_array()) {
      r.fail(mp, "expected an array of \"command\", \"control\", \"option\", \"shift\"");
      return;
    }
    static const std::map<std::string, unsigned> kFlags = {{"command", kModifierCommand},
                                                           {"control", kModifierControl},
                                                           {"option", kModifierOption},
                                                           {"shift", kModifierShift}};
    for (std::size_t i = 0; i < modifiers->size(); ++i) {
      const Json& m = (*modifiers)[i];
      auto flag = m.is_string() ? kFlags.find(m.get<std::string>()) : kFlags.end();
      if (flag == kFlags.end()) {
        r.fail(json::pathIndex(mp, i),
               "expected \"command\", \"control\", \"option\" or \"shift\"");
        return;
      }
      event.modifiers |= flag->second;
    }
  }
}

void readTimeline(Reader& r, const Json& root, Scenario& scenario,
                  const std::set<std::string>& apps) {
  const Json* timeline = r.member(root, "timeline");
  if (timeline == nullptr) {
    return;
  }
  const std::string path = "$.timeline";
  if (!timeline->is_array()) {
    r.fail(path, "expected an array, found " + json::kindName(*timeline));
    return;
  }
  for (std::size_t i = 0; i < timeline->size() && r.ok(); ++i) {
    const Json& e = (*timeline)[i];
    const std::string at = json::pathIndex(path, i);
    if (!e.is_object()) {
      r.fail(at, "expected an object, found " + json::kindName(e));
      return;
    }
    ScenarioEvent event;
    event.path = at;
    event.action = r.string(e, at, "do", true);
    if (!r.ok()) {
      return;
    }
    auto keys = eventKeys().find(event.action);
    if (keys == eventKeys().end()) {
      r.fail(json::pathMember(at, "do"), "unknown action \"" + event.action + "\"");
      return;
    }
    for (const auto& [key, value] : e.items()) {
      const bool known =
          key == "at" || key == "do" ||
          std::find(keys->second.begin(), keys->second.end(), key) != keys->second.end();
      if (!known) {
        r.fail(json::pathMember(at, key), "unknown key for \"" + event.action + "\"");
        return;
      }
    }
    event.at = r.number(e, at, "at", true, 0, 0, 1e9);
    static const std::set<std::string> kWithoutApp = {"restartDock",
                                                      "grantAccessibility",
                                                      "revokeAccessibility",
                                                      "removeTile",
                                                      "addTile",
                                                      "setArrangement",
                                                      "failCaptures",
                                                      "grantScreenRecording",
                                                      "revokeScreenRecording",
                                                      "clickStatusItem",
                                                      "clickTile",
                                                      "chooseMenuItem",
                                                      "closeMenu",
                                                      "answerOpenPanel",
                                                      "pressKeys",
                                                      "siblingHUD",
                                                      "clickAt",
                                                      "pressFunctionKey",
                                                      "openControlCenter",
                                                      "closeControlCenter",
                                                      "coverOwnWindows",
                                                      "openSettings",
                                                      "pressControl",
                                                      "typeText",
                                                      "closeWindow",
                                                      "deliverCrash"};
    const bool needsApp = kWithoutApp.count(event.action) == 0;
    if (needsApp || r.member(e, "app") != nullptr) {
      event.app = r.string(e, at, "app", needsApp);
      if (r.ok() && apps.count(event.app) == 0) {
        r.fail(json::pathMember(at, "app"),
               "no application \"" + event.app + "\" is declared in $.apps");
        return;
      }
    }
    if (event.action == "setBadge") {
      const Json* label = r.member(e, "label");
      if (label == nullptr) {
        r.fail(json::pathMember(at, "label"), "is required (a string, or null to clear)");
        return;
      }
      if (!label->is_null()) {
        if (!label->is_string()) {
          r.fail(json::pathMember(at, "label"), "expected a string or null");
          return;
        }
        event.label = label->get<std::string>();
      }
    } else if (event.action == "renameTile") {
      event.title = r.string(e, at, "title", true);
    } else if (event.action == "removeTile") {
      event.title = r.string(e, at, "title", event.app.empty());
    } else if (event.action == "addTile") {
      event.tile = readTile(r, e, at, apps, true);
      if (r.member(e, "index") != nullptr) {
        event.index = static_cast<std::size_t>(r.number(e, at, "index", false, 0, 0, 1000));
      }
    } else if (event.action == "setUnresponsive") {
      event.flag = r.boolean(e, at, "unresponsive", true);
    } else if (event.action == "setLatency") {
      event.seconds = r.number(e, at, "seconds", true, 0, 0, 60);
    } else if (event.action == "setMenuExtras") {
      const Json* extras = r.member(e, "menuExtras");
      if (extras == nullptr) {
        r.fail(json::pathMember(at, "menuExtras"), "is required");
        return;
      }
      auto specs = readExtras(r, *extras, json::pathMember(at, "menuExtras"));
      if (!specs) {
        return;
      }
      event.menuExtras = std::move(*specs);
    } else if (event.action == "failCaptures") {
      event.seconds = r.number(e, at, "count", false, 1, 0, 1000);
    } else if (event.action == "setArrangement") {
      const std::string name = r.string(e, at, "arrangement", true);
      auto arrangement = arrangementNamed(name);
      if (r.ok() && !arrangement) {
        r.fail(json::pathMember(at, "arrangement"),
               "expected \"perItemWindows\" or \"unifiedBar\"");
        return;
      }
      event.arrangement = arrangement.value_or(MenuBarArrangement::perItemWindows);
    } else if (event.action == "clickStatusItem" || event.action == "clickTile") {
      readClick(r, e, at, event);
    } else if (event.action == "clickAt") {
      const auto point = r.pair(e, at, "point", true, {0, 0});
      event.point = GlobalPoint{point.first, point.second};
      const std::string button = r.string(e, at, "button", false, "left");
      if (r.ok() && button != "left" && button != "right") {
        r.fail(json::pathMember(at, "button"), "expected \"left\" or \"right\"");
        return;
      }
      event.rightButton = button == "right";
    } else if (event.action == "completeSignIn") {
      event.email = r.string(e, at, "email", true);
      event.password = r.string(e, at, "password", true);
      event.flag = r.boolean(e, at, "create", false);
    } else if (event.action == "openSettings") {
      static const std::set<std::string> kTabs = {"general", "permissions", "apps", "account",
                                                  "about"};
      event.item = r.string(e, at, "tab", false);
      if (r.ok() && !event.item.empty() && kTabs.count(event.item) == 0) {
        r.fail(json::pathMember(at, "tab"),
               "expected \"general\", \"permissions\", \"apps\", \"account\" or \"about\"");
        return;
      }
    } else if (event.action == "pressControl" || event.action == "typeText") {
      event.item = r.string(e, at, "control", true);
      if (r.ok() && event.item.empty()) {
        r.fail(json::pathMember(at, "control"), "expected a control's accessible name");
        return;
      }
      if (event.action == "typeText") {
        event.title = r.string(e, at, "text", true);
      }
    } else if (event.action == "closeWindow") {
      event.item = r.string(e, at, "window", true);
      if (r.ok() && event.item != "settings" && event.item != "onboarding") {
        r.fail(json::pathMember(at, "window"), "expected \"settings\" or \"onboarding\"");
        return;
      }
    } else if (event.action == "coverOwnWindows") {
      event.flag = r.boolean(e, at, "covered", true);
    } else if (event.action == "deliverCrash") {
      CrashDiagnostic crash;
      crash.signal = static_cast<std::int64_t>(r.number(e, at, "signal", true, 0, 1, 64));
      if (r.member(e, "exceptionType") != nullptr) {
        crash.exceptionType =
            static_cast<std::int64_t>(r.number(e, at, "exceptionType", true, 0, 0, 1e9));
      }
      if (r.member(e, "exceptionCode") != nullptr) {
        crash.exceptionCode =
            static_cast<std::int64_t>(r.number(e, at, "exceptionCode", true, 0, -1e15, 1e15));
      }
      if (r.member(e, "terminationReason") != nullptr) {
        crash.terminationReason = r.string(e, at, "terminationReason", true);
      }
      crash.callStackTree = r.string(e, at, "callStack", false, "{\"callStacks\":[]}");
      crash.osVersion = r.string(e, at, "osVersion", false, "macOS 15.2 (24C101)");
      crash.platformArchitecture = r.string(e, at, "arch", false, "arm64");
      event.crash = std::move(crash);
    } else if (event.action == "siblingHUD") {
      event.flag = r.boolean(e, at, "visible", true);
      const auto origin = r.pair(e, at, "origin", false, {0, 0});
      const auto size = r.pair(e, at, "size", false, {0, 0});
      event.frame = CocoaRect(origin.first, origin.second, size.first, size.second);
    } else if (event.action == "pressKeys") {
      if (auto combination = readKeys(r, e, at)) {
        event.keyCode = combination->first;
        event.modifiers = combination->second;
      }
    } else if (event.action == "chooseMenuItem") {
      if (auto titles = readTitlePath(r, e, at)) {
        event.menuPath = std::move(*titles);
      }
    } else if (event.action == "answerOpenPanel") {
      const bool cancel = r.boolean(e, at, "cancel", false);
      const Json* answer = r.member(e, "path");
      if (r.ok() && cancel == (answer != nullptr)) {
        r.fail(at, "gives either \"path\" (a declared app's bundle) or \"cancel\": true");
        return;
      }
      if (!cancel) {
        const std::string bundle = r.string(e, at, "path", true);
        const bool declared =
            std::any_of(scenario.apps.begin(), scenario.apps.end(),
                        [&](const ScenarioApp& app) { return app.bundle.path == bundle; });
        if (r.ok() && !declared) {
          r.fail(json::pathMember(at, "path"),
                 "no application bundle is declared at \"" + bundle + "\" in $.apps");
          return;
        }
        event.panelAnswer = bundle;
      }
    }
    scenario.timeline.push_back(std::move(event));
  }
  std::stable_sort(scenario.timeline.begin(), scenario.timeline.end(),
                   [](const ScenarioEvent& a, const ScenarioEvent& b) { return a.at < b.at; });
}

}  // namespace

Screen makeScreen(std::uint32_t displayID, const std::string& name, CocoaRect frame, double scale,
                  double notchWidth, double notchHeight, double dockHeight) {
  Screen screen;
  screen.displayID = displayID;
  screen.name = name;
  screen.frame = frame;
  screen.backingScale = scale;
  // The menu bar is taller on a notched display; the visible frame starts 1 point below it.
  const double menuBar = notchWidth > 0 ? 37 : 24;
  screen.visibleFrame = CocoaRect(frame.minX(), frame.minY() + dockHeight, frame.width(),
                                  frame.height() - dockHeight - menuBar - 1);
  if (notchWidth > 0) {
    screen.safeAreaTop = notchHeight;
    const double side = (frame.width() - notchWidth) / 2;
    screen.auxiliaryTopLeft =
        CocoaRect(frame.minX(), frame.maxY() - notchHeight, side, notchHeight);
    screen.auxiliaryTopRight =
        CocoaRect(frame.minX() + side + notchWidth, frame.maxY() - notchHeight, side, notchHeight);
  }
  return screen;
}

Result<Scenario> parseScenario(std::string_view text, const std::string& source) {
  auto parsed = json::parse(text);
  if (!parsed) {
    return Error{source + ": not valid JSON: " + parsed.error().message, 2};
  }
  const Json& root = *parsed;
  Reader r(source);
  Scenario scenario;
  if (!r.expectObject(root, "$",
                      {"name", "screens", "accessibility", "apps", "dock", "frontmost", "languages",
                       "defaults", "menuBar", "systemItems", "input", "timeline"})) {
    return Error{r.error(), 2};
  }
  scenario.name = r.string(root, "$", "name", false, "unnamed");
  readScreens(r, root, scenario);
  if (const Json* ax = r.member(root, "accessibility"); ax != nullptr && r.ok()) {
    if (r.expectObject(*ax, "$.accessibility", {"trusted"})) {
      scenario.accessibilityTrusted = r.boolean(*ax, "$.accessibility", "trusted", true);
    }
  }
  if (const Json* bar = r.member(root, "menuBar"); bar != nullptr && r.ok()) {
    if (r.expectObject(
            *bar, "$.menuBar",
            {"arrangement", "dark", "screenRecording", "grantScreenRecordingOnRequest"})) {
      const std::string name = r.string(*bar, "$.menuBar", "arrangement", false, "perItemWindows");
      auto arrangement = arrangementNamed(name);
      if (r.ok() && !arrangement) {
        r.fail("$.menuBar.arrangement", "expected \"perItemWindows\" or \"unifiedBar\"");
      }
      scenario.arrangement = arrangement.value_or(MenuBarArrangement::perItemWindows);
      scenario.darkMenuBar = r.boolean(*bar, "$.menuBar", "dark", false);
      scenario.screenRecording = r.boolean(*bar, "$.menuBar", "screenRecording", true);
      scenario.grantScreenRecordingOnRequest =
          r.boolean(*bar, "$.menuBar", "grantScreenRecordingOnRequest", false);
    }
  }
  if (const Json* input = r.member(root, "input"); input != nullptr && r.ok()) {
    if (r.expectObject(*input, "$.input",
                       {"doubleClickInterval", "reduceMotion", "takenHotKeys"})) {
      scenario.doubleClickInterval =
          r.number(*input, "$.input", "doubleClickInterval", false, 0.5, 0.1, 5);
      scenario.reduceMotion = r.boolean(*input, "$.input", "reduceMotion", false);
      if (const Json* taken = r.member(*input, "takenHotKeys"); taken != nullptr && r.ok()) {
        if (!taken->is_array()) {
          r.fail("$.input.takenHotKeys", "expected an array of key combinations");
        }
        for (std::size_t i = 0; r.ok() && i < taken->size(); ++i) {
          const std::string kp = json::pathIndex("$.input.takenHotKeys", i);
          if (!(*taken)[i].is_object()) {
            r.fail(kp, "expected an object with \"keyCode\" and \"modifiers\"");
          } else if (auto keys = readKeys(r, (*taken)[i], kp)) {
            scenario.takenHotKeys.insert(*keys);
          }
        }
      }
    }
  }
  scenario.systemItems = defaultSystemItems();
  if (const Json* items = r.member(root, "systemItems"); items != nullptr && r.ok()) {
    if (auto specs = readExtras(r, *items, "$.systemItems")) {
      scenario.systemItems = std::move(*specs);
    }
  }
  std::set<std::string> apps;
  if (r.ok()) {
    readApps(r, root, scenario, apps);
  }
  if (const Json* dock = r.member(root, "dock"); dock != nullptr && r.ok()) {
    if (!dock->is_array()) {
      r.fail("$.dock", "expected an array of tiles, found " + json::kindName(*dock));
    }
    for (std::size_t i = 0; r.ok() && i < dock->size(); ++i) {
      if (auto tile = readTile(r, (*dock)[i], json::pathIndex("$.dock", i), apps, false)) {
        scenario.dock.push_back(std::move(*tile));
      }
    }
  }
  if (r.ok()) {
    scenario.frontmost = r.string(root, "$", "frontmost", false);
    if (r.ok() && !scenario.frontmost.empty() && apps.count(scenario.frontmost) == 0) {
      r.fail("$.frontmost", "no application \"" + scenario.frontmost + "\" is declared in $.apps");
    }
  }
  if (const Json* languages = r.member(root, "languages"); languages != nullptr && r.ok()) {
    if (!languages->is_array()) {
      r.fail("$.languages", "expected an array of language codes");
    }
    for (std::size_t i = 0; r.ok() && i < languages->size(); ++i) {
      if (!(*languages)[i].is_string()) {
        r.fail(json::pathIndex("$.languages", i), "expected a string");
      } else {
        scenario.appleLanguages.push_back((*languages)[i].get<std::string>());
      }
    }
  }
  if (const Json* defaults = r.member(root, "defaults"); defaults != nullptr && r.ok()) {
    if (!defaults->is_object()) {
      r.fail("$.defaults", "expected an object of settings");
    } else {
      scenario.defaults.emplace();
      for (const auto& [key, value] : defaults->items()) {
        // A list of objects (the app list) is stored as data holding its JSON text, the form
        // the program keeps it in.
        const bool objectList =
            value.is_array() && !value.empty() &&
            std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_object(); });
        if (objectList) {
          const std::string listText = json::dump(value);
          scenario.defaults->emplace_back(key, Bytes(listText.begin(), listText.end()));
        } else if (auto decoded = decodeDefaultsValue(value)) {
          scenario.defaults->emplace_back(key, *decoded);
        } else {
          r.fail(json::pathMember("$.defaults", key), "not a settings value");
          break;
        }
      }
    }
  }
  if (r.ok()) {
    readTimeline(r, root, scenario, apps);
  }
  if (!r.ok()) {
    return Error{r.error(), 2};
  }
  return scenario;
}

std::vector<MenuExtraSpec> defaultSystemItems() {
  return {
      MenuExtraSpec{"", "com.apple.menuextra.clock", "Clock", "Clock", "", "", 94},
      MenuExtraSpec{"", "com.apple.menuextra.controlcenter", "Control Center", "BentoBox-0",
                    "view-more-symbolic", "", 30},
      MenuExtraSpec{"", "com.apple.menuextra.battery", "Battery", "Battery",
                    "battery-full-symbolic", "", 42},
      MenuExtraSpec{"", "com.apple.menuextra.wifi", "Wi-Fi", "WiFi", "network-wireless-symbolic",
                    "", 30},
  };
}

void buildWorld(const Scenario& scenario, World& world) {
  for (const auto& screen : scenario.screens) {
    world.addScreen(screen);
  }
  world.setDarkMenuBar(scenario.darkMenuBar);
  world.setLanguages(scenario.appleLanguages);
  world.setReduceMotion(scenario.reduceMotion);
  world.setScreenRecordingGranted(scenario.screenRecording);
  world.setScreenRecordingGrantOnRequest(scenario.grantScreenRecordingOnRequest);
  // Control Center runs from login on and hosts the system's items.
  InstalledBundle controlCenter;
  controlCenter.path = "/System/Library/CoreServices/ControlCenter.app";
  controlCenter.bundleID = "com.apple.controlcenter";
  controlCenter.name = "Control Center";
  controlCenter.accessory = true;
  controlCenter.menuExtras = scenario.systemItems;
  world.installBundle(controlCenter);
  world.launch(controlCenter.bundleID);
  world.setMenuBarArrangement(scenario.arrangement);
  for (const auto& app : scenario.apps) {
    world.installBundle(app.bundle);
  }
  for (const auto& tile : scenario.dock) {
    DockTile t = tile;
    if (t.kind == TileKind::application && t.url.empty()) {
      if (auto bundle = world.bundleWithID(t.bundleID)) {
        t.url = World::fileURL(bundle->path);
      }
    }
    world.addTile(t);
  }
  for (const auto& app : scenario.apps) {
    if (app.running) {
      world.launch(app.bundle.bundleID);
    }
    world.setResponsive(app.bundle.bundleID, app.responsive);
    world.setLatency(app.bundle.bundleID, app.latency);
  }
  if (!scenario.frontmost.empty()) {
    if (auto process = world.runningProcess(scenario.frontmost)) {
      world.activate(process->pid);
    }
  }
  world.setAccessibilityTrusted(scenario.accessibilityTrusted);
}

bool applyEvent(const ScenarioEvent& event, World& world, const Interaction& interaction) {
  const std::string& a = event.action;
  if (a == "clickStatusItem") {
    return interaction.statusBar != nullptr &&
           interaction.statusBar->click(event.item.empty() ? event.app : event.item,
                                        event.rightButton, event.clicks, event.modifiers);
  }
  if (a == "clickAt") {
    if (interaction.events == nullptr) {
      return false;
    }
    interaction.events->userClick(event.point, event.rightButton);
    return true;
  }
  if (a == "pressFunctionKey") {
    if (interaction.events == nullptr) {
      return false;
    }
    interaction.events->userFlagsChanged(1u << 23);
    return true;
  }
  if (a == "openControlCenter" || a == "closeControlCenter") {
    return world.setControlCenterOpen(a == "openControlCenter");
  }
  if (a == "siblingHUD") {
    // The sibling screenshot app shows or hides its HUD and announces it.
    if (interaction.sibling == nullptr) {
      return false;
    }
    interaction.sibling->setHUD(event.flag, event.frame);
    return true;
  }
  if (a == "pressKeys") {
    // A registered hot key takes the press; any other goes to the program's key window.
    if (interaction.hotKeys != nullptr &&
        interaction.hotKeys->press(event.keyCode, event.modifiers)) {
      return true;
    }
    return interaction.events != nullptr &&
           interaction.events->userKeyDown(static_cast<int>(event.keyCode), event.modifiers);
  }
  if (a == "completeSignIn") {
    return interaction.browser != nullptr &&
           interaction.browser->completeSignIn({event.email, event.password, event.flag});
  }
  if (a == "coverOwnWindows") {
    world.setProgramWindowsCovered(event.flag);
    return true;
  }
  if (a == "deliverCrash") {
    // The system hands over what it collected about an earlier run that crashed.
    return interaction.diagnostics != nullptr && event.crash &&
           interaction.diagnostics->deliver(DiagnosticPayload{{*event.crash}});
  }
  if (a == "clickTile" || a == "openSettings" || a == "pressControl" || a == "typeText" ||
      a == "closeWindow") {
    return interaction.program && interaction.program(event);
  }
  if (a == "chooseMenuItem") {
    return interaction.statusBar != nullptr && interaction.statusBar->choose(event.menuPath);
  }
  if (a == "closeMenu") {
    return interaction.statusBar != nullptr && interaction.statusBar->dismissMenu();
  }
  if (a == "answerOpenPanel") {
    return interaction.panels != nullptr && interaction.panels->answerOpenPanel(event.panelAnswer);
  }
  if (a == "setBadge") {
    return world.setBadge(event.app, event.label);
  }
  if (a == "clearBadge") {
    return world.setBadge(event.app, std::nullopt);
  }
  if (a == "launch") {
    return world.launch(event.app) != 0;
  }
  if (a == "quit") {
    return world.quit(event.app);
  }
  if (a == "activate") {
    auto process = world.runningProcess(event.app);
    return process && world.activate(process->pid);
  }
  if (a == "addTile" && event.tile) {
    DockTile tile = *event.tile;
    if (tile.kind == TileKind::application && tile.url.empty()) {
      if (auto bundle = world.bundleWithID(tile.bundleID)) {
        tile.url = World::fileURL(bundle->path);
      }
    }
    world.addTile(tile, event.index);
    return true;
  }
  if (a == "removeTile") {
    return world.removeTile(event.app.empty() ? event.title : event.app);
  }
  if (a == "renameTile") {
    return world.renameTile(event.app, event.title);
  }
  if (a == "restartDock") {
    world.restartDock();
    return true;
  }
  if (a == "grantAccessibility" || a == "revokeAccessibility") {
    world.setAccessibilityTrusted(a == "grantAccessibility");
    return true;
  }
  if (a == "setUnresponsive") {
    return world.setResponsive(event.app, !event.flag);
  }
  if (a == "setLatency") {
    return world.setLatency(event.app, event.seconds);
  }
  if (a == "setMenuExtras") {
    return world.setMenuExtras(event.app, event.menuExtras);
  }
  if (a == "failCaptures") {
    world.failCaptures(static_cast<int>(event.seconds));
    return true;
  }
  if (a == "setArrangement") {
    world.setMenuBarArrangement(event.arrangement);
    return true;
  }
  if (a == "grantScreenRecording" || a == "revokeScreenRecording") {
    world.setScreenRecordingGranted(a == "grantScreenRecording");
    return true;
  }
  return false;
}

}  // namespace lumarin::sim
