// Load run of the reference web service: a loopback server and 50 concurrent clients doing
// sync round trips (GET, then PUT on the version just read), the way a crowd of signed-in
// programs would. Bounded (a fixed number of rounds), prints requests per second and the
// latency percentiles, and checks that no write was lost:
//   - own accounts: every client ends at exactly `rounds` versions with its last blob;
//   - one shared account: the final version equals the number of PUTs answered 200, so each
//     accepted write is there and each 409 really was a stale base.
//
//   lumarin_service_load [--clients N] [--rounds N] [--db FILE|postgresql://...]
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

int main(int argc, char** argv) {
  int clients = 50;
  int rounds = 200;
  std::string location;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    if (arg == "--clients") {
      clients = std::max(1, std::atoi(argv[i + 1]));
    } else if (arg == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i + 1]));
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
  Service service(*store, Service::Options{});
  HttpServer::Options serverOptions;
  serverOptions.threads = static_cast<std::size_t>(clients) + 8;
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
    if (!id || !store->saveToken(crypto::sha256Hex(token), id.value(), "LOAD", 0)) {
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
          const auto body = json::dump(
              json::Json{{"blob", "client " + std::to_string(c) + " round " + std::to_string(r)},
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

  server.stop();
  if (!dir.empty()) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
  }
  std::printf(lost ? "RESULT: writes were lost or failed\n" : "RESULT: nothing lost\n");
  return lost ? 1 : 0;
}
