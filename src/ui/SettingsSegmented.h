#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

namespace lumarin {

class CapsuleSegmentedControl;

// A settings row's choice among a few icons: a CapsuleSegmentedControl over named system
// symbols, bound to a selected index. Main thread.
class SettingsSegmented : public QWidget {
 public:
  static constexpr double kSymbolPoints = 13;

  SettingsSegmented(const std::vector<QString>& symbols, std::vector<QString> tooltips,
                    int selection, double width, double height, QWidget* parent = nullptr);

  int selection() const;
  // Shows `index` without reporting it.
  void setSelection(int index);
  // Called with the new index when the user picks another segment.
  void setOnSelectionChanged(std::function<void(int)> onChange) { onChange_ = std::move(onChange); }

  CapsuleSegmentedControl* control() const { return control_; }

  QSize sizeHint() const override;

 private:
  CapsuleSegmentedControl* control_;
  std::function<void(int)> onChange_;
};

}  // namespace lumarin
