#include "onboarding/OKLabel.h"

#include <QFontMetrics>
#include <QTextLayout>

#include "ui/ControlPainting.h"
#include "ui/Theme.h"

namespace lumarin {

OKLabel::OKLabel(const QString& text, int points, QFont::Weight weight, Role role, bool wrap,
                 QWidget* parent)
    : QLabel(text, parent), role_(role) {
  setFont(kitFont(points, weight));
  setWordWrap(wrap);
  setTextFormat(Qt::PlainText);
  if (wrap) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }
  applyColor();
}

bool OKLabel::textFits() const {
  const QRect room = contentsRect();
  if (text().isEmpty()) {
    return true;
  }
  const QFontMetrics metrics(font());
  if (!wordWrap()) {
    return metrics.horizontalAdvance(text()) <= room.width() && metrics.height() <= room.height();
  }
  // Lay the text out as the label does; a word wider than the room overflows its line.
  QString shown = text();
  shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
  QTextLayout layout(shown, font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  double height = 0;
  bool fits = true;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(room.width());
    if (line.naturalTextWidth() > room.width() + 0.5) {
      fits = false;
    }
    height += line.height();
  }
  layout.endLayout();
  return fits && height <= room.height() + 0.5;
}

bool OKLabel::event(QEvent* event) {
  const bool result = QLabel::event(event);
  if (changesAppearance(event)) {
    applyColor();
  }
  return result;
}

void OKLabel::applyColor() {
  const Appearance appearance = effectiveAppearance(this);
  const QColor color = role_ == Role::primary ? Theme::textPrimary().resolve(appearance)
                                              : Theme::textSecondary().resolve(appearance);
  if (palette().color(QPalette::WindowText) == color) {
    return;  // setPalette would send another change event
  }
  QPalette p = palette();
  p.setColor(QPalette::WindowText, color);
  p.setColor(QPalette::Text, color);
  setPalette(p);
}

}  // namespace lumarin
