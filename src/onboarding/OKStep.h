#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

namespace lumarin {

// A text that is looked up when it is shown, so a page follows the current language.
using OKText = std::function<std::string()>;

// One page of the onboarding pager. The pager owns the content once the step is handed over.
struct OKStep {
  enum class Kind { welcome, permissions, setup, tutorial, consent };

  Kind kind = Kind::welcome;
  std::unique_ptr<QWidget> content;
  // The permission the page waits for; absent means nothing to wait for.
  std::function<bool()> requiredGranted;
  bool skippable = false;
  OKText primaryTitle;
  // True lets the pager advance.
  std::function<bool()> primaryAction;
  OKText secondaryTitle;
  // False keeps the pager on the page.
  std::function<bool()> secondaryAction;
};

// Texts of the pager's own buttons and footer.
struct OKStrings {
  OKText continueTitle;
  OKText startTitle;
  OKText waiting;
  OKText later;
  OKText back;
};

// Page content that shows live state (a permission that may have been granted meanwhile). The
// pager calls `refresh` when the page is reached and on every tick of its timer.
class OKLivePage {
 public:
  virtual ~OKLivePage() = default;
  virtual void refresh() = 0;
};

}  // namespace lumarin
