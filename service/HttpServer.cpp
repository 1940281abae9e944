#include "service/HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/Iso8601.h"
#include "base/Json.h"
#include "service/HttpWire.h"
#include "service/Metrics.h"
#include "service/RequestParsers.h"
#include "service/Service.h"

namespace lumarin::service {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kListenId = 0;
constexpr std::uint64_t kWakeId = 1;
constexpr std::size_t kReadChunk = std::size_t{16} * 1024;
// After an answer that leaves a body unread, what the client still sends is read and thrown
// away for a moment before closing, so the close does not reset the connection under the
// answer; bounded in time and bytes.
constexpr auto kDrainTime = std::chrono::milliseconds(1000);
constexpr std::size_t kDrainBytes = std::size_t{2} * 1024 * 1024;
constexpr auto kSweepInterval = std::chrono::milliseconds(25);

std::string peerAddress(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  }
  return normaliseIpAddress(text).value_or(text);
}

std::string jsonError(int status, std::string_view message, bool keepAlive) {
  HttpResponse response;
  response.status = status;
  response.body = json::dump(json::Json{{"error", std::string(message)}});
  return wire::serializeResponse(response, keepAlive, false);
}

struct Job {
  enum class Kind { handle, screen };
  Kind kind = Kind::handle;
  std::uint64_t connection = 0;
  HttpRequest request;
  bool keepAlive = true;
  Clock::time_point started;
};

struct Completion {
  std::uint64_t connection = 0;
  Job::Kind kind = Job::Kind::handle;
  // handle: the serialised answer. screen: an answer when refused, else empty.
  std::string bytes;
  bool close = false;
  HttpRequest request;  // screen: the head, now carrying its authorised account
};

}  // namespace

std::size_t defaultWorkerCount() {
  return std::clamp<std::size_t>(std::size_t{2} * std::thread::hardware_concurrency(), 4, 16);
}

std::size_t raiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return 1024;
  }
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      limit = raised;
    }
  }
  return limit.rlim_cur == RLIM_INFINITY ? std::size_t{1} << 20
                                         : static_cast<std::size_t>(limit.rlim_cur);
}

struct HttpServer::Impl {
  struct Connection {
    enum class Phase { idle, head, screening, body, working, writing, draining };
    std::uint64_t id = 0;
    int fd = -1;
    SSL* ssl = nullptr;
    std::string peer;
    Phase phase = Phase::idle;
    std::string in;
    std::string out;
    std::size_t outOffset = 0;
    Clock::time_point deadline;
    Clock::time_point started;
    wire::RequestHead head;
    HttpRequest request;
    bool closeAfterWrite = false;
    std::uint32_t events = 0;
    std::size_t drained = 0;
  };

  Impl(Service& s, Options o) : service(s), options(std::move(o)) {}

  Service& service;
  Options options;
  SSL_CTX* tls = nullptr;
  bool tlsValid = true;
  int listenFd = -1;
  int epollFd = -1;
  int wakeFd = -1;
  std::size_t maxConnections = 0;
  std::optional<std::string> proxy;

  std::atomic<bool> stopping{false};
  std::thread thread;

  std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections;
  std::unordered_map<std::string, std::size_t> perAddress;
  std::uint64_t nextId = 2;

  std::mutex jobsMutex;
  std::condition_variable jobsReady;
  std::deque<Job> jobs;
  bool workersStop = false;
  std::vector<std::thread> workers;

  std::mutex doneMutex;
  std::vector<Completion> done;

  // ---- workers ----

  void post(Job job) {
    {
      std::lock_guard lock(jobsMutex);
      jobs.push_back(std::move(job));
    }
    jobsReady.notify_one();
  }

  void complete(Completion completion) {
    {
      std::lock_guard lock(doneMutex);
      done.push_back(std::move(completion));
    }
    const std::uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
  }

  void logRequest(const HttpRequest& request, int status, Clock::time_point started) {
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const auto route = Service::routeLabel(request.method, request.path);
    service.metrics().recordRequest(route, status, seconds);
    if (!options.accessLog) {
      return;
    }
    // Route templates only: no query (the sign-in link's state), no header, no body.
    const json::Json line{
        {"time", iso8601::formatUtc(std::chrono::system_clock::now())},
        {"method", request.method},
        {"route", route},
        {"status", status},
        {"durationMs", static_cast<double>(static_cast<std::int64_t>(seconds * 1e6)) / 1000.0},
        {"client", request.clientAddress}};
    options.accessLog(json::dump(line));
  }

  void workerLoop() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(jobsMutex);
        jobsReady.wait(lock, [this] { return workersStop || !jobs.empty(); });
        if (jobs.empty()) {
          return;
        }
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      Completion completion;
      completion.connection = job.connection;
      completion.kind = job.kind;
      if (job.kind == Job::Kind::screen) {
        if (auto refused = service.screen(job.request)) {
          logRequest(job.request, refused->status, job.started);
          // The body stays unread, so the connection cannot carry another request.
          completion.bytes = wire::serializeResponse(*refused, false, false);
          completion.close = true;
        }
        completion.request = std::move(job.request);
      } else {
        const HttpResponse response = service.handle(job.request);
        logRequest(job.request, response.status, job.started);
        completion.bytes =
            wire::serializeResponse(response, job.keepAlive, job.request.method == "HEAD");
        completion.close = !job.keepAlive;
      }
      complete(std::move(completion));
    }
  }

  // ---- sockets ----

  enum class Io { progress, again, closed };

  Io readSome(Connection& c, std::size_t limit) {
    char buffer[kReadChunk];
    const std::size_t want = std::min(limit, sizeof buffer);
    if (c.ssl != nullptr) {
      ERR_clear_error();
      const int n = SSL_read(c.ssl, buffer, static_cast<int>(want));
      if (n > 0) {
        c.in.append(buffer, static_cast<std::size_t>(n));
        return Io::progress;
      }
      const int error = SSL_get_error(c.ssl, n);
      return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? Io::again : Io::closed;
    }
    const auto n = ::recv(c.fd, buffer, want, 0);
    if (n > 0) {
      c.in.append(buffer, static_cast<std::size_t>(n));
      return Io::progress;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return Io::again;
    }
    return Io::closed;
  }

  Io writeSome(Connection& c) {
    const char* data = c.out.data() + c.outOffset;
    const std::size_t size = c.out.size() - c.outOffset;
    if (c.ssl != nullptr) {
      ERR_clear_error();
      const int n = SSL_write(c.ssl, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)));
      if (n > 0) {
        c.outOffset += static_cast<std::size_t>(n);
        return Io::progress;
      }
      const int error = SSL_get_error(c.ssl, n);
      return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? Io::again : Io::closed;
    }
    const auto n = ::send(c.fd, data, size, MSG_NOSIGNAL);
    if (n >= 0) {
      c.outOffset += static_cast<std::size_t>(n);
      return Io::progress;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return Io::again;
    }
    return Io::closed;
  }

  void watch(Connection& c, std::uint32_t events) {
    if (c.events == events) {
      return;
    }
    epoll_event event{};
    event.events = events;
    event.data.u64 = c.id;
    ::epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &event);
    c.events = events;
  }

  void close(std::uint64_t id) {
    auto it = connections.find(id);
    if (it == connections.end()) {
      return;
    }
    auto& c = *it->second;
    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, c.fd, nullptr);
    if (c.ssl != nullptr) {
      SSL_free(c.ssl);
    }
    ::close(c.fd);
    auto count = perAddress.find(c.peer);
    if (count != perAddress.end() && --count->second == 0) {
      perAddress.erase(count);
    }
    service.metrics().connectionClosed();
    connections.erase(it);
  }

  void acceptAll() {
    for (int accepted = 0; accepted < 256; ++accepted) {
      sockaddr_storage address{};
      socklen_t length = sizeof address;
      const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        return;  // EAGAIN, or out of descriptors: the rest wait in the backlog
      }
      const auto peer = peerAddress(address);
      if (connections.size() >= maxConnections) {
        service.metrics().recordThrottled("connections");
        ::close(fd);
        continue;
      }
      auto& count = perAddress[peer];
      if (count >= options.maxConnectionsPerAddress && (!proxy || *proxy != peer)) {
        service.metrics().recordThrottled("connections");
        const auto refusal = jsonError(429, "too many connections from your address", false);
        if (tls == nullptr) {
          (void)::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
        continue;
      }
      ++count;
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto c = std::make_unique<Connection>();
      c->id = nextId++;
      c->fd = fd;
      c->peer = peer;
      c->deadline = Clock::now() + options.idleTimeout;
      if (tls != nullptr) {
        c->ssl = SSL_new(tls);
        SSL_set_fd(c->ssl, fd);
        SSL_set_accept_state(c->ssl);
      }
      epoll_event event{};
      event.events = EPOLLIN | EPOLLRDHUP;
      event.data.u64 = c->id;
      c->events = event.events;
      ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
      service.metrics().connectionOpened();
      connections.emplace(c->id, std::move(c));
    }
  }

  // An answer of the loop's own (a bound or a deadline crossed); the connection ends after it.
  void refuse(Connection& c, int status, std::string_view message, std::string_view reason) {
    if (!reason.empty()) {
      service.metrics().recordThrottled(reason);
    }
    HttpRequest request = c.request;
    if (request.method.empty()) {
      request.method = c.head.method.empty() ? "-" : c.head.method;
    }
    if (request.clientAddress.empty()) {
      request.clientAddress = c.peer;
    }
    logRequest(request, status, c.started);
    startWriting(c, jsonError(status, message, false), true);
  }

  void startWriting(Connection& c, std::string bytes, bool closeAfter) {
    c.out = std::move(bytes);
    c.outOffset = 0;
    c.closeAfterWrite = closeAfter;
    c.phase = Connection::Phase::writing;
    c.deadline = Clock::now() + options.writeTimeout;
    flush(c);
  }

  void flush(Connection& c) {
    const auto id = c.id;
    while (c.outOffset < c.out.size()) {
      const auto io = writeSome(c);
      if (io == Io::closed) {
        close(id);
        return;
      }
      if (io == Io::again) {
        watch(c, EPOLLOUT);
        return;
      }
    }
    c.out.clear();
    c.outOffset = 0;
    if (c.closeAfterWrite) {
      if (c.ssl != nullptr) {
        close(id);
        return;
      }
      ::shutdown(c.fd, SHUT_WR);
      c.phase = Connection::Phase::draining;
      c.deadline = Clock::now() + kDrainTime;
      watch(c, EPOLLIN | EPOLLRDHUP);
      return;
    }
    c.phase = Connection::Phase::idle;
    c.deadline = Clock::now() + options.idleTimeout;
    c.request = HttpRequest{};
    c.head = wire::RequestHead{};
    watch(c, EPOLLIN | EPOLLRDHUP);
    if (!c.in.empty()) {
      pump(c);  // the next request came with the last one
    }
  }

  void dispatch(Connection& c, Job::Kind kind) {
    c.phase = kind == Job::Kind::screen ? Connection::Phase::screening : Connection::Phase::working;
    // While a worker has it, the connection reads nothing more.
    watch(c, EPOLLRDHUP);
    Job job;
    job.kind = kind;
    job.connection = c.id;
    job.request = kind == Job::Kind::handle ? std::move(c.request) : c.request;
    job.keepAlive = c.head.keepAlive;
    job.started = c.started;
    post(std::move(job));
  }

  void sendContinue(Connection& c) {
    if (!c.head.expectContinue) {
      return;
    }
    constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    // Small enough for any send buffer; a client that misses it sends its body after a pause.
    if (c.ssl != nullptr) {
      (void)SSL_write(c.ssl, kContinue.data(), static_cast<int>(kContinue.size()));
    } else {
      (void)::send(c.fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL);
    }
  }

  // Takes what the buffer holds as far as the connection's phase allows.
  void pump(Connection& c) {
    if (c.phase == Connection::Phase::idle && !c.in.empty()) {
      c.phase = Connection::Phase::head;
      c.started = Clock::now();
      c.deadline = c.started + options.requestTimeout;
    }
    if (c.phase == Connection::Phase::head) {
      wire::Limits limits;
      limits.maxHeaderBytes = options.maxHeaderBytes;
      limits.maxHeaderCount = options.maxHeaderCount;
      auto parsed = wire::parseRequestHead(c.in, limits);
      if (parsed.state == wire::HeadResult::State::incomplete) {
        return;
      }
      if (parsed.state == wire::HeadResult::State::failed) {
        refuse(c, parsed.errorStatus, parsed.error, "");
        return;
      }
      c.in.erase(0, parsed.consumed);
      c.head = std::move(parsed.head);
      auto& request = c.request;
      request = HttpRequest{};
      request.method = c.head.method;
      request.path = c.head.path;
      if (auto query = parseUrlEncoded(c.head.rawQuery)) {
        request.query = std::move(query).value();
      }
      request.authorization = c.head.header("authorization");
      request.clientAddress = c.peer;
      if (proxy && *proxy == c.peer) {
        std::string forwarded;
        for (const auto& [name, value] : c.head.headers) {
          if (name == "x-forwarded-for") {
            forwarded += (forwarded.empty() ? "" : ",") + value;
          }
        }
        if (auto client = forwardedClientAddress(forwarded)) {
          request.clientAddress = std::move(*client);
        }
      }
      if (c.head.contentLength > options.maxBodyBytes) {
        refuse(c, 413,
               "the request body is larger than " + std::to_string(options.maxBodyBytes) + " bytes",
               "");
        return;
      }
      if (c.head.contentLength == 0 || c.in.size() >= c.head.contentLength) {
        c.phase = Connection::Phase::body;
      } else if (service.needsAuthorisationFirst(request)) {
        dispatch(c, Job::Kind::screen);
        return;
      } else {
        c.phase = Connection::Phase::body;
        sendContinue(c);
      }
    }
    if (c.phase == Connection::Phase::body && c.in.size() >= c.head.contentLength) {
      c.request.body = c.in.substr(0, c.head.contentLength);
      c.in.erase(0, c.head.contentLength);
      dispatch(c, Job::Kind::handle);
    }
  }

  void onEvent(std::uint64_t id, std::uint32_t events) {
    auto it = connections.find(id);
    if (it == connections.end()) {
      return;
    }
    auto& c = *it->second;
    if ((events & EPOLLERR) != 0) {
      close(id);
      return;
    }
    if (c.phase == Connection::Phase::writing) {
      if ((events & (EPOLLOUT | EPOLLIN)) != 0) {
        flush(c);
      } else if ((events & EPOLLHUP) != 0) {
        close(id);
      }
      return;
    }
    if (c.phase == Connection::Phase::screening || c.phase == Connection::Phase::working) {
      // The client gave up; its answer is dropped when it arrives.
      if ((events & (EPOLLHUP | EPOLLRDHUP)) != 0) {
        close(id);
      }
      return;
    }
    for (int round = 0; round < 64; ++round) {
      std::size_t limit = kReadChunk;
      if (c.phase == Connection::Phase::body) {
        limit = std::max<std::size_t>(
            c.head.contentLength - std::min(c.in.size(), c.head.contentLength), 1);
      }
      const auto io = readSome(c, limit);
      if (io == Io::closed) {
        close(id);
        return;
      }
      if (io == Io::again) {
        return;
      }
      if (c.phase == Connection::Phase::draining) {
        c.drained += c.in.size();
        c.in.clear();
        if (c.drained > kDrainBytes) {
          close(id);
          return;
        }
        continue;
      }
      pump(c);
      if (connections.find(id) == connections.end()) {
        return;
      }
      if (c.phase != Connection::Phase::idle && c.phase != Connection::Phase::head &&
          c.phase != Connection::Phase::body) {
        return;
      }
    }
  }

  void onCompletions() {
    std::uint64_t count = 0;
    (void)!::read(wakeFd, &count, sizeof count);
    std::vector<Completion> ready;
    {
      std::lock_guard lock(doneMutex);
      ready.swap(done);
    }
    for (auto& completion : ready) {
      auto it = connections.find(completion.connection);
      if (it == connections.end()) {
        continue;
      }
      auto& c = *it->second;
      if (completion.kind == Job::Kind::handle || !completion.bytes.empty()) {
        startWriting(c, std::move(completion.bytes), completion.close);
        continue;
      }
      // Authorised: now the body may come.
      c.request = std::move(completion.request);
      c.phase = Connection::Phase::body;
      watch(c, EPOLLIN | EPOLLRDHUP);
      sendContinue(c);
      pump(c);
    }
  }

  void sweep() {
    const auto now = Clock::now();
    std::vector<std::uint64_t> expired;
    for (const auto& [id, c] : connections) {
      if (c->phase != Connection::Phase::screening && c->phase != Connection::Phase::working &&
          c->deadline <= now) {
        expired.push_back(id);
      }
    }
    for (const auto id : expired) {
      auto& c = *connections.at(id);
      if (c.phase == Connection::Phase::head || c.phase == Connection::Phase::body) {
        refuse(c, 408, "the request was not received in time", "timeout");
      } else {
        close(id);
      }
    }
  }

  bool loop() {
    std::vector<epoll_event> events(512);
    auto lastSweep = Clock::now();
    while (!stopping.load()) {
      const int n = ::epoll_wait(epollFd, events.data(), static_cast<int>(events.size()),
                                 static_cast<int>(kSweepInterval.count()));
      if (n < 0 && errno != EINTR) {
        return false;
      }
      for (int i = 0; i < n; ++i) {
        const auto id = events[static_cast<std::size_t>(i)].data.u64;
        if (id == kListenId) {
          acceptAll();
        } else if (id == kWakeId) {
          onCompletions();
        } else {
          onEvent(id, events[static_cast<std::size_t>(i)].events);
        }
      }
      const auto now = Clock::now();
      if (now - lastSweep >= kSweepInterval) {
        lastSweep = now;
        sweep();
      }
    }
    return true;
  }
};

HttpServer::HttpServer(Service& service, Options options)
    : impl_(std::make_unique<Impl>(service, std::move(options))) {
  auto& o = impl_->options;
  if (o.trustedProxy) {
    impl_->proxy = normaliseIpAddress(*o.trustedProxy);
  }
  if (o.tlsCertificate && o.tlsKey) {
    impl_->tls = SSL_CTX_new(TLS_server_method());
    impl_->tlsValid =
        impl_->tls != nullptr &&
        SSL_CTX_use_certificate_chain_file(impl_->tls, o.tlsCertificate->c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(impl_->tls, o.tlsKey->c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(impl_->tls) == 1;
    if (impl_->tls != nullptr) {
      SSL_CTX_set_min_proto_version(impl_->tls, TLS1_2_VERSION);
      SSL_CTX_set_mode(impl_->tls,
                       SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    }
  }
  impl_->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  impl_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event wake{};
  wake.events = EPOLLIN;
  wake.data.u64 = kWakeId;
  ::epoll_ctl(impl_->epollFd, EPOLL_CTL_ADD, impl_->wakeFd, &wake);
  // Writes to a socket the client has closed must fail, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
}

HttpServer::~HttpServer() {
  stop();
  for (auto& [id, c] : impl_->connections) {
    if (c->ssl != nullptr) {
      SSL_free(c->ssl);
    }
    ::close(c->fd);
  }
  if (impl_->listenFd >= 0) {
    ::close(impl_->listenFd);
  }
  ::close(impl_->wakeFd);
  ::close(impl_->epollFd);
  if (impl_->tls != nullptr) {
    SSL_CTX_free(impl_->tls);
  }
}

Result<int> HttpServer::bind(const std::string& host, int port) {
  if (!impl_->tlsValid) {
    return Error{"the TLS certificate or key cannot be loaded"};
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const auto where = host + ":" + std::to_string(port);
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 ||
      found == nullptr) {
    return Error{"cannot listen on " + where + ": unknown host"};
  }
  int fd = -1;
  for (auto* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // A burst of clients connecting at once (programs waking from sleep) must queue, not be
    // dropped and retried a second later.
    if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4096) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) {
    return Error{"cannot listen on " + where + ": " + std::strerror(errno)};
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
  const int actual = bound.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                         : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  impl_->listenFd = fd;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kListenId;
  ::epoll_ctl(impl_->epollFd, EPOLL_CTL_ADD, fd, &event);
  return actual;
}

bool HttpServer::run() {
  auto& impl = *impl_;
  if (impl.listenFd < 0) {
    return false;
  }
  const std::size_t limit = raiseDescriptorLimit();
  // Descriptors beyond the connections: the store, the log, the workers' files.
  constexpr std::size_t kReserve = 64;
  impl.maxConnections = impl.options.maxConnections != 0
                            ? impl.options.maxConnections
                            : (limit > kReserve * 2 ? limit - kReserve : limit / 2);
  const std::size_t threads =
      impl.options.threads != 0 ? impl.options.threads : defaultWorkerCount();
  impl.workersStop = false;
  for (std::size_t i = 0; i < threads; ++i) {
    impl.workers.emplace_back([&impl] { impl.workerLoop(); });
  }
  const bool ok = impl.loop();
  {
    std::lock_guard lock(impl.jobsMutex);
    impl.workersStop = true;
  }
  impl.jobsReady.notify_all();
  for (auto& worker : impl.workers) {
    worker.join();
  }
  impl.workers.clear();
  std::vector<std::uint64_t> open;
  for (const auto& [id, c] : impl.connections) {
    open.push_back(id);
  }
  for (const auto id : open) {
    impl.close(id);
  }
  return ok;
}

void HttpServer::start() {
  impl_->thread = std::thread([this] { run(); });
}

void HttpServer::stop() {
  if (!impl_) {
    return;
  }
  impl_->stopping = true;
  const std::uint64_t one = 1;
  (void)!::write(impl_->wakeFd, &one, sizeof one);
  if (impl_->thread.joinable()) {
    impl_->thread.join();
  }
}

}  // namespace lumarin::service
