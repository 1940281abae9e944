// The service's report bodies ("api/improve", "api/crash", "api/testlog"); the first byte
// picks the kind.
#include <cstdint>
#include <string_view>

#include "service/RequestParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin::service;
  if (size == 0) {
    return 0;
  }
  static constexpr std::string_view kKinds[] = {"improve", "crash", "testlog"};
  const auto kind = kKinds[data[0] % 3];
  auto report =
      parseReport(kind, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  if (!report) {
    return 0;
  }
  // What is stored is plain JSON without NUL bytes that reads back as itself.
  if (report->json.find('\0') != std::string::npos) {
    __builtin_trap();
  }
  auto again = parseReport(kind, report->json);
  if (!again || again->json != report->json || again->installId != report->installId) {
    __builtin_trap();
  }
  return 0;
}
