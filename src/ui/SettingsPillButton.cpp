#include "ui/SettingsPillButton.h"

#include "ui/PillButton.h"

namespace lumarin {

SettingsPillButton::SettingsPillButton(const QString& title, bool filled,
                                       std::function<void()> action, QWidget* parent)
    : QWidget(parent), button_(new PillButton(title, filled, this)) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFocusProxy(button_);
  QObject::connect(button_, &QAbstractButton::clicked, this, [action = std::move(action)] {
    if (action) {
      action();
    }
  });
  button_->setGeometry(rect());
}

QSize SettingsPillButton::sizeHint() const { return button_->sizeHint(); }

QSize SettingsPillButton::minimumSizeHint() const { return button_->minimumSizeHint(); }

void SettingsPillButton::resizeEvent(QResizeEvent* /*event*/) { button_->setGeometry(rect()); }

}  // namespace lumarin
