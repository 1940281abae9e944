// lumarin-service: the reference web service behind the program's account, settings sync and
// diagnostics uploads.
//
//   lumarin-service --listen HOST:PORT --db LOCATION [--tls-cert FILE --tls-key FILE]
//                   [--threads N] [--public-url URL] [--trusted-proxy ADDR]
//                   [--access-log FILE|-|off] [limit options, see docs/service.md]
//   lumarin-service admin --db LOCATION accounts|blobs|reports|releases
//   lumarin-service admin --db LOCATION release-add --version BUILD --short-version X.Y.Z
//                   --archive FILE (--private-key PEM | --signature BASE64)
//                   [--title TEXT] [--notes HTML_FILE]
//
// LOCATION is an SQLite file, or a PostgreSQL connection URI ("postgresql://...") so that
// several service processes can share one database.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "service/Admin.h"
#include "service/HttpServer.h"
#include "service/ReleaseAdmin.h"
#include "service/RequestParsers.h"
#include "service/Service.h"
#include "service/Store.h"

namespace {

using namespace lumarin::service;

constexpr const char* kUsage =
    "usage: lumarin-service --listen HOST:PORT --db FILE|postgresql://... "
    "[--tls-cert FILE --tls-key FILE] [--threads N] [--public-url URL]\n"
    "           [--trusted-proxy ADDR] [--access-log FILE|-|off] [--request-timeout S]\n"
    "           [--idle-timeout S] [--max-header-bytes N] [--max-headers N]\n"
    "           [--max-connections N] [--max-connections-per-address N]\n"
    "           [--concurrent-hashes N] [--signin-failures-per-account N]\n"
    "           [--signin-failures-per-address N] [--accounts-per-address N]\n"
    "           [--uploads-per-install N] [--upload-bytes-per-install N]\n"
    "           [--uploads-per-address N] [--upload-bytes-per-address N]\n"
    "           [--max-anonymous-reports N] [--token-lifetime-days N]\n"
    "       lumarin-service admin --db FILE|postgresql://... "
    "accounts|blobs|reports|usage|releases\n"
    "       lumarin-service admin --db FILE|postgresql://... release-add --version BUILD\n"
    "           --short-version X.Y.Z --archive FILE (--private-key PEM | --signature BASE64)\n"
    "           [--title TEXT] [--notes HTML_FILE]\n";

int usage(const std::string& problem) {
  std::cerr << "lumarin-service: " << problem << "\n" << kUsage;
  return 2;
}

struct Listen {
  std::string host;
  int port = 0;
};

// "127.0.0.1:8787" or "[::1]:8787".
std::optional<Listen> parseListen(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    return std::nullopt;
  }
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  int port = 0;
  for (char c : text.substr(colon + 1)) {
    if (c < '0' || c > '9' || port > 65535) {
      return std::nullopt;
    }
    port = port * 10 + (c - '0');
  }
  if (port > 65535) {
    return std::nullopt;
  }
  return Listen{host, port};
}

// A whole number from `min` to `max`, nothing else.
std::optional<std::int64_t> wholeNumber(const std::optional<std::string>& text, std::int64_t min,
                                        std::int64_t max) {
  if (!text || text->empty() || text->size() > 18) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  if (value < min || value > max) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  bool admin = false;
  std::optional<std::string> listen;
  std::optional<std::string> db;
  std::optional<std::string> listing;
  std::vector<std::string> adminArguments;
  Service::Options serviceOptions;
  HttpServer::Options serverOptions;
  std::string accessLog = "-";
  auto& limits = serviceOptions.limits;
  constexpr std::int64_t kBig = std::int64_t{1} << 40;
  // The numeric limits: the option, its range, and where it goes.
  const std::map<std::string,
                 std::tuple<std::int64_t, std::int64_t, std::function<void(std::int64_t)>>>
      numeric = {
          {"--request-timeout",
           {1, 3600,
            [&](std::int64_t v) { serverOptions.requestTimeout = std::chrono::seconds(v); }}},
          {"--idle-timeout",
           {1, 86400,
            [&](std::int64_t v) { serverOptions.idleTimeout = std::chrono::seconds(v); }}},
          {"--max-header-bytes",
           {1024, 1 << 20,
            [&](std::int64_t v) { serverOptions.maxHeaderBytes = static_cast<std::size_t>(v); }}},
          {"--max-headers",
           {8, 1000,
            [&](std::int64_t v) { serverOptions.maxHeaderCount = static_cast<std::size_t>(v); }}},
          {"--max-connections",
           {1, 1 << 24,
            [&](std::int64_t v) { serverOptions.maxConnections = static_cast<std::size_t>(v); }}},
          {"--max-connections-per-address",
           {1, 1 << 24,
            [&](std::int64_t v) {
              serverOptions.maxConnectionsPerAddress = static_cast<std::size_t>(v);
            }}},
          {"--concurrent-hashes",
           {1, 1024,
            [&](std::int64_t v) { limits.concurrentHashes = static_cast<std::size_t>(v); }}},
          {"--signin-failures-per-account",
           {1, 1'000'000,
            [&](std::int64_t v) { limits.signInFailuresPerAccount = static_cast<int>(v); }}},
          {"--signin-failures-per-address",
           {1, 1'000'000,
            [&](std::int64_t v) { limits.signInFailuresPerAddress = static_cast<int>(v); }}},
          {"--accounts-per-address",
           {1, 1'000'000,
            [&](std::int64_t v) { limits.accountsPerAddress = static_cast<int>(v); }}},
          {"--uploads-per-install",
           {1, 1'000'000, [&](std::int64_t v) { limits.uploadsPerInstall = static_cast<int>(v); }}},
          {"--upload-bytes-per-install",
           {1, kBig, [&](std::int64_t v) { limits.uploadBytesPerInstall = v; }}},
          {"--uploads-per-address",
           {1, 1'000'000, [&](std::int64_t v) { limits.uploadsPerAddress = static_cast<int>(v); }}},
          {"--upload-bytes-per-address",
           {1, kBig, [&](std::int64_t v) { limits.uploadBytesPerAddress = v; }}},
          {"--max-anonymous-reports",
           {1, kBig, [&](std::int64_t v) { limits.maxAnonymousReports = v; }}},
          {"--token-lifetime-days",
           {1, 100 * 365, [&](std::int64_t v) { limits.tokenIdleLifetime = v * 24 * 60 * 60; }}},
      };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) {
        return std::nullopt;
      }
      return std::string(argv[++i]);
    };
    if (arg == "admin" && i == 1) {
      admin = true;
    } else if (arg == "--listen" && !admin) {
      listen = value();
      if (!listen) {
        return usage("--listen needs HOST:PORT");
      }
    } else if (arg == "--db") {
      db = value();
      if (!db) {
        return usage("--db needs a file or a postgresql:// URI");
      }
    } else if (arg == "--tls-cert" && !admin) {
      serverOptions.tlsCertificate = value();
    } else if (arg == "--tls-key" && !admin) {
      serverOptions.tlsKey = value();
    } else if (arg == "--threads" && !admin) {
      const auto n = value();
      const int threads = n ? std::atoi(n->c_str()) : 0;
      if (threads < 1 || threads > 1024) {
        return usage("--threads needs a number from 1 to 1024");
      }
      serverOptions.threads = static_cast<std::size_t>(threads);
    } else if (auto option = numeric.find(arg); option != numeric.end() && !admin) {
      const auto& [min, max, apply] = option->second;
      const auto number = wholeNumber(value(), min, max);
      if (!number) {
        return usage(arg + " needs a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max));
      }
      apply(*number);
    } else if (arg == "--trusted-proxy" && !admin) {
      const auto proxy = value();
      if (!proxy || !normaliseIpAddress(*proxy)) {
        return usage("--trusted-proxy needs the proxy's IP address");
      }
      serverOptions.trustedProxy = *proxy;
    } else if (arg == "--access-log" && !admin) {
      const auto where = value();
      if (!where || where->empty()) {
        return usage("--access-log needs a file, - for standard output, or off");
      }
      accessLog = *where;
    } else if (arg == "--public-url" && !admin) {
      const auto url = value();
      if (!url) {
        return usage("--public-url needs a URL");
      }
      serviceOptions.publicURL = *url;
    } else if (admin && !listing && !arg.starts_with("-")) {
      listing = arg;
    } else if (admin && listing && isReleaseCommand(*listing)) {
      adminArguments.push_back(arg);
    } else {
      return usage("unknown argument \"" + arg + "\"");
    }
  }
  if (!db) {
    return usage("--db is required");
  }

  std::optional<Listen> address;
  if (!admin) {
    if (!listen) {
      return usage("--listen is required");
    }
    address = parseListen(*listen);
    if (!address) {
      return usage("--listen needs HOST:PORT, for example 127.0.0.1:8787");
    }
    if (serverOptions.tlsCertificate.has_value() != serverOptions.tlsKey.has_value()) {
      return usage("--tls-cert and --tls-key go together");
    }
  } else if (!listing) {
    return usage("admin needs a listing: accounts, blobs, reports or usage");
  }

  // Only now: opening an SQLite location creates the file.
  auto store = Store::open(*db);
  if (!store) {
    std::cerr << "lumarin-service: " << store.error().message << "\n";
    return 1;
  }
  if (admin && isReleaseCommand(*listing)) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return runReleaseAdmin(*store.value(), *listing, adminArguments, now, std::cout, std::cerr);
  }
  if (admin) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return runAdmin(*store.value(), *listing, std::cout, std::cerr, now);
  }

  // One JSON line per request, written whole under a lock so lines from workers never mix.
  std::shared_ptr<std::ostream> logFile;
  if (accessLog != "off") {
    std::ostream* sink = &std::cout;
    if (accessLog != "-") {
      logFile = std::make_shared<std::ofstream>(accessLog, std::ios::app);
      if (!*logFile) {
        std::cerr << "lumarin-service: cannot open the access log " << accessLog << "\n";
        return 1;
      }
      sink = logFile.get();
    }
    auto mutex = std::make_shared<std::mutex>();
    serverOptions.accessLog = [sink, mutex, logFile](std::string_view line) {
      std::lock_guard lock(*mutex);
      *sink << line << '\n';
      sink->flush();
    };
  }

  // SIGINT and SIGTERM end the service cleanly: blocked here, before any thread exists, and
  // taken by one thread that stops the server.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Service service(*store.value(), serviceOptions);
  HttpServer server(service, serverOptions);
  auto port = server.bind(address->host, address->port);
  if (!port) {
    std::cerr << "lumarin-service: " << port.error().message << "\n";
    return 1;
  }
  std::cerr << "lumarin-service: listening on " << (serverOptions.tlsCertificate ? "https" : "http")
            << "://" << *listen << "\n";
  std::atomic<bool> signalled{false};
  std::thread signalWaiter([&server, &signalled, signals] {
    int received = 0;
    sigwait(&signals, &received);
    signalled = true;
    server.stop();
  });
  const bool ok = server.run();
  if (!signalled) {
    // The accept loop failed on its own; the waiter would wait for ever, and nothing is left to
    // clean up that the operating system does not.
    std::cerr << "lumarin-service: the server stopped unexpectedly\n";
    std::_Exit(1);
  }
  signalWaiter.join();
  std::cerr << "lumarin-service: stopped\n";
  return ok ? 0 : 1;
}
