#pragma once

namespace lumarin {

class Accessibility;
class Workspace;

// Asks for accessibility access: the system's own prompt the first time in a launch, the
// Privacy & Security pane every later time; nothing when access is already granted. One
// instance per process. Main queue.
class Permissions {
 public:
  static constexpr const char* kAccessibilitySettingsURL =
      "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

  Permissions(Accessibility& accessibility, Workspace& workspace)
      : accessibility_(accessibility), workspace_(workspace) {}
  Permissions(const Permissions&) = delete;
  Permissions& operator=(const Permissions&) = delete;

  void requestOrOpenSettings();
  bool didPromptThisLaunch() const { return didPromptThisLaunch_; }

 private:
  Accessibility& accessibility_;
  Workspace& workspace_;
  bool didPromptThisLaunch_ = false;
};

}  // namespace lumarin
