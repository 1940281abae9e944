#include "platform/host/HostBundle.h"

#include <string_view>
#include <system_error>

#include "platform/host/BuildInfo.h"

namespace lumarin {

HostBundle::HostBundle() {
  std::error_code error;
  executable_ = std::filesystem::read_symlink("/proc/self/exe", error);
  // Built in one go: GCC 12 at -O3 misreads assigning a literal to a freshly inserted map
  // string as an overlapping copy (-Wrestrict).
  info_ = {{"CFBundleIdentifier", LUMARIN_BUNDLE_IDENTIFIER},
           {"CFBundleName", "Lumarin"},
           {"CFBundleShortVersionString", LUMARIN_SHORT_VERSION},
           {"CFBundleVersion", LUMARIN_BUILD_NUMBER},
           {"LSUIElement", "1"}};
  constexpr std::string_view kFeedURL = LUMARIN_FEED_URL;
  if (!kFeedURL.empty()) {
    info_.emplace("SUFeedURL", std::string(kFeedURL));
  }
  constexpr std::string_view kUpdatePublicKey = LUMARIN_UPDATE_PUBLIC_KEY;
  if (!kUpdatePublicKey.empty()) {
    info_.emplace("SUPublicEDKey", std::string(kUpdatePublicKey));
  }
}

std::optional<std::string> HostBundle::bundleIdentifier() const {
  return infoString("CFBundleIdentifier");
}

std::filesystem::path HostBundle::bundlePath() const { return executable_.parent_path(); }

std::optional<std::string> HostBundle::infoString(const std::string& key) const {
  auto it = info_.find(key);
  if (it == info_.end()) {
    return std::nullopt;
  }
  return it->second;
}

}  // namespace lumarin
