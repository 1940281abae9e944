#pragma once

#include <functional>
#include <memory>
#include <string>

#include "updates/UpdateUserDriver.h"

class QWidget;

namespace lumarin {

class L10n;

// The update windows as Qt widgets: one small window whose content follows the session
// (checking, up to date, a new version with its release notes and Install / Later, progress,
// failure). Closing the window answers as "Later" (or cancels a check). Every text comes from
// the localisation tables. Main thread only.
class QtUpdateUserDriver final : public UpdateUserDriver {
 public:
  explicit QtUpdateUserDriver(const L10n& l10n);
  ~QtUpdateUserDriver() override;
  QtUpdateUserDriver(const QtUpdateUserDriver&) = delete;
  QtUpdateUserDriver& operator=(const QtUpdateUserDriver&) = delete;

  void showChecking(std::function<void()> cancel) override;
  void showUpToDate(const std::string& currentVersion) override;
  void showUpdateAvailable(const UpdateOffer& offer,
                           std::function<void(UpdateChoice)> reply) override;
  void showProgress(UpdatePhase phase) override;
  void showError(UpdateFailure failure) override;
  void dismiss() override;

  // The window, for tests and for raising it; null before anything was shown.
  QWidget* window() const;

 private:
  struct Widgets;
  enum class Closing { nothing, cancel, later };

  void present(Closing closing);
  void primaryClicked();
  void secondaryClicked();
  void windowClosed();

  const L10n& l10n_;
  std::unique_ptr<Widgets> ui_;
  Closing closing_ = Closing::nothing;
  std::function<void()> cancel_;
  std::function<void(UpdateChoice)> reply_;
};

}  // namespace lumarin
