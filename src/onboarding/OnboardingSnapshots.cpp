#include "onboarding/OnboardingSnapshots.h"

#include <QDir>
#include <QLayout>
#include <QPainter>

#include "onboarding/OKRootView.h"
#include "onboarding/OnboardingController.h"

namespace lumarin {
namespace {

// A scheduler is only needed for the pager's timer, which never runs for a picture.
std::unique_ptr<OKRootView> pageView(const OnboardingController& controller, Scheduler& scheduler,
                                     int page) {
  OKRootView::Options options;
  options.startIndex = page;
  options.pinned = true;
  options.maxContentHeight = 10000;
  return std::make_unique<OKRootView>(controller.makeSteps(), controller.strings(), scheduler,
                                      options);
}

}  // namespace

QImage renderOnboardingPage(const OnboardingController& controller, int page, Appearance appearance,
                            qreal scale) {
  auto view = pageView(controller, controller.scheduler(), page);
  setAppearance(view.get(), appearance);
  view->setAttribute(Qt::WA_DontShowOnScreen);
  view->show();
  view->resize(OKRootView::kWidth, view->fittingHeight());
  view->layout()->activate();
  QImage image(view->size() * scale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  view->render(&painter);
  painter.end();
  return image;
}

QStringList writeOnboardingSnapshots(const OnboardingController& controller,
                                     const QString& directory, Appearance appearance, qreal scale,
                                     const QString& infix) {
  QStringList written;
  if (!QDir().mkpath(directory)) {
    return {};
  }
  const int count = static_cast<int>(controller.makeSteps().size());
  for (int page = 0; page < count; ++page) {
    const QString path = QDir(directory).filePath(QStringLiteral("onboarding-%1%2-%3.png")
                                                      .arg(page)
                                                      .arg(infix)
                                                      .arg(appearance == Appearance::dark
                                                               ? QStringLiteral("dark")
                                                               : QStringLiteral("light")));
    if (!renderOnboardingPage(controller, page, appearance, scale).save(path, "PNG")) {
      return {};
    }
    written.push_back(path);
  }
  return written;
}

}  // namespace lumarin
