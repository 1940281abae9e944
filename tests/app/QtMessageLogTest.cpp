#include <gtest/gtest.h>

#include <QLoggingCategory>

#include "app/QtMessageLog.h"
#include "diagnostics/DebugLog.h"
#include "platform/sim/ManualScheduler.h"
#include "support/TempDir.h"

namespace lumarin {
namespace {

Q_LOGGING_CATEGORY(kTestCategory, "lumarin.test.qpa")

// Each test installs the handler and gives Qt back the test main's when it ends.
class QtMessageLogTest : public ::testing::Test {
 protected:
  QtMessageLogTest() : previous_(QtMessageLog::install()) {}
  ~QtMessageLogTest() override {
    QtMessageLog::detach();
    // Whatever a test left waiting must not reach the next one.
    QtMessageLog::attach(sink_);
    QtMessageLog::detach();
    qInstallMessageHandler(previous_);
  }

  std::string logText(const DebugLog& log) const { return test::readFile(log.currentFile()); }

  QtMessageHandler previous_;
  test::TempDir dir_;
  ManualScheduler scheduler_{WallTime(std::chrono::seconds(1772366405))};
  DebugLog log_{dir_ / "log", scheduler_.clock()};
  DebugLog sink_{dir_ / "sink", scheduler_.clock()};
};

TEST_F(QtMessageLogTest, EarlyMessagesWaitAndReachTheLogInOrderWithTheirCategory) {
  qWarning("This plugin does not support raise()");
  qCWarning(kTestCategory) << "no keyboard grab";
  EXPECT_EQ(QtMessageLog::pending().size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(log_.currentFile()));
  QtMessageLog::attach(log_);
  qInfo("after");
  EXPECT_TRUE(QtMessageLog::pending().empty());
  EXPECT_EQ(logText(log_),
            "2026-03-01T12:00:05Z qt: warning [default] This plugin does not support raise()\n"
            "2026-03-01T12:00:05Z qt: warning [lumarin.test.qpa] no keyboard grab\n"
            "2026-03-01T12:00:05Z qt: info [default] after\n");
}

TEST_F(QtMessageLogTest, AfterDetachMessagesWaitForTheNextLog) {
  QtMessageLog::attach(log_);
  QtMessageLog::detach();
  qWarning("late");
  EXPECT_EQ(logText(log_), "");
  DebugLog next(dir_ / "next", scheduler_.clock());
  QtMessageLog::attach(next);
  EXPECT_EQ(logText(next), "2026-03-01T12:00:05Z qt: warning [default] late\n");
}

TEST_F(QtMessageLogTest, TheEarlyBufferIsBoundedAndSaysWhatItDropped) {
  const std::size_t extra = 5;
  for (std::size_t i = 0; i < QtMessageLog::kEarlyLimit + extra; ++i) {
    qWarning("message %zu", i);
  }
  EXPECT_EQ(QtMessageLog::pending().size(), QtMessageLog::kEarlyLimit);
  QtMessageLog::attach(log_);
  const std::string text = logText(log_);
  // The first ones are kept (they tell how things started), the overflow is counted.
  EXPECT_NE(text.find("qt: warning [default] message 0\n"), std::string::npos);
  EXPECT_EQ(text.find("message " + std::to_string(QtMessageLog::kEarlyLimit) + "\n"),
            std::string::npos);
  EXPECT_NE(text.find("qt: 5 earlier messages dropped\n"), std::string::npos) << text;
}

TEST_F(QtMessageLogTest, LinesNameEveryKindAndAnEmptyCategoryAsDefault) {
  QMessageLogContext context;
  EXPECT_EQ(QtMessageLog::lineFor(QtDebugMsg, context, "d"), "qt: debug [default] d");
  EXPECT_EQ(QtMessageLog::lineFor(QtCriticalMsg, context, "c"), "qt: critical [default] c");
  QMessageLogContext categorised("file.cpp", 1, "fn", "qt.qpa.xcb");
  EXPECT_EQ(QtMessageLog::lineFor(QtWarningMsg, categorised, "ünïcode"),
            "qt: warning [qt.qpa.xcb] ünïcode");
}

using QtMessageLogDeathTest = QtMessageLogTest;

TEST_F(QtMessageLogDeathTest, AFatalMessageStillEndsTheProcessAndReachesStderr) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        QtMessageLog::install();
        qFatal("cannot go on");
      },
      "lumarin: qt: fatal \\[default\\] cannot go on");
}

}  // namespace
}  // namespace lumarin
