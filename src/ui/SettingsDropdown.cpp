#include "ui/SettingsDropdown.h"

#include <QAction>
#include <QMenu>

#include "ui/PulldownPill.h"

namespace lumarin {
namespace {

// The menu's top edge sits this far below the pill.
constexpr int kMenuGap = 4;

}  // namespace

SettingsDropdown::SettingsDropdown(std::vector<Option> options, QString selection, QWidget* parent)
    : QWidget(parent),
      options_(std::move(options)),
      selection_(std::move(selection)),
      pill_(new PulldownPill(titleFor(selection_), this)) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  setFocusProxy(pill_);
  QObject::connect(pill_, &QAbstractButton::clicked, this, [this] { popUpMenu(); });
  pill_->setGeometry(rect());
}

SettingsDropdown::~SettingsDropdown() {
  if (menu_) {
    delete menu_.data();
  }
}

QString SettingsDropdown::titleFor(const QString& value) const {
  for (const Option& option : options_) {
    if (option.value == value) {
      return option.title;
    }
  }
  return {};
}

void SettingsDropdown::setSelection(const QString& value) {
  selection_ = value;
  pill_->setTitle(titleFor(value));
  updateGeometry();
}

void SettingsDropdown::setOptions(std::vector<Option> options) {
  options_ = std::move(options);
  pill_->setTitle(titleFor(selection_));
  updateGeometry();
}

QMenu* SettingsDropdown::menu() const { return menu_.data(); }

void SettingsDropdown::popUpMenu() {
  if (menu_) {
    menu_->close();
    menu_->deleteLater();
  }
  // A top-level menu (no parent widget) so it is not clipped by the window; it deletes itself
  // once closed, and the guard above forgets it.
  auto* menu = new QMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->setAccessibleName(pill_->title());
  for (size_t i = 0; i < options_.size(); ++i) {
    QAction* action = menu->addAction(options_[i].title);
    action->setData(static_cast<int>(i));
    action->setEnabled(true);
    QObject::connect(action, &QAction::triggered, this,
                     [this, index = static_cast<int>(i)] { pick(index); });
  }
  menu_ = menu;
  menu->popup(pill_->mapToGlobal(QPoint(0, pill_->height() + kMenuGap)));
}

void SettingsDropdown::pick(int index) {
  if (index < 0 || static_cast<size_t>(index) >= options_.size()) {
    return;
  }
  const QString value = options_[static_cast<size_t>(index)].value;
  if (value == selection_) {
    return;
  }
  setSelection(value);
  if (onChange_) {
    onChange_(value);
  }
}

QSize SettingsDropdown::sizeHint() const { return pill_->sizeHint(); }

QSize SettingsDropdown::minimumSizeHint() const { return pill_->minimumSizeHint(); }

void SettingsDropdown::resizeEvent(QResizeEvent* /*event*/) { pill_->setGeometry(rect()); }

}  // namespace lumarin
