#include "ui/MenuPopup.h"

#include <QAction>
#include <QImage>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace lumarin {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

// The key equivalent as Qt writes a shortcut ("Ctrl+Q"); upper-case letters imply Shift.
QKeySequence shortcutOf(const MenuItem& item) {
  if (item.keyEquivalent.empty()) {
    return {};
  }
  QString text;
  const bool upper = item.keyEquivalent.size() == 1 && item.keyEquivalent[0] >= 'A' &&
                     item.keyEquivalent[0] <= 'Z';
  if ((item.modifiers & kModifierCommand) != 0) {
    text += QStringLiteral("Ctrl+");
  }
  if ((item.modifiers & kModifierControl) != 0) {
    text += QStringLiteral("Meta+");
  }
  if ((item.modifiers & kModifierOption) != 0) {
    text += QStringLiteral("Alt+");
  }
  if ((item.modifiers & kModifierShift) != 0 || upper) {
    text += QStringLiteral("Shift+");
  }
  return QKeySequence(text + qs(item.keyEquivalent).toUpper());
}

QIcon iconOf(const Image& image) {
  if (image.isEmpty()) {
    return {};
  }
  const QImage picture(image.rgba.data(), image.pixelWidth, image.pixelHeight,
                       static_cast<qsizetype>(image.pixelWidth) * 4,
                       QImage::Format_RGBA8888_Premultiplied);
  QPixmap pixmap = QPixmap::fromImage(picture.copy());
  pixmap.setDevicePixelRatio(image.scale());
  return QIcon(pixmap);
}

struct Outcome {
  MenuHandlers handlers;
  bool closed = false;
};

void fill(QMenu* target, const Menu& source, const std::shared_ptr<Outcome>& outcome) {
  for (const auto& item : source.items) {
    if (item.isSeparator) {
      target->addSeparator();
      continue;
    }
    if (item.submenu) {
      QMenu* submenu = target->addMenu(qs(item.title));
      submenu->setEnabled(item.enabled);
      fill(submenu, *item.submenu, outcome);
      QObject::connect(submenu, &QMenu::aboutToShow, submenu, [outcome, item] {
        if (outcome->handlers.submenuOpened) {
          outcome->handlers.submenuOpened(item);
        }
      });
      QObject::connect(submenu, &QMenu::aboutToHide, submenu, [outcome, item] {
        if (outcome->handlers.submenuClosed) {
          outcome->handlers.submenuClosed(item);
        }
      });
      continue;
    }
    QAction* action = target->addAction(qs(item.title));
    action->setEnabled(item.enabled);
    action->setCheckable(item.checked);
    action->setChecked(item.checked);
    action->setShortcut(shortcutOf(item));
    if (item.image) {
      action->setIcon(iconOf(*item.image));
    }
    QObject::connect(action, &QAction::triggered, target, [outcome, item] {
      if (outcome->handlers.chose) {
        outcome->handlers.chose(item);
      }
    });
  }
}

}  // namespace

std::function<void(const Menu&)> popUpMenu(const Menu& menu, MenuHandlers handlers, int x, int y) {
  auto* popup = new QMenu();
  popup->setAttribute(Qt::WA_DeleteOnClose);
  popup->setAccessibleName(qs(menu.title.empty() ? std::string("Menu") : menu.title));
  auto outcome = std::make_shared<Outcome>();
  outcome->handlers = std::move(handlers);
  fill(popup, menu, outcome);
  QObject::connect(popup, &QMenu::aboutToHide, popup, [outcome] {
    // A chosen entry's action is delivered after the menu hides: the close follows it.
    QTimer::singleShot(0, [outcome] {
      if (!outcome->closed) {
        outcome->closed = true;
        if (outcome->handlers.didClose) {
          outcome->handlers.didClose();
        }
      }
    });
  });
  popup->popup(QPoint(x, y));
  QPointer<QMenu> open(popup);
  return [open, outcome](const Menu& changed) {
    if (open.isNull() || outcome->closed || !open->isVisible()) {
      return;
    }
    // Submenus go with their actions; the menu stays where it is and takes its new size.
    for (QMenu* submenu : open->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
      submenu->deleteLater();
    }
    open->clear();
    fill(open.data(), changed, outcome);
    open->adjustSize();
  };
}

}  // namespace lumarin
