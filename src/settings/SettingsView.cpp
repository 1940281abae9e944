#include "settings/SettingsView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "l10n/L10n.h"
#include "platform/Bundle.h"
#include "platform/Scheduler.h"
#include "settings/SettingsComponents.h"
#include "settings/SettingsContext.h"
#include "settings/SettingsTabs.h"
#include "ui/AppIconView.h"
#include "ui/ControlPainting.h"
#include "ui/SystemSymbols.h"
#include "ui/Theme.h"

namespace lumarin {

namespace {

constexpr SettingsTab kTabs[] = {SettingsTab::general, SettingsTab::permissions, SettingsTab::apps,
                                 SettingsTab::account, SettingsTab::about};

struct TabLook {
  const char* symbol;
  QColor from;
  QColor to;
};

TabLook lookOf(SettingsTab tab) {
  switch (tab) {
    case SettingsTab::general:
      return {"gearshape.fill", QColor(142, 142, 147), QColor(110, 110, 115)};
    case SettingsTab::permissions:
      return {"lock.shield.fill", QColor(255, 179, 64), QColor(255, 149, 0)};
    case SettingsTab::apps:
      return {"app.badge.fill", QColor(255, 105, 97), QColor(255, 59, 48)};
    case SettingsTab::account:
      return {"person.crop.circle.fill", QColor(102, 212, 207), QColor(0, 163, 163)};
    case SettingsTab::about:
      return {"info.circle.fill", QColor(142, 142, 240), QColor(94, 92, 230)};
  }
  return {"gearshape.fill", QColor(142, 142, 147), QColor(110, 110, 115)};
}

QString tabText(const SettingsContext& context, const char* prefix, SettingsTab tab) {
  return QString::fromStdString(
      context.l10n.string(std::string(prefix) + std::string(settingsTabName(tab))));
}

QColor windowBackground(Appearance appearance) {
  return appearance == Appearance::dark ? QColor(40, 40, 42) : QColor(240, 240, 242);
}

}  // namespace

void drawTabIcon(QPainter& painter, SettingsTab tab, const QRectF& rect) {
  const TabLook look = lookOf(tab);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
  gradient.setColorAt(0, look.from);
  gradient.setColorAt(1, look.to);
  painter.setPen(Qt::NoPen);
  painter.setBrush(gradient);
  const double radius = rect.width() * 0.27;
  painter.drawRoundedRect(rect, radius, radius);
  // The symbol is a template: only its alpha counts, filled here with white.
  const qreal scale = painter.device()->devicePixelRatioF() * 2;
  QImage symbol = systemSymbol(QString::fromLatin1(look.symbol), 13, QFont::DemiBold, scale);
  QPainter tint(&symbol);
  tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
  tint.fillRect(symbol.rect(), Qt::white);
  tint.end();
  const QSizeF size(symbol.width() / scale, symbol.height() / scale);
  const double side = std::min(rect.width() * 0.72, std::max(size.width(), size.height()));
  const double factor = side / std::max(size.width(), size.height());
  const QSizeF drawn = size * factor;
  painter.drawImage(QRectF(rect.center().x() - drawn.width() / 2,
                           rect.center().y() - drawn.height() / 2, drawn.width(), drawn.height()),
                    symbol);
  painter.restore();
}

// ---------------------------------------------------------------------------------------

SettingsSidebarRow::SettingsSidebarRow(SettingsTab tab, const QString& title, QWidget* parent)
    : QAbstractButton(parent), tab_(tab) {
  setText(title);
  setAccessibleName(title);
  setCheckable(true);
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  QFont font = this->font();
  font.setPointSizeF(13);
  setFont(font);
}

QFont SettingsSidebarRow::fittedFont() const {
  QFont fitted = font();
  for (double points = 13; points >= 10; points -= 0.5) {
    fitted.setPointSizeF(points);
    if (QFontMetrics(fitted).horizontalAdvance(text()) <= titleRoom()) {
      break;
    }
  }
  return fitted;
}

QSize SettingsSidebarRow::sizeHint() const {
  const QFontMetrics metrics(font());
  return {8 + kIconSize + 8 + metrics.horizontalAdvance(text()) + 8, kHeight};
}

QSize SettingsSidebarRow::minimumSizeHint() const { return {kIconSize + 16, kHeight}; }

void SettingsSidebarRow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Appearance appearance = effectiveAppearance(this);
  const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  if (isChecked()) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(appearance == Appearance::dark ? Theme::white(0.12) : Theme::black(0.08));
    painter.drawRoundedRect(bounds, 7, 7);
  }
  const QRectF icon(8, (height() - kIconSize) / 2.0, kIconSize, kIconSize);
  drawTabIcon(painter, tab_, icon);
  painter.setPen(Theme::label().resolve(appearance));
  const QFont fitted = fittedFont();
  painter.setFont(fitted);
  const QRectF label(icon.right() + 8, 0, titleRoom(), height());
  painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(fitted).elidedText(text(), Qt::ElideRight, titleRoom()));
  if (hasFocus()) {
    drawFocusRing(painter, bounds, 7, appearance, false);
  }
}

void SettingsSidebarRow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    click();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

bool SettingsSidebarRow::event(QEvent* event) {
  if (changesAppearance(event)) {
    update();
  }
  return QAbstractButton::event(event);
}

// ---------------------------------------------------------------------------------------

TesterIconView::TesterIconView(SettingsContext& context, double size, QWidget* parent)
    : QWidget(parent), context_(context), size_(size) {
  setFixedSize(sizeHint());
  setAccessibleName(QStringLiteral("Lumarin"));
  if (context.tester != nullptr) {
    QPointer<TesterIconView> self(this);
    testerSubscription_ = context.tester->enabled().observe([self](bool) {
      if (self) {
        self->update();
      }
    });
  }
}

QSize TesterIconView::sizeHint() const {
  const int side = static_cast<int>(std::ceil(size_));
  return {side, side};
}

bool TesterIconView::ringShown() const {
  return context_.tester != nullptr && *context_.tester->enabled();
}

void TesterIconView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  drawOwnIcon(painter, AppIconView::artworkRect(size_));
  if (ringShown()) {
    painter.setPen(QPen(QColor(255, 59, 48), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
}

void TesterIconView::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (context_.tester != nullptr && taps_.tap(context_.scheduler.clock().wallNow())) {
    context_.tester->toggle();
  }
}

// ---------------------------------------------------------------------------------------

SettingsView::SettingsView(SettingsContext& context, SettingsRouter& router, QWidget* parent)
    : QWidget(parent), context_(context), router_(router) {
  rebuild();
  QPointer<SettingsView> self(this);
  tabSubscription_ = router.selectedTab().observe([self](SettingsTab tab) {
    if (self) {
      self->showTab(tab);
    }
  });
  // A new language is applied after the picker's own turn; the view follows on the next.
  languageSubscription_ = context.l10n.language().observe([self, &context](AppLanguage) {
    context.scheduler.mainQueue().post([self] {
      if (self) {
        self->rebuild();
      }
    });
  });
}

SettingsView::~SettingsView() = default;

void SettingsView::rebuild() {
  // Children go first, then the layout, so a rebuild starts from an empty view.
  for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    child->hide();
    child->deleteLater();
  }
  delete layout();
  rows_.clear();
  page_ = nullptr;

  auto* split = new QHBoxLayout(this);
  split->setContentsMargins(0, 0, 0, 0);
  split->setSpacing(0);
  buildSidebar();
  split->addWidget(sidebar_);

  scroll_ = new QScrollArea(this);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll_->viewport()->setAutoFillBackground(false);
  auto* pane = new QWidget();
  auto* column = new QVBoxLayout(pane);
  column->setContentsMargins(28, 30, 28, 28);
  column->setSpacing(0);
  title_ = new SettingsLabel({}, SettingsText::pageTitle, pane);
  subtitle_ = new SettingsLabel({}, SettingsText::secondary, pane);
  column->addWidget(title_);
  column->addSpacing(4);
  column->addWidget(subtitle_);
  column->addSpacing(22);
  scroll_->setWidget(pane);
  // The scroll area fills what it holds with the palette; the window's own colour shows here.
  pane->setAutoFillBackground(false);
  split->addWidget(scroll_, 1);
  showTab(*router_.selectedTab());
  if (overlayScrollers_) {
    useOverlayScrollers();
  }
}

void SettingsView::buildSidebar() {
  sidebar_ = new QWidget(this);
  sidebar_->setFixedWidth(kSidebarWidth);
  auto* column = new QVBoxLayout(sidebar_);
  column->setContentsMargins(10, 30, 10, 16);
  column->setSpacing(2);
  auto* title = new SettingsLabel(QString::fromStdString(context_.l10n.string("set.title")),
                                  SettingsText::title, sidebar_);
  title->setContentsMargins(8, 0, 0, 10);
  column->addWidget(title);
  for (SettingsTab tab : kTabs) {
    if (tab == SettingsTab::account) {
      column->addSpacing(4);
      column->addWidget(new RowDivider(sidebar_));
      column->addSpacing(4);
    }
    auto* row = new SettingsSidebarRow(tab, tabText(context_, "tab.", tab), sidebar_);
    QObject::connect(row, &QAbstractButton::clicked, row, [this, tab] {
      router_.select(tab);
      // A click on the shown tab keeps it selected.
      showTab(*router_.selectedTab());
    });
    rows_.push_back(row);
    column->addWidget(row);
  }
  column->addStretch(1);
  auto* footer = new QHBoxLayout();
  footer->setSpacing(8);
  testerIcon_ = new TesterIconView(context_, 32, sidebar_);
  footer->addWidget(testerIcon_);
  auto* names = new QVBoxLayout();
  names->setSpacing(0);
  names->addWidget(new SettingsLabel(QStringLiteral("Lumarin"), SettingsText::heading, sidebar_));
  const std::string version =
      context_.bundle.infoString("CFBundleShortVersionString").value_or("?");
  names->addWidget(
      new SettingsLabel(QString::fromStdString(context_.l10n.format("set.version", {version})),
                        SettingsText::secondary, sidebar_));
  footer->addLayout(names, 1);
  column->addLayout(footer);
}

void SettingsView::showTab(SettingsTab tab) {
  for (SettingsSidebarRow* row : rows_) {
    row->setChecked(row->tab() == tab);
  }
  if (page_ != nullptr && shownTab_ == tab) {
    return;
  }
  shownTab_ = tab;
  title_->setText(tabText(context_, "tab.", tab));
  // The permissions tab's usual subtitle names the two permissions; a platform without them
  // gets one that matches the tab's card.
  const bool noPermissions = tab == SettingsTab::permissions && context_.accessibility == nullptr &&
                             context_.screenCapture == nullptr;
  subtitle_->setText(noPermissions
                         ? QString::fromStdString(context_.l10n.string("sub.permissionsNone"))
                         : tabText(context_, "sub.", tab));
  auto* column = static_cast<QVBoxLayout*>(scroll_->widget()->layout());
  QWidget* next = makeSettingsTab(tab, context_);
  if (page_ != nullptr) {
    // The layout hands back the old page's item, which is ours to delete.
    delete column->replaceWidget(page_, next);
    page_->hide();
    page_->deleteLater();
  } else {
    column->addWidget(next, 1);
  }
  page_ = next;
  page_->setAccessibleName(tabText(context_, "tab.", tab));
  // Shown now rather than on the layout's next turn, so the tab can be used at once.
  page_->show();
  scroll_->verticalScrollBar()->setValue(0);
}

void SettingsView::useOverlayScrollers() {
  overlayScrollers_ = true;
  for (QScrollArea* area : findChildren<QScrollArea*>()) {
    area->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { width: 8px; background: transparent; margin: 0; }"
                       "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 0.45);"
                       " border-radius: 3px; min-height: 24px; margin: 2px; }"
                       "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                       "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
  }
}

void SettingsView::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const Appearance appearance = effectiveAppearance(this);
  painter.fillRect(rect(), windowBackground(appearance));
  // The sidebar's translucent material.
  painter.fillRect(QRect(0, 0, kSidebarWidth, height()),
                   appearance == Appearance::dark ? Theme::white(0.04) : Theme::black(0.035));
  painter.fillRect(QRect(kSidebarWidth - 1, 0, 1, height()),
                   appearance == Appearance::dark ? Theme::black(0.5) : Theme::black(0.09));
}

bool SettingsView::event(QEvent* event) {
  if (changesAppearance(event)) {
    update();
  }
  return QWidget::event(event);
}

}  // namespace lumarin
