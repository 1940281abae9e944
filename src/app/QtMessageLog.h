#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>

#include "diagnostics/DebugLog.h"

namespace lumarin {

// Qt's own messages (its platform plugins' notes about raising windows and grabbing the
// keyboard, its guesses about runtime directories) are the frameworks talking to us, not to the
// user: they go to the debug log with their kind and category and never to the terminal, which
// shows only what the program decides to show (the story, its closing lines, our own
// warnings through the system log).
//
// The handler is installed first thing in `main`, before the application object exists. Qt may
// speak before the debug log does: what it says waits, in order, in a bounded buffer and is
// written once the log is attached. A fatal message (and a warning or critical one the
// environment makes fatal) also reaches stderr and ends the process, as with Qt's own handler.
//
// Any thread: Qt calls the handler from whichever thread speaks. Kept in this header with
// inline functions; its state is allocated once and never freed, so messages during the
// process's exit find it still there.
class QtMessageLog {
 public:
  static constexpr std::size_t kEarlyLimit = 256;

  // Returns the handler it replaces.
  static QtMessageHandler install() { return qInstallMessageHandler(&QtMessageLog::handle); }

  // From now on messages go to `log`, the buffered ones first. `log` must stay alive until
  // `detach`.
  static void attach(const DebugLog& log) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.log = &log;
    for (const auto& line : s.early) {
      log.log(line);
    }
    if (s.dropped > 0) {
      log.log("qt: " + std::to_string(s.dropped) + " earlier messages dropped");
    }
    s.early.clear();
    s.dropped = 0;
  }

  // Before the log goes away: messages wait in the buffer again.
  static void detach() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.log = nullptr;
  }

  // "qt: warning [qt.qpa.xcb] This plugin does not support raise()".
  static std::string lineFor(QtMsgType type, const QMessageLogContext& context,
                             const QString& message) {
    const char* kind = "debug";
    switch (type) {
      case QtDebugMsg:
        kind = "debug";
        break;
      case QtInfoMsg:
        kind = "info";
        break;
      case QtWarningMsg:
        kind = "warning";
        break;
      case QtCriticalMsg:
        kind = "critical";
        break;
      case QtFatalMsg:
        kind = "fatal";
        break;
    }
    const char* category =
        context.category != nullptr && *context.category != '\0' ? context.category : "default";
    return std::string("qt: ") + kind + " [" + category + "] " + message.toStdString();
  }

  // The lines waiting for the log.
  static std::deque<std::string> pending() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.early;
  }

  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const std::string line = lineFor(type, context, message);
    {
      State& s = state();
      std::lock_guard lock(s.mutex);
      if (s.log != nullptr) {
        s.log->log(line);
      } else if (s.early.size() < kEarlyLimit) {
        s.early.push_back(line);
      } else {
        ++s.dropped;
      }
    }
    if (type == QtFatalMsg || fatalByEnvironment(type)) {
      // The one message the user must see: the process ends because of it.
      std::fprintf(stderr, "lumarin: %s\n", line.c_str());
      std::fflush(stderr);
    }
    if (type == QtFatalMsg) {
      std::abort();
    }
  }

 private:
  struct State {
    std::mutex mutex;
    const DebugLog* log = nullptr;
    std::deque<std::string> early;
    std::size_t dropped = 0;
  };

  static State& state() {
    static State* const s = new State;  // never freed: Qt may speak during exit
    return *s;
  }

  // Warnings and critical messages Qt itself turns fatal when the environment asks for it
  // (QT_FATAL_WARNINGS, QT_FATAL_CRITICALS); Qt aborts once the handler returns. Qt counts
  // warnings down from the variable's value: each one may be the last, so each is shown.
  static bool fatalByEnvironment(QtMsgType type) {
    switch (type) {
      case QtCriticalMsg:
        return qEnvironmentVariableIsSet("QT_FATAL_CRITICALS") ||
               qEnvironmentVariableIntValue("QT_FATAL_WARNINGS") != 0;
      case QtWarningMsg:
        return qEnvironmentVariableIntValue("QT_FATAL_WARNINGS") != 0;
      default:
        return false;
    }
  }
};

}  // namespace lumarin
