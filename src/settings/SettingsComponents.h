#pragma once

#include <QFrame>
#include <QLabel>
#include <QString>
#include <QWidget>

class QVBoxLayout;

namespace lumarin {

// The building blocks every tab is made of. Texts wrap rather than being cut, so a long
// translation makes a row taller, never clipped. Colours follow the widget's appearance.
// Main thread.

// A rounded group of rows on the card surface.
class SettingsCard : public QFrame {
 public:
  static constexpr double kCornerRadius = 10;
  static constexpr int kPadding = 14;

  explicit SettingsCard(QWidget* parent = nullptr);

  void addRow(QWidget* row);
  // A hairline between two rows.
  void addDivider();
  QVBoxLayout* rows() const { return layout_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  QVBoxLayout* layout_;
};

// A title, an optional subtitle under it, and a control on the trailing side.
class SettingsRow : public QWidget {
 public:
  SettingsRow(const QString& title, const QString& subtitle, QWidget* control,
              QWidget* parent = nullptr);

  QLabel* titleLabel() const { return title_; }
  QLabel* subtitleLabel() const { return subtitle_; }
  QWidget* control() const { return control_; }

 private:
  QLabel* title_;
  QLabel* subtitle_ = nullptr;
  QWidget* control_;
};

// Kinds of text in the window, each with its size, weight and colour.
enum class SettingsText { title, rowTitle, body, secondary, footer, heading, pageTitle };

// A label of one kind that wraps its words and follows the appearance.
class SettingsLabel : public QLabel {
 public:
  SettingsLabel(const QString& text, SettingsText kind, QWidget* parent = nullptr);

  SettingsText kind() const { return kind_; }

 protected:
  bool event(QEvent* event) override;

 private:
  void applyStyle();
  SettingsText kind_;
};

// The hot key as a key cap: semibold 12-point text on a faint rounded rectangle, 28 high.
class KeyCapLabel : public QWidget {
 public:
  static constexpr int kHeight = 28;
  static constexpr double kCornerRadius = 7;
  static constexpr int kHorizontalPadding = 10;

  explicit KeyCapLabel(const QString& text, QWidget* parent = nullptr);

  const QString& text() const { return text_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

// A horizontal hairline in the secondary label colour.
class RowDivider : public QWidget {
 public:
  explicit RowDivider(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace lumarin
