#include "platform/sim/World.h"

#include <algorithm>

namespace lumarin::sim {

namespace {

constexpr const char* kDockBundleID = "com.apple.dock";
constexpr const char* kDockPath = "/System/Library/CoreServices/Dock.app";
constexpr double kTileSize = 48;

}  // namespace

const char* tileSubrole(TileKind kind) {
  switch (kind) {
    case TileKind::application:
      return "AXApplicationDockItem";
    case TileKind::document:
      return "AXDocumentDockItem";
    case TileKind::folder:
      return "AXFolderDockItem";
    case TileKind::url:
      return "AXURLDockItem";
    case TileKind::minimizedWindow:
      return "AXMinimizedWindowDockItem";
    case TileKind::separator:
      return "AXSeparatorDockItem";
    case TileKind::trash:
      return "AXTrashDockItem";
  }
  return "AXDockItem";
}

std::string World::fileURL(const std::string& path) {
  std::string url = "file://" + path;
  if (url.back() != '/') {
    url += '/';
  }
  return url;
}

std::string World::pathFromFileURL(const std::string& url) {
  const std::string prefix = "file://";
  if (url.rfind(prefix, 0) != 0) {
    return {};
  }
  std::string path = url.substr(prefix.size());
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

World::World() {
  InstalledBundle dock;
  dock.path = kDockPath;
  dock.bundleID = kDockBundleID;
  dock.name = "Dock";
  dock.accessory = true;
  bundles_[dock.path] = dock;
  std::vector<RunningApplication> ignored;
  launchLocked(kDockBundleID, ignored);
}

Subscription World::subscribeLaunches(std::function<void(const RunningApplication&)> h) {
  std::lock_guard lock(signalMutex_);
  auto inner = std::make_shared<Subscription>(launched_.subscribe(std::move(h)));
  return Subscription([this, inner] {
    std::lock_guard relock(signalMutex_);
    inner->reset();
  });
}

Subscription World::subscribeTerminations(std::function<void(const RunningApplication&)> h) {
  std::lock_guard lock(signalMutex_);
  auto inner = std::make_shared<Subscription>(terminated_.subscribe(std::move(h)));
  return Subscription([this, inner] {
    std::lock_guard relock(signalMutex_);
    inner->reset();
  });
}

void World::emitLaunched(const RunningApplication& app) {
  std::lock_guard lock(signalMutex_);
  launched_.emit(app);
}

void World::emitTerminated(const RunningApplication& app) {
  std::lock_guard lock(signalMutex_);
  terminated_.emit(app);
}

double World::now() const { return clock_ ? toSeconds(clock_->monotonicNow()) : 0; }

void World::spend(Duration cost) {
  if (cost > Duration::zero() && timeSink_) {
    timeSink_(cost);
  }
}

// ---------------------------------------------------------------------------------------
// Building and events

void World::addScreen(Screen screen) {
  {
    std::lock_guard lock(mutex_);
    screens_.push_back(std::move(screen));
    layoutDockLocked();
    relayoutMenuBarLocked();
  }
  std::lock_guard signalLock(signalMutex_);
  screensChanged_.emit();
}

void World::installBundle(InstalledBundle bundle) {
  std::lock_guard lock(mutex_);
  if (bundle.name.empty()) {
    auto slash = bundle.path.find_last_of('/');
    bundle.name = bundle.path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (bundle.name.size() > 4 && bundle.name.ends_with(".app")) {
      bundle.name.resize(bundle.name.size() - 4);
    }
  }
  bundles_[bundle.path] = std::move(bundle);
}

Process* World::runningLocked(const std::string& bundleID) {
  for (auto& [pid, process] : processes_) {
    if (process.running && process.bundleID == bundleID) {
      return &process;
    }
  }
  return nullptr;
}

std::shared_ptr<Node> World::makeProcessRootLocked(const Process& process) {
  auto root = std::make_shared<Node>(process.pid);
  root->attributes["AXRole"] = "AXApplication";
  root->attributes["AXRoleDescription"] = "application";
  root->attributes["AXTitle"] = process.name;
  root->attributes["AXChildren"] = AXValue::Array{};
  root->attributes["AXFrontmost"] = false;
  return root;
}

int World::launchLocked(const std::string& bundleID,
                        std::vector<RunningApplication>& launchedApps) {
  if (Process* running = runningLocked(bundleID)) {
    return running->pid;
  }
  const InstalledBundle* bundle = nullptr;
  for (const auto& [path, b] : bundles_) {
    if (b.bundleID == bundleID) {
      bundle = &b;
      break;
    }
  }
  if (bundle == nullptr) {
    return 0;
  }
  Process process;
  process.pid = nextPid_++;
  process.bundleID = bundle->bundleID;
  process.name = bundle->info.count("CFBundleDisplayName") ? bundle->info.at("CFBundleDisplayName")
                                                           : bundle->name;
  process.bundlePath = bundle->path;
  process.accessory = bundle->accessory;
  process.launchOrder = nextLaunchOrder_++;
  process.root = makeProcessRootLocked(process);
  const int pid = process.pid;
  processes_[pid] = process;

  if (bundleID == kDockBundleID) {
    dockPid_ = pid;
    buildDockLocked();
  } else if (!process.accessory) {
    // A regular application shows a tile while it runs, kept or not.
    bool hasTile = false;
    for (auto& tile : tiles_) {
      if (tile.kind == TileKind::application && tile.bundleID == bundleID) {
        hasTile = true;
        refreshTileLocked(tile);
      }
    }
    if (!hasTile) {
      DockTile tile;
      tile.kind = TileKind::application;
      tile.bundleID = bundleID;
      tile.title = process.name;
      tile.url = fileURL(bundle->path);
      tile.kept = false;
      // Running apps that are not kept join the end of the applications section.
      auto at = std::find_if(tiles_.begin(), tiles_.end(), [](const DockTile& t) {
        return t.kind == TileKind::separator || t.kind == TileKind::trash ||
               t.kind == TileKind::folder;
      });
      at = tiles_.insert(at, tile);
      refreshTileLocked(*at);
      refreshDockListLocked();
    }
    frontmostPid_ = pid;
  }
  launchedApps.push_back(describe(processes_[pid]));
  relayoutMenuBarLocked();
  return pid;
}

int World::launch(const std::string& bundleID) {
  std::vector<RunningApplication> launchedApps;
  int pid = 0;
  {
    std::lock_guard lock(mutex_);
    pid = launchLocked(bundleID, launchedApps);
  }
  for (const auto& app : launchedApps) {
    emitLaunched(app);
  }
  return pid;
}

bool World::quit(const std::string& bundleID) {
  RunningApplication gone;
  {
    std::lock_guard lock(mutex_);
    Process* process = runningLocked(bundleID);
    if (process == nullptr) {
      return false;
    }
    process->running = false;
    process->root->valid = false;
    gone = describe(*process);
    const int pid = process->pid;
    processes_.erase(pid);
    if (frontmostPid_ == pid) {
      frontmostPid_ = 0;
    }
    extraWindowIDs_.erase(extraWindowIDs_.lower_bound({pid, 0}),
                          extraWindowIDs_.lower_bound({pid + 1, 0}));
    if (pid == dockPid_) {
      for (auto& tile : tiles_) {
        if (tile.node) {
          tile.node->valid = false;
        }
      }
      if (dockList_) {
        dockList_->valid = false;
      }
      dockPid_ = 0;
    } else {
      // Tiles of apps that are not kept leave with the app; kept ones show it stopped.
      bool removed = false;
      for (auto it = tiles_.begin(); it != tiles_.end();) {
        if (it->kind == TileKind::application && it->bundleID == bundleID) {
          if (!it->kept) {
            if (it->node) {
              it->node->valid = false;
            }
            it = tiles_.erase(it);
            removed = true;
            continue;
          }
          refreshTileLocked(*it);
        }
        ++it;
      }
      if (removed) {
        refreshDockListLocked();
      }
    }
    relayoutMenuBarLocked();
  }
  emitTerminated(gone);
  return true;
}

bool World::activate(int pid) {
  std::lock_guard lock(mutex_);
  auto it = processes_.find(pid);
  if (it == processes_.end() || it->second.accessory) {
    return false;
  }
  frontmostPid_ = pid;
  for (auto& [p, process] : processes_) {
    process.root->attributes["AXFrontmost"] = (p == pid);
  }
  relayoutMenuBarLocked();  // the new app's menus may cover more of the bar
  return true;
}

void World::addTile(DockTile tile, std::optional<std::size_t> index) {
  std::lock_guard lock(mutex_);
  if (tile.kind == TileKind::application && tile.title.empty()) {
    for (const auto& [path, bundle] : bundles_) {
      if (bundle.bundleID == tile.bundleID) {
        tile.title = bundle.name;
        if (tile.url.empty()) {
          tile.url = fileURL(path);
        }
      }
    }
  }
  const std::size_t at = std::min(index.value_or(tiles_.size()), tiles_.size());
  auto it = tiles_.insert(tiles_.begin() + static_cast<std::ptrdiff_t>(at), std::move(tile));
  refreshTileLocked(*it);
  refreshDockListLocked();
}

bool World::removeTile(const std::string& bundleIDOrTitle) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(tiles_.begin(), tiles_.end(), [&](const DockTile& t) {
    return (!t.bundleID.empty() && t.bundleID == bundleIDOrTitle) || t.title == bundleIDOrTitle;
  });
  if (it == tiles_.end()) {
    return false;
  }
  if (it->node) {
    it->node->valid = false;
  }
  tiles_.erase(it);
  refreshDockListLocked();
  return true;
}

bool World::renameTile(const std::string& bundleID, const std::string& title) {
  std::lock_guard lock(mutex_);
  bool found = false;
  for (auto& tile : tiles_) {
    if (tile.bundleID == bundleID) {
      tile.title = title;
      refreshTileLocked(tile);
      found = true;
    }
  }
  return found;
}

bool World::setBadge(const std::string& bundleID, const std::optional<std::string>& label) {
  std::lock_guard lock(mutex_);
  bool found = false;
  for (auto& tile : tiles_) {
    if (tile.kind == TileKind::application && tile.bundleID == bundleID) {
      tile.badge = label;
      refreshTileLocked(tile);
      found = true;
    }
  }
  return found;
}

void World::restartDock() {
  quit(kDockBundleID);
  launch(kDockBundleID);
}

void World::setAccessibilityTrusted(bool trusted) {
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    changed = trusted_ != trusted;
    trusted_ = trusted;
  }
  if (changed) {
    // macOS tells every process when any process's accessibility trust changes.
    postNotification("com.apple.accessibility.api", {});
  }
}

void World::postNotification(const std::string& name, const NotificationInfo& userInfo) {
  std::lock_guard lock(signalMutex_);
  notified_.emit(name, userInfo);
}

Subscription World::subscribeNotifications(
    std::function<void(const std::string&, const NotificationInfo&)> h) {
  std::lock_guard lock(signalMutex_);
  auto inner = std::make_shared<Subscription>(notified_.subscribe(std::move(h)));
  return Subscription([this, inner] {
    std::lock_guard relock(signalMutex_);
    inner->reset();
  });
}

bool World::setResponsive(const std::string& bundleID, bool responsive) {
  std::lock_guard lock(mutex_);
  if (Process* process = runningLocked(bundleID)) {
    process->responsive = responsive;
    return true;
  }
  return false;
}

bool World::setLatency(const std::string& bundleID, double seconds) {
  std::lock_guard lock(mutex_);
  if (Process* process = runningLocked(bundleID)) {
    process->latency = std::max(0.0, seconds);
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// The Dock's tree

void World::buildDockLocked() {
  Process& dock = processes_[dockPid_];
  dockList_ = std::make_shared<Node>(dockPid_);
  dockList_->attributes["AXRole"] = "AXList";
  dockList_->attributes["AXRoleDescription"] = "list";
  dockList_->attributes["AXOrientation"] = "AXHorizontalOrientation";
  dock.root->attributes["AXChildren"] = AXValue::Array{AXElement(dockList_)};
  for (auto& tile : tiles_) {
    tile.node.reset();  // a restarted Dock hands out new elements
    refreshTileLocked(tile);
  }
  refreshDockListLocked();
}

void World::refreshDockListLocked() {
  if (!dockList_ || dockPid_ == 0) {
    return;
  }
  AXValue::Array children;
  children.reserve(tiles_.size());
  for (auto& tile : tiles_) {
    if (!tile.node) {
      refreshTileLocked(tile);
    }
    children.emplace_back(AXElement(tile.node));
  }
  dockList_->attributes["AXChildren"] = std::move(children);
  layoutDockLocked();
}

void World::refreshTileLocked(DockTile& tile) {
  if (dockPid_ == 0) {
    return;
  }
  if (!tile.node) {
    tile.node = std::make_shared<Node>(dockPid_);
  }
  auto& a = tile.node->attributes;
  a["AXRole"] = "AXDockItem";
  a["AXRoleDescription"] = "Dock item";
  a["AXSubrole"] = tileSubrole(tile.kind);
  a["AXTitle"] = tile.title;
  if (!tile.url.empty()) {
    a["AXURL"] = AXUrl{tile.url};
  }
  if (tile.kind == TileKind::application) {
    bool running = false;
    for (const auto& [pid, process] : processes_) {
      running = running || (process.running && process.bundleID == tile.bundleID);
    }
    a["AXIsApplicationRunning"] = running;
    // Without a badge the attribute exists but has no value.
    a["AXStatusLabel"] = tile.badge ? AXValue(*tile.badge) : AXValue();
    tile.node->actions = {"AXPress", "AXShowMenu"};
    const std::string bundleID = tile.bundleID;
    const std::string url = tile.url;
    tile.node->onAction = [this, bundleID, url](const std::string& action) {
      if (action != "AXPress") {
        return kAXErrorSuccess;  // the tile's menu opens; nothing else changes
      }
      std::vector<RunningApplication> launchedApps;
      AXError result = kAXErrorSuccess;
      {
        std::lock_guard lock(mutex_);
        result = pressTileLocked(bundleID, url, launchedApps);
      }
      for (const auto& app : launchedApps) {
        emitLaunched(app);
      }
      return result;
    };
  } else if (tile.kind != TileKind::separator) {
    tile.node->actions = {"AXPress", "AXShowMenu"};
    tile.node->onAction = [](const std::string&) { return kAXErrorSuccess; };
  }
}

AXError World::pressTileLocked(const std::string& bundleID, const std::string& url,
                               std::vector<RunningApplication>& launchedApps) {
  if (Process* running = runningLocked(bundleID)) {
    frontmostPid_ = running->pid;
    return kAXErrorSuccess;
  }
  if (bundles_.count(pathFromFileURL(url)) == 0) {
    return kAXErrorSuccess;  // the Dock shows a question mark; the press itself worked
  }
  launchLocked(bundleID, launchedApps);
  return kAXErrorSuccess;
}

void World::layoutDockLocked() {
  if (screens_.empty()) {
    return;
  }
  const Screen& main = screens_.front();
  const double height = main.frame.height();
  const double width = static_cast<double>(tiles_.size()) * kTileSize;
  double x = main.frame.minX() + (main.frame.width() - width) / 2;
  for (auto& tile : tiles_) {
    if (!tile.node) {
      continue;
    }
    tile.node->attributes["AXPosition"] = GlobalPoint{x, height - kTileSize - 4};
    tile.node->attributes["AXSize"] = Size{kTileSize, kTileSize};
    x += kTileSize;
  }
}

// ---------------------------------------------------------------------------------------
// Queries

std::vector<Screen> World::screens() const {
  std::lock_guard lock(mutex_);
  return screens_;
}

std::vector<Process> World::processes() const {
  std::lock_guard lock(mutex_);
  std::vector<Process> out;
  for (const auto& [pid, process] : processes_) {
    out.push_back(process);
  }
  std::sort(out.begin(), out.end(),
            [](const Process& a, const Process& b) { return a.launchOrder < b.launchOrder; });
  return out;
}

std::optional<Process> World::processByPid(int pid) const {
  std::lock_guard lock(mutex_);
  auto it = processes_.find(pid);
  if (it == processes_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<Process> World::runningProcess(const std::string& bundleID) const {
  std::lock_guard lock(mutex_);
  for (const auto& [pid, process] : processes_) {
    if (process.running && process.bundleID == bundleID) {
      return process;
    }
  }
  return std::nullopt;
}

std::optional<InstalledBundle> World::bundleAtPath(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = bundles_.find(path);
  if (it == bundles_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<InstalledBundle> World::bundleWithID(const std::string& bundleID) const {
  std::lock_guard lock(mutex_);
  for (const auto& [path, bundle] : bundles_) {
    if (bundle.bundleID == bundleID) {
      return bundle;
    }
  }
  return std::nullopt;
}

std::vector<DockTile> World::dockTiles() const {
  std::lock_guard lock(mutex_);
  return tiles_;
}

bool World::accessibilityTrusted() const {
  std::lock_guard lock(mutex_);
  return trusted_;
}

int World::dockPid() const {
  std::lock_guard lock(mutex_);
  return dockPid_;
}

int World::frontmostPid() const {
  std::lock_guard lock(mutex_);
  return frontmostPid_;
}

RunningApplication World::describe(const Process& process) const {
  RunningApplication app;
  app.pid = process.pid;
  if (!process.bundleID.empty()) {
    app.bundleIdentifier = process.bundleID;
  }
  app.localizedName = process.name;
  if (!process.bundlePath.empty()) {
    app.bundleURL = fileURL(process.bundlePath);
  }
  app.isActive = process.pid == frontmostPid_;
  app.isAccessory = process.accessory;
  return app;
}

// ---------------------------------------------------------------------------------------
// The accessibility interface

std::shared_ptr<Node> World::applicationNode(int pid) {
  std::lock_guard lock(mutex_);
  auto it = processes_.find(pid);
  if (it != processes_.end()) {
    return it->second.root;
  }
  // No such process: the element exists, but nobody answers for it.
  return std::make_shared<Node>(pid);
}

bool World::trustedWithPrompt(bool prompt) {
  std::lock_guard lock(mutex_);
  if (prompt && !trusted_) {
    ++counts_.trustPrompts;
  }
  return trusted_;
}

std::string World::processLabelLocked(int pid) const {
  auto it = processes_.find(pid);
  if (it == processes_.end()) {
    return "pid " + std::to_string(pid);
  }
  return it->second.bundleID.empty() ? it->second.name : it->second.bundleID;
}

void World::countLocked(int pid, std::string_view attribute, AXError result) {
  const std::string label = processLabelLocked(pid);
  ++counts_.total;
  ++counts_.reads[label][std::string(attribute)];
  if (result != kAXErrorSuccess) {
    ++counts_.errors[label][axErrorName(result)];
  }
}

AXError World::admitLocked(const Node& node, std::string_view /*what*/, Duration& cost) {
  cost = Duration::zero();
  if (!trusted_) {
    return kAXErrorAPIDisabled;
  }
  if (!node.valid) {
    return kAXErrorInvalidUIElement;
  }
  auto it = processes_.find(node.pid);
  if (it == processes_.end() || !it->second.running) {
    return kAXErrorCannotComplete;
  }
  const double timeout =
      node.messagingTimeout > 0 ? node.messagingTimeout : kDefaultMessagingTimeout;
  const Process& process = it->second;
  if (!process.responsive || process.latency > timeout) {
    cost = seconds(timeout);
    return kAXErrorCannotComplete;
  }
  cost = seconds(process.latency);
  return kAXErrorSuccess;
}

AXError World::setMessagingTimeout(const AXElement& element, double secondsValue) {
  auto* node = dynamic_cast<Node*>(element.node());
  if (node == nullptr || secondsValue < 0) {
    return kAXErrorIllegalArgument;
  }
  std::lock_guard lock(mutex_);
  node->messagingTimeout = secondsValue;
  return kAXErrorSuccess;
}

AXError World::copyAttribute(const AXElement& element, std::string_view name, AXValue& out) {
  auto* node = dynamic_cast<Node*>(element.node());
  if (node == nullptr) {
    return kAXErrorIllegalArgument;
  }
  Duration cost{};
  AXError result = kAXErrorSuccess;
  {
    std::lock_guard lock(mutex_);
    result = admitLocked(*node, name, cost);
    if (result == kAXErrorSuccess) {
      auto it = node->attributes.find(std::string(name));
      if (it == node->attributes.end()) {
        result = kAXErrorAttributeUnsupported;
      } else if (std::holds_alternative<std::monostate>(it->second.value)) {
        result = kAXErrorNoValue;
      } else {
        out = it->second;
      }
    }
    countLocked(node->pid, name, result);
  }
  spend(cost);
  return result;
}

AXError World::copyAttributes(const AXElement& element, const std::vector<std::string>& names,
                              std::vector<AXValue>& out) {
  auto* node = dynamic_cast<Node*>(element.node());
  if (node == nullptr) {
    return kAXErrorIllegalArgument;
  }
  Duration cost{};
  AXError result = kAXErrorSuccess;
  {
    std::lock_guard lock(mutex_);
    result = admitLocked(*node, "multiple", cost);
    if (result == kAXErrorSuccess) {
      out.clear();
      out.reserve(names.size());
      for (const auto& name : names) {
        auto it = node->attributes.find(name);
        if (it == node->attributes.end()) {
          out.emplace_back(AXErrorValue{kAXErrorAttributeUnsupported});
        } else if (std::holds_alternative<std::monostate>(it->second.value)) {
          out.emplace_back(AXErrorValue{kAXErrorNoValue});
        } else {
          out.push_back(it->second);
        }
        countLocked(node->pid, name, kAXErrorSuccess);
      }
    } else {
      for (const auto& name : names) {
        countLocked(node->pid, name, result);
      }
    }
  }
  spend(cost);
  return result;
}

AXError World::performAction(const AXElement& element, std::string_view action) {
  auto* node = dynamic_cast<Node*>(element.node());
  if (node == nullptr) {
    return kAXErrorIllegalArgument;
  }
  Duration cost{};
  AXError result = kAXErrorSuccess;
  std::function<AXError(const std::string&)> handler;
  PerformedAction record;
  {
    std::lock_guard lock(mutex_);
    result = admitLocked(*node, action, cost);
    if (result == kAXErrorSuccess) {
      const bool supported =
          std::find(node->actions.begin(), node->actions.end(), action) != node->actions.end();
      if (!supported || !node->onAction) {
        result = kAXErrorActionUnsupported;
      } else {
        handler = node->onAction;
      }
    }
    countLocked(node->pid, std::string("action:") + std::string(action), result);
    record.at = now();
    record.process = processLabelLocked(node->pid);
    if (auto it = node->attributes.find("AXRole"); it != node->attributes.end()) {
      record.role = it->second.asString().value_or("");
    }
    if (auto it = node->attributes.find("AXTitle"); it != node->attributes.end()) {
      record.title = it->second.asString().value_or("");
    }
    record.action = std::string(action);
  }
  if (handler) {
    result = handler(record.action);
  }
  record.result = result;
  {
    std::lock_guard lock(mutex_);
    actions_.push_back(record);
  }
  spend(cost);
  return result;
}

AXError World::pidOf(const AXElement& element, int& pid) {
  auto* node = dynamic_cast<Node*>(element.node());
  if (node == nullptr) {
    return kAXErrorIllegalArgument;
  }
  std::lock_guard lock(mutex_);
  if (!node->valid) {
    return kAXErrorInvalidUIElement;
  }
  pid = node->pid;
  return kAXErrorSuccess;
}

AXCallCounts World::callCounts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::vector<PerformedAction> World::performedActions() const {
  std::lock_guard lock(mutex_);
  return actions_;
}

void World::resetCallCounts() {
  std::lock_guard lock(mutex_);
  counts_ = {};
  actions_.clear();
}

}  // namespace lumarin::sim
