// The service's handlers as a whole, on an in-memory database: whatever method, path, token
// and body arrive, the answer is never a server error and always has a body. Input: the method
// (first byte picks one), then the path and the Authorization value each ended by a line feed,
// then the body.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "service/Service.h"
#include "service/SqliteStore.h"

namespace {

using namespace lumarin::service;

Service& service() {
  static std::unique_ptr<SqliteStore> store = std::move(SqliteStore::open(":memory:")).value();
  static Service instance(*store, [] {
    Service::Options options;
    options.now = [] { return Seconds{1'800'000'000}; };
    options.passwordIterations = 1;  // speed; the hash's strength is not what is fuzzed
    options.log = [](std::string_view) {};
    return options;
  }());
  return instance;
}

std::string_view takeLine(std::string_view& text) {
  const auto end = text.find('\n');
  const auto line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  static constexpr const char* kMethods[] = {"GET", "POST", "PUT", "DELETE", "HEAD", "PATCH"};
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  HttpRequest request;
  request.method = kMethods[data[0] % 6];
  request.path = std::string(takeLine(text));
  request.authorization = std::string(takeLine(text));
  request.body = std::string(text);
  // Query items as the server would hand them over for the sign-in link.
  if (request.path.starts_with("/app/connect")) {
    request.query = {{"app", "lumarin"},
                     {"challenge", "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"},
                     {"state", request.body}};
  }
  const auto response = service().handle(request);
  if (response.status >= 500 || response.status < 200 || response.body.empty()) {
    __builtin_trap();
  }
  return 0;
}
