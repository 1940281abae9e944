// A process that records statistics as fast as it can, for the kill test: each round records
// 25 numbered events, flushes them to the service and, once that flush has finished, prints
// the last number. Arguments: the queue's directory, the service's base URL, the first number.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "diagnostics/ImproveReporter.h"
#include "platform/host/CurlHttpClient.h"
#include "platform/host/HostClock.h"
#include "platform/host/HostScheduler.h"
#include "platform/sim/SimBundle.h"
#include "platform/sim/SimProcessInfo.h"
#include "platform/sim/SimUserDefaults.h"

int main(int argc, char** argv) {
  using namespace lumarin;
  if (argc != 4) {
    return 2;
  }
  QCoreApplication app(argc, argv);
  HostClock clock;
  HostScheduler scheduler(clock);
  SimUserDefaults defaults;
  CurlHttpClient http;
  SimBundle bundle;
  SimProcessInfo process;
  auto reporter = std::make_shared<ImproveReporter>(
      ImproveReporter::Dependencies{scheduler, defaults, http, bundle, process, argv[1], argv[2]});
  long long next = std::atoll(argv[3]);
  std::function<void()> round = [&] {
    for (int i = 0; i < 25; ++i) {
      reporter->record("kill.test", {{"seq", std::int64_t{next++}}});
    }
    if (reporter->flushNow(true)) {
      std::printf("%lld\n", next - 1);
      std::fflush(stdout);
    }
    scheduler.mainQueue().post(round);
  };
  scheduler.mainQueue().post(round);
  return QCoreApplication::exec();
}
