// Load run of the reference web service: a loopback server and 50 concurrent clients doing
// sync round trips (GET, then PUT on the version just read), the way a crowd of signed-in
// programs would. Bounded (a fixed number of rounds), prints requests per second and the
// latency percentiles, and checks that no write was lost:
//   - own accounts: every client ends at exactly `rounds` versions with its last blob;
//   - one shared account: the final version equals the number of PUTs answered 200, so each
//     accepted write is there and each 409 really was a stale base.
// Then two abuse runs, each beside legitimate sync clients:
//   - slow flood: `--flood` connections (500) from 20 loopback addresses, a third trickling
//     header lines, a third stuck half way through a body, a third idle, reconnecting when
//     dropped, while one client does sync round trips;
//   - guessing flood: 20 addresses posting wrong passwords as fast as they are answered (with
//     the production hash cost), while the sync clients run.
//
//   lumarin_service_load [--clients N] [--rounds N] [--flood N] [--threads N] [--sync-only 1]
//                        [--db FILE|postgresql://...]
//
// `--threads` sets the server's workers (default: the server's own); `--sync-only 1` stops after
// the two sync runs, for quick comparisons of the plain round trip.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Json.h"
#include "service/Crypto.h"
#include "service/HttpServer.h"
#include "service/Service.h"
#include "service/Store.h"

namespace {

using namespace lumarin;
using namespace lumarin::service;
using Clock = std::chrono::steady_clock;

struct Tally {
  std::mutex mutex;
  std::vector<double> latenciesMs;
  std::atomic<long> failures{0};
  std::atomic<long> stored{0};
  std::atomic<long> conflicts{0};

  void add(const std::vector<double>& mine) {
    std::lock_guard lock(mutex);
    latenciesMs.insert(latenciesMs.end(), mine.begin(), mine.end());
  }
};

double percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) {
    return 0;
  }
  const auto index =
      static_cast<std::size_t>(std::lround(p * static_cast<double>(sorted.size() - 1)));
  return sorted[std::min(index, sorted.size() - 1)];
}

void report(const char* phase, Tally& tally, double seconds) {
  auto& l = tally.latenciesMs;
  std::sort(l.begin(), l.end());
  std::printf(
      "%-16s %7zu requests in %6.2f s = %8.0f requests/s   p50 %6.2f ms   p99 %6.2f ms"
      "   failures %ld\n",
      phase, l.size(), seconds, static_cast<double>(l.size()) / seconds, percentile(l, 0.50),
      percentile(l, 0.99), tally.failures.load());
}

// One request, its latency recorded.
template <typename F>
httplib::Result timed(std::vector<double>& latencies, F&& request) {
  const auto start = Clock::now();
  httplib::Result result = request();
  latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  return result;
}

// A client socket from a chosen loopback source address, non-blocking once connected.
int connectFrom(const std::string& source, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
    ::close(fd);
    return -1;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Keeps `count` abusive connections open until `stop`: each third trickles header lines,
// sends half a body, or idles after one request. Connections the server drops are opened
// again, so the pressure stays.
void slowFlood(int port, int count, const std::string& token, std::atomic<bool>& stop,
               std::atomic<long>& reopened) {
  struct Slow {
    int fd = -1;
    int kind = 0;
    std::string source;
    Clock::time_point lastSent;
  };
  auto open = [&](Slow& s) {
    s.fd = connectFrom(s.source, port);
    if (s.fd < 0) {
      return;
    }
    std::string first;
    if (s.kind == 0) {
      first = "GET /api/me HTTP/1.1\r\nHost: x\r\n";
    } else if (s.kind == 1) {
      first = "PUT /api/sync/lumarin HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token +
              "\r\nContent-Length: 5000\r\n\r\n{\"blob\":";
    } else {
      first = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
    }
    (void)::send(s.fd, first.data(), first.size(), MSG_NOSIGNAL);
    s.lastSent = Clock::now();
  };
  std::vector<Slow> slow(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    slow[i].kind = i % 3;
    slow[i].source = "127.0.0." + std::to_string(2 + i % 20);
    open(slow[i]);
  }
  // Bounded: the run ends when the legitimate client is done, and at most after ten minutes.
  const auto giveUp = Clock::now() + std::chrono::minutes(10);
  while (!stop && Clock::now() < giveUp) {
    std::vector<pollfd> fds;
    fds.reserve(slow.size());
    for (auto& s : slow) {
      fds.push_back(pollfd{s.fd, POLLIN, 0});
    }
    (void)::poll(fds.data(), fds.size(), 200);
    for (std::size_t i = 0; i < slow.size(); ++i) {
      auto& s = slow[i];
      if (s.fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char buffer[4096];
        const auto n = ::recv(s.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0 && s.kind == 2) {
          continue;  // the idle one's answer; it stays open until the server drops it
        }
        ::close(s.fd);
        s.fd = -1;
      }
      if (s.fd < 0) {
        ++reopened;
        open(s);
      } else if (s.kind == 0 && Clock::now() - s.lastSent >= std::chrono::seconds(1)) {
        // A trickle: one header line a second, never the end of the head.
        (void)::send(s.fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL | MSG_DONTWAIT);
        s.lastSent = Clock::now();
      }
    }
  }
  for (auto& s : slow) {
    if (s.fd >= 0) {
      ::close(s.fd);
    }
  }
}

// Sync round trips of one client with its latencies; false when one failed.
bool syncRounds(int port, const std::string& token, int rounds, std::vector<double>& latencies) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  const httplib::Headers auth{{"Authorization", "Bearer " + token}};
  bool ok = true;
  for (int r = 0; r < rounds; ++r) {
    auto got = timed(latencies, [&] { return client.Get("/api/sync/lumarin", auth); });
    if (!got || got->status != 200) {
      ok = false;
      continue;
    }
    const auto version = json::parse(got->body).value().value("version", std::int64_t{0});
    const auto body =
        json::dump(json::Json{{"blob", "[" + std::to_string(r) + "]"}, {"baseVersion", version}});
    auto put = timed(
        latencies, [&] { return client.Put("/api/sync/lumarin", auth, body, "application/json"); });
    ok = ok && put && put->status == 200;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int clients = 50;
  int rounds = 200;
  int flood = 500;
  std::size_t workers = 0;
  bool syncOnly = false;
  std::string location;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--clients") {
      clients = std::max(1, std::atoi(argv[i + 1]));
    } else if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i + 1]));
    } else if (arg == "--flood") {
      flood = std::max(3, std::atoi(argv[i + 1]));
    } else if (arg == "--threads") {
      workers = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
    } else if (arg == "--sync-only") {
      syncOnly = std::atoi(argv[i + 1]) != 0;
    } else if (arg == "--db") {
      location = argv[i + 1];
    }
  }
  std::filesystem::path dir;
  if (location.empty()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumarin-service-load-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::fprintf(stderr, "cannot create a temporary directory\n");
      return 1;
    }
    dir = pattern;
    location = (dir / "service.db").string();
  }
  auto opened = Store::open(location);
  if (!opened) {
    std::fprintf(stderr, "%s\n", opened.error().message.c_str());
    return 1;
  }
  auto store = std::move(opened).value();
  raiseDescriptorLimit();
  Service service(*store, Service::Options{});
  HttpServer::Options serverOptions;
  if (workers != 0) {
    serverOptions.threads = workers;
  }
  HttpServer server(service, serverOptions);
  auto port = server.bind("127.0.0.1", 0);
  if (!port) {
    std::fprintf(stderr, "%s\n", port.error().message.c_str());
    return 1;
  }
  server.start();

  // Accounts and tokens straight into the store: the load is the sync, not the sign-in.
  const auto stamp =
      std::to_string(::getpid()) + "-" + std::to_string(Clock::now().time_since_epoch().count());
  std::vector<std::string> tokens;
  std::vector<std::int64_t> accounts;
  for (int c = 0; c <= clients; ++c) {
    auto id = store->createAccount("load-" + stamp + "-" + std::to_string(c) + "@example.com", "-",
                                   "free", 0);
    const auto token = crypto::randomUrlSafe(32);
    // Made now: a token last used long ago has expired.
    const auto madeAt = static_cast<Seconds>(std::time(nullptr));
    if (!id || !store->saveToken(crypto::sha256Hex(token), id.value(), "LOAD", madeAt)) {
      std::fprintf(stderr, "cannot set up the accounts\n");
      return 1;
    }
    accounts.push_back(id.value());
    tokens.push_back(token);
  }
  const int shared = clients;  // the extra account all clients fight over

  std::printf("lumarin-service load: %d clients, %d sync round trips each, store %s\n", clients,
              rounds, dir.empty() ? "postgresql" : "sqlite");
  bool lost = false;

  // Phase 1: each client pulls and pushes its own settings.
  {
    Tally tally;
    std::latch ready(clients + 1);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(clients));
    std::vector<std::string> lastBlob(clients);
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", port.value());
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        const httplib::Headers auth{{"Authorization", "Bearer " + tokens[c]}};
        std::vector<double> latencies;
        ready.arrive_and_wait();
        for (int r = 0; r < rounds; ++r) {
          auto got = timed(latencies, [&] { return client.Get("/api/sync/lumarin", auth); });
          if (!got || got->status != 200) {
            std::fprintf(stderr, "GET failed: %s\n",
                         got ? std::to_string(got->status).c_str()
                             : httplib::to_string(got.error()).c_str());
            ++tally.failures;
            continue;
          }
          const auto version = json::parse(got->body).value().value("version", std::int64_t{0});
          const auto blob = json::dump(
              json::Json{{"defaultStyle", {{"color", "red"}}}, {"round", r}, {"client", c}});
          const auto body =
              json::dump(json::Json{{"blob", blob}, {"baseVersion", version}, {"deviceId", "L"}});
          auto put = timed(latencies, [&] {
            return client.Put("/api/sync/lumarin", auth, body, "application/json");
          });
          if (!put || put->status != 200) {
            std::fprintf(stderr, "PUT failed: %s\n",
                         put ? std::to_string(put->status).c_str()
                             : httplib::to_string(put.error()).c_str());
            ++tally.failures;
            continue;
          }
          ++tally.stored;
          lastBlob[c] = blob;
        }
        tally.add(latencies);
      });
    }
    ready.arrive_and_wait();
    const auto start = Clock::now();
    for (auto& t : threads) {
      t.join();
    }
    report("own accounts", tally, std::chrono::duration<double>(Clock::now() - start).count());
    for (int c = 0; c < clients; ++c) {
      auto blob = store->blob(accounts[c]);
      if (!blob || !blob.value() || blob.value()->version != rounds ||
          blob.value()->blob != lastBlob[c]) {
        std::printf("LOST: client %d ends at version %lld\n", c,
                    blob && blob.value() ? static_cast<long long>(blob.value()->version) : -1LL);
        lost = true;
      }
    }
    lost = lost || tally.failures > 0;
  }

  // Phase 2: every client pushes to one account; conflicts are expected, losses are not.
  {
    Tally tally;
    std::latch ready(clients + 1);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(clients));
    for (int c = 0; c < clients; ++c) {
      threads.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", port.value());
        client.set_keep_alive(true);
        client.set_tcp_nodelay(true);
        const httplib::Headers auth{{"Authorization", "Bearer " + tokens[shared]}};
        std::vector<double> latencies;
        ready.arrive_and_wait();
        for (int r = 0; r < rounds; ++r) {
          auto got = timed(latencies, [&] { return client.Get("/api/sync/lumarin", auth); });
          if (!got || got->status != 200) {
            std::fprintf(stderr, "GET failed: %s\n",
                         got ? std::to_string(got->status).c_str()
                             : httplib::to_string(got.error()).c_str());
            ++tally.failures;
            continue;
          }
          const auto version = json::parse(got->body).value().value("version", std::int64_t{0});
          const auto body =
              json::dump(json::Json{{"blob", json::dump(json::Json{{"client", c}, {"round", r}})},
                                    {"baseVersion", version}});
          auto put = timed(latencies, [&] {
            return client.Put("/api/sync/lumarin", auth, body, "application/json");
          });
          if (!put) {
            std::fprintf(stderr, "PUT failed: %s\n", httplib::to_string(put.error()).c_str());
            ++tally.failures;
          } else if (put->status == 200) {
            ++tally.stored;
          } else if (put->status == 409) {
            ++tally.conflicts;
          } else {
            ++tally.failures;
          }
        }
        tally.add(latencies);
      });
    }
    ready.arrive_and_wait();
    const auto start = Clock::now();
    for (auto& t : threads) {
      t.join();
    }
    report("one account", tally, std::chrono::duration<double>(Clock::now() - start).count());
    auto blob = store->blob(accounts[shared]);
    const long final = blob && blob.value() ? static_cast<long>(blob.value()->version) : 0;
    std::printf("one account: %ld pushes stored, %ld conflicts (409), final version %ld\n",
                tally.stored.load(), tally.conflicts.load(), final);
    if (final != tally.stored.load() || tally.failures > 0) {
      std::printf("LOST: stored pushes and the final version differ\n");
      lost = true;
    }
  }

  // Slow flood beside one legitimate client.
  if (!syncOnly) {
    std::atomic<bool> stop{false};
    std::atomic<long> reopened{0};
    std::thread flooder([&] { slowFlood(port.value(), flood, tokens[shared], stop, reopened); });
    // Let the flood's connections be open before measuring.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    Tally tally;
    std::vector<double> latencies;
    const auto start = Clock::now();
    if (!syncRounds(port.value(), tokens[0], rounds, latencies)) {
      ++tally.failures;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "slow flood: %d abusive connections open (%ld reopened after the server dropped "
        "them), %lld open at the end\n",
        flood, reopened.load(), static_cast<long long>(service.metrics().openConnections()));
    tally.add(latencies);
    report("during flood", tally, seconds);
    stop = true;
    flooder.join();
    lost = lost || tally.failures > 0;
  }

  // Guessing flood from 20 addresses beside the sync clients.
  if (!syncOnly) {
    std::atomic<bool> stop{false};
    std::atomic<long> answered401{0};
    std::atomic<long> answered429{0};
    std::atomic<long> answered503{0};
    constexpr int kGuessers = 20;
    std::vector<std::thread> guessers;
    guessers.reserve(kGuessers);
    for (int g = 0; g < kGuessers; ++g) {
      guessers.emplace_back([&, g] {
        const std::string source = "127.0.0." + std::to_string(30 + g);
        const std::string form =
            "app=lumarin&challenge=E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM&state=s&email=" +
            std::string("victim") + std::to_string(g % 4) +
            "%40example.com&password=guess&action=signin";
        const std::string text =
            "POST /app/connect HTTP/1.1\r\nHost: x\r\nContent-Type: "
            "application/x-www-form-urlencoded\r\nContent-Length: " +
            std::to_string(form.size()) + "\r\n\r\n" + form;
        const auto giveUp = Clock::now() + std::chrono::minutes(5);
        int fd = -1;
        while (!stop && Clock::now() < giveUp) {
          if (fd < 0) {
            fd = connectFrom(source, port.value());
            if (fd < 0) {
              continue;
            }
          }
          (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
          char buffer[16384];
          const auto n = ::recv(fd, buffer, sizeof buffer, 0);
          if (n <= 12) {
            ::close(fd);
            fd = -1;
            continue;
          }
          const std::string status(buffer + 9, 3);
          (status == "401" ? answered401 : status == "429" ? answered429 : answered503)++;
        }
        if (fd >= 0) {
          ::close(fd);
        }
      });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    Tally tally;
    std::vector<std::thread> syncers;
    syncers.reserve(static_cast<std::size_t>(clients));
    const auto start = Clock::now();
    for (int c = 0; c < clients; ++c) {
      syncers.emplace_back([&, c] {
        std::vector<double> latencies;
        if (!syncRounds(port.value(), tokens[c], rounds / 4, latencies)) {
          ++tally.failures;
        }
        tally.add(latencies);
      });
    }
    for (auto& t : syncers) {
      t.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (auto& t : guessers) {
      t.join();
    }
    std::printf("guessing flood: 20 addresses, answers 401: %ld, 429: %ld, other (503): %ld\n",
                answered401.load(), answered429.load(), answered503.load());
    report("during guessing", tally, seconds);
    lost = lost || tally.failures > 0;
  }

  server.stop();
  if (!dir.empty()) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
  std::printf(lost ? "RESULT: writes were lost or failed\n" : "RESULT: nothing lost\n");
  return lost ? 1 : 0;
}
