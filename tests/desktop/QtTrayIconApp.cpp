// A tray icon as Qt 6 apps make them (QSystemTrayIcon, which speaks StatusNotifierItem with its
// own menu export): a blue square, a tooltip, a menu whose entry writes a file. A left click
// (the item's Activate) writes another. Arguments: the menu's file, the click's file. Prints
// "ready" once the icon is in the tray.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

namespace {

void touch(const QString& path, const char* what) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) {
    file.write(what);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName(QStringLiteral("qt-tray-test"));
  if (argc < 3) {
    std::fprintf(stderr, "usage: QtTrayIconApp MENU-FILE CLICK-FILE\n");
    return 2;
  }
  const QString menuFile = QString::fromLocal8Bit(argv[1]);
  const QString clickFile = QString::fromLocal8Bit(argv[2]);
  QPixmap blue(22, 22);
  blue.fill(QColor(0, 0, 255));
  QSystemTrayIcon icon{QIcon(blue)};
  icon.setToolTip(QStringLiteral("Qt six tray"));
  QMenu menu;
  QObject::connect(menu.addAction(QStringLiteral("Write the Qt file")), &QAction::triggered,
                   [&menuFile] { touch(menuFile, "menu"); });
  icon.setContextMenu(&menu);
  QObject::connect(&icon, &QSystemTrayIcon::activated,
                   [&clickFile](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) {
                       touch(clickFile, "activated");
                     }
                   });
  // Qt decides at start whether a tray is there; the test starts us once one is.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    std::fprintf(stderr, "no system tray\n");
    return 3;
  }
  icon.show();
  QTimer::singleShot(0, [] {
    std::printf("ready\n");
    std::fflush(stdout);
  });
  return app.exec();
}
