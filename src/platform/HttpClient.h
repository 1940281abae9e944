#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Scheduler.h"

namespace lumarin {

// One request to the web service. Bodies are JSON texts; an empty body sends none.
struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  Duration timeout = seconds(60);
};

// What came back. `status` is the HTTP status, or 0 when there was no HTTP answer at all
// (refused, timed out, a URL the client will not use).
struct HttpResponse {
  int status = 0;
  std::string body;
  std::string location{};  // where a redirect points (not followed), empty otherwise
};

// URLSession data tasks: asynchronous requests. `send` never blocks; the completion runs
// exactly once, as a task of `replyQueue`, which must outlive the request. Callable from any
// thread.
class HttpClient {
 public:
  using Completion = std::function<void(HttpResponse)>;

  virtual ~HttpClient() = default;
  virtual void send(HttpRequest request, Queue& replyQueue, Completion completion) = 0;
};

}  // namespace lumarin
