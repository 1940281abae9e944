#include "platform/host/QtFrameworkLocalization.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace lumarin {

QtFrameworkLocalization::QtFrameworkLocalization() = default;

QtFrameworkLocalization::~QtFrameworkLocalization() {
  if (translator_ && QCoreApplication::instance() != nullptr) {
    QCoreApplication::removeTranslator(translator_.get());
  }
}

std::vector<std::string> QtFrameworkLocalization::catalogueCandidates(const std::string& code) {
  if (code.rfind("en", 0) == 0) {
    return {};
  }
  // Qt names its catalogues by locale: the scripts of Chinese become regions.
  std::string full = code;
  if (code == "zh-Hans") {
    full = "zh_CN";
  } else if (code == "zh-Hant") {
    full = "zh_TW";
  }
  for (char& c : full) {
    if (c == '-') {
      c = '_';
    }
  }
  std::vector<std::string> out{full};
  if (code.size() > 2 && code.substr(0, 2) != full) {
    out.push_back(code.substr(0, 2));
  }
  return out;
}

void QtFrameworkLocalization::useLanguage(const std::optional<std::string>& code) {
  if (translator_) {
    QCoreApplication::removeTranslator(translator_.get());
    translator_.reset();
  }
  if (!code) {
    QLocale::setDefault(QLocale::system());
    return;
  }
  std::string localeName = *code;
  for (char& c : localeName) {
    if (c == '-') {
      c = '_';
    }
  }
  QLocale::setDefault(QLocale(QString::fromStdString(localeName)));
  const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const auto& candidate : catalogueCandidates(*code)) {
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_") + QString::fromStdString(candidate),
                         directory)) {
      QCoreApplication::installTranslator(translator.get());
      translator_ = std::move(translator);
      return;
    }
  }
}

}  // namespace lumarin
