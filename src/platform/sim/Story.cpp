#include "platform/sim/Story.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace lumarin::sim {

namespace {

using json::Json;

struct Line {
  double at = 0;
  std::string text;
};

std::string clock(double seconds) {
  const double whole = std::max(0.0, seconds);
  const auto minutes = static_cast<long long>(whole / 60);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld:%04.1f", minutes,
                whole - static_cast<double>(minutes) * 60);
  return buffer;
}

std::string text(const Json& object, const char* key, const std::string& fallback = "") {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

double number(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_number() ? it->get<double>() : 0;
}

bool flag(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_boolean() && it->get<bool>();
}

// Hot key combinations in the hot key service's bits, as a Mac user writes them.
std::string keys(const Json& object) {
  const auto bits = static_cast<unsigned>(number(object, "modifiers"));
  std::string out;
  if ((bits & 0x1000U) != 0) {
    out += "⌃";
  }
  if ((bits & 0x800U) != 0) {
    out += "⌥";
  }
  if ((bits & 0x200U) != 0) {
    out += "⇧";
  }
  if ((bits & 0x100U) != 0) {
    out += "⌘";
  }
  static const std::map<int, std::string> kKeys = {
      {43, ","},     {46, "M"},      {53, "Escape"}, {36, "Return"}, {51, "Delete"},
      {123, "Left"}, {124, "Right"}, {125, "Down"},  {126, "Up"},    {115, "Home"},
      {119, "End"},  {18, "1"},      {19, "2"},      {20, "3"},      {21, "4"},
      {23, "5"},     {22, "6"},      {26, "7"},      {28, "8"},      {25, "9"}};
  const int code = static_cast<int>(number(object, "keyCode"));
  const auto named = kKeys.find(code);
  return out + (named != kKeys.end() ? named->second : "key " + std::to_string(code));
}

std::string hideReason(const std::string& reason) {
  static const std::map<std::string, std::string> kReasons = {
      {"toggle", "the hot key or menu again"},
      {"esc", "Escape"},
      {"cancel", "cancelled"},
      {"outside-click", "a click elsewhere"},
      {"own-window-click", "a click in another Lumarin window"},
      {"tile-click", "a tile was clicked"},
      {"entry-click", "a menu entry was chosen"},
      {"permission-tap", "asking for access"},
      {"cc-closed", "Control Center closed"},
      {"follow-off", "the Control Center link was switched off"}};
  const auto it = kReasons.find(reason);
  return it != kReasons.end() ? it->second : reason;
}

class Narrator {
 public:
  explicit Narrator(const Json& report) : report_(report) {
    for (const auto* section : {"applications"}) {
      for (const auto& app : report_.value(section, Json::array())) {
        names_[text(app, "bundleID")] = text(app, "name");
      }
    }
    // Apps that quit keep their Dock tile's title, or their item's name.
    for (const auto& tile : report_.value("dock", Json::array())) {
      if (!text(tile, "app").empty()) {
        names_.emplace(text(tile, "app"), text(tile, "title"));
      }
    }
    // A desktop run names the apps the user monitors, running or not.
    for (const auto& app : report_.value("monitoredApps", Json::array())) {
      names_.emplace(text(app, "bundleID"), text(app, "name"));
    }
    for (const auto& menu : report_.value("openedMenus", Json::array())) {
      names_.emplace(text(menu, "process"), text(menu, "item"));
    }
    names_["com.kestova.Lumarin"] = "Lumarin";
  }

  // A run on the desktop rather than the simulated Mac.
  bool desktop() const { return text(report_, "platform") == "desktop"; }

  std::vector<std::string> tell() {
    timeline();
    badges();
    hud();
    clicks();
    diagnostics();
    windows();
    menus();
    activations();
    hotKeys();
    mirror();
    std::stable_sort(lines_.begin(), lines_.end(),
                     [](const Line& a, const Line& b) { return a.at < b.at; });
    std::vector<std::string> out;
    out.reserve(lines_.size());
    for (const auto& line : lines_) {
      out.push_back(clock(line.at) + "  " + line.text);
    }
    return out;
  }

 private:
  std::string name(const std::string& bundleID) const {
    const auto it = names_.find(bundleID);
    return it != names_.end() && !it->second.empty() ? it->second : bundleID;
  }
  void add(double at, std::string line) { lines_.push_back(Line{at, std::move(line)}); }

  void timeline() {
    for (const auto& e : report_.value("timeline", Json::array())) {
      const std::string action = text(e, "do");
      const std::string app = name(text(e, "app"));
      const double at = number(e, "at");
      const bool applied = text(e, "effect") == "applied";
      std::string line;
      if (action == "setBadge") {
        line = app + "'s Dock icon gets the badge " + text(e, "label", "?");
      } else if (action == "clearBadge") {
        line = app + "'s Dock badge goes away";
      } else if (action == "launch") {
        line = app + " starts";
      } else if (action == "quit") {
        line = app + " quits";
      } else if (action == "restartDock") {
        line = "the Dock restarts";
      } else if (action == "openControlCenter" || action == "closeControlCenter") {
        line =
            std::string("Control Center ") + (action == "openControlCenter" ? "opens" : "closes");
      } else if (action == "siblingHUD") {
        line = std::string("Pellior ") + (flag(e, "visible") ? "shows" : "hides") + " its HUD";
      } else if (action == "pressKeys") {
        line = "the user presses " + keys(e);
      } else if (action == "clickAt") {
        const auto& point = e.value("point", Json::array());
        line = "the user clicks the desktop" +
               (point.size() == 2 ? " at " + point.dump() : std::string());
      } else if (action == "clickStatusItem") {
        line = "the user clicks " +
               (text(e, "item") == "own" ? std::string("Lumarin's item") : app + "'s item") +
               (number(e, "clicks") > 1 ? " twice" : "");
      } else if (action == "chooseMenuItem") {
        std::string path;
        for (const auto& title : e.value("path", Json::array())) {
          path += (path.empty() ? "" : " › ") + (title.is_string() ? title.get<std::string>() : "");
        }
        line = "the user chooses " + path;
      } else if (action == "setArrangement") {
        line = "the menu bar is redrawn as one window";
      } else if (action == "setUnresponsive") {
        line = app + (flag(e, "unresponsive") ? " stops answering" : " answers again");
      } else if (action == "setMenuExtras") {
        line = app + "'s menu bar items change";
      } else if (action == "setLatency") {
        line = app + " answers slowly";
      } else if (action == "grantAccessibility" || action == "revokeAccessibility") {
        line = std::string("accessibility access is ") +
               (action == "grantAccessibility" ? "granted" : "taken away");
      } else if (action == "grantScreenRecording" || action == "revokeScreenRecording") {
        line = std::string("screen recording is ") +
               (action == "grantScreenRecording" ? "allowed" : "taken away");
      } else if (action == "completeSignIn") {
        line = "the user signs in as " + text(e, "email") + " in the browser";
      } else if (action == "deliverCrash") {
        line = "the system hands over a crash of an earlier run";
      } else if (action == "renameTile") {
        line = app + "'s Dock tile is renamed " + text(e, "title");
      } else if (action == "openSettings") {
        const std::string tab = text(e, "tab");
        line = "the user opens the settings" + (tab.empty() ? "" : " on " + tab);
      } else if (action == "pressControl") {
        line = "the user presses \"" + text(e, "control") + "\"";
      } else if (action == "typeText" && text(e, "control") != "hud") {
        line = "the user types into \"" + text(e, "control") + "\"";
      } else if (action == "closeWindow") {
        line = "the user closes the " + text(e, "window") + " window";
      } else if (action == "clickTile" || action == "closeMenu" || action == "typeText") {
        continue;  // told by what the program did (typing into the HUD: with what it made of it)
      } else {
        line = action;
      }
      add(at, applied ? line : line + " (nothing to act on)");
    }
  }

  void badges() {
    const auto& all = report_.value("badges", Json::object());
    for (auto it = all.begin(); it != all.end(); ++it) {
      std::string last = "\x01";
      for (const auto& entry : it.value()) {
        const std::string label = text(entry, "label");
        if (label == last) {
          continue;
        }
        last = label;
        if (desktop()) {
          // The launcher told us, and the tray item followed.
          std::string line = name(it.key());
          if (label.empty()) {
            line += "'s badge cleared: its tray item shows none";
          } else {
            line += "'s badge ";
            line += label;
            line += ": its tray item shows ";
            line += label;
          }
          add(number(entry, "at"), std::move(line));
          continue;
        }
        add(number(entry, "at"), label.empty()
                                     ? name(it.key()) + "'s menu bar item shows no badge"
                                     : name(it.key()) + " shows " + label + " in the menu bar");
      }
    }
  }

  void hud() {
    const auto& hud = report_.value("hud", Json::object());
    for (const auto& key : hud.value("keys", Json::array())) {
      const std::string items = std::to_string(static_cast<int>(number(key, "visible"))) + " of " +
                                std::to_string(static_cast<int>(number(key, "of"))) + " items";
      const std::string name = text(key, "key");
      if (name == "text") {
        add(number(key, "at"), "the user types '" + text(key, "text") + "' — " + items);
      } else if (key.contains("reached")) {
        const std::string pressed = name == "return"        ? "Return"
                                    : name == "shiftReturn" ? "Shift-Return"
                                                            : name;
        add(number(key, "at"), "the HUD's " + pressed + " reaches " + text(key, "reachedTitle"));
      } else if (name == "backspace" || name == "escape") {
        const std::string filter = text(key, "filter");
        std::string line = filter.empty() ? "the HUD's filter is cleared" : "the filter is now '";
        if (!filter.empty()) {
          line += filter;
          line += "'";
        }
        line += " — ";
        line += items;
        add(number(key, "at"), line);
      }
    }
    for (const auto& show : hud.value("shows", Json::array())) {
      if (text(show, "event") == "show") {
        const std::string trigger = text(show, "trigger");
        add(number(show, "at"), "the HUD opens with " +
                                    std::to_string(static_cast<int>(number(show, "tiles"))) +
                                    " items (" +
                                    (trigger == "hotkey" ? "hot key"
                                     : trigger == "cc"   ? "with Control Center"
                                                         : "from the menu") +
                                    ")");
      } else {
        add(number(show, "at"), "the HUD closes: " + hideReason(text(show, "reason")));
      }
    }
  }

  void clicks() {
    // How a tray's item took the click; the Mac's paths all open the item's menu.
    static const std::map<std::string, std::string> kTrayPaths = {
        {"activate", "reached its app"},
        {"activate-menu", "opened its menu (its app has nothing to activate)"},
        {"contextMenu", "asked its app for its own menu"},
        {"menu-contextMenu", "asked its app for its own menu (its menu was empty)"},
        {"activate-menu-contextMenu", "asked its app for its own menu (its menu was empty)"},
        {"secondaryActivate", "reached its app with the middle button"},
        {"scroll", "turned the wheel over it"},
        {"menu-entry", "ran a menu entry in its app"}};
    const Json publications = report_.value("mirror", Json::array());
    const bool tray = std::any_of(
        publications.begin(), publications.end(),
        [](const Json& publication) { return publication.value("mode", std::string()) == "tray"; });
    for (const auto& click : report_.value("forwardedClicks", Json::array())) {
      const std::string app = name(text(click, "targetApp"));
      const auto path = kTrayPaths.find(text(click, "path"));
      std::string outcome = !flag(click, "ok")                 ? "reached nothing"
                            : tray && path != kTrayPaths.end() ? path->second
                                                               : "opened its menu";
      std::string line = "a click on " + app;
      line += "'s tile ";
      line += outcome;
      if (flag(click, "notchHidden")) {
        line += tray ? " (the tray hides the item)" : " (the item is behind the notch)";
      }
      add(number(click, "at"), line);
    }
  }

  void diagnostics() {
    const auto& diagnostics = report_.value("diagnostics", Json::object());
    for (const auto& sent : diagnostics.value("crashReports", Json::array())) {
      const auto& report = sent.value("report", Json::object());
      add(number(sent, "at"), "a crash report (signal " +
                                  std::to_string(static_cast<int>(number(report, "signal"))) +
                                  ") goes to the web service");
    }
    for (const auto& upload : diagnostics.value("testerUploads", Json::array())) {
      add(number(upload, "at"), "tester mode sends the recent logs to the web service");
    }
  }

  void windows() {
    for (const auto& entry : report_.value("windows", Json::array())) {
      const std::string event = text(entry, "event");
      const std::string window = text(entry, "window");
      if (event == "opened" || event == "closed") {
        add(number(entry, "at"),
            "the " + window + " window " + (event == "opened" ? "opens" : "closes"));
      } else if (event == "tab") {
        add(number(entry, "at"), "the " + window + " window shows " + text(entry, "tab"));
      } else if (event == "control") {
        std::string line = "\"" + text(entry, "control") + "\" shows " + text(entry, "value");
        std::string keys;
        const Json changed = entry.value("changed", Json::object());
        for (const auto& [key, value] : changed.items()) {
          keys += (keys.empty() ? "" : ", ") + key;
        }
        if (!keys.empty()) {
          line += " and changes ";
          line += keys;
        }
        add(number(entry, "at"), line);
      }
    }
  }

  void menus() {
    for (const auto& menu : report_.value("menus", Json::array())) {
      const std::string owner = text(menu, "item");
      std::string line = owner.rfind("lumarin.", 0) == 0
                             ? name(owner.substr(8)) + "'s item opens its menu"
                             : "Lumarin's menu opens";
      if (text(menu, "outcome") == "chose") {
        std::string path;
        for (const auto& title : menu.value("chose", Json::array())) {
          path += (path.empty() ? "" : " › ") + (title.is_string() ? title.get<std::string>() : "");
        }
        line += "; " + path + " is chosen";
      }
      add(number(menu, "at"), line);
    }
  }

  void activations() {
    for (const auto& activation : report_.value("activations", Json::array())) {
      add(number(activation, "at"),
          "Lumarin " + std::string(flag(activation, "launched") ? "launches " : "brings ") +
              name(text(activation, "app")) +
              (flag(activation, "launched") ? "" : " to the front"));
    }
  }

  void hotKeys() {
    const auto& hot = report_.value("hotKeys", Json::object());
    for (const auto& r : hot.value("registrations", Json::array())) {
      const bool taken = number(r, "status") != 0;
      add(number(r, "at"),
          "the hot key " + keys(r) + (taken ? " is taken by another app" : " is ready"));
    }
  }

  void mirror() {
    std::size_t last = 0;
    bool first = true;
    for (const auto& publication : report_.value("mirror", Json::array())) {
      const auto count = static_cast<std::size_t>(number(publication, "count"));
      if (!first && count == last) {
        continue;
      }
      const bool tray = publication.value("mode", std::string()) == "tray";
      add(number(publication, "at"),
          std::string(first ? "the HUD's model finds " : "the HUD's model now has ") +
              std::to_string(count) + (tray ? " tray items" : " menu bar items"));
      first = false;
      last = count;
    }
  }

  const Json& report_;
  std::map<std::string, std::string> names_;
  std::vector<Line> lines_;
};

}  // namespace

std::vector<std::string> narrate(const Json& report) {
  if (!report.is_object()) {
    return {};
  }
  return Narrator(report).tell();
}

}  // namespace lumarin::sim
