#include "ui/PillGallery.h"

#include <QPainter>
#include <array>
#include <vector>

#include "ui/CapsuleSegmentedControl.h"
#include "ui/PillButton.h"
#include "ui/PulldownPill.h"
#include "ui/SystemSymbols.h"
#include "ui/Theme.h"

namespace lumarin {
namespace {

constexpr double kMargin = 16;
constexpr double kSpacing = 12;
constexpr double kRowHeight = 28;
constexpr double kSegmentedWidth = 120;
constexpr double kSegmentedHeight = 24;
constexpr double kPulldownWidth = 150;

struct NamedState {
  ControlState state;
  int hoveredSegment;
};

const std::array<NamedState, 5>& states() {
  static const std::array<NamedState, 5> list = {{
      {{true, false, false, false}, -1},   // normal
      {{true, true, false, false}, 2},     // hovered
      {{true, true, true, false}, -1},     // pressed
      {{false, false, false, false}, -1},  // disabled
      {{true, false, false, true}, -1},    // focused
  }};
  return list;
}

struct Texts {
  QString filledTitle;
  QString plainTitle;
  QString pulldownTitle;
};

struct Layout {
  double filledWidth;
  double plainWidth;
  double columnWidth;
  double height;
};

Layout measure(const Texts& texts) {
  Layout layout{};
  layout.filledWidth = PillButton::plainButtonWidth(texts.filledTitle) + PillButton::kExtraWidth;
  layout.plainWidth = PillButton::plainButtonWidth(texts.plainTitle) + PillButton::kExtraWidth;
  const double stateWidth =
      std::max({layout.filledWidth, layout.plainWidth, kPulldownWidth, kSegmentedWidth});
  const auto count = static_cast<double>(states().size());
  layout.columnWidth = 2 * kMargin + count * stateWidth + (count - 1) * kSpacing;
  // Rows: filled button, plain button, pull-down, segmented (each state), segmented with each
  // selection.
  layout.height = 2 * kMargin + 5 * kRowHeight + 4 * kSpacing;
  return layout;
}

void drawColumn(QPainter& p, const QRectF& column, Appearance appearance, const Texts& texts,
                const Layout& layout, const std::vector<QImage>& symbols) {
  p.fillRect(column, Theme::surfaceCard().resolve(appearance));
  const auto count = static_cast<double>(states().size());
  const double stateWidth = (layout.columnWidth - 2 * kMargin - (count - 1) * kSpacing) / count;
  auto cell = [&](size_t row, size_t col) {
    return QPointF(column.left() + kMargin + static_cast<double>(col) * (stateWidth + kSpacing),
                   column.top() + kMargin + static_cast<double>(row) * (kRowHeight + kSpacing));
  };
  for (size_t col = 0; col < states().size(); ++col) {
    const ControlState& state = states()[col].state;
    const QPointF a = cell(0, col);
    PillButton::paint(p, QRectF(a.x(), a.y() + 2, layout.filledWidth, PillButton::kHeight),
                      texts.filledTitle, true, state, appearance);
    const QPointF b = cell(1, col);
    PillButton::paint(p, QRectF(b.x(), b.y() + 2, layout.plainWidth, PillButton::kHeight),
                      texts.plainTitle, false, state, appearance);
    const QPointF c = cell(2, col);
    PulldownPill::paint(p, QRectF(c.x(), c.y(), kPulldownWidth, PulldownPill::kHeight),
                        texts.pulldownTitle, state, appearance);
    const QPointF d = cell(3, col);
    p.save();
    p.translate(d.x(), d.y() + 2);
    CapsuleSegmentedControl::paint(p, QSizeF(kSegmentedWidth, kSegmentedHeight), symbols,
                                   static_cast<int>(symbols.size()), 0,
                                   states()[col].hoveredSegment, std::nullopt, state, appearance);
    p.restore();
  }
  for (size_t selected = 0; selected < symbols.size(); ++selected) {
    const QPointF e = cell(4, selected);
    p.save();
    p.translate(e.x(), e.y() + 2);
    CapsuleSegmentedControl::paint(p, QSizeF(kSegmentedWidth, kSegmentedHeight), symbols,
                                   static_cast<int>(symbols.size()), static_cast<int>(selected), -1,
                                   std::nullopt, ControlState{}, appearance);
    p.restore();
  }
}

}  // namespace

QImage renderPillGallery(const std::function<QString(std::string_view key)>& text, qreal scale) {
  const Texts texts{text("hud.showNow"), text("acct.signOut"), text("menu.addApp")};
  const std::vector<QImage> symbols = {
      systemSymbol(QStringLiteral("textformat.123"), 13, QFont::Medium),
      systemSymbol(QStringLiteral("circle.fill"), 13, QFont::Medium),
      systemSymbol(QStringLiteral("smallcircle.filled.circle"), 13, QFont::Medium),
      systemSymbol(QStringLiteral("app.badge"), 13, QFont::Medium)};
  const Layout layout = measure(texts);
  const QSizeF points(2 * layout.columnWidth, layout.height);
  QImage image((points * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  QPainter p(&image);
  drawColumn(p, QRectF(0, 0, layout.columnWidth, layout.height), Appearance::light, texts, layout,
             symbols);
  drawColumn(p, QRectF(layout.columnWidth, 0, layout.columnWidth, layout.height), Appearance::dark,
             texts, layout, symbols);
  p.end();
  return image;
}

bool writePillGallery(const QString& path, const std::function<QString(std::string_view key)>& text,
                      qreal scale) {
  return renderPillGallery(text, scale).save(path, "PNG");
}

}  // namespace lumarin
