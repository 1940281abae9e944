#include "ui/SettingsSegmented.h"

#include "ui/CapsuleSegmentedControl.h"
#include "ui/SystemSymbols.h"

namespace lumarin {
namespace {

std::vector<QImage> symbolImages(const std::vector<QString>& symbols) {
  std::vector<QImage> images;
  images.reserve(symbols.size());
  for (const QString& name : symbols) {
    images.push_back(systemSymbol(name, SettingsSegmented::kSymbolPoints, QFont::Medium));
  }
  return images;
}

}  // namespace

SettingsSegmented::SettingsSegmented(const std::vector<QString>& symbols,
                                     std::vector<QString> tooltips, int selection, double width,
                                     double height, QWidget* parent)
    : QWidget(parent),
      control_(new CapsuleSegmentedControl(symbolImages(symbols), std::move(tooltips), width,
                                           height, std::nullopt, this)) {
  control_->setSelectedIndex(selection);
  setFixedSize(control_->size());
  setFocusProxy(control_);
  control_->setOnSelect([this](int index) {
    if (onChange_) {
      onChange_(index);
    }
  });
}

int SettingsSegmented::selection() const { return control_->selectedIndex(); }

void SettingsSegmented::setSelection(int index) { control_->setSelectedIndex(index); }

QSize SettingsSegmented::sizeHint() const { return control_->size(); }

}  // namespace lumarin
