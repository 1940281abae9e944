#include "badges/DockBadgeMonitor.h"

#include <QByteArray>
#include <QChar>
#include <cerrno>
#include <cstdlib>

#include "base/Utf8.h"
#include "base/WeakBind.h"
#include "platform/Workspace.h"

namespace lumarin {

namespace {

constexpr const char* kDockBundleID = "com.apple.dock";

// The URL's last path component without its extension ("file:///Applications/Mail.app/" →
// "Mail").
std::string nameFromURL(const std::string& url) {
  std::string path = url;
  while (!path.empty() && path.back() == '/') {
    path.pop_back();
  }
  const auto slash = path.find_last_of('/');
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  const auto dot = last.find_last_of('.');
  if (dot != std::string::npos && dot > 0) {
    last.resize(dot);
  }
  // Percent-escapes of the URL (spaces) become characters again.
  return QByteArray::fromPercentEncoding(QByteArray::fromStdString(last)).toStdString();
}

}  // namespace

DockBadgeMonitor::DockBadgeMonitor(Accessibility& accessibility, Workspace& workspace,
                                   Scheduler& scheduler)
    : ax_(accessibility),
      workspace_(workspace),
      scheduler_(scheduler),
      queue_(scheduler.makeSerialQueue(kQueueLabel, QoS::utility)) {}

std::optional<BadgeValue> DockBadgeMonitor::parseBadge(const std::optional<std::string>& label) {
  if (!label || label->empty()) {
    return std::nullopt;
  }
  std::string digits;
  std::size_t digitCount = 0;
  std::size_t strippedCount = 0;
  std::size_t pos = 0;
  while (pos < label->size()) {
    const std::size_t start = pos;
    const char32_t c = utf8::decodeAt(*label, pos);
    if (QChar::isNumber(c)) {
      ++digitCount;
      digits.append(*label, start, pos - start);
    }
    if (c != U',' && c != U'.' && c != U' ') {
      ++strippedCount;
    }
  }
  BadgeValue value{*label, std::nullopt};
  if (digitCount == 0 || digitCount != strippedCount) {
    return value;
  }
  // A decimal integer of ASCII digits only; other numerals or an overflow give no count.
  for (char c : digits) {
    if (c < '0' || c > '9') {
      return value;
    }
  }
  errno = 0;
  char* end = nullptr;
  const long long n = std::strtoll(digits.c_str(), &end, 10);
  if (errno == ERANGE || end != digits.c_str() + digits.size()) {
    return value;
  }
  value.count = n;
  return value;
}

void DockBadgeMonitor::start() {
  if (timer_) {
    return;
  }
  std::weak_ptr<DockBadgeMonitor> weak = weak_from_this();
  timer_ = queue_->scheduleRepeating(seconds(1), Duration::zero(), [weak] {
    if (auto self = weak.lock()) {
      self->poll();
    }
  });
  timer_->rearm(Duration::zero(), seconds(1), Duration::zero());
  auto scheduleFullRead = [weak](const RunningApplication&) {
    if (auto self = weak.lock()) {
      self->queue_->post([weak] {
        if (auto monitor = weak.lock()) {
          monitor->fullPoll();
        }
      });
    }
  };
  launchObservation_ = workspace_.observeLaunches(scheduleFullRead);
  quitObservation_ = workspace_.observeTerminations(scheduleFullRead);
}

void DockBadgeMonitor::setWatched(std::set<std::string> ids) {
  std::weak_ptr<DockBadgeMonitor> weak = weak_from_this();
  queue_->post([weak, ids = std::move(ids)]() mutable {
    auto self = weak.lock();
    if (!self || ids == self->watchedIDs_) {
      return;
    }
    self->watchedIDs_ = std::move(ids);
    self->fullPoll();
  });
}

std::vector<DockItem> DockBadgeMonitor::snapshotDockItems() {
  std::vector<DockItem> out;
  if (auto reading = readDock()) {
    for (auto& [item, element] : *reading) {
      out.push_back(std::move(item));
    }
  }
  return out;
}

std::optional<std::string> DockBadgeMonitor::bundleIDFor(const std::string& url) {
  {
    std::lock_guard lock(cacheLock_);
    if (auto it = bundleIDCache_.find(url); it != bundleIDCache_.end()) {
      return it->second;
    }
  }
  auto bundle = workspace_.bundleAtURL(url);
  if (!bundle || bundle->bundleIdentifier.empty()) {
    return std::nullopt;
  }
  std::lock_guard lock(cacheLock_);
  bundleIDCache_.emplace(url, bundle->bundleIdentifier);
  return bundle->bundleIdentifier;
}

std::optional<DockBadgeMonitor::Reading> DockBadgeMonitor::readDock() {
  if (!ax_.isProcessTrusted()) {
    return std::nullopt;
  }
  std::optional<int> dockPid;
  for (const auto& app : workspace_.runningApplications()) {
    if (app.bundleIdentifier == kDockBundleID) {
      dockPid = app.pid;
      break;
    }
  }
  if (!dockPid) {
    return std::nullopt;
  }
  const AXElement dock = ax_.createApplication(*dockPid);
  const auto children = ax_.elementsAttribute(dock, "AXChildren");
  if (!children) {
    return std::nullopt;
  }
  Reading reading;
  for (const auto& child : *children) {
    if (ax_.stringAttribute(child, "AXRole") != "AXList") {
      continue;
    }
    const auto tiles = ax_.elementsAttribute(child, "AXChildren");
    if (!tiles || tiles->empty()) {
      continue;
    }
    for (const auto& tile : *tiles) {
      if (ax_.stringAttribute(tile, "AXSubrole") != "AXApplicationDockItem") {
        continue;
      }
      const auto url = ax_.urlAttribute(tile, "AXURL");
      if (!url) {
        continue;
      }
      const auto bundleID = bundleIDFor(url->string);
      if (!bundleID) {
        continue;
      }
      DockItem item;
      item.bundleID = *bundleID;
      item.name = ax_.stringAttribute(tile, "AXTitle").value_or(nameFromURL(url->string));
      item.isRunning = ax_.boolAttribute(tile, "AXIsApplicationRunning").value_or(false);
      item.badge = parseBadge(ax_.stringAttribute(tile, "AXStatusLabel"));
      reading.emplace_back(std::move(item), tile);
    }
  }
  return reading;
}

void DockBadgeMonitor::fullPoll() {
  auto reading = readDock();
  std::weak_ptr<DockBadgeMonitor> weak = weak_from_this();
  if (!reading) {
    scheduler_.mainQueue().post([weak] {
      if (auto self = weak.lock(); self && *self->isReading_) {
        self->isReading_.set(false);
      }
    });
    return;
  }
  lastFullRead_ = scheduler_.clock().monotonicNow();
  elementByID_.clear();
  std::map<std::string, DockItem> items;
  for (auto& [item, element] : *reading) {
    elementByID_[item.bundleID] = element;
    items[item.bundleID] = std::move(item);
  }
  absentWatched_.clear();
  for (const auto& id : watchedIDs_) {
    if (items.count(id) == 0) {
      absentWatched_.insert(id);
    }
  }
  lastItemsQueue_ = items;
  publishOnMain(std::move(items), true);
}

void DockBadgeMonitor::poll() {
  const Duration now = scheduler_.clock().monotonicNow();
  if (!lastFullRead_ || now - *lastFullRead_ > seconds(kFullReadAge)) {
    fullPoll();
    return;
  }
  if (watchedIDs_.empty()) {
    return;
  }
  std::map<std::string, DockItem> changes;
  for (const auto& id : watchedIDs_) {
    if (absentWatched_.count(id) != 0) {
      continue;
    }
    auto element = elementByID_.find(id);
    auto previous = lastItemsQueue_.find(id);
    if (element == elementByID_.end() || previous == lastItemsQueue_.end()) {
      fullPoll();
      return;
    }
    AXValue runningValue;
    if (ax_.copyAttributeValue(element->second, "AXIsApplicationRunning", runningValue) !=
        kAXErrorSuccess) {
      fullPoll();  // the element went stale: the tile left or the Dock restarted
      return;
    }
    DockItem item;
    item.bundleID = id;
    item.name = previous->second.name;
    item.isRunning = runningValue.asBool().value_or(false);
    item.badge = parseBadge(ax_.stringAttribute(element->second, "AXStatusLabel"));
    if (item == previous->second) {
      continue;
    }
    changes[id] = item;
    previous->second = std::move(item);
  }
  if (!changes.empty()) {
    publishOnMain(std::move(changes), false);
  }
}

void DockBadgeMonitor::publishOnMain(std::map<std::string, DockItem> items, bool replace) {
  std::weak_ptr<DockBadgeMonitor> weak = weak_from_this();
  scheduler_.mainQueue().post([weak, items = std::move(items), replace]() mutable {
    auto self = weak.lock();
    if (!self) {
      return;
    }
    if (replace) {
      if (!*self->isReading_) {
        self->isReading_.set(true);
      }
      if (*self->items_ != items) {
        self->items_.set(std::move(items));
      }
      return;
    }
    auto merged = *self->items_;
    for (auto& [id, item] : items) {
      merged[id] = std::move(item);
    }
    self->items_.set(std::move(merged));
  });
}

}  // namespace lumarin
