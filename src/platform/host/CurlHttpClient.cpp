#include "platform/host/CurlHttpClient.h"

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ServiceURL.h"

namespace lumarin {
namespace {

// The service's answers are small JSON documents; anything far larger is not one of them and
// is cut off rather than held in memory.
constexpr std::size_t kMaxResponseBytes = std::size_t{8} * 1024 * 1024;

struct Transfer {
  HttpRequest request;
  Queue* queue = nullptr;
  HttpClient::Completion completion;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string body;
  bool overflow = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer->body.size() + bytes > kMaxResponseBytes) {
    transfer->overflow = true;
    return 0;  // aborts the transfer
  }
  transfer->body.append(data, bytes);
  return bytes;
}

void finish(Transfer& transfer, HttpResponse response) {
  transfer.queue->post([completion = std::move(transfer.completion),
                        response = std::move(response)] { completion(response); });
}

}  // namespace

struct CurlHttpClient::Impl {
  Impl() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi = curl_multi_init();
    worker = std::thread([this] { run(); });
  }

  ~Impl() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    curl_multi_wakeup(multi);
    worker.join();
    curl_multi_cleanup(multi);
  }

  void add(std::unique_ptr<Transfer> transfer) {
    {
      std::lock_guard lock(mutex);
      incoming.push_back(std::move(transfer));
    }
    curl_multi_wakeup(multi);
  }

  bool start(Transfer& transfer) {
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
      return false;
    }
    transfer.easy = easy;
    const auto& request = transfer.request;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(
        easy, CURLOPT_TIMEOUT_MS,
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(request.timeout).count()));
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    }
    if (!request.body.empty()) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    }
    for (const auto& [name, value] : request.headers) {
      std::string line = name;
      line += ": ";
      line += value;
      transfer.headers = curl_slist_append(transfer.headers, line.c_str());
    }
    // curl would otherwise send "Expect: 100-continue" for larger bodies and wait for it.
    transfer.headers = curl_slist_append(transfer.headers, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    return curl_multi_add_handle(multi, easy) == CURLM_OK;
  }

  void release(Transfer& transfer) {
    if (transfer.easy != nullptr) {
      curl_multi_remove_handle(multi, transfer.easy);
      curl_easy_cleanup(transfer.easy);
      transfer.easy = nullptr;
    }
    curl_slist_free_all(transfer.headers);
    transfer.headers = nullptr;
  }

  void run() {
    std::vector<std::unique_ptr<Transfer>> active;
    for (;;) {
      std::deque<std::unique_ptr<Transfer>> arrived;
      bool stop = false;
      {
        std::lock_guard lock(mutex);
        arrived.swap(incoming);
        stop = stopping;
      }
      for (auto& transfer : arrived) {
        if (stop || !start(*transfer)) {
          release(*transfer);
          finish(*transfer, HttpResponse{});
          continue;
        }
        active.push_back(std::move(transfer));
      }
      if (stop) {
        for (auto& transfer : active) {
          release(*transfer);
          finish(*transfer, HttpResponse{});
        }
        return;
      }
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
          continue;
        }
        Transfer* done = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &done);
        HttpResponse response;
        if (message->data.result == CURLE_OK && !done->overflow) {
          long status = 0;
          curl_easy_getinfo(done->easy, CURLINFO_RESPONSE_CODE, &status);
          response.status = static_cast<int>(status);
          response.body = std::move(done->body);
          char* location = nullptr;
          if (curl_easy_getinfo(done->easy, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
              location != nullptr) {
            response.location = location;
          }
        }
        release(*done);
        finish(*done, std::move(response));
        std::erase_if(active, [done](const auto& t) { return t.get() == done; });
      }
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
  }

  CURLM* multi = nullptr;
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> incoming;
  bool stopping = false;
  std::thread worker;
};

CurlHttpClient::CurlHttpClient() : impl_(std::make_unique<Impl>()) {}

CurlHttpClient::~CurlHttpClient() = default;

void CurlHttpClient::send(HttpRequest request, Queue& replyQueue, Completion completion) {
  if (!isPermittedServiceURL(request.url)) {
    replyQueue.post([completion = std::move(completion)] { completion(HttpResponse{}); });
    return;
  }
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->queue = &replyQueue;
  transfer->completion = std::move(completion);
  impl_->add(std::move(transfer));
}

}  // namespace lumarin
