#include "menubar/Permissions.h"

#include "platform/Accessibility.h"
#include "platform/Workspace.h"

namespace lumarin {

void Permissions::requestOrOpenSettings() {
  if (accessibility_.isProcessTrusted()) {
    return;
  }
  if (!didPromptThisLaunch_) {
    didPromptThisLaunch_ = true;
    (void)accessibility_.isProcessTrustedWithOptions(true);
    return;
  }
  (void)workspace_.openURL(kAccessibilitySettingsURL);
}

}  // namespace lumarin
