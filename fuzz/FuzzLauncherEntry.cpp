// One launcher entry update as any process on the session bus may send it: the URI up to the
// first newline, then properties as [name length][name][type][value] records.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "desktop/LauncherEntryParser.h"

namespace {

template <typename T>
bool take(std::string_view& input, T& out) {
  if (input.size() < sizeof(T)) return false;
  std::memcpy(&out, input.data(), sizeof(T));
  input.remove_prefix(sizeof(T));
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumarin;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto newline = input.find('\n');
  const std::string_view uri = input.substr(0, newline);
  input = newline == std::string_view::npos ? std::string_view{} : input.substr(newline + 1);

  LauncherProperties properties;
  while (!input.empty()) {
    const auto nameLength = static_cast<std::uint8_t>(input.front());
    input.remove_prefix(1);
    if (input.size() < nameLength) break;
    std::string name(input.substr(0, nameLength));
    input.remove_prefix(nameLength);
    std::uint8_t type = 0;
    if (!take(input, type)) break;
    LauncherValue value;
    switch (type % 6) {
      case 0:
        break;
      case 1: {
        std::uint8_t b = 0;
        if (!take(input, b)) return 0;
        value = (b & 1) != 0;
        break;
      }
      case 2: {
        std::int64_t v = 0;
        if (!take(input, v)) return 0;
        value = v;
        break;
      }
      case 3: {
        std::uint64_t v = 0;
        if (!take(input, v)) return 0;
        value = v;
        break;
      }
      case 4: {
        double v = 0;
        if (!take(input, v)) return 0;
        value = v;
        break;
      }
      case 5:
        value = std::string(input.substr(0, 16));
        input.remove_prefix(std::min<std::size_t>(16, input.size()));
        break;
    }
    properties.emplace_back(std::move(name), std::move(value));
  }

  auto result = parseLauncherEntryUpdate(uri, properties);
  if (const auto* update = std::get_if<LauncherEntryUpdate>(&result)) {
    if (update->appID.empty() || update->appID.size() > kMaxLauncherURIBytes) __builtin_trap();
    if (update->count && *update->count &&
        (**update->count < 0 || **update->count > kMaxLauncherCount))
      __builtin_trap();
    LauncherEntryState state;
    state.apply(*update);
    if (const auto badge = state.badge()) {
      if (badge->label.empty()) __builtin_trap();
      if (badge->count && (*badge->count <= 0 || *badge->count > kMaxLauncherCount))
        __builtin_trap();
    }
  }
  return 0;
}
