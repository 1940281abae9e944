#include "hud/MirrorHUDView.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

#include "badges/AppIcons.h"
#include "gfx/Drawing.h"
#include "hud/MirrorHUDLayout.h"
#include "l10n/L10n.h"
#include "platform/Menu.h"

namespace lumarin {

namespace {

using L = MirrorHUDLayout;

const QColor kPrimary(0xF2, 0xF2, 0xF7);
const QColor kSecondary(0xF2, 0xF2, 0xF7, 0x99);
const QColor kBackground(0x26, 0x26, 0x2B, 0xF0);

unsigned modifierBits(Qt::KeyboardModifiers modifiers) {
  unsigned bits = 0;
  // Qt calls the Command key "Control" on a Mac and Control "Meta"; on this desktop the keys
  // are named as they are.
  if (modifiers & Qt::ShiftModifier) {
    bits |= kModifierShift;
  }
  if (modifiers & Qt::ControlModifier) {
    bits |= kModifierControl;
  }
  if (modifiers & Qt::AltModifier) {
    bits |= kModifierOption;
  }
  if (modifiers & Qt::MetaModifier) {
    bits |= kModifierCommand;
  }
  return bits;
}

QImage tinted(const Image& image, const QColor& color) {
  QImage q = toQImage(image);
  QPainter p(&q);
  p.setCompositionMode(QPainter::CompositionMode_SourceIn);
  p.fillRect(q.rect(), color);
  return q;
}

}  // namespace

// A tile of the view, or its search line (empty id), for assistive technology. Qt owns it once
// registered; the view deletes it when its tile goes.
class MirrorHUDChildAccessible final : public QAccessibleInterface {
 public:
  MirrorHUDChildAccessible(MirrorHUDView* view, std::string id) : view_(view), id_(std::move(id)) {}

  bool isValid() const override { return !view_.isNull(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override {
    return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QString text(QAccessible::Text kind) const override {
    if (!view_) {
      return {};
    }
    if (kind == QAccessible::Name) {
      return view_->accessibleName(id_);
    }
    if (kind == QAccessible::Value && id_.empty()) {
      return QString::fromStdString(view_->searchText_);
    }
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!view_) {
      return {};
    }
    QRectF local = view_->searchRowRect();
    if (!id_.empty()) {
      local = {};
      for (const auto& [id, cell] : view_->cellRects()) {
        if (id == id_) {
          local = cell;
        }
      }
      for (const auto& [id, row] : view_->entryRects()) {
        if (id == id_) {
          local = row;
        }
      }
    }
    return QRect(view_->mapToGlobal(local.topLeft().toPoint()), local.size().toSize());
  }
  QAccessible::Role role() const override {
    if (id_.empty()) {
      return QAccessible::EditableText;
    }
    return view_ && view_->isEntry(id_) ? QAccessible::MenuItem : QAccessible::Button;
  }
  QAccessible::State state() const override {
    QAccessible::State state;
    state.focusable = true;
    state.focused = view_ && (id_.empty() ? !view_->focusedID_ : view_->focusedID_ == id_);
    return state;
  }

 private:
  QPointer<MirrorHUDView> view_;
  std::string id_;
};

// The view: its children are what MirrorHUDView::accessibleChildIDs lists.
class MirrorHUDViewAccessible final : public QAccessibleWidget {
 public:
  explicit MirrorHUDViewAccessible(MirrorHUDView* view)
      : QAccessibleWidget(view, QAccessible::Grouping) {}

  int childCount() const override { return static_cast<int>(view()->accessibleChildIDs().size()); }
  QAccessibleInterface* child(int index) const override {
    const auto ids = view()->accessibleChildIDs();
    if (index < 0 || static_cast<std::size_t>(index) >= ids.size()) {
      return nullptr;
    }
    return view()->accessibleChild(ids[static_cast<std::size_t>(index)]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    const int count = childCount();
    for (int i = 0; i < count; ++i) {
      if (this->child(i) == child) {
        return i;
      }
    }
    return -1;
  }

 private:
  MirrorHUDView* view() const { return static_cast<MirrorHUDView*>(widget()); }
};

namespace {

QAccessibleInterface* hudAccessibleFactory(const QString&, QObject* object) {
  if (auto* view = dynamic_cast<MirrorHUDView*>(object)) {
    return new MirrorHUDViewAccessible(view);
  }
  return nullptr;
}

}  // namespace

MirrorHUDView::MirrorHUDView(std::shared_ptr<HUDTiles> model, const L10n& l10n,
                             ClickHandler onClick, std::function<void()> onPermissionTap,
                             QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      l10n_(l10n),
      onClick_(std::move(onClick)),
      onPermissionTap_(std::move(onPermissionTap)) {
  static const bool accessible = [] {
    QAccessible::installFactory(&hudAccessibleFactory);
    return true;
  }();
  (void)accessible;
  setMouseTracking(true);
  setAttribute(Qt::WA_TranslucentBackground);
  tilesSubscription_ = model_->tiles().observe([this](const auto&) { reload(); });
  permissionSubscription_ = model_->accessibilityMissing().observe([this](bool) { reload(); });
  reload();
}

MirrorHUDView::~MirrorHUDView() {
  for (const auto& [id, accessibleID] : accessibleIDs_) {
    QAccessible::deleteAccessibleInterface(accessibleID);
  }
}

std::vector<std::string> MirrorHUDView::accessibleChildIDs() const {
  std::vector<std::string> ids;
  if (!searchText_.empty()) {
    ids.emplace_back();
  }
  for (auto& id : shownIDs()) {
    ids.push_back(std::move(id));
  }
  for (const auto& [id, title] : entries_) {
    ids.push_back(id);
  }
  return ids;
}

QAccessibleInterface* MirrorHUDView::accessibleChild(const std::string& id) {
  if (auto known = accessibleIDs_.find(id); known != accessibleIDs_.end()) {
    if (auto* child = QAccessible::accessibleInterface(known->second)) {
      return child;
    }
  }
  auto* child = new MirrorHUDChildAccessible(this, id);
  accessibleIDs_[id] = QAccessible::registerAccessibleInterface(child);
  return child;
}

QString MirrorHUDView::accessibleName(const std::string& id) const {
  if (id.empty()) {
    return QString::fromStdString(l10n_.string("mirror.hud.search"));
  }
  for (const auto& [entryID, title] : entries_) {
    if (entryID == id) {
      return QString::fromStdString(title);
    }
  }
  std::string name;
  for (const auto& tile : tiles_) {
    if (tile.id == id) {
      name = tile.title;
    }
  }
  // The item's own title after its app's name, when it has one of its own.
  const auto& targets = model_->targetsByID();
  if (auto target = targets.find(id); target != targets.end()) {
    if (const auto* item = std::get_if<ExternalStatusItem>(&target->second);
        item != nullptr && item->windowTitle && !item->windowTitle->empty() &&
        *item->windowTitle != name) {
      name += " — " + *item->windowTitle;
    }
  }
  return QString::fromStdString(name);
}

void MirrorHUDView::announceFocus() {
  if (!focusedID_ || !QAccessible::isActive()) {
    return;
  }
  QAccessibleEvent event(accessibleChild(*focusedID_), QAccessible::Focus);
  QAccessible::updateAccessibility(&event);
}

void MirrorHUDView::reload() {
  tiles_.clear();
  for (const auto& tile : *model_->tiles()) {
    if (searchText_.empty() || searchVisible_.count(tile.id) != 0) {
      tiles_.push_back(tile);
    }
  }
  permissionMissing_ = *model_->accessibilityMissing();
  hovered_.reset();
  for (auto it = accessibleIDs_.begin(); it != accessibleIDs_.end();) {
    const bool stays = it->first.empty()
                           ? !searchText_.empty()
                           : std::any_of(tiles_.begin(), tiles_.end(),
                                         [&](const auto& t) { return t.id == it->first; }) ||
                                 isEntry(it->first);
    if (stays) {
      ++it;
    } else {
      QAccessible::deleteAccessibleInterface(it->second);
      it = accessibleIDs_.erase(it);
    }
  }
  const Size size =
      L::panelSize(tiles_.size(), permissionMissing_, !searchText_.empty(), entries_.size());
  setFixedSize(static_cast<int>(size.width), static_cast<int>(size.height));
  update();
}

void MirrorHUDView::setDisplayScale(double scale) {
  displayScale_ = scale;
  update();
}

void MirrorHUDView::setSearch(const std::string& text, const std::vector<std::string>& visibleIDs,
                              const std::optional<std::string>& focusedID,
                              const std::vector<std::pair<std::string, std::string>>& entries) {
  const bool focusMoved = focusedID != focusedID_;
  const bool textChanged = text != searchText_;
  std::set<std::string> visible(visibleIDs.begin(), visibleIDs.end());
  if (!focusMoved && !textChanged && visible == searchVisible_ && entries == entries_) {
    return;  // what the model's publication already reloaded the view with
  }
  searchText_ = text;
  searchVisible_ = std::move(visible);
  entries_ = entries;
  focusedID_ = focusedID;
  reload();
  if (textChanged && !searchText_.empty() && QAccessible::isActive()) {
    QAccessibleValueChangeEvent event(accessibleChild(""), QString::fromStdString(searchText_));
    QAccessible::updateAccessibility(&event);
  }
  if (focusMoved) {
    announceFocus();
  }
}

std::vector<std::string> MirrorHUDView::shownIDs() const {
  std::vector<std::string> ids;
  for (const auto& [id, rect] : cellRects()) {
    ids.push_back(id);
  }
  return ids;
}

QRectF MirrorHUDView::searchRowRect() const {
  if (searchText_.empty()) {
    return {};
  }
  return QRectF(L::kPadding, L::kPadding, width() - 2 * L::kPadding, L::kSearchRowHeight);
}

QSize MirrorHUDView::sizeHint() const {
  const Size size =
      L::panelSize(tiles_.size(), permissionMissing_, !searchText_.empty(), entries_.size());
  return QSize(static_cast<int>(size.width), static_cast<int>(size.height));
}

QRectF MirrorHUDView::permissionRowRect() const {
  if (!permissionMissing_) {
    return {};
  }
  const double top = L::kPadding + (searchText_.empty() ? 0 : L::kSearchRowHeight + L::kSpacing);
  return QRectF(L::kPadding, top, width() - 2 * L::kPadding, L::kPermissionRowHeight);
}

std::vector<std::pair<std::string, QRectF>> MirrorHUDView::cellRects() const {
  std::vector<std::pair<std::string, QRectF>> out;
  const std::size_t cols = L::columns(tiles_.size());
  double y = L::kPadding + (searchText_.empty() ? 0 : L::kSearchRowHeight + L::kSpacing) +
             (permissionMissing_ ? L::kPermissionRowHeight + L::kSpacing : 0);
  const double right = width() - L::kPadding;
  for (const auto& row : L::rows(tiles_.size(), cols)) {
    // Right-aligned: the row's last cell touches the right padding.
    double x = right - static_cast<double>(row.size()) * L::kCellWidth -
               static_cast<double>(row.size() - 1) * L::kSpacing;
    for (const std::size_t index : row) {
      out.emplace_back(tiles_[index].id, QRectF(x, y, L::kCellWidth, L::kCellHeight));
      x += L::kCellWidth + L::kSpacing;
    }
    y += L::kCellHeight + L::kSpacing;
  }
  return out;
}

std::vector<std::pair<std::string, QRectF>> MirrorHUDView::entryRects() const {
  std::vector<std::pair<std::string, QRectF>> out;
  if (entries_.empty()) {
    return out;
  }
  const auto cells = cellRects();
  double y = cells.empty()
                 ? L::kPadding + (searchText_.empty() ? 0 : L::kSearchRowHeight + L::kSpacing) +
                       (permissionMissing_ ? L::kPermissionRowHeight + L::kSpacing : 0)
                 : cells.back().second.bottom() + L::kSpacing;
  for (const auto& [id, title] : entries_) {
    out.emplace_back(id, QRectF(L::kPadding, y, width() - 2 * L::kPadding, L::kEntryRowHeight));
    y += L::kEntryRowHeight;
  }
  return out;
}

std::optional<std::size_t> MirrorHUDView::cellAt(const QPointF& point) const {
  const auto cells = cellRects();
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (cells[i].second.contains(point)) {
      return i;
    }
  }
  return std::nullopt;
}

void MirrorHUDView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath background;
  background.addRoundedRect(QRectF(rect()), 16, 16);
  p.fillPath(background, kBackground);

  if (!searchText_.empty()) {
    const QRectF row = searchRowRect();
    QPainterPath field;
    field.addRoundedRect(row, 8, 8);
    QColor fill = kPrimary;
    fill.setAlphaF(0.12F);
    p.fillPath(field, fill);
    // A magnifying glass, then the typed text with a caret after it; a long text shows its end.
    p.setPen(QPen(kSecondary, 1.5));
    p.setBrush(Qt::NoBrush);
    const QPointF lens(row.left() + 14, row.center().y() - 1.5);
    p.drawEllipse(lens, 4.5, 4.5);
    p.drawLine(lens + QPointF(3.3, 3.3), lens + QPointF(7, 7));
    QFont font = p.font();
    font.setPointSizeF(12);
    p.setFont(font);
    const QFontMetricsF metrics(font);
    const double left = row.left() + 28;
    const double room = row.right() - 10 - left;
    const QString shown =
        metrics.elidedText(QString::fromStdString(searchText_), Qt::ElideLeft, room);
    p.setPen(kPrimary);
    p.drawText(QRectF(left, row.top(), room, row.height()), Qt::AlignVCenter | Qt::AlignLeft,
               shown);
    const double caret = left + std::min(metrics.horizontalAdvance(shown), room) + 1;
    p.drawLine(QPointF(caret, row.center().y() - 7), QPointF(caret, row.center().y() + 7));
  }

  if (permissionMissing_) {
    const QRectF row = permissionRowRect();
    QFont font = p.font();
    font.setPointSizeF(11);
    p.setFont(font);
    const QString text = QString::fromStdString(l10n_.string("mirror.hud.needPermission"));
    const double lock = 14;
    const double textWidth =
        std::min(QFontMetricsF(font).horizontalAdvance(text), row.width() - lock - 6);
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideMiddle, textWidth);
    const double start = row.center().x() - (lock + 6 + textWidth) / 2;
    // A small padlock in front of the notice.
    p.setPen(QPen(kSecondary, 1.4));
    p.setBrush(Qt::NoBrush);
    const QRectF body(start, row.center().y() - 2, lock, 8);
    p.drawArc(QRectF(start + 3, row.center().y() - 8, lock - 6, 10), 0, 180 * 16);
    p.setBrush(kSecondary);
    p.drawRoundedRect(body, 2, 2);
    p.setPen(kSecondary);
    p.drawText(QRectF(start + lock + 6, row.top(), textWidth + 1, row.height()),
               Qt::AlignVCenter | Qt::AlignLeft, shown);
  }

  const auto cells = cellRects();
  if (cells.empty() && entries_.empty() && (!permissionMissing_ || !searchText_.empty())) {
    QFont font = p.font();
    font.setPointSizeF(12);
    p.setFont(font);
    p.setPen(kSecondary);
    const double top = height() - L::kPadding - L::kCellHeight;
    p.drawText(QRectF(L::kPadding, top, width() - 2 * L::kPadding, L::kCellHeight),
               Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromStdString(l10n_.string(searchText_.empty() ? "mirror.hud.empty"
                                                                       : "mirror.hud.noMatches")));
    return;
  }
  paintEntries(p);
  QFont titleFont = p.font();
  titleFont.setPointSizeF(10);
  const QFontMetricsF titleMetrics(titleFont);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const QRectF cell = cells[i].second;
    const HUDTiles::Tile* tile = nullptr;
    for (const auto& t : tiles_) {
      if (t.id == cells[i].first) {
        tile = &t;
        break;
      }
    }
    if (tile == nullptr) {
      continue;
    }
    if (hovered_ == i) {
      QPainterPath highlight;
      highlight.addRoundedRect(cell, 10, 10);
      QColor color = kPrimary;
      color.setAlphaF(0.15F);
      p.fillPath(highlight, color);
    }
    if (focusedID_ == tile->id) {
      QColor ring = kPrimary;
      ring.setAlphaF(0.85F);
      p.setPen(QPen(ring, 2));
      p.setBrush(Qt::NoBrush);
      p.drawRoundedRect(cell.adjusted(1, 1, -1, -1), 10, 10);
    }
    // A picture band of 26 points and the title below it, 6 points apart, centred.
    const double titleHeight = titleMetrics.height();
    const double top = cell.top() + (cell.height() - (L::kPictureBand + 6 + titleHeight)) / 2;
    const Size shown =
        L::displaySize(tile->image ? tile->image->pointSize : Size{0, 0}, displayScale_);
    const QRectF box(cell.center().x() - shown.width / 2,
                     top + (L::kPictureBand - shown.height) / 2, shown.width, shown.height);
    // What the platform's own bar hides is drawn faded: the HUD is where it can be reached.
    p.setOpacity(tile->hiddenByHost ? 0.55 : 1.0);
    if (tile->image && !tile->image->isEmpty()) {
      p.drawImage(box, tile->isTemplate ? tinted(*tile->image, kPrimary) : toQImage(*tile->image));
    } else {
      p.drawImage(box, tinted(AppIcons::dashedAppIcon(22), kSecondary));
    }
    p.setOpacity(1.0);
    p.setFont(titleFont);
    p.setPen(kSecondary);
    const QString title =
        titleMetrics.elidedText(QString::fromStdString(tile->title), Qt::ElideMiddle, 72);
    p.drawText(QRectF(cell.center().x() - 36, top + L::kPictureBand + 6, 72, titleHeight),
               Qt::AlignHCenter | Qt::AlignTop, title);
  }
}

void MirrorHUDView::paintEntries(QPainter& p) const {
  QFont font = p.font();
  font.setPointSizeF(11);
  p.setFont(font);
  const QFontMetricsF metrics(font);
  const auto rows = entryRects();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const QRectF row = rows[i].second;
    if (focusedID_ == rows[i].first) {
      QPainterPath ring;
      ring.addRoundedRect(row.adjusted(1, 1, -1, -1), 6, 6);
      QColor fill = kPrimary;
      fill.setAlphaF(0.15F);
      p.fillPath(ring, fill);
      QColor edge = kPrimary;
      edge.setAlphaF(0.85F);
      p.setPen(QPen(edge, 2));
      p.setBrush(Qt::NoBrush);
      p.drawPath(ring);
    }
    p.setPen(kPrimary);
    const QString title = metrics.elidedText(QString::fromStdString(entries_[i].second),
                                             Qt::ElideMiddle, row.width() - 20);
    p.drawText(row.adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft, title);
  }
}

void MirrorHUDView::mousePressEvent(QMouseEvent* event) {
  const bool right = event->button() == Qt::RightButton;
  const QPointF point = event->position();
  for (const auto& [id, row] : entryRects()) {
    if (row.contains(point)) {
      if (!right && onEntryClick_) {
        onEntryClick_(id);
      }
      return;
    }
  }
  if (event->button() == Qt::MiddleButton) {
    if (const auto target = targetAt(point); target && onMiddleClick_) {
      onMiddleClick_(*target);
    }
    return;
  }
  if (permissionMissing_ && permissionRowRect().contains(point)) {
    if (!right && onPermissionTap_) {
      onPermissionTap_();
    }
    return;
  }
  const auto index = cellAt(point);
  if (!index) {
    return;
  }
  const std::string id = cellRects()[*index].first;
  const auto& targets = model_->targetsByID();
  auto target = targets.find(id);
  if (target != targets.end() && onClick_) {
    onClick_(target->second, right, modifierBits(event->modifiers()));
  }
}

std::optional<HUDTiles::Target> MirrorHUDView::targetAt(const QPointF& point) const {
  const auto index = cellAt(point);
  if (!index) {
    return std::nullopt;
  }
  const auto& targets = model_->targetsByID();
  auto target = targets.find(cellRects()[*index].first);
  if (target == targets.end()) {
    return std::nullopt;
  }
  return target->second;
}

void MirrorHUDView::wheelEvent(QWheelEvent* event) {
  // Whole notches (120 eighths of a degree each), the way a tray passes the wheel on.
  wheelRest_ += event->angleDelta();
  const int vertical = wheelRest_.y() / 120;
  const int horizontal = wheelRest_.x() / 120;
  wheelRest_ -= QPoint(horizontal * 120, vertical * 120);
  const auto target = targetAt(event->position());
  if (!target || !onScroll_) {
    return;
  }
  if (vertical != 0) {
    onScroll_(*target, vertical, false);
  }
  if (horizontal != 0) {
    onScroll_(*target, horizontal, true);
  }
}

void MirrorHUDView::mouseMoveEvent(QMouseEvent* event) {
  const auto index = cellAt(event->position());
  if (index != hovered_) {
    hovered_ = index;
    update();
  }
}

void MirrorHUDView::leaveEvent(QEvent*) {
  if (hovered_) {
    hovered_.reset();
    update();
  }
}

bool MirrorHUDView::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const auto index = cellAt(help->pos());
    if (index) {
      const std::string id = cellRects()[*index].first;
      for (const auto& t : tiles_) {
        if (t.id == id) {
          QToolTip::showText(help->globalPos(), QString::fromStdString(t.title), this);
          return true;
        }
      }
    }
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  return QWidget::event(event);
}

}  // namespace lumarin
