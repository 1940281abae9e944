#include "desktop/LauncherBadgeMonitor.h"

#include <QDBusConnection>
#include <algorithm>
#include <functional>

#include "desktop/LauncherBusListener.h"
#include "platform/Workspace.h"

namespace lumarin {

struct LauncherBadgeMonitor::Bus {
  std::unique_ptr<LauncherBusListener> listener;
};

LauncherBadgeMonitor::LauncherBadgeMonitor(Dependencies deps) : deps_(std::move(deps)) {}

LauncherBadgeMonitor::~LauncherBadgeMonitor() = default;

void LauncherBadgeMonitor::start() {
  if (started_) {
    return;
  }
  started_ = true;
  if (!deps_.useSessionBus) {
    return;
  }
  QDBusConnection connection =
      deps_.busAddress.empty()
          ? QDBusConnection::sessionBus()
          : QDBusConnection::connectToBus(QString::fromStdString(deps_.busAddress),
                                          QStringLiteral("lumarin-launcher"));
  if (!connection.isConnected()) {
    if (deps_.log) {
      deps_.log("launcher: no session bus; no badges");
    }
    return;
  }
  LauncherBusListener::Handlers handlers;
  handlers.update = [this](const std::string& sender, const std::string& uri,
                           const LauncherProperties& properties) {
    const bool known = senders_.contains(sender);
    receive(sender, uri, properties);
    return !known && senders_.contains(sender);
  };
  handlers.dropped = [this] { ++dropped_; };
  handlers.left = [this](const std::string& sender) { senderLeft(sender); };
  bus_ = std::make_unique<Bus>();
  bus_->listener = std::make_unique<LauncherBusListener>(std::move(handlers), connection);
  if (deps_.log) {
    deps_.log(std::string("launcher: listening ") + (bus_->listener->listening() ? "yes" : "no") +
              ", owns " + kLauncherName + " " + (bus_->listener->ownsName() ? "yes" : "queued"));
  }
}

bool LauncherBadgeMonitor::ownsLauncherName() const { return bus_ && bus_->listener->ownsName(); }

void LauncherBadgeMonitor::setWatched(std::set<std::string> ids) {
  // Every sender tells of its apps unasked; the watched set changes nothing here.
  (void)ids;
}

std::vector<DockItem> LauncherBadgeMonitor::snapshotDockItems() {
  std::vector<DockItem> out;
  std::set<std::string> listed;
  for (const auto& app : deps_.workspace.runningApplications()) {
    if (!app.bundleIdentifier || !listed.insert(*app.bundleIdentifier).second) {
      continue;
    }
    DockItem item;
    item.bundleID = *app.bundleIdentifier;
    item.name = app.localizedName;
    item.isRunning = true;
    out.push_back(std::move(item));
  }
  if (deps_.installedApps) {
    for (auto& item : deps_.installedApps()) {
      if (listed.insert(item.bundleID).second) {
        item.isRunning = false;
        out.push_back(std::move(item));
      }
    }
  }
  return out;
}

void LauncherBadgeMonitor::receive(const std::string& sender, std::string_view uri,
                                   const LauncherProperties& properties) {
  auto parsed = parseLauncherEntryUpdate(uri, properties);
  auto* update = std::get_if<LauncherEntryUpdate>(&parsed);
  if (update == nullptr) {
    ++dropped_;
    return;
  }
  auto senderIt = senders_.find(sender);
  if (senderIt == senders_.end()) {
    if (senders_.size() >= kMaxSenders) {
      ++dropped_;
      return;
    }
    senderIt = senders_.emplace(sender, std::map<std::string, AppState>{}).first;
  }
  auto& apps = senderIt->second;
  auto appIt = apps.find(update->appID);
  if (appIt == apps.end()) {
    if (apps.size() >= kMaxAppsPerSender) {
      ++dropped_;
      if (deps_.log && refusedSenders_.insert(sender).second) {
        deps_.log("launcher: " + sender + " tells of more than " +
                  std::to_string(kMaxAppsPerSender) + " apps; the others are ignored");
      }
      return;
    }
    appIt = apps.emplace(update->appID, AppState{}).first;
  }
  ++taken_;
  // A first update without a badge still makes the app known as running.
  const bool changedBadge = appIt->second.state.apply(*update);
  if (changedBadge || appIt->second.changedAt == 0) {
    appIt->second.changedAt = ++sequence_;
    changed();
  }
}

void LauncherBadgeMonitor::senderLeft(const std::string& sender) {
  if (senders_.erase(sender) > 0) {
    refusedSenders_.erase(sender);
    changed();
  }
}

void LauncherBadgeMonitor::changed() {
  if (publishPending_) {
    return;
  }
  publishPending_ = true;
  std::weak_ptr<LauncherBadgeMonitor> weak = weak_from_this();
  (void)deps_.scheduler.mainQueue().postAfter(kFrame, [weak] {
    if (auto strong = weak.lock()) {
      strong->publish();
    }
  });
}

std::string LauncherBadgeMonitor::nameOf(const std::string& id) {
  if (auto it = names_.find(id); it != names_.end()) {
    return it->second;
  }
  std::string name = id.substr(0, id.size() - std::string_view(".desktop").size());
  if (auto url = deps_.workspace.urlForApplication(id)) {
    if (auto bundle = deps_.workspace.bundleAtURL(*url); bundle && !bundle->name.empty()) {
      name = bundle->name;
    }
  }
  // Names of apps that came and went stay (a few bytes each, bounded by the installed apps
  // and the senders' caps while they last).
  if (names_.size() < kMaxSenders * 4) {
    names_.emplace(id, name);
  }
  return name;
}

std::map<std::string, DockItem> LauncherBadgeMonitor::current() const {
  struct Best {
    const AppState* state = nullptr;
    const std::string* sender = nullptr;
  };
  std::map<std::string, Best> best;
  for (const auto& [sender, apps] : senders_) {
    for (const auto& [id, app] : apps) {
      Best& chosen = best[id];
      // The badge a sender shows wins over one that shows none; then the latest change.
      const bool shows = app.state.badge().has_value();
      const bool chosenShows = chosen.state && chosen.state->state.badge().has_value();
      if (chosen.state == nullptr || (shows && !chosenShows) ||
          (shows == chosenShows && app.changedAt > chosen.state->changedAt)) {
        chosen = {&app, &sender};
      }
    }
  }
  std::map<std::string, DockItem> out;
  for (const auto& [id, chosen] : best) {
    DockItem item;
    item.bundleID = id;
    item.isRunning = true;
    item.badge = chosen.state->state.badge();
    item.sender = *chosen.sender;
    out.emplace(id, std::move(item));
  }
  return out;
}

void LauncherBadgeMonitor::publish() {
  publishPending_ = false;
  auto next = current();
  for (auto& [id, item] : next) {
    item.name = nameOf(id);
  }
  const auto& now = *items_;
  // DockItem's equality leaves out the sender; a new sender of the same badge is news to the
  // report, so it counts here.
  const bool same =
      now.size() == next.size() &&
      std::equal(now.begin(), now.end(), next.begin(), [](const auto& a, const auto& b) {
        return a.first == b.first && a.second == b.second && a.second.sender == b.second.sender;
      });
  if (!same) {
    items_.set(std::move(next));
  }
}

}  // namespace lumarin
