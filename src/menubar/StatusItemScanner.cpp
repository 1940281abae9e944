#include "menubar/StatusItemScanner.h"

#include <QCollator>
#include <QString>
#include <algorithm>
#include <cmath>

#include "base/Utf8.h"
#include "base/Uuid.h"
#include "diagnostics/DebugLog.h"
#include "menubar/SkyLight.h"
#include "platform/Accessibility.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

const std::set<std::string> kExcludedOwners = {"com.apple.controlcenter", "com.apple.Spotlight",
                                               "com.apple.Siri", "com.apple.MenuBarAgent"};
const std::vector<std::string> kSystemHosts = {"com.apple.controlcenter",
                                               "com.apple.systemuiserver"};
const std::set<std::string> kAlwaysAccepted = {
    "WiFi", "Battery", "Bluetooth", "PersonalHotspot", "Hotspot", "Tethering", "AudioVideoModule"};

}  // namespace

std::optional<std::string> StatusItemScanner::stringValue(const AXElement& element,
                                                          const char* attribute) {
  return deps_.accessibility.stringAttribute(element, attribute);
}

std::string StatusItemScanner::stableIdentityTitle(const AXElement& element,
                                                   const std::optional<std::string>& windowTitle,
                                                   const std::optional<std::string>& bundleID,
                                                   int fallbackIndex) {
  auto qualifies = [&](const std::optional<std::string>& candidate) -> std::optional<std::string> {
    if (!candidate) {
      return std::nullopt;
    }
    std::string trimmed = utf8::trimWhitespaceAndNewlines(*candidate);
    if (trimmed.empty() || (bundleID && trimmed == *bundleID)) {
      return std::nullopt;
    }
    return trimmed;
  };
  if (auto t = qualifies(windowTitle)) {
    return *t;
  }
  // Read lazily: most items are settled by their window's name.
  for (const char* attribute : {"AXIdentifier", "AXTitle", "AXDescription"}) {
    if (auto t = qualifies(stringValue(element, attribute))) {
      return *t;
    }
  }
  return "Item-" + std::to_string(fallbackIndex);
}

std::string StatusItemScanner::splitCamelCase(const std::string& name) {
  std::string out;
  std::size_t pos = 0;
  bool first = true;
  while (pos < name.size()) {
    const std::size_t start = pos;
    const char32_t c = utf8::decodeAt(name, pos);
    if (!first && QChar::isUpper(c) && !out.empty() &&
        !utf8::isWhitespaceOrNewline(utf8::decode(out).back())) {
      out += ' ';
    }
    out.append(name, start, pos - start);
    first = false;
  }
  return out;
}

std::optional<std::string> StatusItemScanner::systemItemDisplayName(const std::string& n) {
  if (n.empty() || n.rfind("Item-", 0) == 0 || n == "System Status Item Clone" ||
      n.find('.') != std::string::npos || Uuid::parse(n)) {
    return std::nullopt;
  }
  if (n == "WiFi") {
    return "Wi-Fi";
  }
  if (n == "Battery" || n == "Bluetooth") {
    return n;
  }
  if (n == "Menubar" || n == "MenuBar" || n == "BentoBox-0" || n == "Clock") {
    return std::nullopt;
  }
  if (n == "AudioVideoModule") {
    return "Camera & Mic";
  }
  if (n == "NowPlaying") {
    return "Now Playing";
  }
  if (n == "ScreenMirroring") {
    return "Screen Mirroring";
  }
  if (n == "FocusModes") {
    return "Focus";
  }
  if (n == "PersonalHotspot" || n == "Hotspot" || n == "Tethering") {
    return "Personal Hotspot";
  }
  return splitCamelCase(n);
}

std::optional<int> StatusItemScanner::runningPID(const std::vector<std::string>& bundleIDs) const {
  for (const auto& app : deps_.workspace.runningApplications()) {
    if (app.pid > 0 && app.bundleIdentifier &&
        std::find(bundleIDs.begin(), bundleIDs.end(), *app.bundleIdentifier) != bundleIDs.end()) {
      return app.pid;
    }
  }
  return std::nullopt;
}

void StatusItemScanner::sortItems(std::vector<ExternalStatusItem>& items) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(
      items.begin(), items.end(), [&](const ExternalStatusItem& a, const ExternalStatusItem& b) {
        if (a.appName == b.appName) {
          return a.index < b.index;
        }
        const int order =
            collator.compare(QString::fromStdString(a.appName), QString::fromStdString(b.appName));
        if (order != 0) {
          return order < 0;
        }
        // Names equal but for case: by the exact text, so the order stays a
        // strict weak ordering (sorting with "equivalent" names of different
        // indices would otherwise be inconsistent).
        return a.appName < b.appName;
      });
}

std::vector<ExternalStatusItem> StatusItemScanner::scan() {
  Accessibility& ax = deps_.accessibility;
  if (!ax.isProcessTrusted()) {
    return {};
  }
  const int ownPid = deps_.ownPid;
  const auto windows = deps_.skyLight.menuBarItemWindows();
  StatusWindowMap fallback;
  if (windows.empty()) {
    fallback = statusWindowsByPID(deps_.windowServer);
  }
  std::set<std::uint32_t> consumed;
  std::vector<ExternalStatusItem> items;
  const auto running = deps_.workspace.runningApplications();

  // Pass 1: the applications' extras menu bars.
  for (const auto& app : running) {
    if (app.pid < 1 || app.pid == ownPid ||
        (app.bundleIdentifier && kExcludedOwners.count(*app.bundleIdentifier) != 0)) {
      continue;
    }
    const AXElement appElement = ax.createApplication(app.pid);
    ax.setMessagingTimeout(appElement, kMessagingTimeout);
    AXValue barValue;
    if (ax.copyAttributeValue(appElement, "AXExtrasMenuBar", barValue) != kAXErrorSuccess) {
      continue;
    }
    const auto bar = barValue.asElement();
    if (!bar) {
      continue;
    }
    // An element handed out by another call starts with the system's default timeout (about
    // six seconds), whatever its parent had: each one gets the scan's own.
    ax.setMessagingTimeout(*bar, kMessagingTimeout);
    const auto children = ax.elementsAttribute(*bar, "AXChildren");
    if (!children) {
      continue;
    }
    for (std::size_t i = 0; i < children->size(); ++i) {
      const AXElement& child = (*children)[i];
      ax.setMessagingTimeout(child, kMessagingTimeout);
      const auto position = ax.pointAttribute(child, "AXPosition");
      if (!position) {
        continue;
      }
      const auto size = ax.sizeAttribute(child, "AXSize");
      if (!size || !(size->width < 200)) {
        continue;
      }
      const GlobalRect frame(position->x, position->y, size->width, size->height);
      auto windowID =
          deps_.skyLight.windowIDForCenter(frame, windows, consumed, app.bundleIdentifier, 4);
      if (!windowID) {
        windowID = windowIDForFrame(frame, app.pid, fallback);
      }
      std::optional<std::string> windowName;
      if (windowID && !windows.empty()) {
        for (const auto& w : windows) {
          if (w.id == *windowID) {
            windowName = w.title;
            break;
          }
        }
      }
      ExternalStatusItem item;
      item.pid = app.pid;
      item.index = static_cast<int>(i);
      item.appName = app.localizedName.empty() ? "?" : app.localizedName;
      item.bundleID = app.bundleIdentifier;
      item.frame = frame;
      item.element = child;
      item.windowID = windowID.value_or(0);
      item.windowTitle =
          stableIdentityTitle(child, windowName, app.bundleIdentifier, static_cast<int>(i));
      items.push_back(std::move(item));
    }
  }

  if (!windows.empty()) {
    // Pass 2: windows named after a running application's bundle identifier.
    std::map<std::string, RunningApplication> byBundle;
    for (const auto& app : running) {
      if (app.pid != ownPid && app.bundleIdentifier) {
        byBundle[*app.bundleIdentifier] = app;
      }
    }
    int nextMarkerIndex = 900;
    for (const auto& w : windows) {
      if (consumed.count(w.id) != 0 || w.title.empty()) {
        continue;
      }
      auto owner = byBundle.find(w.title);
      if (owner == byBundle.end()) {
        continue;
      }
      const bool represented = std::any_of(items.begin(), items.end(), [&](const auto& item) {
        return item.bundleID == w.title && std::abs(item.frame.midX() - w.rect.midX()) <= 5 &&
               std::abs(item.frame.midY() - w.rect.midY()) <= 5;
      });
      if (represented) {
        consumed.insert(w.id);
        continue;
      }
      const MenuBarWindow* partner = nullptr;
      for (const auto& other : windows) {
        if (consumed.count(other.id) == 0 && other.id != w.id && other.title != w.title &&
            std::abs(other.rect.midX() - w.rect.midX()) <= 4 &&
            std::abs(other.rect.midY() - w.rect.midY()) <= 4) {
          partner = &other;
          break;
        }
      }
      const MenuBarWindow& chosen = partner != nullptr ? *partner : w;
      consumed.insert(w.id);
      consumed.insert(chosen.id);
      ExternalStatusItem item;
      item.pid = owner->second.pid;
      item.index = nextMarkerIndex++;
      item.appName = owner->second.localizedName.empty() ? w.title : owner->second.localizedName;
      item.bundleID = w.title;
      item.frame = chosen.rect;
      item.windowID = chosen.id;
      item.windowTitle = chosen.title;
      items.push_back(std::move(item));
    }

    // Pass 3: the system's items, left to right.
    const int hostPID = runningPID(kSystemHosts).value_or(0);
    const auto onscreen = deps_.skyLight.onscreenWindowIDs();
    auto sorted = windows;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.rect.minX() < b.rect.minX(); });
    int nextSystemIndex = 10000;
    for (const auto& w : sorted) {
      if (consumed.count(w.id) != 0) {
        continue;
      }
      const auto name = systemItemDisplayName(w.title);
      if (!name) {
        continue;
      }
      if (onscreen.count(w.id) == 0 && kAlwaysAccepted.count(w.title) == 0) {
        continue;
      }
      consumed.insert(w.id);
      ExternalStatusItem item;
      item.pid = hostPID;
      item.index = nextSystemIndex++;
      item.appName = *name;
      item.frame = w.rect;
      item.windowID = w.id;
      item.windowTitle = w.title;
      items.push_back(std::move(item));
    }
  }

  sortItems(items);
  return items;
}

void StatusItemScanner::reportScanResult(int items, int unidentified, int ms) {
  bool record = false;
  {
    std::lock_guard lock(reportLock_);
    record = ++reportCounter_ % 10 == 0;
  }
  if (record && statistics_) {
    statistics_("scan.result", items, unidentified, ms);
  }
}

void StatusItemScanner::logScanSnapshot(const std::vector<ExternalStatusItem>& items) {
  if (!deps_.defaults.boolValue("testerModeEnabled")) {
    return;
  }
  auto sorted = items;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.frame.minX() < b.frame.minX(); });
  std::string text;
  for (const auto& item : sorted) {
    if (!text.empty()) {
      text += " | ";
    }
    // Frames come from other processes: anything not finite or out of range prints as 0.
    auto truncated = [](double v) {
      return std::isfinite(v) && std::abs(v) < 1e15 ? static_cast<long long>(std::trunc(v)) : 0LL;
    };
    text += item.appName + "[" + item.windowTitle.value_or("-") +
            "]wid=" + std::to_string(item.windowID) +
            "@x=" + std::to_string(truncated(item.frame.minX())) +
            ",w=" + std::to_string(truncated(item.frame.width()));
    if (!item.element) {
      text += ",marker";
    }
  }
  {
    std::lock_guard lock(snapshotLock_);
    if (snapshotLogged_ && text == lastSnapshot_) {
      return;
    }
    lastSnapshot_ = text;
    snapshotLogged_ = true;
  }
  deps_.debugLog.log("scan: " + (text.empty() ? std::string("(no items)") : text));
}

}  // namespace lumarin
