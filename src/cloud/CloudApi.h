#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cloud/CloudConfig.h"
#include "platform/HttpClient.h"

namespace lumarin::cloud {

// How the account and the sync read an answer of the service.
enum class ApiOutcome {
  success,       // 200-299
  unauthorized,  // 401
  conflict,      // 409
  failure,       // anything else, or no HTTP answer (status 0)
};

ApiOutcome classify(int status);

// A request to base URL + "api/" + `path`: the bearer token when there is one, and a JSON body
// with its content type when there is one. Sixty seconds, like every call of the account and
// the sync.
HttpRequest apiRequest(const CloudConfig& config, std::string method, std::string_view path,
                       const std::optional<std::string>& token,
                       std::optional<std::string> jsonBody = std::nullopt);

}  // namespace lumarin::cloud
