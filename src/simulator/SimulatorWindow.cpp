#include "simulator/SimulatorWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "gfx/Drawing.h"
#include "platform/sim/Scenario.h"
#include "platform/sim/SimIcons.h"
#include "platform/sim/SimMenuBarRenderer.h"
#include "platform/sim/SimulatedMac.h"

namespace lumarin::sim {

namespace {

constexpr int kRepaintMilliseconds = 250;
constexpr double kDockIcon = 48;
constexpr double kDockGap = 8;
// The hot key service's bits for Control-Option-Command, and the keys of M and comma.
constexpr std::uint32_t kControlOptionCommand = 6400;
constexpr std::uint32_t kKeyM = 46;
constexpr std::uint32_t kKeyComma = 43;

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// The first screen as the simulated Mac shows it, scaled to the widget.
class SimulatorWindow::DesktopView final : public QWidget {
 public:
  DesktopView(SimulatorWindow& owner, World& world)
      : QWidget(&owner), owner_(owner), world_(world) {
    setAccessibleName(QStringLiteral("Simulated desktop"));
    setMinimumSize(480, 320);
    setMouseTracking(false);
  }

  // The first screen's frame in points, and how it maps onto the widget.
  CocoaRect screen() const {
    const auto screens = world_.screens();
    return screens.empty() ? CocoaRect(0, 0, 1512, 982) : screens.front().frame;
  }
  double scale() const {
    const CocoaRect s = screen();
    return std::min(width() / s.width(), height() / s.height());
  }
  QPointF offset() const {
    const CocoaRect s = screen();
    return {(width() - s.width() * scale()) / 2, (height() - s.height() * scale()) / 2};
  }
  QPointF toWidget(GlobalPoint p) const {
    return offset() + QPointF(p.x - screen().minX(), p.y) * scale();
  }
  GlobalPoint toGlobalPoint(QPointF p) const {
    const QPointF local = (p - offset()) / scale();
    return GlobalPoint{local.x() + screen().minX(), local.y()};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0x1E, 0x1E, 0x22));
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const CocoaRect s = screen();
    p.translate(offset());
    p.scale(scale(), scale());
    p.setClipRect(QRectF(0, 0, s.width(), s.height()));
    QLinearGradient wallpaper(0, 0, s.width(), s.height());
    wallpaper.setColorAt(0, QColor(0x2B, 0x4C, 0x7E));
    wallpaper.setColorAt(1, QColor(0x6A, 0x3F, 0x8C));
    p.fillRect(QRectF(0, 0, s.width(), s.height()), wallpaper);
    paintDock(p, s);
    if (owner_.deps_.paintWindows) {
      p.save();
      owner_.deps_.paintWindows(p);
      p.restore();
    }
    const double pixels = std::max(1.0, scale() * devicePixelRatioF());
    p.drawImage(QRectF(0, 0, s.width(), world_.menuBarHeight()),
                toQImage(renderMenuBar(world_, std::min(pixels, 3.0))));
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    const GlobalPoint point = toGlobalPoint(event->position());
    if (point.y < 0 || point.y > screen().height()) {
      return;
    }
    ScenarioEvent click;
    click.action = "clickAt";
    click.point = point;
    click.rightButton = event->button() == Qt::RightButton;
    owner_.apply(click);
    update();
  }

 private:
  void paintDock(QPainter& p, const CocoaRect& s) {
    std::vector<DockTile> tiles;
    for (const auto& tile : world_.dockTiles()) {
      if (tile.kind == TileKind::application) {
        tiles.push_back(tile);
      }
    }
    if (tiles.empty()) {
      return;
    }
    const double width = static_cast<double>(tiles.size()) * (kDockIcon + kDockGap) + kDockGap;
    const QRectF dock((s.width() - width) / 2, s.height() - kDockIcon - 2 * kDockGap - 4, width,
                      kDockIcon + 2 * kDockGap);
    QPainterPath shape;
    shape.addRoundedRect(dock, 18, 18);
    p.fillPath(shape, QColor(255, 255, 255, 70));
    double x = dock.left() + kDockGap;
    for (const auto& tile : tiles) {
      auto icon = icons_.find(tile.bundleID);
      if (icon == icons_.end()) {
        icon =
            icons_.emplace(tile.bundleID, toQImage(applicationIcon(tile.bundleID, tile.title, "")))
                .first;
      }
      const QRectF frame(x, dock.top() + kDockGap, kDockIcon, kDockIcon);
      p.drawImage(frame, icon->second);
      if (tile.badge && !tile.badge->empty()) {
        QFont font = p.font();
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        const QString label = qs(*tile.badge);
        const double w = std::max(18.0, QFontMetricsF(font).horizontalAdvance(label) + 10);
        const QRectF badge(frame.right() - w + 4, frame.top() - 4, w, 18);
        QPainterPath pill;
        pill.addRoundedRect(badge, 9, 9);
        p.fillPath(pill, QColor(0xFF, 0x3B, 0x30));
        p.setPen(Qt::white);
        p.drawText(badge, Qt::AlignCenter, label);
      }
      x += kDockIcon + kDockGap;
    }
  }

  SimulatorWindow& owner_;
  World& world_;
  std::map<std::string, QImage> icons_;
};

SimulatorWindow::SimulatorWindow(Dependencies deps) : deps_(std::move(deps)) {
  setWindowTitle(QStringLiteral("Lumarin — simulated Mac"));
  setAccessibleName(QStringLiteral("Simulator"));
  desktop_ = new DesktopView(*this, deps_.mac.world);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(desktop_, 1);
  layout->addWidget(makeSidePanel());
  const CocoaRect s = desktop_->screen();
  resize(static_cast<int>(s.width() * 0.75) + 260, static_cast<int>(s.height() * 0.75));
  repaint_ = new QTimer(this);
  repaint_->setInterval(kRepaintMilliseconds);
  connect(repaint_, &QTimer::timeout, desktop_, [this] { desktop_->update(); });
  repaint_->start();
  deps_.mac.statusBar.setMenuPresenter([this](const std::string&, const Menu& menu) {
    // Shown once the click that opened it has been handled.
    QTimer::singleShot(0, this, [this, menu] { presentMenu(menu); });
  });
}

SimulatorWindow::~SimulatorWindow() { deps_.mac.statusBar.setMenuPresenter(nullptr); }

QWidget* SimulatorWindow::desktop() const { return desktop_; }

QPointF SimulatorWindow::desktopPoint(GlobalPoint point) const { return desktop_->toWidget(point); }

QMenu* SimulatorWindow::openMenu() const {
  return menu_ && menu_->isVisible() ? menu_.get() : nullptr;
}

bool SimulatorWindow::apply(const ScenarioEvent& event) {
  return applyEvent(event, deps_.mac.world, deps_.mac.interaction());
}

std::string SimulatorWindow::chosenApp() const {
  return apps_->currentData().toString().toStdString();
}

QWidget* SimulatorWindow::makeSidePanel() {
  auto* panel = new QWidget(this);
  panel->setFixedWidth(250);
  auto* column = new QVBoxLayout(panel);
  auto button = [panel](const QString& title, auto action) {
    auto* b = new QPushButton(title, panel);
    b->setAccessibleName(title);
    QObject::connect(b, &QPushButton::clicked, panel, action);
    return b;
  };
  auto event = [](const std::string& action) {
    ScenarioEvent e;
    e.action = action;
    return e;
  };

  auto* appsBox = new QGroupBox(QStringLiteral("Apps"), panel);
  auto* appsForm = new QFormLayout(appsBox);
  apps_ = new QComboBox(appsBox);
  apps_->setAccessibleName(QStringLiteral("App"));
  for (const auto& tile : deps_.mac.world.dockTiles()) {
    if (tile.kind == TileKind::application) {
      apps_->addItem(qs(tile.title), qs(tile.bundleID));
    }
  }
  appsForm->addRow(QStringLiteral("App"), apps_);
  badge_ = new QLineEdit(appsBox);
  badge_->setAccessibleName(QStringLiteral("Badge"));
  badge_->setPlaceholderText(QStringLiteral("3, 12, •"));
  appsForm->addRow(QStringLiteral("Badge"), badge_);
  auto* badgeRow = new QHBoxLayout;
  badgeRow->addWidget(button(QStringLiteral("Set badge"), [this, event] {
    ScenarioEvent e = event("setBadge");
    e.app = chosenApp();
    e.label = badge_->text().toStdString();
    apply(e);
  }));
  badgeRow->addWidget(button(QStringLiteral("Clear badge"), [this, event] {
    ScenarioEvent e = event("clearBadge");
    e.app = chosenApp();
    apply(e);
  }));
  appsForm->addRow(badgeRow);
  auto* runRow = new QHBoxLayout;
  runRow->addWidget(button(QStringLiteral("Launch"), [this, event] {
    ScenarioEvent e = event("launch");
    e.app = chosenApp();
    apply(e);
  }));
  runRow->addWidget(button(QStringLiteral("Quit"), [this, event] {
    ScenarioEvent e = event("quit");
    e.app = chosenApp();
    apply(e);
  }));
  appsForm->addRow(runRow);
  column->addWidget(appsBox);

  auto* macBox = new QGroupBox(QStringLiteral("Mac"), panel);
  auto* macColumn = new QVBoxLayout(macBox);
  auto* arrangement = new QComboBox(macBox);
  arrangement->setAccessibleName(QStringLiteral("Menu bar arrangement"));
  arrangement->addItem(QStringLiteral("Item windows"), 0);
  arrangement->addItem(QStringLiteral("Unified menu bar"), 1);
  connect(arrangement, &QComboBox::currentIndexChanged, this, [this, event](int index) {
    ScenarioEvent e = event("setArrangement");
    e.arrangement =
        index == 0 ? MenuBarArrangement::perItemWindows : MenuBarArrangement::unifiedBar;
    apply(e);
  });
  macColumn->addWidget(arrangement);
  // How fast the world's time runs: a person need not wait out a long delay in real time.
  auto* speedRow = new QHBoxLayout;
  auto* speedLabel = new QLabel(QStringLiteral("Time:"), macBox);
  auto* speed = new QComboBox(macBox);
  speed->setAccessibleName(QStringLiteral("Speed"));
  speedLabel->setBuddy(speed);
  std::size_t current = 0;
  for (std::size_t i = 0; i < kTimeRates.size(); ++i) {
    speed->addItem(QStringLiteral("%1×").arg(kTimeRates[i]), kTimeRates[i]);
    if (std::abs(kTimeRates[i] - deps_.timeRate) < std::abs(kTimeRates[current] - deps_.timeRate)) {
      current = i;
    }
  }
  speed->setCurrentIndex(static_cast<int>(current));
  speed->setEnabled(static_cast<bool>(deps_.setTimeRate));
  connect(speed, &QComboBox::currentIndexChanged, this, [this, speed](int index) {
    if (index >= 0 && deps_.setTimeRate) {
      deps_.setTimeRate(speed->itemData(index).toDouble());
    }
  });
  speedRow->addWidget(speedLabel);
  speedRow->addWidget(speed, 1);
  macColumn->addLayout(speedRow);
  auto toggle = [this, macBox, macColumn, event](const QString& title, bool on,
                                                 const std::string& grant,
                                                 const std::string& revoke) {
    auto* box = new QCheckBox(title, macBox);
    box->setAccessibleName(title);
    box->setChecked(on);
    connect(box, &QCheckBox::toggled, this,
            [this, event, grant, revoke](bool checked) { apply(event(checked ? grant : revoke)); });
    macColumn->addWidget(box);
  };
  toggle(QStringLiteral("Accessibility access"), deps_.mac.world.accessibilityTrusted(),
         "grantAccessibility", "revokeAccessibility");
  toggle(QStringLiteral("Screen recording"), deps_.mac.world.screenRecordingGranted(),
         "grantScreenRecording", "revokeScreenRecording");
  macColumn->addWidget(button(QStringLiteral("Control Center"), [this, event] {
    apply(event(deps_.mac.world.controlCenterOpen() ? "closeControlCenter" : "openControlCenter"));
  }));
  auto keys = [this, event](std::uint32_t keyCode) {
    ScenarioEvent e = event("pressKeys");
    e.keyCode = keyCode;
    e.modifiers = kControlOptionCommand;
    apply(e);
  };
  macColumn->addWidget(button(QStringLiteral("⌃⌥⌘M"), [keys] { keys(kKeyM); }));
  macColumn->addWidget(button(QStringLiteral("⌃⌥⌘,"), [keys] { keys(kKeyComma); }));
  column->addWidget(macBox);
  column->addStretch(1);
  auto* hint = new QLabel(
      QStringLiteral("Click the menu bar as on a Mac. Every control here is a scenario event."),
      panel);
  hint->setWordWrap(true);
  column->addWidget(hint);
  return panel;
}

void SimulatorWindow::presentMenu(const Menu& menu) {
  if (!deps_.mac.statusBar.menuOpen()) {
    return;
  }
  menu_ = std::make_unique<QMenu>();
  menu_->setAccessibleName(QStringLiteral("Open menu"));
  auto chosen = std::make_shared<bool>(false);
  // Entries carry their title path; choosing goes back through the status bar.
  std::function<void(QMenu*, const Menu&, const std::vector<std::string>&)> fill =
      [this, chosen, &fill](QMenu* target, const Menu& source,
                            const std::vector<std::string>& path) {
        for (const auto& item : source.items) {
          if (item.isSeparator) {
            target->addSeparator();
            continue;
          }
          std::vector<std::string> itemPath = path;
          itemPath.push_back(item.title);
          if (item.submenu) {
            fill(target->addMenu(qs(item.title)), *item.submenu, itemPath);
            continue;
          }
          QAction* action = target->addAction(qs(item.title));
          action->setEnabled(item.enabled);
          action->setCheckable(item.checked);
          action->setChecked(item.checked);
          connect(action, &QAction::triggered, this, [this, chosen, itemPath] {
            *chosen = true;
            deps_.mac.statusBar.choose(itemPath);
          });
        }
      };
  fill(menu_.get(), menu, {});
  connect(menu_.get(), &QMenu::aboutToHide, this, [this, chosen] {
    // Closed without a choice: dismissed, once the choice (if any) has been delivered.
    QTimer::singleShot(0, this, [this, chosen] {
      if (!*chosen && deps_.mac.statusBar.menuOpen()) {
        deps_.mac.statusBar.dismissMenu();
      }
    });
  });
  const auto mouse = deps_.mac.world.mouseLocation();
  const auto screens = deps_.mac.world.screens();
  const double firstMaxY = screens.empty() ? 0 : screens.front().frame.maxY();
  const GlobalPoint at = toGlobal(mouse, firstMaxY);
  const QPointF local = desktop_->toWidget(GlobalPoint{at.x, deps_.mac.world.menuBarHeight()});
  menu_->popup(desktop_->mapToGlobal(local.toPoint()));
}

}  // namespace lumarin::sim
