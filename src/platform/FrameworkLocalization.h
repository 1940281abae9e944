#pragma once

#include <optional>
#include <string>

namespace lumarin {

// Makes the system frameworks inside the process (standard dialogs, buttons, menus) show
// their own texts in the chosen language. Main thread.
class FrameworkLocalization {
 public:
  virtual ~FrameworkLocalization() = default;
  // `code` is one of the program's language codes; absent restores the system's language.
  virtual void useLanguage(const std::optional<std::string>& code) = 0;
};

}  // namespace lumarin
