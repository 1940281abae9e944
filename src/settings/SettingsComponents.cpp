#include "settings/SettingsComponents.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/Appearance.h"
#include "ui/Theme.h"

namespace lumarin {

namespace {

struct TextStyle {
  double points;
  QFont::Weight weight;
  bool secondary;
};

TextStyle styleOf(SettingsText kind) {
  switch (kind) {
    case SettingsText::pageTitle:
      return {20, QFont::Bold, false};
    case SettingsText::title:
      return {15, QFont::Bold, false};
    case SettingsText::heading:
      return {13, QFont::DemiBold, false};
    case SettingsText::rowTitle:
      return {13, QFont::Normal, false};
    case SettingsText::body:
      return {12, QFont::Normal, false};
    case SettingsText::secondary:
    case SettingsText::footer:
      return {11, QFont::Normal, true};
  }
  return {13, QFont::Normal, false};
}

}  // namespace

SettingsCard::SettingsCard(QWidget* parent) : QFrame(parent), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(kPadding, 10, kPadding, 10);
  layout_->setSpacing(10);
  // As tall as the rows need at the width it gets (wrapped translations grow it).
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void SettingsCard::addRow(QWidget* row) { layout_->addWidget(row); }

void SettingsCard::addDivider() { layout_->addWidget(new RowDivider(this)); }

void SettingsCard::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Appearance appearance = effectiveAppearance(this);
  painter.setPen(QPen(appearance == Appearance::dark ? Theme::white(0.08) : Theme::black(0.07), 1));
  painter.setBrush(Theme::surfaceCard().resolve(appearance));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius,
                          kCornerRadius);
}

bool SettingsCard::event(QEvent* event) {
  if (changesAppearance(event)) {
    update();
  }
  return QFrame::event(event);
}

SettingsLabel::SettingsLabel(const QString& text, SettingsText kind, QWidget* parent)
    : QLabel(text, parent), kind_(kind) {
  setWordWrap(true);
  setTextFormat(Qt::PlainText);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
  applyStyle();
}

void SettingsLabel::applyStyle() {
  const TextStyle style = styleOf(kind_);
  QFont font = this->font();
  font.setPointSizeF(style.points);
  font.setWeight(style.weight);
  setFont(font);
  const Appearance appearance = effectiveAppearance(this);
  QPalette palette = this->palette();
  palette.setColor(
      QPalette::WindowText,
      (style.secondary ? Theme::secondaryLabel() : Theme::label()).resolve(appearance));
  setPalette(palette);
}

bool SettingsLabel::event(QEvent* event) {
  // A label made before its page joined the window takes the window's appearance on showing.
  if (changesAppearance(event) || event->type() == QEvent::Show) {
    applyStyle();
  }
  return QLabel::event(event);
}

SettingsRow::SettingsRow(const QString& title, const QString& subtitle, QWidget* control,
                         QWidget* parent)
    : QWidget(parent), control_(control) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  auto* texts = new QVBoxLayout();
  texts->setSpacing(2);
  title_ = new SettingsLabel(title, SettingsText::rowTitle, this);
  texts->addWidget(title_);
  if (!subtitle.isEmpty()) {
    subtitle_ = new SettingsLabel(subtitle, SettingsText::secondary, this);
    texts->addWidget(subtitle_);
  }
  row->addLayout(texts, 1);
  if (control_ != nullptr) {
    control_->setParent(this);
    if (control_->accessibleName().isEmpty()) {
      control_->setAccessibleName(title);
    }
    row->addWidget(control_, 0, Qt::AlignVCenter | Qt::AlignRight);
  }
}

KeyCapLabel::KeyCapLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
  QFont font = this->font();
  font.setPointSizeF(12);
  font.setWeight(QFont::DemiBold);
  setFont(font);
  setAccessibleName(text);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize KeyCapLabel::sizeHint() const {
  const QFontMetrics metrics(font());
  return {metrics.horizontalAdvance(text_) + 2 * kHorizontalPadding, kHeight};
}

void KeyCapLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Appearance appearance = effectiveAppearance(this);
  QColor fill = Theme::label().resolve(appearance);
  fill.setAlphaF(0.05f);
  QColor border = Theme::label().resolve(appearance);
  border.setAlphaF(0.12f);
  const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(border, 1));
  painter.setBrush(fill);
  painter.drawRoundedRect(shape, kCornerRadius, kCornerRadius);
  painter.setPen(Theme::label().resolve(appearance));
  painter.drawText(rect(), Qt::AlignCenter, text_);
}

RowDivider::RowDivider(QWidget* parent) : QWidget(parent) {
  setFixedHeight(1);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RowDivider::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const Appearance appearance = effectiveAppearance(this);
  painter.fillRect(rect(), appearance == Appearance::dark ? Theme::white(0.1) : Theme::black(0.08));
}

}  // namespace lumarin
