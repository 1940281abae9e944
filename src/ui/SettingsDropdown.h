#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

class QMenu;

namespace lumarin {

class PulldownPill;

// A settings row's choice among a few options: a PulldownPill showing the selected option's
// title that, when pressed, pops up a menu of all options below itself. Picking an item sets
// the selection and reports it. Main thread.
class SettingsDropdown : public QWidget {
 public:
  struct Option {
    QString value;
    QString title;
  };

  SettingsDropdown(std::vector<Option> options, QString selection, QWidget* parent = nullptr);
  ~SettingsDropdown() override;

  const QString& selection() const { return selection_; }
  // Shows `value` without reporting it (the owner set it). A value that is no option shows an
  // empty field.
  void setSelection(const QString& value);
  void setOptions(std::vector<Option> options);
  const std::vector<Option>& options() const { return options_; }
  // Called with the picked option's value when the user picks a different one.
  void setOnSelectionChanged(std::function<void(const QString&)> onChange) {
    onChange_ = std::move(onChange);
  }

  PulldownPill* pill() const { return pill_; }
  // The menu popped up by the last press while it exists; null otherwise.
  QMenu* menu() const;
  // What a press does: builds the menu (one item per option, its index as the item's data)
  // and pops it up under the pill.
  void popUpMenu();

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void pick(int index);
  QString titleFor(const QString& value) const;

  std::vector<Option> options_;
  QString selection_;
  std::function<void(const QString&)> onChange_;
  PulldownPill* pill_;
  QPointer<QMenu> menu_;
};

}  // namespace lumarin
