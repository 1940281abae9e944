#pragma once

#include "platform/Panels.h"

namespace lumarin {

// The desktop's panels as Qt dialogs: the open panel is a file dialog over desktop entries
// (an application here is a `.desktop` file), answered through the completion with the
// chosen file's URL; the About panel is a message box with the program's name and credits.
// Main queue.
class QtPanels final : public Panels {
 public:
  QtPanels() = default;
  QtPanels(const QtPanels&) = delete;
  QtPanels& operator=(const QtPanels&) = delete;

  void runOpenPanel(const OpenPanelRequest& request,
                    std::function<void(std::optional<std::string> url)> completion) override;
  void showAboutPanel(const AboutPanelOptions& options) override;
};

}  // namespace lumarin
