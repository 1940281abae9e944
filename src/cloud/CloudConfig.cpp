#include "cloud/CloudConfig.h"

#include "platform/ProcessInfo.h"
#include "platform/ServiceURL.h"

#ifndef LUMARIN_SERVICE_URL
#error "LUMARIN_SERVICE_URL is defined by the build"
#endif

namespace lumarin {

std::string CloudConfig::builtInBaseURL() { return normalized(LUMARIN_SERVICE_URL); }

std::string CloudConfig::normalized(std::string url) {
  if (!url.empty() && !url.ends_with('/')) {
    url += '/';
  }
  return url;
}

CloudConfig CloudConfig::fromEnvironment(const ProcessInfo& process) {
  if (auto value = process.environmentValue("LUMARIN_SERVICE_URL");
      value && !value->empty() && isPermittedServiceURL(*value)) {
    return CloudConfig{normalized(*value)};
  }
  return CloudConfig{builtInBaseURL()};
}

}  // namespace lumarin
