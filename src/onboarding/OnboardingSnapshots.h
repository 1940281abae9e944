#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include "ui/Appearance.h"

namespace lumarin {

class OnboardingController;

// Pictures of each onboarding page as the window shows it, in the current language, for
// snapshots. The pages are built fresh and never shown on screen. Main thread; needs a
// QApplication.
QImage renderOnboardingPage(const OnboardingController& controller, int page, Appearance appearance,
                            qreal scale = 2);
// Writes "onboarding-<page><infix>-<light|dark>.png" into `directory` for every page; the
// paths written, empty when a file could not be written.
QStringList writeOnboardingSnapshots(const OnboardingController& controller,
                                     const QString& directory, Appearance appearance,
                                     qreal scale = 2, const QString& infix = {});

}  // namespace lumarin
