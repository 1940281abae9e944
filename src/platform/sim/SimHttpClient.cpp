#include "platform/sim/SimHttpClient.h"

namespace lumarin {

void SimHttpClient::deliver(Queue& queue, Completion completion, HttpResponse response,
                            Duration delay, Duration timeout) {
  if (delay >= timeout) {
    queue.postAfter(timeout, [completion = std::move(completion)] { completion(HttpResponse{}); });
    return;
  }
  queue.postAfter(delay, [completion = std::move(completion), response = std::move(response)] {
    completion(response);
  });
}

void SimHttpClient::send(HttpRequest request, Queue& replyQueue, Completion completion) {
  std::optional<Scripted> answer;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    for (auto it = scripted_.begin(); it != scripted_.end(); ++it) {
      if (it->method == request.method && request.url.ends_with(it->urlSuffix)) {
        answer = std::move(*it);
        scripted_.erase(it);
        break;
      }
    }
    if (!answer) {
      waiting_.push_back(Waiting{&replyQueue, std::move(completion)});
      return;
    }
  }
  deliver(replyQueue, std::move(completion), std::move(answer->response), answer->delay,
          request.timeout);
}

void SimHttpClient::script(std::string method, std::string urlSuffix, HttpResponse response,
                           Duration delay) {
  std::lock_guard lock(mutex_);
  scripted_.push_back(
      Scripted{std::move(method), std::move(urlSuffix), std::move(response), delay});
}

bool SimHttpClient::answerNext(HttpResponse response) {
  Waiting waiting;
  {
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) {
      return false;
    }
    waiting = std::move(waiting_.front());
    waiting_.pop_front();
  }
  waiting.queue->post([completion = std::move(waiting.completion), response = std::move(response)] {
    completion(response);
  });
  return true;
}

std::size_t SimHttpClient::waitingCount() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

std::vector<HttpRequest> SimHttpClient::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<HttpRequest> SimHttpClient::requests(std::string_view method,
                                                 std::string_view urlSuffix) const {
  std::lock_guard lock(mutex_);
  std::vector<HttpRequest> out;
  for (const auto& request : requests_) {
    if (request.method == method && request.url.ends_with(urlSuffix)) {
      out.push_back(request);
    }
  }
  return out;
}

void SimHttpClient::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

}  // namespace lumarin
