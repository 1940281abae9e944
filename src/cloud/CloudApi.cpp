#include "cloud/CloudApi.h"

namespace lumarin::cloud {

ApiOutcome classify(int status) {
  if (status >= 200 && status <= 299) {
    return ApiOutcome::success;
  }
  if (status == 401) {
    return ApiOutcome::unauthorized;
  }
  if (status == 409) {
    return ApiOutcome::conflict;
  }
  return ApiOutcome::failure;
}

HttpRequest apiRequest(const CloudConfig& config, std::string method, std::string_view path,
                       const std::optional<std::string>& token,
                       std::optional<std::string> jsonBody) {
  HttpRequest request;
  request.method = std::move(method);
  request.url = config.baseURL + "api/" + std::string(path);
  request.timeout = seconds(60);
  if (jsonBody) {
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = std::move(*jsonBody);
  }
  if (token) {
    request.headers.emplace_back("Authorization", "Bearer " + *token);
  }
  return request;
}

}  // namespace lumarin::cloud
