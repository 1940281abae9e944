#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "menubar/ExternalStatusItem.h"

namespace lumarin {

class Accessibility;
class DebugLog;
class SkyLight;
class UserDefaults;
class WindowServer;
class Workspace;

// Lists every menu bar item of other processes and of the system, in three passes: the
// applications' "AXExtrasMenuBar" children (0.1 s timeout each), then windows named after a
// running app's bundle identifier, then the system's item windows. Sorted by name.
// `scan()` may run on any thread (it messages every app: callers use a background queue); the
// statistics counter and the last logged snapshot each have their own lock.
class StatusItemScanner {
 public:
  static constexpr double kMessagingTimeout = 0.1;
  using StatisticsHook =
      std::function<void(const std::string& event, int items, int unidentified, int ms)>;

  struct Dependencies {
    Accessibility& accessibility;
    Workspace& workspace;
    SkyLight& skyLight;
    WindowServer& windowServer;
    UserDefaults& defaults;
    const DebugLog& debugLog;
    int ownPid = 0;
  };

  explicit StatusItemScanner(Dependencies dependencies) : deps_(dependencies) {}
  StatusItemScanner(const StatusItemScanner&) = delete;
  StatusItemScanner& operator=(const StatusItemScanner&) = delete;

  std::vector<ExternalStatusItem> scan();

  // The identity text: the window's name, else the element's AXIdentifier, AXTitle,
  // AXDescription: the first that, trimmed, is non-empty and not the owner's bundle id;
  // else "Item-<index>".
  std::string stableIdentityTitle(const AXElement& element,
                                  const std::optional<std::string>& windowTitle,
                                  const std::optional<std::string>& bundleID, int fallbackIndex);
  static std::optional<std::string> systemItemDisplayName(const std::string& windowName);
  static std::string splitCamelCase(const std::string& name);
  std::optional<int> runningPID(const std::vector<std::string>& bundleIDs) const;

  // Records "scan.result" on every tenth call.
  void reportScanResult(int items, int unidentified, int ms);
  void setStatisticsHook(StatisticsHook hook) { statistics_ = std::move(hook); }
  // Tester mode: the scan as one "scan: " line, written when it changed.
  void logScanSnapshot(const std::vector<ExternalStatusItem>& items);

  // Sorts as the scan does: exact equal names by index, else locale-aware and case-insensitive.
  static void sortItems(std::vector<ExternalStatusItem>& items);

 private:
  std::optional<std::string> stringValue(const AXElement& element, const char* attribute);

  Dependencies deps_;
  StatisticsHook statistics_;
  std::mutex reportLock_;
  int reportCounter_ = 0;
  std::mutex snapshotLock_;
  std::string lastSnapshot_;
  bool snapshotLogged_ = false;
};

}  // namespace lumarin
