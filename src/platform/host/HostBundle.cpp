#include "platform/host/HostBundle.h"

#include <string_view>
#include <system_error>

#include "platform/host/BuildInfo.h"

namespace lumarin {

HostBundle::HostBundle() {
  std::error_code error;
  executable_ = std::filesystem::read_symlink("/proc/self/exe", error);
  info_["CFBundleIdentifier"] = LUMARIN_BUNDLE_IDENTIFIER;
  info_["CFBundleName"] = "Lumarin";
  info_["CFBundleShortVersionString"] = LUMARIN_SHORT_VERSION;
  info_["CFBundleVersion"] = LUMARIN_BUILD_NUMBER;
  info_["LSUIElement"] = "1";
  // A view of the build-time text: copying an empty literal into a string is what GCC 12's
  // -Wrestrict misreads at -O3.
  constexpr std::string_view kFeedURL = LUMARIN_FEED_URL;
  if (!kFeedURL.empty()) {
    info_["SUFeedURL"] = std::string(kFeedURL);
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
