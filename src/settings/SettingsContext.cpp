#include "settings/SettingsContext.h"

#include "platform/Bundle.h"
#include "platform/Platform.h"

namespace lumarin {

SettingsContext makeSettingsContext(const Platform& platform, AppSettings& settings,
                                    const L10n& l10n, AppIcons& appIcons,
                                    const Observable<std::map<std::string, DockItem>>& dockItems) {
  return SettingsContext{settings,
                         l10n,
                         *platform.scheduler,
                         platform.accessibility,
                         platform.screenCapture,
                         *platform.workspace,
                         *platform.panels,
                         *platform.appShell,
                         *platform.bundle,
                         appIcons,
                         dockItems,
                         platform.bundle->bundleIdentifier().value_or(""),
                         nullptr,
                         nullptr,
                         nullptr,
                         {},
                         {},
                         {},
                         {},
                         {}};
}

}  // namespace lumarin
