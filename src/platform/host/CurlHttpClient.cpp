#include "platform/host/CurlHttpClient.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <type_traits>
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

// libcurl and what it brings with it (TLS libraries, Kerberos, LDAP, SSH, their start-up
// work) cost an idle program several megabytes, and most runs never make a request. So the
// library is opened on the first request and stays open for the rest of the process.
struct CurlLibrary {
  decltype(&curl_global_init) globalInit = nullptr;
  decltype(&curl_multi_init) multiInit = nullptr;
  decltype(&curl_multi_cleanup) multiCleanup = nullptr;
  decltype(&curl_multi_wakeup) multiWakeup = nullptr;
  decltype(&curl_multi_add_handle) multiAdd = nullptr;
  decltype(&curl_multi_remove_handle) multiRemove = nullptr;
  decltype(&curl_multi_perform) multiPerform = nullptr;
  decltype(&curl_multi_info_read) multiInfoRead = nullptr;
  decltype(&curl_multi_poll) multiPoll = nullptr;
  decltype(&curl_easy_init) easyInit = nullptr;
  decltype(&curl_easy_cleanup) easyCleanup = nullptr;
  decltype(&curl_easy_setopt) easySetopt = nullptr;
  decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
  decltype(&curl_slist_append) slistAppend = nullptr;
  decltype(&curl_slist_free_all) slistFreeAll = nullptr;

  // Null when the library or one of its functions is missing; then no request is sent.
  static const CurlLibrary* load() {
    static const CurlLibrary* const loaded = []() -> const CurlLibrary* {
      void* handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
      if (handle == nullptr) {
        return nullptr;
      }
      static CurlLibrary library;
      bool complete = true;
      const auto bind = [&](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
        complete = complete && function != nullptr;
      };
      bind(library.globalInit, "curl_global_init");
      bind(library.multiInit, "curl_multi_init");
      bind(library.multiCleanup, "curl_multi_cleanup");
      bind(library.multiWakeup, "curl_multi_wakeup");
      bind(library.multiAdd, "curl_multi_add_handle");
      bind(library.multiRemove, "curl_multi_remove_handle");
      bind(library.multiPerform, "curl_multi_perform");
      bind(library.multiInfoRead, "curl_multi_info_read");
      bind(library.multiPoll, "curl_multi_poll");
      bind(library.easyInit, "curl_easy_init");
      bind(library.easyCleanup, "curl_easy_cleanup");
      bind(library.easySetopt, "curl_easy_setopt");
      bind(library.easyGetinfo, "curl_easy_getinfo");
      bind(library.slistAppend, "curl_slist_append");
      bind(library.slistFreeAll, "curl_slist_free_all");
      // The handle stays open: curl's global state and its TLS library live until exit.
      if (!complete || library.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        return nullptr;
      }
      return &library;
    }();
    return loaded;
  }
};

void finish(Transfer& transfer, HttpResponse response) {
  transfer.queue->post([completion = std::move(transfer.completion),
                        response = std::move(response)] { completion(response); });
}

}  // namespace

struct CurlHttpClient::Impl {
  explicit Impl(const CurlLibrary& library) : curl(library) {
    multi = curl.multiInit();
    worker = std::thread([this] { run(); });
  }

  ~Impl() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    curl.multiWakeup(multi);
    worker.join();
    curl.multiCleanup(multi);
  }

  void add(std::unique_ptr<Transfer> transfer) {
    {
      std::lock_guard lock(mutex);
      incoming.push_back(std::move(transfer));
    }
    curl.multiWakeup(multi);
  }

  bool start(Transfer& transfer) {
    CURL* easy = curl.easyInit();
    if (easy == nullptr) {
      return false;
    }
    transfer.easy = easy;
    const auto& request = transfer.request;
    curl.easySetopt(easy, CURLOPT_URL, request.url.c_str());
    curl.easySetopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easySetopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl.easySetopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl.easySetopt(
        easy, CURLOPT_TIMEOUT_MS,
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(request.timeout).count()));
    curl.easySetopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    if (request.method == "HEAD") {
      curl.easySetopt(easy, CURLOPT_NOBODY, 1L);
    }
    if (!request.body.empty()) {
      curl.easySetopt(easy, CURLOPT_POSTFIELDS, request.body.data());
      curl.easySetopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                      static_cast<curl_off_t>(request.body.size()));
    }
    for (const auto& [name, value] : request.headers) {
      std::string line = name;
      line += ": ";
      line += value;
      transfer.headers = curl.slistAppend(transfer.headers, line.c_str());
    }
    // curl would otherwise send "Expect: 100-continue" for larger bodies and wait for it.
    transfer.headers = curl.slistAppend(transfer.headers, "Expect:");
    curl.easySetopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    curl.easySetopt(easy, CURLOPT_WRITEFUNCTION, collect);
    curl.easySetopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl.easySetopt(easy, CURLOPT_PRIVATE, &transfer);
    return curl.multiAdd(multi, easy) == CURLM_OK;
  }

  void release(Transfer& transfer) {
    if (transfer.easy != nullptr) {
      curl.multiRemove(multi, transfer.easy);
      curl.easyCleanup(transfer.easy);
      transfer.easy = nullptr;
    }
    curl.slistFreeAll(transfer.headers);
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
      curl.multiPerform(multi, &running);
      int left = 0;
      while (CURLMsg* message = curl.multiInfoRead(multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
          continue;
        }
        Transfer* done = nullptr;
        curl.easyGetinfo(message->easy_handle, CURLINFO_PRIVATE, &done);
        HttpResponse response;
        if (message->data.result == CURLE_OK && !done->overflow) {
          long status = 0;
          curl.easyGetinfo(done->easy, CURLINFO_RESPONSE_CODE, &status);
          response.status = static_cast<int>(status);
          response.body = std::move(done->body);
          char* location = nullptr;
          if (curl.easyGetinfo(done->easy, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
              location != nullptr) {
            response.location = location;
          }
        }
        release(*done);
        finish(*done, std::move(response));
        std::erase_if(active, [done](const auto& t) { return t.get() == done; });
      }
      // With transfers under way libcurl wakes for their own timeouts within the second; with
      // none the worker sleeps until a new request or the end wakes it (an idle program stays
      // asleep).
      curl.multiPoll(multi, nullptr, 0, active.empty() ? kIdleWaitMs : 1000, nullptr);
    }
  }

  static constexpr int kIdleWaitMs = 3600 * 1000;

  const CurlLibrary& curl;
  CURLM* multi = nullptr;
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> incoming;
  bool stopping = false;
  std::thread worker;
};

CurlHttpClient::CurlHttpClient() = default;

CurlHttpClient::~CurlHttpClient() = default;

CurlHttpClient::Impl* CurlHttpClient::started() {
  std::lock_guard lock(startMutex_);
  if (!impl_) {
    if (const CurlLibrary* library = CurlLibrary::load()) {
      impl_ = std::make_unique<Impl>(*library);
    }
  }
  return impl_.get();
}

void CurlHttpClient::send(HttpRequest request, Queue& replyQueue, Completion completion) {
  if (!isPermittedServiceURL(request.url)) {
    replyQueue.post([completion = std::move(completion)] { completion(HttpResponse{}); });
    return;
  }
  Impl* impl = started();
  if (impl == nullptr) {
    // Without libcurl nothing can be sent: the same answer as an unreachable host.
    replyQueue.post([completion = std::move(completion)] { completion(HttpResponse{}); });
    return;
  }
  auto transfer = std::make_unique<Transfer>();
  transfer->request = std::move(request);
  transfer->queue = &replyQueue;
  transfer->completion = std::move(completion);
  impl->add(std::move(transfer));
}

}  // namespace lumarin
