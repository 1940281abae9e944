// lumarin-service: the reference web service behind the program's account, settings sync and
// diagnostics uploads.
//
//   lumarin-service --listen HOST:PORT --db LOCATION [--tls-cert FILE --tls-key FILE]
//                   [--threads N] [--public-url URL]
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
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/Admin.h"
#include "service/HttpServer.h"
#include "service/ReleaseAdmin.h"
#include "service/Service.h"
#include "service/Store.h"

namespace {

using namespace lumarin::service;

constexpr const char* kUsage =
    "usage: lumarin-service --listen HOST:PORT --db FILE|postgresql://... "
    "[--tls-cert FILE --tls-key FILE] [--threads N] [--public-url URL]\n"
    "       lumarin-service admin --db FILE|postgresql://... accounts|blobs|reports|releases\n"
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

}  // namespace

int main(int argc, char** argv) {
  bool admin = false;
  std::optional<std::string> listen;
  std::optional<std::string> db;
  std::optional<std::string> listing;
  std::vector<std::string> adminArguments;
  Service::Options serviceOptions;
  HttpServer::Options serverOptions;
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
    return usage("admin needs a listing: accounts, blobs or reports");
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
    return runAdmin(*store.value(), *listing, std::cout, std::cerr);
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
