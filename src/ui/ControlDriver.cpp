#include "ui/ControlDriver.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>

namespace lumarin {

namespace {

bool usable(const QWidget* widget) { return widget->isVisible() && widget->isEnabled(); }

QString nameOf(const QWidget* widget) {
  if (!widget->accessibleName().isEmpty()) {
    return widget->accessibleName();
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
    return button->text();
  }
  return {};
}

std::optional<QString> chooseFromOpenMenu(const QString& name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    auto* menu = qobject_cast<QMenu*>(top);
    if (menu == nullptr || !menu->isVisible()) {
      continue;
    }
    for (QAction* action : menu->actions()) {
      if (action->isEnabled() && !action->isSeparator() && action->text() == name) {
        const QString title = action->text();
        action->trigger();
        menu->close();
        return title;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

QWidget* findControlNamed(QWidget* root, const QString& name) {
  if (root == nullptr || !root->isVisible()) {
    return nullptr;
  }
  for (QWidget* widget : root->findChildren<QWidget*>()) {
    if (usable(widget) && nameOf(widget) == name &&
        (qobject_cast<QAbstractButton*>(widget) != nullptr ||
         qobject_cast<QLineEdit*>(widget) != nullptr)) {
      return widget;
    }
  }
  return nullptr;
}

std::optional<QString> pressControlNamed(const QString& name) {
  if (auto chosen = chooseFromOpenMenu(name)) {
    return chosen;
  }
  for (QWidget* top : QApplication::topLevelWidgets()) {
    auto* button = qobject_cast<QAbstractButton*>(findControlNamed(top, name));
    if (button == nullptr) {
      continue;
    }
    button->click();
    if (button->isCheckable()) {
      return button->isChecked() ? QStringLiteral("on") : QStringLiteral("off");
    }
    return button->text();
  }
  return std::nullopt;
}

bool typeIntoControlNamed(const QString& name, const QString& text) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* field = qobject_cast<QLineEdit*>(findControlNamed(top, name))) {
      field->setFocus();
      field->setText(text);
      Q_EMIT field->editingFinished();
      Q_EMIT field->returnPressed();
      return true;
    }
  }
  return false;
}

}  // namespace lumarin
