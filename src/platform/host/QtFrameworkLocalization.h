#pragma once

#include <memory>
#include <vector>

#include "platform/FrameworkLocalization.h"

class QTranslator;

namespace lumarin {

// Qt's own texts (standard dialog buttons, context menus) follow the chosen language: the
// "qtbase" catalogue of the language is installed when Debian's translations package has it,
// and the default locale follows too. Needs the application object; main thread.
class QtFrameworkLocalization final : public FrameworkLocalization {
 public:
  QtFrameworkLocalization();
  ~QtFrameworkLocalization() override;

  void useLanguage(const std::optional<std::string>& code) override;

  // The catalogue suffixes tried for a language code, best first ("zh-Hans" gives "zh_CN",
  // then "zh"); English needs none.
  static std::vector<std::string> catalogueCandidates(const std::string& code);
  bool hasTranslator() const { return translator_ != nullptr; }

 private:
  std::unique_ptr<QTranslator> translator_;
};

}  // namespace lumarin
