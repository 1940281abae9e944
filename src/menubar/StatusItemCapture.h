#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/Image.h"
#include "menubar/ExternalStatusItem.h"
#include "platform/Scheduler.h"
#include "platform/ScreenCapture.h"

namespace lumarin {

class IconCache;
class ProcessInfo;
class Screens;
class UserDefaults;
class Workspace;

// Turns scanned menu bar items into small images: per item window (`captureItems`) or cut
// from one screenshot of each display's menu bar strip (`captureFromMenuBar`). Captures run one
// at a time on the capture queue, starting at least 0.25 s apart (the gate is expressed
// through the scheduler, so virtual time drives it); completions are called on that queue.
// Every successful capture updates the icon cache. Create with std::make_shared.
class StatusItemCapture : public std::enable_shared_from_this<StatusItemCapture> {
 public:
  using Captures = std::map<std::string, Image>;
  using Completion = std::function<void(Captures)>;
  static constexpr double kMinimumInterval = 0.25;
  static constexpr double kContentReuse = 3.0;

  struct Dependencies {
    ScreenCapture& screenCapture;
    const Screens& screens;
    Scheduler& scheduler;
    UserDefaults& defaults;
    Workspace& workspace;
    const ProcessInfo& processInfo;
    IconCache& iconCache;
    std::filesystem::path applicationSupport;
  };

  explicit StatusItemCapture(Dependencies dependencies);

  void captureItems(std::vector<ExternalStatusItem> items, Completion completion);
  void captureFromMenuBar(std::vector<ExternalStatusItem> items,
                          std::function<bool(const ExternalStatusItem&)> isDrawn,
                          Completion completion);

  // Permission flow.
  void openSystemSettings();
  // The settings' and onboarding's "Allow": nothing when capture is allowed; the system's
  // request the first time in this process (noting when the flow started, for the relaunch
  // that follows a grant); System Settings every later time.
  void requestAccess();
  bool consumePendingPermissionRelaunch();

  // Window and band tests.
  static std::set<std::string> bandCropExclusions(
      const std::vector<std::pair<std::string, GlobalRect>>& items);
  static bool captureWindowFrameMatches(const GlobalRect& windowFrame, const GlobalRect& itemFrame);
  static bool windowMatches(const ShareableWindow& window, const ExternalStatusItem& item);
  static bool relatedBundleTitle(const std::string& title, const std::string& bundleID);
  static bool isValidCaptureBounds(const GlobalRect& rect, double scale);
  double displayScale(const GlobalRect& windowFrame) const;
  static std::string nearbyWindowSummary(const GlobalRect& item,
                                         const std::vector<ShareableWindow>& windows,
                                         std::size_t limit);
  static std::string describe(const GlobalRect& rect);

  // Diagnostics (written only with LUMARIN_DEBUG set); the latest status is also kept.
  bool debugLoggingEnabled() const;
  void appendDebug(const std::string& text);
  void writeStatus(const std::string& text);
  std::string lastStatus() const;
  std::vector<std::string> debugLines() const;

 private:
  using Release = std::function<void()>;
  using Run =
      std::function<void(StatusItemCapture&, const std::vector<ExternalStatusItem>&, Captures&)>;
  // Both pipelines: the empty and permission early-outs, then `run` under the gate.
  void start(std::vector<ExternalStatusItem> items, const char* deniedStatus, Run run,
             Completion completion);
  void acquireGate(std::function<void(Release)> body);
  void startNext();
  std::optional<ShareableContent> content(bool band, bool& fromCache);
  void runItems(const std::vector<ExternalStatusItem>& items, Captures& out);
  void runBand(const std::vector<ExternalStatusItem>& items,
               const std::function<bool(const ExternalStatusItem&)>& isDrawn, Captures& out);
  std::optional<Image> finish(const Image& raw, double scale, const ExternalStatusItem& item);
  std::string dateText() const;

  bool accessRequested_ = false;
  Dependencies deps_;
  std::shared_ptr<Queue> queue_;
  // Gate and cached content: capture queue only.
  bool inProgress_ = false;
  std::optional<Duration> lastStart_;
  std::deque<std::function<void(Release)>> waiting_;
  std::optional<std::pair<ShareableContent, Duration>> cachedContent_;
  mutable std::mutex diagnosticsMutex_;
  std::string lastStatus_;
  std::vector<std::string> debugLines_;
};

}  // namespace lumarin
