#pragma once

#include <QLabel>

namespace lumarin {

// A text of the onboarding pages in the kit's font and label colours, recoloured whenever the
// appearance changes. Wrapped texts take the height their width needs. Main thread.
class OKLabel : public QLabel {
 public:
  enum class Role { primary, secondary };

  OKLabel(const QString& text, int points, QFont::Weight weight, Role role, bool wrap,
          QWidget* parent = nullptr);

  Role role() const { return role_; }
  // True when the whole text is visible in the label's current geometry: one line within its
  // width, or wrapped lines within its height.
  bool textFits() const;

 protected:
  bool event(QEvent* event) override;

 private:
  void applyColor();

  Role role_;
};

}  // namespace lumarin
