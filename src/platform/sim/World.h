#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Geometry.h"
#include "base/Properties.h"
#include "base/Signal.h"
#include "platform/Accessibility.h"
#include "platform/Scheduler.h"
#include "platform/StatusBar.h"
#include "platform/Workspace.h"

namespace lumarin::sim {

// One node of one process's accessibility tree. Attributes are a hash map, so a read is a
// lookup. A node that is removed (its tile left the Dock, its process quit or restarted) is
// marked invalid: every call on it then fails with kAXErrorInvalidUIElement.
class Node final : public AXElementNode {
 public:
  explicit Node(int ownerPid) : pid(ownerPid) {}

  const int pid;
  bool valid = true;
  double messagingTimeout = 0;  // seconds; 0 = the system default
  std::unordered_map<std::string, AXValue> attributes;
  std::vector<std::string> actions;
  // Runs a supported action; its result is what the caller gets back.
  std::function<AXError(const std::string& action)> onAction;
};

struct Screen {
  std::uint32_t displayID = 1;
  std::string name = "Built-in Retina Display";
  CocoaRect frame;         // the window system's convention
  CocoaRect visibleFrame;  // below the menu bar, above the Dock
  double backingScale = 2;
  double safeAreaTop = 0;                     // the notch's height; 0 without a notch
  std::optional<CocoaRect> auxiliaryTopLeft;  // the unobscured corners beside a notch
  std::optional<CocoaRect> auxiliaryTopRight;
};

// A menu bar item an application puts up while it runs (an NSStatusItem), or one of the
// system's items hosted by Control Center.
struct MenuExtraSpec {
  std::string title;
  std::string identifier;   // AXIdentifier, "com.apple.menuextra.wifi" for system items
  std::string description;  // AXDescription
  std::string windowName;   // the drawing window's name; empty: "Item-<n>" per process
  std::string glyph;        // icon-theme name of its picture; empty: drawn from the title
  std::string glyphColor;   // "#RRGGBB": a coloured glyph; empty: drawn in the bar's ink
  double width = 30;
  // Oddities some apps show: an accessibility frame off by some points from where the item
  // is drawn, an item seen only as a window, a window the window server reports off screen.
  double axOffsetX = 0;
  bool accessible = true;
  bool offscreen = false;
  bool operator==(const MenuExtraSpec&) const = default;
};

enum class MenuBarArrangement {
  perItemWindows,  // each item drawn by a layer-25 window of its own
  unifiedBar,      // the menu bar agent draws the strip; overflow behind a chevron
};

// One of the program's own status items as the menu bar hosts it: where the system keeps it
// (its preferred position, points from the screen's right edge), how wide it is, and what its
// button shows, already drawn at the first screen's scale.
struct HostedStatusItem {
  int id = 0;
  std::string autosaveName;
  std::optional<double> preferredPosition;
  double width = 0;  // the item's length in points; 0 keeps its place without showing
  bool visible = true;
  std::string windowTitle;
  LazyImage picture;  // the button's content, image and title, drawn when displayed
  std::vector<ButtonLayer> layers;
  std::uint64_t order = 0;  // creation order: without a position, newer items stand left
};

// A menu bar item as laid out now, in global top-left points.
struct PlacedMenuExtra {
  int pid = 0;
  std::string ownerBundleID;
  std::string ownerName;
  int index = 0;  // position in its process's extras
  MenuExtraSpec spec;
  bool system = false;  // hosted by Control Center
  GlobalRect frame;
  bool drawn = false;     // visible to the user
  bool overflow = false;  // behind the agent's chevron
  std::uint32_t windowID = 0;
  std::string windowName;
  int hostedItem = 0;  // the program's own item (HostedStatusItem::id), 0 for others' items
};

// A window of the simulated window server.
struct SimWindow {
  std::uint32_t id = 0;
  std::string name;
  int layer = 0;
  int ownerPID = 0;
  std::string ownerName;
  GlobalRect bounds;
  bool onscreen = true;
  bool drawsMenuBarItem = false;
};

// An application bundle on the simulated disk.
struct InstalledBundle {
  std::string path;  // "/System/Applications/Mail.app"
  std::string bundleID;
  std::string name;  // file name without ".app"
  std::map<std::string, std::string> info;
  std::string icon;                       // icon-theme name; empty for the generic application icon
  bool accessory = false;                 // LSUIElement: runs without a Dock icon
  std::vector<MenuExtraSpec> menuExtras;  // shown while it runs, right-most first
  double menusWidth = 280;                // its menus' width when it is frontmost
};

// A running process.
struct Process {
  int pid = 0;
  std::string bundleID;  // empty for processes without a bundle
  std::string name;      // localised name
  std::string bundlePath;
  bool running = true;
  bool accessory = false;
  bool responsive = true;  // an unresponsive process never answers: calls time out
  double latency = 0;      // seconds each accessibility call takes to answer
  std::shared_ptr<Node> root;
  std::uint64_t launchOrder = 0;
};

enum class TileKind { application, document, folder, url, minimizedWindow, separator, trash };
const char* tileSubrole(TileKind kind);

struct DockTile {
  TileKind kind = TileKind::application;
  std::string bundleID;  // application tiles
  std::string title;
  std::string url;  // "file:///System/Applications/Mail.app/"; empty for separators
  std::optional<std::string> badge;
  bool kept = true;  // kept in the Dock; a tile that is not leaves when its app quits
  std::shared_ptr<Node> node;
};

// Per-process and per-attribute counts of accessibility calls, for the report and benchmarks.
struct AXCallCounts {
  std::map<std::string, std::map<std::string, std::uint64_t>> reads;   // process → attribute
  std::map<std::string, std::map<std::string, std::uint64_t>> errors;  // process → error name
  std::uint64_t total = 0;
  std::uint64_t trustPrompts = 0;
};

// A menu that a menu bar item opened: an app's item menu, Control Center's module, or the
// overflow behind the chevron. `via` says how it was reached: "click" (a mouse click on the
// drawn item), "AXPress" or "AXShowMenu" (an accessibility action on the item's element).
struct OpenedMenu {
  double at = 0;
  std::string process;  // the owner's bundle identifier; "overflow" for the chevron
  std::string item;     // the item's title, description or identifier
  std::string via;
  bool right = false;
  unsigned modifiers = 0;
};

// What a point of the menu bar hits: one of the program's items, another process's item, the
// chevron, or nothing.
struct MenuBarHit {
  enum class Kind { nothing, hostedItem, item, chevron } kind = Kind::nothing;
  int hostedItem = 0;
  std::optional<PlacedMenuExtra> item;
};

struct PerformedAction {
  double at = 0;  // virtual seconds
  std::string process;
  std::string role;
  std::string title;
  std::string action;
  AXError result = kAXErrorSuccess;
};

// The simulated Mac's state: screens, bundles on disk, processes, the Dock and its
// accessibility tree, permissions. Mutated by scenario events on the main queue and read by
// the adapters from any thread: one lock guards it, never held across a time cost.
class World {
 public:
  static constexpr double kDefaultMessagingTimeout = 6.0;

  World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // How a call's time cost is paid: advances virtual time, or blocks for real.
  void setTimeSink(std::function<void(Duration)> sink) { timeSink_ = std::move(sink); }
  // The virtual or real clock, for time stamps in the report.
  void setClock(const Clock* clock) { clock_ = clock; }
  double now() const;

  // --- building and events (each is also a scenario event) ---
  void addScreen(Screen screen);
  void installBundle(InstalledBundle bundle);
  // Launches the bundle's application; returns its pid (the running one when it runs already).
  int launch(const std::string& bundleID);
  bool quit(const std::string& bundleID);
  bool activate(int pid);
  void addTile(DockTile tile, std::optional<std::size_t> index = std::nullopt);
  bool removeTile(const std::string& bundleIDOrTitle);
  bool renameTile(const std::string& bundleID, const std::string& title);
  bool setBadge(const std::string& bundleID, const std::optional<std::string>& label);
  void restartDock();
  void setAccessibilityTrusted(bool trusted);
  void setMenuBarArrangement(MenuBarArrangement arrangement);
  void setDarkMenuBar(bool dark);
  // The system's preferred languages ("de-DE" first): the menu bar's clock speaks the first.
  void setLanguages(std::vector<std::string> languages);
  std::vector<std::string> languages() const;
  void setReduceMotion(bool reduce);
  bool reduceMotion() const;
  void setScreenRecordingGranted(bool granted);
  // The user's answer when the program asks for screen recording (granted at once or not).
  void setScreenRecordingGrantOnRequest(bool grant);
  bool requestScreenRecording();
  // The next `count` screen captures fail.
  void failCaptures(int count);
  bool consumeCaptureFailure();
  // Pays a time cost as a call into the system would.
  void spendTime(Duration cost) { spend(cost); }
  // Replaces an app's menu bar items (a scenario event).
  bool setMenuExtras(const std::string& bundleID, const std::vector<MenuExtraSpec>& extras);
  bool setResponsive(const std::string& bundleID, bool responsive);
  bool setLatency(const std::string& bundleID, double seconds);

  // --- the program's own status items ---
  // The program's process as the window server knows it (the owner of its item windows).
  void setProgramProcess(int pid, const std::string& name);
  int programPid() const;
  int addHostedItem();
  void removeHostedItem(int id);
  // Changes an item; the menu bar is laid out again when its place or size may have changed.
  void updateHostedItem(int id, const std::function<void(HostedStatusItem&)>& change);
  std::optional<HostedStatusItem> hostedItem(int id) const;
  // Where an item stands now; absent when it is not in the menu bar.
  std::optional<PlacedMenuExtra> placedHostedItem(int id) const;

  // The drawn thing under a global point of the menu bar. Items the menu bar does not draw
  // (under the notch, behind the chevron) cannot be hit.
  MenuBarHit hitTest(GlobalPoint point) const;
  // Control Center's panel (a layer-101 window of Control Center's process hanging from the
  // top of the first screen, and an "AXWindows" entry of its application element). False
  // when Control Center does not run.
  bool setControlCenterOpen(bool open);
  bool controlCenterOpen() const;
  // An item of another process reacts to a click or an accessibility action: it opens its menu.
  void openItemMenu(const PlacedMenuExtra& item, const std::string& via, bool right,
                    unsigned modifiers);
  std::vector<OpenedMenu> openedMenus() const;

  // --- the program's own windows (panels), in front of every other window ---
  std::uint32_t addProgramWindow(const std::string& name, int layer);
  void removeProgramWindow(std::uint32_t id);
  // Frame in global points; ordered in (to the front) or out.
  void setProgramWindowFrame(std::uint32_t id, const GlobalRect& frame);
  void orderProgramWindow(std::uint32_t id, bool in);
  bool programWindowOrderedIn(std::uint32_t id) const;
  // The program's ordered-in window under a global point, the front-most; none when the point
  // lies outside all of them.
  std::optional<std::uint32_t> programWindowAt(GlobalPoint point) const;
  // The window keyboard input goes to; none when the program is not the key application.
  void setKeyWindow(std::optional<std::uint32_t> id);
  std::optional<std::uint32_t> keyWindow() const;
  // A full-screen window of another app covers the program's windows: they are neither
  // visible nor in the on-screen list (the HUD's on-screen check fails). A scenario's fault.
  void setProgramWindowsCovered(bool covered);
  bool programWindowsCovered() const;
  // Screen parameter changes (a display attached), delivered on the changing thread.
  [[nodiscard]] Subscription subscribeScreensChanged(std::function<void()> handler);

  // --- queries for the adapters ---
  std::vector<Screen> screens() const;
  std::vector<Process> processes() const;  // running ones, in launch order
  std::optional<Process> processByPid(int pid) const;
  std::optional<Process> runningProcess(const std::string& bundleID) const;
  std::optional<InstalledBundle> bundleAtPath(const std::string& path) const;
  std::optional<InstalledBundle> bundleWithID(const std::string& bundleID) const;
  std::vector<DockTile> dockTiles() const;
  bool accessibilityTrusted() const;
  int dockPid() const;
  int frontmostPid() const;
  MenuBarArrangement menuBarArrangement() const;
  CocoaPoint mouseLocation() const;
  void setMouseLocation(CocoaPoint p);
  bool darkMenuBar() const;
  bool screenRecordingGranted() const;
  int screenRecordingRequests() const;
  double menuBarHeight() const;  // of the first screen
  std::vector<PlacedMenuExtra> menuExtras() const;
  std::optional<GlobalRect> overflowChevron() const;
  std::optional<GlobalRect> notchRect() const;  // of the first screen, global points

  // --- the window server ---
  std::vector<SimWindow> windows() const;  // front to back
  std::vector<std::uint32_t> menuBarItemWindowIDs() const;
  std::optional<SimWindow> window(std::uint32_t id) const;

  // --- the accessibility interface ---
  std::shared_ptr<Node> applicationNode(int pid);
  bool trustedWithPrompt(bool prompt);
  AXError setMessagingTimeout(const AXElement& element, double seconds);
  AXError copyAttribute(const AXElement& element, std::string_view name, AXValue& out);
  AXError copyAttributes(const AXElement& element, const std::vector<std::string>& names,
                         std::vector<AXValue>& out);
  AXError performAction(const AXElement& element, std::string_view action);
  AXError pidOf(const AXElement& element, int& pid);

  AXCallCounts callCounts() const;
  std::vector<PerformedAction> performedActions() const;
  void resetCallCounts();

  // Launch and quit notifications, delivered on the thread that changed the world. Callable
  // from any thread.
  [[nodiscard]] Subscription subscribeLaunches(std::function<void(const RunningApplication&)> h);
  [[nodiscard]] Subscription subscribeTerminations(
      std::function<void(const RunningApplication&)> h);

  // Distributed notifications of the session (the system's, the program's, other apps'),
  // delivered on the posting thread. Callable from any thread.
  using NotificationInfo = Properties;
  void postNotification(const std::string& name, const NotificationInfo& userInfo);
  [[nodiscard]] Subscription subscribeNotifications(
      std::function<void(const std::string&, const NotificationInfo&)> h);

  static std::string fileURL(const std::string& path);
  static std::string pathFromFileURL(const std::string& url);
  RunningApplication describe(const Process& process) const;

 private:
  // Checks trust, validity and responsiveness; returns the result and the time the call costs.
  AXError admitLocked(const Node& node, std::string_view what, Duration& cost);
  void spend(Duration cost);
  std::string processLabelLocked(int pid) const;
  void countLocked(int pid, std::string_view attribute, AXError result);

  Process* runningLocked(const std::string& bundleID);
  std::shared_ptr<Node> makeProcessRootLocked(const Process& process);
  void buildDockLocked();
  void refreshDockListLocked();
  void refreshTileLocked(DockTile& tile);
  void layoutDockLocked();
  void relayoutMenuBarLocked();
  std::vector<PlacedMenuExtra> mergeHostedItemsLocked(std::vector<PlacedMenuExtra> others);
  void buildExtrasTreeLocked(const std::vector<PlacedMenuExtra>& placed);
  std::shared_ptr<Node> extraNodeLocked(int pid, int index);
  std::uint32_t windowIDLocked(int pid, int index);
  AXError pressTileLocked(const std::string& bundleID, const std::string& url,
                          std::vector<RunningApplication>& launchedApps);
  int launchLocked(const std::string& bundleID, std::vector<RunningApplication>& launchedApps);

  void emitLaunched(const RunningApplication& app);
  void emitTerminated(const RunningApplication& app);

  mutable std::mutex mutex_;
  std::recursive_mutex signalMutex_;
  Signal<RunningApplication> launched_;
  Signal<RunningApplication> terminated_;
  Signal<std::string, NotificationInfo> notified_;
  std::function<void(Duration)> timeSink_;
  const Clock* clock_ = nullptr;
  std::vector<Screen> screens_;
  std::map<std::string, InstalledBundle> bundles_;  // by path
  std::map<int, Process> processes_;
  std::vector<DockTile> tiles_;
  std::shared_ptr<Node> dockList_;
  int dockPid_ = 0;
  int frontmostPid_ = 0;
  int nextPid_ = 300;
  std::uint64_t nextLaunchOrder_ = 0;
  bool trusted_ = true;
  MenuBarArrangement arrangement_ = MenuBarArrangement::perItemWindows;
  bool darkMenuBar_ = false;
  std::vector<std::string> languages_;
  bool reduceMotion_ = false;
  CocoaPoint mouse_{400, 400};
  bool screenRecording_ = true;
  bool grantScreenRecordingOnRequest_ = false;
  int screenRecordingRequests_ = 0;
  int captureFailures_ = 0;
  std::vector<PlacedMenuExtra> placed_;
  std::optional<GlobalRect> chevron_;
  std::vector<SimWindow> windows_;
  std::vector<SimWindow> programWindows_;  // front to back; `onscreen` is "ordered in"
  std::optional<std::uint32_t> keyWindow_;
  bool programWindowsCovered_ = false;
  Signal<> screensChanged_;
  std::map<std::pair<int, int>, std::shared_ptr<Node>> extraNodes_;
  std::map<std::pair<int, int>, std::uint32_t> extraWindowIDs_;
  std::map<int, std::shared_ptr<Node>> extrasBars_;
  std::uint32_t nextWindowID_ = 100;
  int programPid_ = 0;
  std::string programName_ = "Lumarin";
  std::map<int, HostedStatusItem> hostedItems_;
  int nextHostedItem_ = 1;
  std::uint64_t nextHostedOrder_ = 0;
  AXCallCounts counts_;
  std::vector<PerformedAction> actions_;
  std::vector<OpenedMenu> openedMenus_;
  bool controlCenterOpen_ = false;
};

}  // namespace lumarin::sim
