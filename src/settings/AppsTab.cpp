#include "settings/AppsTab.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "app/AddableApps.h"
#include "badges/AppIcons.h"
#include "badges/BadgeRenderer.h"
#include "gfx/Drawing.h"
#include "l10n/L10n.h"
#include "model/AppSettings.h"
#include "platform/Accessibility.h"
#include "platform/Panels.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsContext.h"
#include "ui/Appearance.h"
#include "ui/CapsuleSegmentedControl.h"
#include "ui/ControlPainting.h"
#include "ui/PillButton.h"
#include "ui/PillTheme.h"
#include "ui/PulldownPill.h"
#include "ui/SettingsDropdown.h"
#include "ui/SettingsPillButton.h"
#include "ui/SystemSymbols.h"
#include "ui/Theme.h"

namespace lumarin {

namespace {

constexpr int kSectionSpacing = 14;
constexpr int kRowPadding = 8;
constexpr int kEditorIndent = AppsTab::kRowIconSize + 12;
constexpr int kSegmentHeight = 24;
constexpr int kSegmentMinWidth = 56;
constexpr int kSegmentTextMargin = 20;
constexpr int kSegmentTextPoints = 12;
constexpr int kDisclosureSize = 24;
constexpr int kDotSize = 22;
constexpr double kDotDiameter = 14;
constexpr int kPreviewWidth = 132;
constexpr int kPreviewHeight = 26;
constexpr double kPreviewInset = 8;
constexpr double kPreviewTitleGap = 2;
constexpr qreal kTextImageScale = 2;

QString qs(const std::string& text) { return QString::fromStdString(text); }

QColor qcolor(const RgbColor& color) {
  return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                          static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

// A word drawn black on a transparent canvas: a template image for the segmented control,
// which tints it as it tints its symbols.
QImage textTemplate(const QString& text) {
  const QFont font = kitFont(kSegmentTextPoints, QFont::Medium);
  const QFontMetricsF metrics(font);
  const QSizeF size(std::ceil(metrics.horizontalAdvance(text)) + 2, std::ceil(metrics.height()));
  QImage image(static_cast<int>(size.width() * kTextImageScale),
               static_cast<int>(size.height() * kTextImageScale),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(kTextImageScale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::TextAntialiasing);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, text);
  return image;
}

// Our bitmap as a Qt image of the same size in points.
QImage pointImage(const Image& image) {
  QImage out = toQImage(image);
  if (!out.isNull()) {
    out.setDevicePixelRatio(image.scale());
  }
  return out;
}

const DockItem* tileOf(const std::map<std::string, DockItem>& dock, const std::string& bundleID) {
  const auto it = dock.find(bundleID);
  return it == dock.end() ? nullptr : &it->second;
}

std::string statusLine(const L10n& l10n, const DockItem* tile) {
  if (tile == nullptr) {
    return l10n.string("apps.notInDock");
  }
  if (tile->badge) {
    return tile->badge->count
               ? l10n.format("item.tooltip", {BadgeRenderer::displayText(*tile->badge)})
               : tile->badge->label;
  }
  return l10n.string(tile->isRunning ? "apps.running" : "item.notRunning");
}

// A named system symbol in the secondary label colour, resolved when it is drawn.
class SymbolView : public QWidget {
 public:
  SymbolView(const QString& name, double points, QWidget* parent = nullptr)
      : QWidget(parent), image_(systemSymbol(name, points, QFont::Medium)) {
    setFixedSize(naturalSize(image_).toSize());
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(
        QRectF(rect()),
        tintedTemplate(image_, Theme::secondaryLabel().resolve(effectiveAppearance(this))));
  }
  bool event(QEvent* event) override {
    if (changesAppearance(event)) {
      update();
    }
    return QWidget::event(event);
  }

 private:
  QImage image_;
};

// An app's icon at a fixed size; a template (the stand-in of a missing app) is tinted.
class IconView : public QWidget {
 public:
  IconView(const Image& icon, int size, QWidget* parent = nullptr)
      : QWidget(parent), image_(pointImage(icon)), isTemplate_(icon.isTemplate) {
    setFixedSize(size, size);
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    if (image_.isNull()) {
      return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(
        QRectF(rect()),
        isTemplate_
            ? tintedTemplate(image_, Theme::secondaryLabel().resolve(effectiveAppearance(this)))
            : image_);
  }

 private:
  QImage image_;
  bool isTemplate_;
};

// The chevron that opens and closes a row's editor. It is the row's stop in the Tab chain:
// Space or Return toggles it, Option-Up and Option-Down move the row.
class DisclosureButton : public QAbstractButton {
 public:
  explicit DisclosureButton(std::function<void(int)> onMove, QWidget* parent = nullptr)
      : QAbstractButton(parent), onMove_(std::move(onMove)) {
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setFixedSize(kDisclosureSize, kDisclosureSize);
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const Appearance appearance = effectiveAppearance(this);
    if (underMouse() || isDown()) {
      painter.setPen(Qt::NoPen);
      painter.setBrush(
          (isDown() ? PillTheme::pressedOverlay() : PillTheme::hoverOverlay()).resolve(appearance));
      painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }
    const QImage symbol =
        systemSymbol(isChecked() ? QStringLiteral("chevron.up") : QStringLiteral("chevron.down"),
                     11, QFont::DemiBold);
    const QSizeF size = naturalSize(symbol);
    const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2),
                        size);
    painter.drawImage(target, tintedTemplate(symbol, Theme::secondaryLabel().resolve(appearance)));
    if (hasFocus()) {
      drawFocusRing(painter, QRectF(rect()), 6, appearance, false);
    }
  }
  void keyPressEvent(QKeyEvent* event) override {
    const bool option = (event->modifiers() & Qt::AltModifier) != 0;
    if (option && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
      onMove_(event->key() == Qt::Key_Up ? -1 : 1);
      return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
      click();
      return;
    }
    QAbstractButton::keyPressEvent(event);
  }
  bool event(QEvent* event) override {
    if (changesAppearance(event)) {
      update();
    }
    return QAbstractButton::event(event);
  }

 private:
  std::function<void(int)> onMove_;
};

// One badge colour: a filled dot, ringed when it is the app's colour. The dots of a row form
// one exclusive group (arrow keys move between them, as between radio buttons).
class ColorDot : public QAbstractButton {
 public:
  ColorDot(BadgeColor color, const QString& name, QWidget* parent = nullptr)
      : QAbstractButton(parent), color_(color) {
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(name);
    setToolTip(name);
    setFixedSize(kDotSize, kDotSize);
  }

  BadgeColor color() const { return color_; }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const Appearance appearance = effectiveAppearance(this);
    const QColor fill = qcolor(colorValue(color_));
    const QPointF centre = QRectF(rect()).center();
    if (isChecked()) {
      painter.setPen(QPen(fill, 2));
      painter.setBrush(Qt::NoBrush);
      const double ring = kDotSize - 3;
      painter.drawEllipse(centre, ring / 2, ring / 2);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    const double dot = isChecked() ? kDotDiameter - 4 : kDotDiameter;
    painter.drawEllipse(centre, dot / 2, dot / 2);
    if (hasFocus()) {
      drawFocusRing(painter, QRectF(rect()), kDotSize / 2.0, appearance, false);
    }
  }
  void keyPressEvent(QKeyEvent* event) override {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !event->isAutoRepeat()) {
      click();
      return;
    }
    QAbstractButton::keyPressEvent(event);
  }

 private:
  BadgeColor color_;
};

// A short stretch of menu bar showing what the app's item shows now: the item's own picture and
// title while it has them, otherwise what the badge renderer draws for the app's badge, style
// and colour.
class MenuBarPreview : public QWidget {
 public:
  explicit MenuBarPreview(SettingsContext& context, QWidget* parent = nullptr)
      : QWidget(parent), context_(context) {
    setFixedSize(kPreviewWidth, kPreviewHeight);
  }

  void present(const MonitoredApp& app, std::optional<BadgeValue> badge, BadgeStyle defaultStyle) {
    app_ = app;
    badge_ = std::move(badge);
    defaultStyle_ = defaultStyle;
    update();
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const Appearance appearance = effectiveAppearance(this);
    painter.setPen(QPen(PillTheme::fieldBorder().resolve(appearance), 1));
    painter.setBrush(PillTheme::field().resolve(appearance));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);

    std::optional<LazyImage> picture;
    std::optional<StyledText> title;
    if (context_.liveAppearance) {
      std::tie(picture, title) = context_.liveAppearance(app_.id);
    }
    if (!picture && !title) {
      const BadgeStyle style = app_.effectiveStyle(defaultStyle_);
      const Image icon = context_.appIcons.icon(app_.bundleID, BadgeRenderer::kIconSize);
      picture = BadgeRenderer::image(icon, badge_, style, app_.effectiveColor(), false).lazy();
      if (style == BadgeStyle::text && badge_) {
        title = BadgeRenderer::title(*badge_, app_.effectiveColor());
      }
    }

    const QColor ink = Theme::label().resolve(appearance);
    double x = kPreviewInset;
    if (picture) {
      const qreal scale = devicePixelRatioF();
      QImage image = toQImage(picture->rasterize(scale));
      if (picture->isTemplate) {
        image = tintedTemplate(image, ink);
      }
      image.setDevicePixelRatio(scale);
      const QRectF target(x, (height() - picture->size.height) / 2, picture->size.width,
                          picture->size.height);
      painter.drawImage(target, image);
      x += picture->size.width + kPreviewTitleGap;
    }
    if (title) {
      painter.setFont(kitFont(static_cast<int>(std::lround(title->pointSize)),
                              title->semibold ? QFont::DemiBold : QFont::Normal));
      painter.setPen(qcolor(title->color));
      painter.drawText(QRectF(x, 0, width() - x, height()), Qt::AlignVCenter | Qt::AlignLeft,
                       qs(title->text));
    }
  }
  bool event(QEvent* event) override {
    if (changesAppearance(event)) {
      update();
    }
    return QWidget::event(event);
  }

 private:
  SettingsContext& context_;
  MonitoredApp app_;
  std::optional<BadgeValue> badge_;
  BadgeStyle defaultStyle_ = BadgeStyle::circle;
};

// Where a dragged row would land: an accent line between two rows.
class DropIndicator : public QWidget {
 public:
  explicit DropIndicator(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::accent().resolve(effectiveAppearance(this)));
  }
};

}  // namespace

// One monitored app: a header (icon, name, status line, disclosure) and, while expanded, its
// editor. It writes every change through the settings; the tab then shows the new list.
class AppsTabRow : public QWidget {
 public:
  AppsTabRow(SettingsContext& context, const MonitoredApp& app, std::function<void(bool)> onExpand,
             std::function<void(int)> onMove, QWidget* parent = nullptr);

  const MonitoredApp& app() const { return app_; }
  QWidget* header() const { return header_; }
  QAbstractButton* disclosure() const { return disclosure_; }
  QString statusText() const { return status_->text(); }
  bool isExpanded() const { return disclosure_->isChecked(); }

  void setApp(const MonitoredApp& app);
  void setExpanded(bool expanded);
  // The Dock and the default style as they are now.
  void showState(const std::map<std::string, DockItem>& dock, BadgeStyle defaultStyle);

 private:
  QWidget* makeEditor();
  void applyApp();
  void write(const std::function<void(MonitoredApp&)>& change);

  SettingsContext& context_;
  MonitoredApp app_;
  std::optional<BadgeValue> badge_;
  BadgeStyle defaultStyle_;
  QWidget* header_;
  SettingsLabel* name_;
  SettingsLabel* status_;
  DisclosureButton* disclosure_;
  QWidget* editor_ = nullptr;
  SettingsDropdown* style_ = nullptr;
  QWidget* colors_ = nullptr;
  std::vector<ColorDot*> dots_;
  SettingsDropdown* visibility_ = nullptr;
  MenuBarPreview* preview_ = nullptr;
  SettingsPillButton* remove_ = nullptr;
};

AppsTabRow::AppsTabRow(SettingsContext& context, const MonitoredApp& app,
                       std::function<void(bool)> onExpand, std::function<void(int)> onMove,
                       QWidget* parent)
    : QWidget(parent),
      context_(context),
      app_(app),
      defaultStyle_(*context.settings.defaultStyle()),
      header_(new QWidget(this)),
      name_(new SettingsLabel(qs(app.name), SettingsText::rowTitle, header_)),
      status_(new SettingsLabel(QString(), SettingsText::secondary, header_)),
      disclosure_(new DisclosureButton(std::move(onMove), header_)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, kRowPadding, 0, kRowPadding);
  column->setSpacing(kRowPadding);

  auto* headerLayout = new QHBoxLayout(header_);
  headerLayout->setContentsMargins(0, 0, 0, 0);
  headerLayout->setSpacing(12);
  headerLayout->addWidget(new IconView(context_.appIcons.icon(app.bundleID, AppsTab::kRowIconSize),
                                       AppsTab::kRowIconSize, header_));
  auto* texts = new QVBoxLayout();
  texts->setSpacing(2);
  texts->addWidget(name_);
  texts->addWidget(status_);
  headerLayout->addLayout(texts, 1);
  headerLayout->addWidget(disclosure_, 0, Qt::AlignVCenter);
  QObject::connect(disclosure_, &QAbstractButton::clicked, this,
                   [onExpand = std::move(onExpand)](bool checked) { onExpand(checked); });
  column->addWidget(header_);

  editor_ = makeEditor();
  editor_->hide();
  column->addWidget(editor_);
  applyApp();
}

QWidget* AppsTabRow::makeEditor() {
  const L10n& l10n = context_.l10n;
  auto* editor = new QWidget(this);
  auto* layout = new QVBoxLayout(editor);
  layout->setContentsMargins(kEditorIndent, 0, 0, 0);
  layout->setSpacing(10);

  std::vector<SettingsDropdown::Option> styles{{"default", qs(l10n.string("style.default"))}};
  for (BadgeStyle style : kAllBadgeStyles) {
    styles.push_back({qs(std::string(rawValue(style))), qs(l10n.string(labelKey(style)))});
  }
  style_ = new SettingsDropdown(std::move(styles), QString());
  style_->setOnSelectionChanged([this](const QString& value) {
    write([&](MonitoredApp& app) { app.style = badgeStyleFromRaw(value.toStdString()); });
  });
  layout->addWidget(new SettingsRow(qs(l10n.string("ctx.style")), QString(), style_, editor));

  colors_ = new QWidget();
  auto* dots = new QHBoxLayout(colors_);
  dots->setContentsMargins(0, 0, 0, 0);
  dots->setSpacing(4);
  for (BadgeColor color : kAllBadgeColors) {
    auto* dot = new ColorDot(color, qs(l10n.string(labelKey(color))), colors_);
    QObject::connect(dot, &QAbstractButton::clicked, this,
                     [this, color] { write([color](MonitoredApp& app) { app.color = color; }); });
    dots->addWidget(dot);
    dots_.push_back(dot);
  }
  layout->addWidget(new SettingsRow(qs(l10n.string("ctx.color")), QString(), colors_, editor));

  std::vector<SettingsDropdown::Option> visibilities;
  visibilities.reserve(kAllVisibilities.size());
  for (IconVisibility visibility : kAllVisibilities) {
    visibilities.push_back(
        {qs(std::string(rawValue(visibility))), qs(l10n.string(labelKey(visibility)))});
  }
  visibility_ = new SettingsDropdown(std::move(visibilities), QString());
  visibility_->setOnSelectionChanged([this](const QString& value) {
    write([&](MonitoredApp& app) {
      app.visibility = visibilityFromRaw(value.toStdString()).value_or(app.visibility);
    });
  });
  layout->addWidget(
      new SettingsRow(qs(l10n.string("ctx.visibility")), QString(), visibility_, editor));

  preview_ = new MenuBarPreview(context_);
  layout->addWidget(
      new SettingsRow(qs(l10n.string("apps.previewHelp")), QString(), preview_, editor));

  const Uuid id = app_.id;
  remove_ = new SettingsPillButton(
      qs(l10n.string("item.remove")), false, [this, id] { context_.settings.remove(id); }, editor);
  auto* removeLine = new QHBoxLayout();
  removeLine->addStretch(1);
  removeLine->addWidget(remove_);
  layout->addLayout(removeLine);
  return editor;
}

void AppsTabRow::write(const std::function<void(MonitoredApp&)>& change) {
  MonitoredApp changed = app_;
  change(changed);
  if (changed != app_) {
    context_.settings.update(changed);
  }
}

void AppsTabRow::setApp(const MonitoredApp& app) {
  app_ = app;
  applyApp();
}

void AppsTabRow::applyApp() {
  const QString name = qs(app_.name);
  const auto named = [&name](const std::string& text) { return name + ": " + qs(text); };
  const L10n& l10n = context_.l10n;
  name_->setText(name);
  disclosure_->setAccessibleName(name);
  style_->setSelection(app_.style ? qs(std::string(rawValue(*app_.style)))
                                  : QStringLiteral("default"));
  style_->pill()->setAccessibleName(named(l10n.string("ctx.style")));
  style_->pill()->setAccessibleDescription(style_->pill()->title());
  visibility_->setSelection(qs(std::string(rawValue(app_.visibility))));
  visibility_->pill()->setAccessibleName(named(l10n.string("ctx.visibility")));
  visibility_->pill()->setAccessibleDescription(visibility_->pill()->title());
  colors_->setAccessibleName(named(l10n.string("ctx.color")));
  const BadgeColor chosen = app_.color.value_or(BadgeColor::red);
  for (ColorDot* dot : dots_) {
    if (dot->color() == chosen) {
      dot->setChecked(true);  // the group unchecks the others
    }
  }
  preview_->setAccessibleName(named(l10n.string("apps.previewHelp")));
  remove_->button()->setAccessibleName(named(l10n.string("item.remove")));
  preview_->present(app_, badge_, defaultStyle_);
}

void AppsTabRow::setExpanded(bool expanded) {
  disclosure_->setChecked(expanded);
  editor_->setVisible(expanded);
}

void AppsTabRow::showState(const std::map<std::string, DockItem>& dock, BadgeStyle defaultStyle) {
  const DockItem* tile = tileOf(dock, app_.bundleID);
  badge_ = tile != nullptr ? tile->badge : std::nullopt;
  defaultStyle_ = defaultStyle;
  const QString status = qs(statusLine(context_.l10n, tile));
  status_->setText(status);
  disclosure_->setAccessibleDescription(status);
  preview_->present(app_, badge_, defaultStyle_);
}

AppsTab::AppsTab(SettingsContext& context, QWidget* parent) : QWidget(parent), context_(context) {
  const L10n& l10n = context_.l10n;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(kSectionSpacing);
  if (context_.accessibility != nullptr) {
    layout->addWidget(makePermissionCard());
  }
  layout->addWidget(makeDefaultStyleCard());
  layout->addWidget(makeHeading());

  auto* appsCard = new SettingsCard(this);
  emptyState_ = new QWidget(appsCard);
  auto* empty = new QVBoxLayout(emptyState_);
  empty->setContentsMargins(0, 16, 0, 16);
  empty->setSpacing(6);
  empty->addWidget(new SymbolView(QStringLiteral("app.badge"), 28, emptyState_), 0,
                   Qt::AlignHCenter);
  for (auto [key, kind] : {std::pair{"apps.emptyTitle", SettingsText::rowTitle},
                           std::pair{"apps.emptyBody", SettingsText::secondary}}) {
    auto* label = new SettingsLabel(qs(l10n.string(key)), kind, emptyState_);
    label->setAlignment(Qt::AlignHCenter);
    empty->addWidget(label);
  }
  appsCard->addRow(emptyState_);
  list_ = new QWidget(appsCard);
  listLayout_ = new QVBoxLayout(list_);
  listLayout_->setContentsMargins(0, 0, 0, 0);
  listLayout_->setSpacing(0);
  appsCard->addRow(list_);
  dropIndicator_ = new DropIndicator(list_);
  layout->addWidget(appsCard);

  layout->addWidget(new SettingsLabel(qs(l10n.string("apps.footer")), SettingsText::footer, this));
  layout->addStretch(1);

  refreshTrust();
  rebuildRows(*context_.settings.monitoredApps());
  appsSubscription_ = context_.settings.monitoredApps().observe(
      [this](const std::vector<MonitoredApp>& apps) { showApps(apps); });
  styleSubscription_ = context_.settings.defaultStyle().observe([this](BadgeStyle style) {
    const auto it = std::find(kSegmentStyles.begin(), kSegmentStyles.end(), style);
    defaultStyle_->setSelectedIndex(static_cast<int>(it - kSegmentStyles.begin()));
    showDock();
  });
  dockSubscription_ =
      context_.dockItems.observe([this](const std::map<std::string, DockItem>&) { showDock(); });
}

AppsTab::~AppsTab() {
  appsSubscription_.reset();
  styleSubscription_.reset();
  dockSubscription_.reset();
  if (trustTimer_) {
    trustTimer_->cancel();
  }
  if (addAppMenu_) {
    delete addAppMenu_.data();
  }
}

QWidget* AppsTab::makePermissionCard() {
  const L10n& l10n = context_.l10n;
  permissionCard_ = new SettingsCard(this);
  auto* button = new SettingsPillButton(qs(l10n.string("perm.open")), true, [this] {
    if (context_.requestAccessibility) {
      context_.requestAccessibility();
    }
  });
  button->setFixedHeight(kPermissionButtonHeight);
  permissionCard_->addRow(
      new SettingsRow(qs(l10n.string("perm.title")), qs(l10n.string("perm.body")), button));
  return permissionCard_;
}

QWidget* AppsTab::permissionCard() const { return permissionCard_; }

QWidget* AppsTab::makeDefaultStyleCard() {
  const L10n& l10n = context_.l10n;
  std::vector<QImage> images;
  std::vector<QString> titles;
  double segment = kSegmentMinWidth;
  for (BadgeStyle style : kSegmentStyles) {
    titles.push_back(qs(l10n.string(labelKey(style))));
    images.push_back(textTemplate(titles.back()));
    segment = std::max(segment, naturalSize(images.back()).width() + kSegmentTextMargin);
  }
  defaultStyle_ = new CapsuleSegmentedControl(
      std::move(images), titles, std::ceil(segment) * kSegmentStyles.size(), kSegmentHeight);
  const QString title = qs(l10n.string("set.defaultStyle"));
  defaultStyle_->setAccessibleName(title);
  const auto it =
      std::find(kSegmentStyles.begin(), kSegmentStyles.end(), *context_.settings.defaultStyle());
  defaultStyle_->setSelectedIndex(static_cast<int>(it - kSegmentStyles.begin()));
  defaultStyle_->setOnSelect([this](int index) {
    context_.settings.setDefaultStyle(kSegmentStyles.at(static_cast<size_t>(index)));
  });
  auto* card = new SettingsCard(this);
  card->addRow(new SettingsRow(title, qs(l10n.string("set.defaultStyleSub")), defaultStyle_));
  return card;
}

QWidget* AppsTab::makeHeading() {
  auto* heading = new QWidget(this);
  auto* line = new QHBoxLayout(heading);
  line->setContentsMargins(4, 6, 0, 0);
  line->setSpacing(6);
  line->addWidget(
      new SettingsLabel(qs(context_.l10n.string("apps.section")), SettingsText::heading, heading),
      0, Qt::AlignVCenter);
  countLabel_ = new SettingsLabel(QString(), SettingsText::secondary, heading);
  line->addWidget(countLabel_, 0, Qt::AlignVCenter);
  line->addStretch(1);
  addApp_ = new PulldownPill(qs(context_.l10n.string("menu.addApp")), heading);
  addApp_->setFixedSize(kAddAppWidth, kAddAppHeight);
  QObject::connect(addApp_, &QAbstractButton::clicked, this, [this] { popUpAddAppMenu(); });
  line->addWidget(addApp_, 0, Qt::AlignVCenter);
  return heading;
}

QMenu* AppsTab::popUpAddAppMenu() {
  if (addAppMenu_) {
    addAppMenu_->close();
    addAppMenu_->deleteLater();
  }
  const L10n& l10n = context_.l10n;
  std::vector<DockItem> dock;
  for (const auto& entry : *context_.dockItems) {
    dock.push_back(entry.second);
  }
  std::stable_sort(dock.begin(), dock.end(), [](const DockItem& a, const DockItem& b) {
    return qs(a.name).localeAwareCompare(qs(b.name)) < 0;
  });

  // Top level, so the window does not clip it; it deletes itself once closed.
  auto* menu = new QMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->setAccessibleName(addApp_->title());
  AppSettings& settings = context_.settings;
  const auto addable = addableDockApps(dock, *settings.monitoredApps(), context_.ownBundleID);
  for (const AddableApp& app : addable) {
    const Image icon = context_.appIcons.icon(app.bundleID, kMenuIconSize);
    QPixmap pixmap = QPixmap::fromImage(toQImage(icon));
    pixmap.setDevicePixelRatio(icon.scale());
    QAction* action = menu->addAction(QIcon(pixmap), qs(app.name));
    QObject::connect(action, &QAction::triggered, this,
                     [&settings, app] { settings.add(app.bundleID, app.name); });
  }
  if (addable.empty()) {
    menu->addAction(qs(l10n.string("menu.addAppEmpty")))->setEnabled(false);
  }
  menu->addSeparator();
  QObject::connect(menu->addAction(qs(l10n.string("menu.addAppBrowse"))), &QAction::triggered, this,
                   [this] { addFromDisk(); });
  addAppMenu_ = menu;
  menu->popup(addApp_->mapToGlobal(QPoint(0, addApp_->height() + 4)));
  return menu;
}

void AppsTab::addFromDisk() {
  OpenPanelRequest request{"/Applications", context_.l10n.string("menu.addAppBrowseMsg"), true,
                           false};
  // The settings and the workspace outlive the window, so a choice made after it closed still
  // counts.
  context_.panels.runOpenPanel(
      request, [&settings = context_.settings,
                &workspace = context_.workspace](const std::optional<std::string>& url) {
        if (!url) {
          return;
        }
        if (const auto app = appAtURL(workspace, *url)) {
          settings.add(app->bundleID, app->name);
        }
      });
}

void AppsTab::refreshTrust() {
  if (permissionCard_ != nullptr) {
    permissionCard_->setVisible(!context_.accessibility->isProcessTrusted());
  }
}

void AppsTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refreshTrust();
  // Without the card there is no permission to watch.
  if (!trustTimer_ && permissionCard_ != nullptr) {
    QPointer<AppsTab> self(this);
    trustTimer_ = context_.scheduler.mainQueue().scheduleRepeating(seconds(kTrustCheckSeconds),
                                                                   Duration::zero(), [self] {
                                                                     if (self) {
                                                                       self->refreshTrust();
                                                                     }
                                                                   });
  }
}

void AppsTab::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (trustTimer_) {
    trustTimer_->cancel();
    trustTimer_.reset();
  }
  endDrag();
}

QWidget* AppsTab::rowHeader(int index) const {
  return index >= 0 && index < rowCount() ? rows_[static_cast<size_t>(index)]->header() : nullptr;
}

QString AppsTab::statusText(int index) const {
  return index >= 0 && index < rowCount() ? rows_[static_cast<size_t>(index)]->statusText()
                                          : QString();
}

void AppsTab::setExpandedApp(const std::optional<Uuid>& id) {
  expanded_.reset();
  for (AppsTabRow* row : rows_) {
    const bool open = id && row->app().id == *id;
    row->setExpanded(open);
    if (open) {
      expanded_ = id;
    }
  }
}

void AppsTab::showApps(const std::vector<MonitoredApp>& apps) {
  const bool sameRows = std::equal(
      apps.begin(), apps.end(), rows_.begin(), rows_.end(),
      [](const MonitoredApp& app, const AppsTabRow* row) { return app.id == row->app().id; });
  if (!sameRows) {
    rebuildRows(apps);
    return;
  }
  for (size_t i = 0; i < apps.size(); ++i) {
    rows_[i]->setApp(apps[i]);
  }
}

void AppsTab::rebuildRows(const std::vector<MonitoredApp>& apps) {
  endDrag();
  // Keyboard focus on a row's disclosure goes to the same app's new row.
  std::optional<Uuid> focused;
  const QWidget* focus = QApplication::focusWidget();
  for (const AppsTabRow* row : rows_) {
    if (focus != nullptr && focus == row->disclosure()) {
      focused = row->app().id;
    }
  }
  // Old rows go later: this may run inside one of their own controls' handlers.
  while (QLayoutItem* item = listLayout_->takeAt(0)) {
    if (QWidget* widget = item->widget()) {
      widget->hide();
      widget->deleteLater();
    }
    delete item;
  }
  rows_.clear();

  for (const MonitoredApp& app : apps) {
    if (!rows_.empty()) {
      auto* divider = new RowDivider(list_);
      listLayout_->addWidget(divider);
      divider->show();
    }
    const Uuid id = app.id;
    auto* row = new AppsTabRow(
        context_, app,
        [this, id](bool open) { setExpandedApp(open ? std::optional<Uuid>(id) : std::nullopt); },
        [this, id](int offset) { moveApp(id, offset); }, list_);
    row->header()->installEventFilter(this);
    listLayout_->addWidget(row);
    // Shown now rather than on the layout's next turn, so focus can move to it at once.
    row->show();
    rows_.push_back(row);
    if (focused && *focused == id) {
      row->disclosure()->setFocus(Qt::OtherFocusReason);
    }
  }
  dropIndicator_->raise();
  emptyState_->setVisible(apps.empty());
  list_->setVisible(!apps.empty());
  countLabel_->setText(QString::number(apps.size()));
  setExpandedApp(expanded_);
  showDock();
}

void AppsTab::showDock() {
  const BadgeStyle style = *context_.settings.defaultStyle();
  for (AppsTabRow* row : rows_) {
    row->showState(*context_.dockItems, style);
  }
}

void AppsTab::moveApp(const Uuid& id, int offset) {
  const auto it = std::find_if(rows_.begin(), rows_.end(),
                               [&id](const AppsTabRow* row) { return row->app().id == id; });
  if (it == rows_.end()) {
    return;
  }
  const int from = static_cast<int>(it - rows_.begin());
  moveApp(from, std::clamp(from + offset, 0, rowCount() - 1));
}

void AppsTab::moveApp(int from, int to) {
  std::vector<MonitoredApp> apps = *context_.settings.monitoredApps();
  if (from == to || from < 0 || to < 0 || from >= static_cast<int>(apps.size()) ||
      to >= static_cast<int>(apps.size())) {
    return;
  }
  const auto first = apps.begin();
  if (from < to) {
    std::rotate(first + from, first + from + 1, first + to + 1);
  } else {
    std::rotate(first + to, first + from, first + from + 1);
  }
  context_.settings.setMonitoredApps(std::move(apps));
}

int AppsTab::rowIndexOf(const QObject* header) const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i]->header() == header) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int AppsTab::insertionIndexAt(int y) const {
  int index = 0;
  for (const AppsTabRow* row : rows_) {
    if (row->geometry().center().y() < y) {
      ++index;
    }
  }
  return index;
}

void AppsTab::showDropIndicator(int insertion) {
  if (rows_.empty()) {
    return;
  }
  const int y = insertion < rowCount() ? rows_[static_cast<size_t>(insertion)]->geometry().top()
                                       : rows_.back()->geometry().bottom() + 1;
  dropIndicator_->setGeometry(0, std::max(0, y - 1), list_->width(), 2);
  dropIndicator_->show();
  dropIndicator_->raise();
}

void AppsTab::endDrag() {
  if (pressedRow_ >= 0 && pressedRow_ < rowCount()) {
    rows_[static_cast<size_t>(pressedRow_)]->header()->unsetCursor();
  }
  pressedRow_ = -1;
  dragging_ = false;
  if (dropIndicator_ != nullptr) {
    dropIndicator_->hide();
  }
}

bool AppsTab::eventFilter(QObject* watched, QEvent* event) {
  const int index = rowIndexOf(watched);
  const auto type = event->type();
  // The second press of a quick double click counts as a press of its own.
  const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
  if (index < 0 || (!press && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)) {
    return QWidget::eventFilter(watched, event);
  }
  auto* mouse = static_cast<QMouseEvent*>(event);
  auto* header = static_cast<QWidget*>(watched);
  const QPoint position = mouse->position().toPoint();
  if (press) {
    if (mouse->button() != Qt::LeftButton) {
      return false;
    }
    pressedRow_ = index;
    pressPosition_ = position;
    dragging_ = false;
    // A clicked row takes the keyboard, so Option-arrows move it next.
    rows_[static_cast<size_t>(index)]->disclosure()->setFocus(Qt::MouseFocusReason);
    return true;
  }
  if (pressedRow_ != index) {
    return false;
  }
  const int listY = header->mapTo(list_, position).y();
  if (type == QEvent::MouseMove) {
    if ((mouse->buttons() & Qt::LeftButton) == 0) {
      return false;
    }
    if (!dragging_ && (position - pressPosition_).manhattanLength() >= kDragThreshold) {
      dragging_ = true;
      header->setCursor(Qt::ClosedHandCursor);
    }
    if (dragging_) {
      showDropIndicator(insertionIndexAt(listY));
    }
    return true;
  }
  // Release: a drag drops the row where the line shows; a click opens or closes it.
  const bool dragged = dragging_;
  const int insertion = insertionIndexAt(listY);
  endDrag();
  if (dragged) {
    moveApp(index, insertion > index ? insertion - 1 : insertion);
  } else {
    const Uuid id = rows_[static_cast<size_t>(index)]->app().id;
    setExpandedApp(expanded_ == id ? std::nullopt : std::optional<Uuid>(id));
  }
  return true;
}

}  // namespace lumarin
