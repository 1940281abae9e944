#include "root/RunEnding.h"

#include <cstdio>
#include <fstream>

#include "base/Json.h"
#include "platform/sim/Story.h"

namespace lumarin {

namespace {

bool writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int endRun(const Options& options, const std::string& report,
           const std::function<Status()>& writeSnapshots, std::string_view pictureNames) {
  if (options.report && !writeFile(*options.report, report)) {
    std::fprintf(stderr, "lumarin: could not write the report to %s\n", options.report->c_str());
    return 1;
  }
  if (options.snapshot) {
    if (auto status = writeSnapshots(); !status) {
      std::fprintf(stderr, "lumarin: %s\n", status.error().message.c_str());
      return 1;
    }
  }
  if (options.story) {
    for (const auto& line : sim::narrate(json::parse(report).valueOr(json::Json::object()))) {
      std::printf("%s\n", line.c_str());
    }
    if (options.report) {
      std::printf("\nThe whole run: %s\n", options.report->c_str());
    }
    if (options.snapshot) {
      std::printf("What Lumarin drew: %s (%.*s)\n", options.snapshot->c_str(),
                  static_cast<int>(pictureNames.size()), pictureNames.data());
    }
  }
  return 0;
}

}  // namespace lumarin
