// The update windows on the offscreen platform, with the real localisation tables.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

#include "l10n/FrameworkLanguage.h"
#include "l10n/L10n.h"
#include "l10n/LocalizationTables.h"
#include "platform/sim/SimUserDefaults.h"
#include "updates/QtUpdateUserDriver.h"

namespace lumarin {
namespace {

class QtUpdateUserDriverTest : public ::testing::Test {
 protected:
  QtUpdateUserDriverTest()
      : l10n_(defaults_, framework_, nullptr, [] { return StringArray{"en"}; }) {}

  template <typename T>
  T* find(const char* name) const {
    return driver_.window()->findChild<T*>(name);
  }
  QString text(const char* name) const { return find<QLabel>(name)->text(); }
  bool visible(const char* name) const {
    return find<QWidget>(name)->isVisibleTo(driver_.window());
  }

  SimUserDefaults defaults_;
  FrameworkLanguage framework_;
  L10n l10n_;
  QtUpdateUserDriver driver_{l10n_};
};

TEST_F(QtUpdateUserDriverTest, CheckingShowsProgressAndCancelEndsTheCheck) {
  int cancelled = 0;
  driver_.showChecking([&] { ++cancelled; });
  ASSERT_NE(driver_.window(), nullptr);
  EXPECT_TRUE(driver_.window()->isVisible());
  EXPECT_EQ(driver_.window()->windowTitle(), "Software Update");
  EXPECT_EQ(text("updateTitle"), "Checking for updates…");
  EXPECT_TRUE(visible("updateProgress"));
  EXPECT_FALSE(visible("updatePrimary"));
  find<QPushButton>("updateSecondary")->click();
  EXPECT_EQ(cancelled, 1);
  EXPECT_FALSE(driver_.window()->isVisible());
  find<QPushButton>("updateSecondary")->click();  // a second press finds nothing to cancel
  EXPECT_EQ(cancelled, 1);
}

TEST_F(QtUpdateUserDriverTest, AvailableShowsNotesAndAnswersInstallOrLaterOnce) {
  std::vector<UpdateChoice> answers;
  UpdateOffer offer{"1.10", "42", "1.9", "Version 1.10", "<h2>New</h2><p>Faster</p>", ""};
  driver_.showUpdateAvailable(offer, [&](UpdateChoice c) { answers.push_back(c); });
  EXPECT_EQ(text("updateTitle"), "A new version of Lumarin is available");
  EXPECT_TRUE(text("updateMessage").contains("1.10"));
  EXPECT_TRUE(text("updateMessage").contains("1.9"));
  EXPECT_TRUE(visible("updateNotes"));
  EXPECT_TRUE(find<QTextBrowser>("updateNotes")->toPlainText().contains("Faster"));
  EXPECT_EQ(find<QPushButton>("updatePrimary")->text(), "Install and Relaunch");
  EXPECT_EQ(find<QPushButton>("updateSecondary")->text(), "Later");
  find<QPushButton>("updatePrimary")->click();
  find<QPushButton>("updatePrimary")->click();
  EXPECT_EQ(answers, std::vector<UpdateChoice>{UpdateChoice::install});

  driver_.showUpdateAvailable(offer, [&](UpdateChoice c) { answers.push_back(c); });
  find<QPushButton>("updateSecondary")->click();
  EXPECT_EQ(answers.back(), UpdateChoice::later);
  EXPECT_FALSE(driver_.window()->isVisible());
}

TEST_F(QtUpdateUserDriverTest, ClosingTheOfferAnswersLater) {
  std::vector<UpdateChoice> answers;
  driver_.showUpdateAvailable(UpdateOffer{"2.0", "50", "1.9", "", "", ""},
                              [&](UpdateChoice c) { answers.push_back(c); });
  EXPECT_FALSE(visible("updateNotes"));  // no notes, no empty box
  driver_.window()->close();
  EXPECT_EQ(answers, std::vector<UpdateChoice>{UpdateChoice::later});
}

TEST_F(QtUpdateUserDriverTest, ProgressUpToDateAndErrorsShowTheirTexts) {
  driver_.showProgress(UpdatePhase::downloading);
  EXPECT_EQ(text("updateTitle"), "Downloading the update…");
  EXPECT_TRUE(visible("updateProgress"));
  driver_.showProgress(UpdatePhase::installing);
  EXPECT_EQ(text("updateTitle"), "Installing the update…");
  driver_.showUpToDate("1.9");
  EXPECT_EQ(text("updateTitle"), "Lumarin is up to date");
  EXPECT_TRUE(text("updateMessage").contains("1.9"));
  EXPECT_FALSE(visible("updateProgress"));
  driver_.showError(UpdateFailure::badSignature);
  EXPECT_EQ(text("updateTitle"), "Update not installed");
  EXPECT_TRUE(text("updateMessage").contains("signature"));
  find<QPushButton>("updatePrimary")->click();
  EXPECT_FALSE(driver_.window()->isVisible());
}

TEST_F(QtUpdateUserDriverTest, EveryFailureHasATextInEveryLanguage) {
  for (auto failure :
       {UpdateFailure::feedUnavailable, UpdateFailure::feedInvalid, UpdateFailure::downloadFailed,
        UpdateFailure::downloadIncomplete, UpdateFailure::notSigned, UpdateFailure::badSignature,
        UpdateFailure::noPublicKey, UpdateFailure::installFailed}) {
    const std::string key = failureMessageKey(failure);
    for (AppLanguage language : kAllLanguages) {
      EXPECT_TRUE(LocalizationTables::table(language).contains(key)) << key;
    }
  }
  for (const char* key : {"upd.title", "upd.checking", "upd.upToDate", "upd.upToDateDetail",
                          "upd.available", "upd.availableDetail", "upd.install", "upd.downloading",
                          "upd.verifying", "upd.installing", "upd.errorTitle"}) {
    for (AppLanguage language : kAllLanguages) {
      EXPECT_TRUE(LocalizationTables::table(language).contains(key)) << key;
    }
  }
}

TEST_F(QtUpdateUserDriverTest, TextsFollowTheInterfaceLanguage) {
  l10n_.apply("de");
  driver_.showChecking([] {});
  EXPECT_EQ(text("updateTitle"), QString::fromStdString(l10n_.string("upd.checking")));
  EXPECT_NE(text("updateTitle"), "Checking for updates…");
}

}  // namespace
}  // namespace lumarin
