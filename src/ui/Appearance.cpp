#include "ui/Appearance.h"

#include <QApplication>
#include <QPalette>
#include <QStyleHints>
#include <QVariant>
#include <QWidget>

namespace lumarin {
namespace {

constexpr const char* kAppearanceProperty = "lumarinAppearance";

void notifySubtree(QWidget* root) {
  const QEvent::Type type = appearanceChangeEventType();
  QEvent event(type);
  QCoreApplication::sendEvent(root, &event);
  for (QWidget* child : root->findChildren<QWidget*>()) {
    QEvent childEvent(type);
    QCoreApplication::sendEvent(child, &childEvent);
  }
}

}  // namespace

Appearance appearanceFromPalette(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() <
                 palette.color(QPalette::WindowText).lightness()
             ? Appearance::dark
             : Appearance::light;
}

Appearance desktopAppearance() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
  switch (QGuiApplication::styleHints()->colorScheme()) {
    case Qt::ColorScheme::Dark:
      return Appearance::dark;
    case Qt::ColorScheme::Light:
      return Appearance::light;
    case Qt::ColorScheme::Unknown:
      break;
  }
#endif
  return appearanceFromPalette(QGuiApplication::palette());
}

Appearance effectiveAppearance(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    const QVariant value = w->property(kAppearanceProperty);
    if (value.isValid()) {
      return value.toInt() == static_cast<int>(Appearance::dark) ? Appearance::dark
                                                                 : Appearance::light;
    }
  }
  return widget != nullptr ? appearanceFromPalette(widget->palette()) : desktopAppearance();
}

void setAppearance(QWidget* widget, Appearance appearance) {
  widget->setProperty(kAppearanceProperty, static_cast<int>(appearance));
  notifySubtree(widget);
}

void clearAppearance(QWidget* widget) {
  widget->setProperty(kAppearanceProperty, QVariant());
  notifySubtree(widget);
}

QEvent::Type appearanceChangeEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

bool changesAppearance(const QEvent* event) {
  switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::ThemeChange:
    case QEvent::StyleChange:
    case QEvent::ParentChange:
      return true;
    default:
      return event->type() == appearanceChangeEventType();
  }
}

}  // namespace lumarin
