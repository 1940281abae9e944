// The device identifier in "/api/app/devices/<id>" and the request head that carries the
// path: bounded, printable, never a crash.
#include <cstdint>
#include <string_view>

#include "service/HttpWire.h"
#include "service/RequestParsers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto device = lumarin::service::parseDevicePath(text);
  if (device &&
      (device->empty() || device->size() > 128 || device->find('/') != std::string_view::npos)) {
    __builtin_trap();
  }
  lumarin::service::wire::Limits limits;
  limits.maxHeaderBytes = 4096;
  const auto head = lumarin::service::wire::parseRequestHead(text, limits);
  if (head.state == lumarin::service::wire::HeadResult::State::complete) {
    if (head.consumed > text.size() || head.head.path.empty() || head.head.path[0] != '/') {
      __builtin_trap();
    }
    (void)lumarin::service::parseDevicePath(head.head.path);
  }
  return 0;
}
