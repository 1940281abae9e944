#pragma once

#include <map>
#include <mutex>
#include <string>

#include "base/Image.h"

namespace lumarin {

class Workspace;

// Application icons by bundle identifier, looked up once per identifier and size and kept for
// the life of the process. An application that is not installed gets a dashed outline of an
// app icon (a template image). Any thread.
class AppIcons {
 public:
  explicit AppIcons(const Workspace& workspace) : workspace_(workspace) {}
  AppIcons(const AppIcons&) = delete;
  AppIcons& operator=(const AppIcons&) = delete;

  Image icon(const std::string& bundleID, double size);

  // The stand-in for a missing application: a dashed rounded square, drawn in black for the
  // system to tint.
  static Image dashedAppIcon(double size, double scale = 4);

 private:
  const Workspace& workspace_;
  std::mutex mutex_;
  std::map<std::string, Image> cache_;
};

}  // namespace lumarin
