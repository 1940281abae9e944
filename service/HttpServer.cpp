#include "service/HttpServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <thread>

#include "base/Json.h"
#include "service/Service.h"

namespace lumarin::service {

namespace {

bool isKnownMethod(const std::string& method) {
  for (const char* known : {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"}) {
    if (method == known) {
      return true;
    }
  }
  return false;
}

// For the answers the HTTP library gives on its own (a body over the limit, a request line it
// cannot read): the same JSON error shape as ours.
std::string libraryErrorMessage(int status) {
  switch (status) {
    case 413:
      return "the request body is too large";
    case 405:
      return "method not allowed";
    case 414:
      return "the request URI is too long";
    default:
      return "the request could not be read";
  }
}

// The library listens with a backlog of 5, compiled into it: a burst of clients connecting at
// once (programs waking from sleep, the load run's 50) overflows that, and each connection
// dropped from the queue waits a full second for its SYN to be sent again. Linux lets listen()
// be called again on a listening socket to change the backlog, and the socket is ours to reach
// from a derived class.
template <typename Base>
class WideBacklog final : public Base {
 public:
  using Base::Base;
  void widenBacklog() {
    constexpr int kBacklog = 1024;
    (void)::listen(this->svr_sock_, kBacklog);
  }
};

}  // namespace

struct HttpServer::Impl {
  Impl(Service& s, Options o) : service(s), options(std::move(o)) {}
  Service& service;
  Options options;
  std::unique_ptr<httplib::Server> server;
  std::function<void()> widenBacklog;
  std::thread thread;
  std::atomic<bool> finished{false};
};

HttpServer::HttpServer(Service& service, Options options)
    : impl_(std::make_unique<Impl>(service, std::move(options))) {
  auto& o = impl_->options;
  if (o.tlsCertificate && o.tlsKey) {
    auto server = std::make_unique<WideBacklog<httplib::SSLServer>>(o.tlsCertificate->c_str(),
                                                                    o.tlsKey->c_str());
    impl_->widenBacklog = [raw = server.get()] { raw->widenBacklog(); };
    impl_->server = std::move(server);
  } else {
    auto server = std::make_unique<WideBacklog<httplib::Server>>();
    impl_->widenBacklog = [raw = server.get()] { raw->widenBacklog(); };
    impl_->server = std::move(server);
  }
  auto& server = *impl_->server;
  const std::size_t threads = o.threads == 0 ? 1 : o.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server.set_payload_max_length(o.maxBodyBytes);
  // Clients keep their connection for many requests (the program's URL session does); the
  // library's default of five would make them reconnect all the time.
  server.set_keep_alive_max_count(10000);
  // Small JSON answers written in pieces would otherwise wait for delayed ACKs (40 ms each).
  server.set_tcp_nodelay(true);
  server.set_read_timeout(10);
  server.set_write_timeout(10);

  Service* handlerService = &impl_->service;
  const auto handler = [handlerService](const httplib::Request& req, httplib::Response& res) {
    HttpRequest request;
    request.method = req.method;
    request.path = req.path;
    for (const auto& [key, value] : req.params) {
      request.query.emplace_back(key, value);
    }
    request.authorization = req.get_header_value("Authorization");
    request.body = req.body;
    const HttpResponse response = handlerService->handle(request);
    res.status = response.status;
    for (const auto& [name, value] : response.headers) {
      res.set_header(name, value);
    }
    res.set_content(response.body, response.contentType);
  };
  constexpr const char* kAnyPath = ".*";
  server.Get(kAnyPath, handler);
  server.Post(kAnyPath, handler);
  server.Put(kAnyPath, handler);
  server.Patch(kAnyPath, handler);
  server.Delete(kAnyPath, handler);
  server.Options(kAnyPath, handler);

  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) {
      return;  // one of ours
    }
    if (res.status == 400 && !isKnownMethod(req.method)) {
      res.status = 405;
    }
    res.set_content(json::dump(json::Json{{"error", libraryErrorMessage(res.status)}}),
                    "application/json");
  });
}

HttpServer::~HttpServer() { stop(); }

Result<int> HttpServer::bind(const std::string& host, int port) {
  auto& server = *impl_->server;
  if (!server.is_valid()) {
    return Error{"the TLS certificate or key cannot be loaded"};
  }
  if (port == 0) {
    const int bound = server.bind_to_any_port(host);
    if (bound <= 0) {
      return Error{"cannot listen on " + host};
    }
    impl_->widenBacklog();
    return bound;
  }
  if (!server.bind_to_port(host, port)) {
    return Error{"cannot listen on " + host + ":" + std::to_string(port)};
  }
  impl_->widenBacklog();
  return port;
}

bool HttpServer::run() { return impl_->server->listen_after_bind(); }

void HttpServer::start() {
  impl_->thread = std::thread([impl = impl_.get()] {
    impl->server->listen_after_bind();
    impl->finished = true;
  });
  // The library's stop() does nothing before its accept loop runs, so a stop() right after
  // start() would leave the thread listening for ever: return only once it is running (or has
  // given up).
  while (!impl_->server->is_running() && !impl_->finished) {
    std::this_thread::yield();
  }
}

void HttpServer::stop() {
  if (impl_ && impl_->server) {
    impl_->server->stop();
  }
  if (impl_ && impl_->thread.joinable()) {
    impl_->thread.join();
  }
}

}  // namespace lumarin::service
