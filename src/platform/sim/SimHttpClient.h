#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/HttpClient.h"

namespace lumarin {

// A scripted web service for unit tests. Every request is recorded. A request is answered by
// the first scripted answer whose method and URL suffix match (each answer is used once),
// delivered on the reply queue after the answer's delay in the scheduler's time; an answer
// slower than the request's timeout arrives as status 0 at the timeout, as a real client
// gives up. Requests without a scripted answer wait until the test answers them with
// `answerNext`, so a test can hold an answer back for as long as it likes.
class SimHttpClient final : public HttpClient {
 public:
  void send(HttpRequest request, Queue& replyQueue, Completion completion) override;

  // Scripts the answer for the next matching request.
  void script(std::string method, std::string urlSuffix, HttpResponse response,
              Duration delay = Duration::zero());
  // Answers the oldest request still waiting; false when none waits.
  bool answerNext(HttpResponse response);
  std::size_t waitingCount() const;

  std::vector<HttpRequest> requests() const;
  // Requests made with this method (and URL suffix, when given).
  std::vector<HttpRequest> requests(std::string_view method, std::string_view urlSuffix = {}) const;
  void clearRequests();

 private:
  struct Scripted {
    std::string method;
    std::string urlSuffix;
    HttpResponse response;
    Duration delay;
  };
  struct Waiting {
    Queue* queue;
    Completion completion;
  };
  static void deliver(Queue& queue, Completion completion, HttpResponse response, Duration delay,
                      Duration timeout);

  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::deque<Scripted> scripted_;
  std::deque<Waiting> waiting_;
};

}  // namespace lumarin
