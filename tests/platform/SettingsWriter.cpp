// A process that writes its settings as fast as it can, for the crash test: each round sets
// every key to the round's number in one batch and then says so on stdout. Arguments: the
// settings file, the number of keys.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host/HostProcessInfo.h"
#include "platform/host/JsonFileUserDefaults.h"
#include "platform/host/StderrSystemLog.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    return 2;
  }
  lumarin::HostProcessInfo process;
  lumarin::StderrSystemLog log;
  lumarin::JsonFileUserDefaults defaults(argv[1], process, log);
  const int keys = std::atoi(argv[2]);
  const auto start = defaults.integer("round").value_or(0);
  for (std::int64_t round = start + 1;; ++round) {
    std::vector<lumarin::DefaultsChange> changes;
    changes.push_back({"round", lumarin::DefaultsValue(round)});
    for (int k = 0; k < keys; ++k) {
      changes.push_back({"key" + std::to_string(k), lumarin::DefaultsValue(round)});
    }
    defaults.applyChanges(changes);
    std::printf("%lld\n", static_cast<long long>(round));
    std::fflush(stdout);
  }
}
