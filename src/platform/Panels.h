#pragma once

#include <functional>
#include <optional>
#include <string>

namespace lumarin {

// What the open panel offers: application bundles only, from a directory, one at a time.
struct OpenPanelRequest {
  std::string directory = "/Applications";
  std::string message;
  bool applicationsOnly = true;
  bool allowsMultipleSelection = false;
};

// The standard About panel's options.
struct AboutPanelOptions {
  std::string applicationName;
  std::string credits;
  double creditsFontSize = 11;
};

// The system's modal panels. The open panel answers later, on the main queue, with the chosen
// bundle's file URL, or nothing when the user cancelled. Main queue.
class Panels {
 public:
  virtual ~Panels() = default;
  virtual void runOpenPanel(const OpenPanelRequest& request,
                            std::function<void(std::optional<std::string> url)> completion) = 0;
  virtual void showAboutPanel(const AboutPanelOptions& options) = 0;
};

}  // namespace lumarin
