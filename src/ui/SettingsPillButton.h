#pragma once

#include <QWidget>
#include <functional>

namespace lumarin {

class PillButton;

// Places a PillButton in a settings row. The button fills the whole frame the row gives this
// widget, so a fixed height (the 28-point buttons of the HUD section) overrides the pill's own
// 24. Main thread.
class SettingsPillButton : public QWidget {
 public:
  SettingsPillButton(const QString& title, bool filled, std::function<void()> action,
                     QWidget* parent = nullptr);

  PillButton* button() const { return button_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  PillButton* button_;
};

}  // namespace lumarin
