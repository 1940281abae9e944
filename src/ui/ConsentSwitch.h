#pragma once

#include <QAbstractButton>

namespace lumarin {

// A switch-style toggle without a label of its own (the row beside it names it). Space flips
// it; it takes keyboard focus from Tab only, like the kit's buttons. Connect to `toggled`.
// Main thread.
class ConsentSwitch : public QAbstractButton {
 public:
  static constexpr int kWidth = 38;
  static constexpr int kHeight = 22;

  ConsentSwitch(const QString& accessibleName, bool on, QWidget* parent = nullptr);

  QSize sizeHint() const override { return {kWidth, kHeight}; }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};

}  // namespace lumarin
