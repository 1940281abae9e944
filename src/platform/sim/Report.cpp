#include "platform/sim/Report.h"

#include <cmath>

#include "base/Json.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimWorkspace.h"
#include "platform/sim/Timeline.h"
#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

using json::OrderedJson;

// Seconds rounded to microseconds, so floating-point noise never changes the bytes.
double stamp(double seconds) { return std::round(seconds * 1e6) / 1e6; }

OrderedJson rect(const CocoaRect& r) {
  return OrderedJson::array({r.minX(), r.minY(), r.width(), r.height()});
}

OrderedJson eventJson(const ScenarioEvent& e) {
  OrderedJson out;
  out["do"] = e.action;
  if (!e.app.empty()) {
    out["app"] = e.app;
  }
  if (e.action == "setBadge") {
    out["label"] = e.label ? OrderedJson(*e.label) : OrderedJson();
  }
  if (!e.title.empty()) {
    out["title"] = e.title;
  }
  if (e.action == "setLatency") {
    out["seconds"] = e.seconds;
  }
  if (e.action == "setUnresponsive") {
    out["unresponsive"] = e.flag;
  }
  if (e.action == "clickStatusItem" || e.action == "clickTile") {
    if (!e.item.empty()) {
      out["item"] = e.item;
    }
    out["button"] = e.rightButton ? "right" : "left";
    out["clicks"] = e.clicks;
    if (e.modifiers != 0) {
      out["modifiers"] = e.modifiers;
    }
  }
  if (e.action == "clickAt") {
    out["point"] = OrderedJson::array({e.point.x, e.point.y});
    out["button"] = e.rightButton ? "right" : "left";
  }
  if (e.action == "siblingHUD") {
    out["visible"] = e.flag;
    out["frame"] = rect(e.frame);
  }
  if (e.action == "pressKeys") {
    out["keyCode"] = e.keyCode;
    out["modifiers"] = e.modifiers;
  }
  if (e.action == "chooseMenuItem") {
    out["path"] = e.menuPath;
  }
  if (e.action == "completeSignIn") {
    out["email"] = e.email;
    out["create"] = e.flag;
  }
  if (e.action == "openSettings" || e.action == "closeWindow") {
    out[e.action == "openSettings" ? "tab" : "window"] = e.item;
  }
  if (e.action == "pressControl" || e.action == "typeText") {
    out["control"] = e.item;
  }
  if (e.action == "answerOpenPanel") {
    out["path"] = e.panelAnswer ? OrderedJson(*e.panelAnswer) : OrderedJson();
  }
  return out;
}

}  // namespace

std::string makeReport(const Scenario& scenario, double duration, const World& world,
                       const Timeline& timeline, const SimWorkspace& workspace,
                       const std::vector<std::pair<std::string, std::string>>& sections) {
  OrderedJson report;
  report["scenario"] = scenario.name;
  report["duration"] = stamp(duration);

  OrderedJson screens = OrderedJson::array();
  for (const auto& s : world.screens()) {
    OrderedJson screen;
    screen["id"] = s.displayID;
    screen["name"] = s.name;
    screen["frame"] = rect(s.frame);
    screen["visibleFrame"] = rect(s.visibleFrame);
    screen["scale"] = s.backingScale;
    screen["safeAreaTop"] = s.safeAreaTop;
    if (s.auxiliaryTopLeft && s.auxiliaryTopRight) {
      screen["notch"] =
          rect(CocoaRect(s.auxiliaryTopLeft->maxX(), s.auxiliaryTopLeft->minY(),
                         s.auxiliaryTopRight->minX() - s.auxiliaryTopLeft->maxX(), s.safeAreaTop));
    }
    screens.push_back(screen);
  }
  report["screens"] = screens;

  OrderedJson apps = OrderedJson::array();
  const int frontmost = world.frontmostPid();
  for (const auto& p : world.processes()) {
    OrderedJson app;
    app["pid"] = p.pid;
    app["bundleID"] = p.bundleID;
    app["name"] = p.name;
    app["frontmost"] = p.pid == frontmost;
    app["accessory"] = p.accessory;
    if (!p.responsive) {
      app["responsive"] = false;
    }
    apps.push_back(app);
  }
  report["applications"] = apps;

  OrderedJson dock = OrderedJson::array();
  for (const auto& t : world.dockTiles()) {
    OrderedJson tile;
    tile["subrole"] = tileSubrole(t.kind);
    tile["title"] = t.title;
    if (!t.bundleID.empty()) {
      tile["app"] = t.bundleID;
      tile["running"] = world.runningProcess(t.bundleID).has_value();
      tile["kept"] = t.kept;
    }
    if (t.badge) {
      tile["badge"] = *t.badge;
    }
    dock.push_back(tile);
  }
  report["dock"] = dock;

  OrderedJson events = OrderedJson::array();
  for (const auto& applied : timeline.applied()) {
    OrderedJson e = eventJson(*applied.event);
    OrderedJson entry;
    entry["at"] = stamp(applied.at);
    for (auto& [key, value] : e.items()) {
      entry[key] = value;
    }
    entry["effect"] = applied.effective ? "applied" : "no effect";
    events.push_back(entry);
  }
  report["timeline"] = events;

  const AXCallCounts counts = world.callCounts();
  OrderedJson ax;
  ax["trusted"] = world.accessibilityTrusted();
  ax["trustPrompts"] = counts.trustPrompts;
  ax["totalCalls"] = counts.total;
  OrderedJson calls = OrderedJson::object();
  for (const auto& [process, attributes] : counts.reads) {
    for (const auto& [attribute, n] : attributes) {
      calls[process][attribute] = n;
    }
  }
  ax["calls"] = calls;
  OrderedJson errors = OrderedJson::object();
  for (const auto& [process, byError] : counts.errors) {
    for (const auto& [name, n] : byError) {
      errors[process][name] = n;
    }
  }
  ax["errors"] = errors;
  OrderedJson actions = OrderedJson::array();
  for (const auto& a : world.performedActions()) {
    actions.push_back(OrderedJson{{"at", stamp(a.at)},
                                  {"process", a.process},
                                  {"role", a.role},
                                  {"title", a.title},
                                  {"action", a.action},
                                  {"result", axErrorName(a.result)}});
  }
  ax["actions"] = actions;
  report["accessibility"] = ax;
  report["openedURLs"] = workspace.openedURLs();
  OrderedJson activations = OrderedJson::array();
  for (const auto& a : workspace.activations()) {
    activations.push_back(OrderedJson{{"at", stamp(a.at)},
                                      {"app", a.bundleID},
                                      {"via", a.via},
                                      {"launched", a.launched},
                                      {"ok", a.ok}});
  }
  report["activations"] = activations;
  OrderedJson opened = OrderedJson::array();
  for (const auto& m : world.openedMenus()) {
    opened.push_back(OrderedJson{{"at", stamp(m.at)},
                                 {"process", m.process},
                                 {"item", m.item},
                                 {"via", m.via},
                                 {"right", m.right},
                                 {"modifiers", m.modifiers}});
  }
  report["openedMenus"] = opened;
  for (const auto& [name, text] : sections) {
    auto parsed = json::parseOrdered(text);
    report[name] = parsed ? parsed.value() : OrderedJson(text);
  }
  return json::dump(report, 2) + "\n";
}

}  // namespace lumarin::sim
