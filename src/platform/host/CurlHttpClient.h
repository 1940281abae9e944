#pragma once

#include <memory>
#include <mutex>

#include "platform/HttpClient.h"

namespace lumarin {

// HTTP on libcurl. One worker thread drives every transfer through a curl multi handle, so
// `send` only queues and returns. Plain http is refused (status 0, nothing sent) unless the
// host is a loopback address; redirects are not followed. Destroying the client stops the
// worker; requests still unfinished then complete with status 0. libcurl is opened and the
// worker started on the first request, so a program that sends nothing never loads them;
// without libcurl every request completes with status 0.
class CurlHttpClient final : public HttpClient {
 public:
  CurlHttpClient();
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  void send(HttpRequest request, Queue& replyQueue, Completion completion) override;

 private:
  struct Impl;
  Impl* started();

  std::mutex startMutex_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lumarin
