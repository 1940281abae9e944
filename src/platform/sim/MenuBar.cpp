// The simulated Mac's menu bar: where status items stand, which are drawn, the windows that
// draw them and the accessibility elements that describe them, in both arrangements macOS
// has had (per-item windows, and the menu bar agent's unified strip with an overflow chevron).

#include <algorithm>

#include "platform/sim/World.h"

namespace lumarin::sim {

namespace {

constexpr const char* kControlCenter = "com.apple.controlcenter";
constexpr const char* kMenuBarAgent = "com.apple.MenuBarAgent";
constexpr double kRightMargin = 8;
constexpr double kLeftMargin = 10;
constexpr double kChevronWidth = 20;

}  // namespace

void World::setMenuBarArrangement(MenuBarArrangement arrangement) {
  std::vector<RunningApplication> launchedApps;
  std::optional<RunningApplication> quitApp;
  {
    std::lock_guard lock(mutex_);
    arrangement_ = arrangement;
    const std::string path = "/System/Library/CoreServices/MenuBarAgent.app";
    if (bundles_.count(path) == 0) {
      InstalledBundle agent;
      agent.path = path;
      agent.bundleID = kMenuBarAgent;
      agent.name = "MenuBarAgent";
      agent.accessory = true;
      bundles_[path] = agent;
    }
    Process* agent = runningLocked(kMenuBarAgent);
    if (arrangement == MenuBarArrangement::unifiedBar && agent == nullptr) {
      launchLocked(kMenuBarAgent, launchedApps);
    } else if (arrangement == MenuBarArrangement::perItemWindows && agent != nullptr) {
      agent->root->valid = false;
      quitApp = describe(*agent);
      processes_.erase(agent->pid);
    }
    relayoutMenuBarLocked();
  }
  for (const auto& app : launchedApps) {
    emitLaunched(app);
  }
  if (quitApp) {
    emitTerminated(*quitApp);
  }
}

void World::setDarkMenuBar(bool dark) {
  std::lock_guard lock(mutex_);
  darkMenuBar_ = dark;
}

void World::setReduceMotion(bool reduce) {
  std::lock_guard lock(mutex_);
  reduceMotion_ = reduce;
}

bool World::reduceMotion() const {
  std::lock_guard lock(mutex_);
  return reduceMotion_;
}

void World::setScreenRecordingGranted(bool granted) {
  std::lock_guard lock(mutex_);
  screenRecording_ = granted;
}

void World::setScreenRecordingGrantOnRequest(bool grant) {
  std::lock_guard lock(mutex_);
  grantScreenRecordingOnRequest_ = grant;
}

bool World::requestScreenRecording() {
  std::lock_guard lock(mutex_);
  ++screenRecordingRequests_;
  if (grantScreenRecordingOnRequest_) {
    screenRecording_ = true;
  }
  return screenRecording_;
}

int World::screenRecordingRequests() const {
  std::lock_guard lock(mutex_);
  return screenRecordingRequests_;
}

void World::failCaptures(int count) {
  std::lock_guard lock(mutex_);
  captureFailures_ = std::max(0, count);
}

bool World::consumeCaptureFailure() {
  std::lock_guard lock(mutex_);
  if (captureFailures_ > 0) {
    --captureFailures_;
    return true;
  }
  return false;
}

bool World::setMenuExtras(const std::string& bundleID, const std::vector<MenuExtraSpec>& extras) {
  std::lock_guard lock(mutex_);
  bool found = false;
  for (auto& [path, bundle] : bundles_) {
    if (bundle.bundleID == bundleID) {
      bundle.menuExtras = extras;
      found = true;
    }
  }
  if (found) {
    relayoutMenuBarLocked();
  }
  return found;
}

MenuBarArrangement World::menuBarArrangement() const {
  std::lock_guard lock(mutex_);
  return arrangement_;
}

CocoaPoint World::mouseLocation() const {
  std::lock_guard lock(mutex_);
  return mouse_;
}

void World::setMouseLocation(CocoaPoint p) {
  std::lock_guard lock(mutex_);
  mouse_ = p;
}

bool World::darkMenuBar() const {
  std::lock_guard lock(mutex_);
  return darkMenuBar_;
}

void World::setLanguages(std::vector<std::string> languages) {
  std::lock_guard lock(mutex_);
  languages_ = std::move(languages);
}

std::vector<std::string> World::languages() const {
  std::lock_guard lock(mutex_);
  return languages_;
}

bool World::screenRecordingGranted() const {
  std::lock_guard lock(mutex_);
  return screenRecording_;
}

double World::menuBarHeight() const {
  std::lock_guard lock(mutex_);
  if (screens_.empty()) {
    return 24;
  }
  return screens_.front().safeAreaTop > 0 ? 37 : 24;
}

std::vector<PlacedMenuExtra> World::menuExtras() const {
  std::lock_guard lock(mutex_);
  return placed_;
}

std::optional<GlobalRect> World::overflowChevron() const {
  std::lock_guard lock(mutex_);
  return chevron_;
}

std::optional<GlobalRect> World::notchRect() const {
  std::lock_guard lock(mutex_);
  if (screens_.empty()) {
    return std::nullopt;
  }
  const Screen& s = screens_.front();
  if (!s.auxiliaryTopLeft || !s.auxiliaryTopRight) {
    return std::nullopt;
  }
  return GlobalRect(s.auxiliaryTopLeft->maxX(), 0,
                    s.auxiliaryTopRight->minX() - s.auxiliaryTopLeft->maxX(), s.safeAreaTop);
}

std::vector<SimWindow> World::windows() const {
  std::lock_guard lock(mutex_);
  std::vector<SimWindow> out;
  for (const auto& w : programWindows_) {
    out.push_back(w);
    out.back().onscreen = w.onscreen && !programWindowsCovered_;
  }
  out.insert(out.end(), windows_.begin(), windows_.end());
  if (!screenRecording_) {
    // Without screen recording the window server keeps other processes' window names.
    for (auto& w : out) {
      if (w.ownerPID != programPid_ || programPid_ == 0) {
        w.name.clear();
      }
    }
  }
  return out;
}

std::vector<std::uint32_t> World::menuBarItemWindowIDs() const {
  std::lock_guard lock(mutex_);
  std::vector<std::uint32_t> ids;
  for (const auto& w : windows_) {
    if (w.drawsMenuBarItem) {
      ids.push_back(w.id);
    }
  }
  return ids;
}

std::optional<SimWindow> World::window(std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  for (const auto& w : programWindows_) {
    if (w.id == id) {
      SimWindow copy = w;
      copy.onscreen = w.onscreen && !programWindowsCovered_;
      return copy;
    }
  }
  for (const auto& w : windows_) {
    if (w.id == id) {
      SimWindow copy = w;
      if (!screenRecording_ && (w.ownerPID != programPid_ || programPid_ == 0)) {
        copy.name.clear();
      }
      return copy;
    }
  }
  return std::nullopt;
}

std::shared_ptr<Node> World::extraNodeLocked(int pid, int index) {
  auto& node = extraNodes_[{pid, index}];
  if (!node || !node->valid) {
    node = std::make_shared<Node>(pid);
  }
  return node;
}

std::uint32_t World::windowIDLocked(int pid, int index) {
  auto [it, inserted] = extraWindowIDs_.try_emplace({pid, index}, 0);
  if (inserted) {
    it->second = nextWindowID_++;
  }
  return it->second;
}

void World::relayoutMenuBarLocked() {
  // Forget the items of processes that are gone: their elements go stale.
  for (auto it = extraNodes_.begin(); it != extraNodes_.end();) {
    if (processes_.count(it->first.first) == 0) {
      it->second->valid = false;
      it = extraNodes_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = extrasBars_.begin(); it != extrasBars_.end();) {
    if (processes_.count(it->first) == 0) {
      it->second->valid = false;
      it = extrasBars_.erase(it);
    } else {
      ++it;
    }
  }
  placed_.clear();
  chevron_.reset();
  windows_.clear();
  if (screens_.empty()) {
    return;
  }
  const Screen& main = screens_.front();
  const double barHeight = main.safeAreaTop > 0 ? 37 : 24;
  const double screenMinX = main.frame.minX();
  const double screenMaxX = main.frame.maxX();

  // What stands where, right to left: Control Center's items, then every app's items in the
  // order the apps launched (a newer app's items appear to the left of older ones).
  std::vector<PlacedMenuExtra> order;
  std::vector<const Process*> running;
  for (const auto& [pid, process] : processes_) {
    running.push_back(&process);
  }
  std::sort(running.begin(), running.end(),
            [](const Process* a, const Process* b) { return a->launchOrder < b->launchOrder; });
  auto bundleOf = [this](const Process& p) -> const InstalledBundle* {
    auto it = bundles_.find(p.bundlePath);
    return it == bundles_.end() ? nullptr : &it->second;
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (const Process* p : running) {
      const bool system = p->bundleID == kControlCenter;
      if ((pass == 0) != system) {
        continue;
      }
      const InstalledBundle* bundle = bundleOf(*p);
      if (bundle == nullptr) {
        continue;
      }
      for (std::size_t i = 0; i < bundle->menuExtras.size(); ++i) {
        PlacedMenuExtra extra;
        extra.pid = p->pid;
        extra.ownerBundleID = p->bundleID;
        extra.ownerName = p->name;
        extra.index = static_cast<int>(i);
        extra.spec = bundle->menuExtras[i];
        extra.system = system;
        order.push_back(extra);
      }
    }
  }

  order = mergeHostedItemsLocked(std::move(order));

  double leftLimit = screenMinX + kLeftMargin;
  if (auto front = processes_.find(frontmostPid_); front != processes_.end()) {
    if (const InstalledBundle* b = bundleOf(front->second)) {
      leftLimit += b->menusWidth;
    }
  }
  const bool notched = main.auxiliaryTopLeft && main.auxiliaryTopRight;
  const double notchRight = notched ? main.auxiliaryTopRight->minX() : screenMaxX;

  double cursor = screenMaxX - kRightMargin;
  if (arrangement_ == MenuBarArrangement::perItemWindows) {
    // Items simply take the next place to the left. Beside a notch nothing is drawn from its
    // right edge on leftwards: items there stand under the camera housing or beyond it.
    for (auto& extra : order) {
      const double w = extra.spec.width;
      extra.frame = GlobalRect(cursor - w, 0, w, barHeight);
      cursor -= w;
      const bool pastNotch = notched && extra.frame.minX() < notchRight;
      extra.drawn = !pastNotch && extra.frame.minX() >= leftLimit && w > 0;
    }
  } else {
    // The agent keeps the strip right of the notch (or of the menus) and moves what does not
    // fit behind a chevron at its left end.
    const double visibleLeft = notched ? notchRight : leftLimit;
    double total = 0;
    for (const auto& extra : order) {
      total += extra.spec.width;
    }
    const bool overflows = total > cursor - visibleLeft;
    std::size_t i = 0;
    for (; i < order.size(); ++i) {
      const double w = order[i].spec.width;
      const double reserve = overflows ? kChevronWidth : 0;
      if (cursor - w < visibleLeft + reserve) {
        break;
      }
      order[i].frame = GlobalRect(cursor - w, 0, w, barHeight);
      order[i].drawn = w > 0;
      cursor -= w;
    }
    if (i < order.size()) {
      chevron_ = GlobalRect(cursor - kChevronWidth, 0, kChevronWidth, barHeight);
      cursor -= kChevronWidth;
      for (; i < order.size(); ++i) {
        const double w = order[i].spec.width;
        order[i].frame = GlobalRect(cursor - w, 0, w, barHeight);
        order[i].overflow = true;
        order[i].drawn = false;
        cursor -= w;
      }
    }
  }

  // The window server's view.
  for (std::size_t i = 0; i < screens_.size(); ++i) {
    const Screen& s = screens_[i];
    SimWindow bar;
    bar.id = static_cast<std::uint32_t>(10 + i);
    bar.name = "Menubar";
    bar.layer = 24;
    bar.ownerName = "Window Server";
    const double firstMaxY = screens_.front().frame.maxY();
    bar.bounds = GlobalRect(s.frame.minX(), firstMaxY - s.frame.maxY(), s.frame.width(), barHeight);
    windows_.push_back(bar);
  }
  std::map<int, int> itemCounters;
  for (auto& extra : order) {
    const int windowOwner = extra.pid;
    const int n = itemCounters[extra.pid]++;
    extra.windowName = !extra.spec.windowName.empty() ? extra.spec.windowName
                       : extra.hostedItem != 0        ? std::string()
                                                      : "Item-" + std::to_string(n);
    if (arrangement_ == MenuBarArrangement::unifiedBar && extra.system) {
      extra.windowID = 0;  // the agent draws Control Center's items itself
      continue;
    }
    SimWindow w;
    w.id = windowIDLocked(extra.pid, extra.index);
    w.name = extra.windowName;
    w.layer = 25;
    w.ownerPID = windowOwner;
    w.ownerName = extra.ownerName;
    w.bounds = arrangement_ == MenuBarArrangement::unifiedBar
                   ? GlobalRect(extra.frame.minX(), 0, 1, barHeight)
                   : extra.frame;
    w.drawsMenuBarItem = true;
    w.onscreen = !extra.spec.offscreen;
    extra.windowID = w.id;
    windows_.push_back(w);
  }
  if (Process* cc = runningLocked(kControlCenter); cc != nullptr) {
    AXValue::Array axWindows;
    if (controlCenterOpen_) {
      // The panel hangs from the top of the screen, right-aligned under its icon.
      SimWindow panel;
      panel.id = 95;
      panel.layer = 101;
      panel.ownerPID = cc->pid;
      panel.ownerName = cc->name;
      panel.bounds = GlobalRect(screenMaxX - 8 - 344, 0, 344, 620);
      windows_.push_back(panel);
      auto node = std::make_shared<Node>(cc->pid);
      node->attributes["AXRole"] = "AXWindow";
      node->attributes["AXTitle"] = "Control Center";
      axWindows.emplace_back(AXElement(node));
    }
    cc->root->attributes["AXWindows"] = std::move(axWindows);
  }
  if (dockPid_ != 0) {
    SimWindow dock;
    dock.id = 90;
    dock.name = "Dock";
    dock.layer = 20;
    dock.ownerPID = dockPid_;
    dock.ownerName = "Dock";
    dock.bounds = GlobalRect(main.frame.minX(), main.frame.height() - 70, main.frame.width(), 70);
    windows_.push_back(dock);
  }
  placed_ = order;
  buildExtrasTreeLocked(placed_);
}

std::vector<PlacedMenuExtra> World::mergeHostedItemsLocked(std::vector<PlacedMenuExtra> others) {
  if (hostedItems_.empty()) {
    return others;
  }
  // The program's items stand where their preferred positions (points from the screen's right
  // edge) put them among the others; items without one go to the left end, newest leftmost.
  std::vector<const HostedStatusItem*> hosted;
  for (const auto& [id, item] : hostedItems_) {
    if (item.visible) {
      hosted.push_back(&item);
    }
  }
  std::stable_sort(hosted.begin(), hosted.end(), [](const auto* a, const auto* b) {
    if (a->preferredPosition.has_value() != b->preferredPosition.has_value()) {
      return a->preferredPosition.has_value();
    }
    if (a->preferredPosition && *a->preferredPosition != *b->preferredPosition) {
      return *a->preferredPosition < *b->preferredPosition;
    }
    return a->order < b->order;
  });
  auto place = [this](const HostedStatusItem& item) {
    PlacedMenuExtra extra;
    extra.pid = programPid_;
    extra.ownerName = programName_;
    extra.index = item.id;
    extra.hostedItem = item.id;
    extra.spec.width = item.width;
    extra.spec.windowName = item.windowTitle;
    return extra;
  };
  std::vector<PlacedMenuExtra> merged;
  merged.reserve(others.size() + hosted.size());
  std::size_t next = 0;
  double fromRight = kRightMargin;
  for (auto& other : others) {
    while (next < hosted.size() && hosted[next]->preferredPosition &&
           *hosted[next]->preferredPosition <= fromRight) {
      fromRight += hosted[next]->width;
      merged.push_back(place(*hosted[next++]));
    }
    fromRight += other.spec.width;
    merged.push_back(std::move(other));
  }
  for (; next < hosted.size(); ++next) {
    merged.push_back(place(*hosted[next]));
  }
  return merged;
}

bool World::setControlCenterOpen(bool open) {
  std::lock_guard lock(mutex_);
  if (runningLocked(kControlCenter) == nullptr) {
    return false;
  }
  if (controlCenterOpen_ != open) {
    controlCenterOpen_ = open;
    relayoutMenuBarLocked();
  }
  return true;
}

bool World::controlCenterOpen() const {
  std::lock_guard lock(mutex_);
  return controlCenterOpen_;
}

MenuBarHit World::hitTest(GlobalPoint point) const {
  std::lock_guard lock(mutex_);
  MenuBarHit hit;
  if (chevron_ && chevron_->contains(point)) {
    hit.kind = MenuBarHit::Kind::chevron;
    return hit;
  }
  for (const auto& extra : placed_) {
    if (extra.drawn && extra.frame.contains(point)) {
      if (extra.hostedItem != 0) {
        hit.kind = MenuBarHit::Kind::hostedItem;
        hit.hostedItem = extra.hostedItem;
      } else {
        hit.kind = MenuBarHit::Kind::item;
        hit.item = extra;
      }
      return hit;
    }
  }
  return hit;
}

void World::openItemMenu(const PlacedMenuExtra& item, const std::string& via, bool right,
                         unsigned modifiers) {
  std::lock_guard lock(mutex_);
  if (item.spec.identifier == "com.apple.menuextra.controlcenter" && !right) {
    // Control Center's icon opens (or closes) its panel rather than a menu.
    controlCenterOpen_ = !controlCenterOpen_;
    relayoutMenuBarLocked();
  }
  OpenedMenu menu;
  menu.at = now();
  menu.process = item.ownerBundleID;
  menu.item = !item.spec.title.empty()         ? item.spec.title
              : !item.spec.description.empty() ? item.spec.description
                                               : item.spec.identifier;
  menu.via = via;
  menu.right = right;
  menu.modifiers = modifiers;
  openedMenus_.push_back(menu);
}

std::vector<OpenedMenu> World::openedMenus() const {
  std::lock_guard lock(mutex_);
  return openedMenus_;
}

void World::setProgramProcess(int pid, const std::string& name) {
  std::lock_guard lock(mutex_);
  programPid_ = pid;
  programName_ = name;
  relayoutMenuBarLocked();
}

int World::programPid() const {
  std::lock_guard lock(mutex_);
  return programPid_;
}

int World::addHostedItem() {
  std::lock_guard lock(mutex_);
  HostedStatusItem item;
  item.id = nextHostedItem_++;
  item.order = nextHostedOrder_++;
  hostedItems_[item.id] = item;
  relayoutMenuBarLocked();
  return item.id;
}

void World::removeHostedItem(int id) {
  std::lock_guard lock(mutex_);
  if (hostedItems_.erase(id) != 0) {
    extraWindowIDs_.erase({programPid_, id});
    relayoutMenuBarLocked();
  }
}

void World::updateHostedItem(int id, const std::function<void(HostedStatusItem&)>& change) {
  std::lock_guard lock(mutex_);
  auto it = hostedItems_.find(id);
  if (it == hostedItems_.end()) {
    return;
  }
  const HostedStatusItem before = it->second;
  change(it->second);
  const HostedStatusItem& after = it->second;
  if (before.width != after.width || before.visible != after.visible ||
      before.preferredPosition != after.preferredPosition ||
      before.windowTitle != after.windowTitle) {
    relayoutMenuBarLocked();
  }
}

std::optional<HostedStatusItem> World::hostedItem(int id) const {
  std::lock_guard lock(mutex_);
  auto it = hostedItems_.find(id);
  if (it == hostedItems_.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<PlacedMenuExtra> World::placedHostedItem(int id) const {
  std::lock_guard lock(mutex_);
  for (const auto& extra : placed_) {
    if (extra.hostedItem == id) {
      return extra;
    }
  }
  return std::nullopt;
}

void World::buildExtrasTreeLocked(const std::vector<PlacedMenuExtra>& placed) {
  // Each process's "AXExtrasMenuBar" and its items.
  std::map<int, AXValue::Array> childrenByPid;
  std::map<std::pair<int, int>, std::shared_ptr<Node>> itemNodes;
  for (const auto& extra : placed) {
    if (extra.hostedItem != 0) {
      continue;  // the program does not read its own items through accessibility
    }
    if (!extra.spec.accessible) {
      childrenByPid[extra.pid];  // the bar exists, without this item
      continue;
    }
    auto node = extraNodeLocked(extra.pid, extra.index);
    auto& a = node->attributes;
    a["AXRole"] = "AXMenuBarItem";
    a["AXSubrole"] = "AXMenuExtra";
    a["AXTitle"] = extra.spec.title.empty() ? AXValue() : AXValue(extra.spec.title);
    a["AXDescription"] =
        extra.spec.description.empty() ? AXValue() : AXValue(extra.spec.description);
    a["AXIdentifier"] = extra.spec.identifier.empty() ? AXValue() : AXValue(extra.spec.identifier);
    a["AXPosition"] = GlobalPoint{extra.frame.minX() + extra.spec.axOffsetX, extra.frame.minY()};
    a["AXSize"] = extra.frame.size;
    a["AXEnabled"] = true;
    node->actions = {"AXPress", "AXShowMenu"};
    // Pressing an item, or asking for its menu, opens the item's menu wherever it stands, also
    // under the notch or behind the chevron.
    node->onAction = [this, extra](const std::string& action) {
      openItemMenu(extra, action, action == "AXShowMenu", 0);
      return kAXErrorSuccess;
    };
    childrenByPid[extra.pid].emplace_back(AXElement(node));
    itemNodes[{extra.pid, extra.index}] = node;
  }
  for (auto& [pid, process] : processes_) {
    auto children = childrenByPid.find(pid);
    if (children == childrenByPid.end()) {
      process.root->attributes.erase("AXExtrasMenuBar");
      continue;
    }
    auto& bar = extrasBars_[pid];
    if (!bar) {
      bar = std::make_shared<Node>(pid);
      bar->attributes["AXRole"] = "AXMenuBar";
    }
    bar->attributes["AXChildren"] = children->second;
    process.root->attributes["AXExtrasMenuBar"] = AXElement(bar);
  }

  // The menu bar agent: one window per display with its slots, and Control Center's items as
  // groups wrapping buttons, with the chevron both as a child and as "AXOverflowButton".
  Process* agent = runningLocked(kMenuBarAgent);
  if (agent == nullptr) {
    return;
  }
  AXValue::Array windows;
  const double firstMaxY = screens_.front().frame.maxY();
  for (std::size_t s = 0; s < screens_.size(); ++s) {
    const Screen& screen = screens_[s];
    auto window = std::make_shared<Node>(agent->pid);
    const double barHeight = screen.safeAreaTop > 0 ? 37 : 24;
    window->attributes["AXRole"] = "AXWindow";
    window->attributes["AXPosition"] =
        GlobalPoint{screen.frame.minX(), firstMaxY - screen.frame.maxY()};
    window->attributes["AXSize"] = Size{screen.frame.width(), barHeight};
    AXValue::Array slots;
    if (s == 0) {
      auto addSlot = [&](const GlobalRect& frame, bool chevron, int ownerPid) {
        auto slot = std::make_shared<Node>(agent->pid);
        slot->attributes["AXRole"] = chevron ? "AXButton" : "AXMenuBarItem";
        slot->attributes["AXPosition"] = frame.origin;
        slot->attributes["AXSize"] = frame.size;
        auto app = std::make_shared<Node>(ownerPid);
        app->attributes["AXRole"] = "AXApplication";
        slot->attributes["AXChildren"] = AXValue::Array{AXElement(app)};
        slots.emplace_back(AXElement(slot));
      };
      for (const auto& extra : placed) {
        addSlot(extra.frame, false, extra.pid);
      }
      if (chevron_) {
        addSlot(*chevron_, true, agent->pid);
      }
    }
    window->attributes["AXChildren"] = std::move(slots);
    windows.emplace_back(AXElement(window));
  }
  agent->root->attributes["AXChildren"] = std::move(windows);

  auto& agentBar = extrasBars_[agent->pid];
  if (!agentBar) {
    agentBar = std::make_shared<Node>(agent->pid);
    agentBar->attributes["AXRole"] = "AXMenuBar";
  }
  AXValue::Array extras;
  for (const auto& extra : placed) {
    if (!extra.system) {
      continue;
    }
    auto group = std::make_shared<Node>(agent->pid);
    group->attributes["AXRole"] = "AXGroup";
    group->attributes["AXPosition"] = extra.frame.origin;
    group->attributes["AXSize"] = extra.frame.size;
    auto inner = std::make_shared<Node>(agent->pid);
    if (auto it = itemNodes.find({extra.pid, extra.index}); it != itemNodes.end()) {
      inner->attributes = it->second->attributes;
    }
    inner->actions = {"AXPress", "AXShowMenu"};
    inner->onAction = [this, extra](const std::string& action) {
      openItemMenu(extra, action, action == "AXShowMenu", 0);
      return kAXErrorSuccess;
    };
    if (extra.spec.identifier == "com.apple.menuextra.clock") {
      // The clock's inner button reports no width; its group carries the frame.
      inner->attributes["AXSize"] = Size{0, extra.frame.height()};
    }
    group->attributes["AXChildren"] = AXValue::Array{AXElement(inner)};
    extras.emplace_back(AXElement(group));
  }
  if (chevron_) {
    auto button = std::make_shared<Node>(agent->pid);
    button->attributes["AXRole"] = "AXButton";
    button->attributes["AXPosition"] = chevron_->origin;
    button->attributes["AXSize"] = chevron_->size;
    button->actions = {"AXPress"};
    button->onAction = [this](const std::string& action) {
      PlacedMenuExtra overflow;
      overflow.ownerBundleID = "overflow";
      openItemMenu(overflow, action, false, 0);
      return kAXErrorSuccess;
    };
    extras.emplace_back(AXElement(button));
    agentBar->attributes["AXOverflowButton"] = AXElement(button);
  } else {
    agentBar->attributes.erase("AXOverflowButton");
  }
  agentBar->attributes["AXChildren"] = std::move(extras);
  agent->root->attributes["AXExtrasMenuBar"] = AXElement(agentBar);
}

}  // namespace lumarin::sim
