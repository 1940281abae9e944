#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/Image.h"
#include "base/Signal.h"

namespace lumarin {

// One running application as the workspace lists it.
struct RunningApplication {
  int pid = 0;
  std::optional<std::string> bundleIdentifier;
  std::string localizedName;
  std::optional<std::string> bundleURL;  // "file:///Applications/Mail.app/"
  bool isActive = false;                 // frontmost
  bool isAccessory = false;              // no Dock icon
  bool operator==(const RunningApplication&) const = default;
};

// What a bundle on disk says about itself.
struct BundleDescription {
  std::string bundleIdentifier;
  std::string name;  // the bundle's file name without ".app"
  std::map<std::string, std::string> info;
  bool operator==(const BundleDescription&) const = default;
};

// NSWorkspace: running applications, bundles on disk, opening and activating applications,
// and launch and quit notifications. Queries are callable from any thread; notifications
// arrive on the main queue.
class Workspace {
 public:
  virtual ~Workspace() = default;

  // In a stable order: the order in which the applications were launched.
  virtual std::vector<RunningApplication> runningApplications() const = 0;
  virtual std::optional<std::string> urlForApplication(
      const std::string& bundleIdentifier) const = 0;
  virtual std::optional<BundleDescription> bundleAtURL(const std::string& url) const = 0;
  // The icon of the file at `url` (NSWorkspace icon(forFile:)): every file has one; an
  // application without its own gets the generic application icon, a missing file the
  // generic document icon. 32 × 32 points with enough pixels for any size it is drawn at.
  virtual Image iconForFile(const std::string& url) const = 0;

  // Launches the application (or activates it when running). False when there is none at `url`.
  virtual bool openApplication(const std::string& url) = 0;
  virtual bool activate(int pid) = 0;
  // Opens a web or mail URL with the user's default handler.
  virtual bool openURL(const std::string& url) = 0;
  // The user asked the system to reduce motion (accessibility display options).
  virtual bool accessibilityDisplayShouldReduceMotion() const = 0;

  [[nodiscard]] virtual Subscription observeLaunches(
      std::function<void(const RunningApplication&)> handler) = 0;
  [[nodiscard]] virtual Subscription observeTerminations(
      std::function<void(const RunningApplication&)> handler) = 0;
};

}  // namespace lumarin
