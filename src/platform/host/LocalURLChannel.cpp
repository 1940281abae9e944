#include "platform/host/LocalURLChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <algorithm>
#include <cstring>

namespace lumarin {

namespace {

std::string sanitisedBundleID(std::string id) {
  std::replace(id.begin(), id.end(), '/', '_');
  return id;
}

}  // namespace

class LocalURLChannel::Server {
 public:
  explicit Server(std::function<bool(const std::string&)> onURL) : onURL_(std::move(onURL)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server_, &QLocalServer::newConnection, [this] { accept(); });
  }

  bool listen(const QString& path) {
    QLocalServer::removeServer(path);
    return server_.listen(path);
  }

 private:
  void accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      if (!fromThisUser(*socket)) {
        socket->abort();
        continue;
      }
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { read(socket); });
      read(socket);
    }
  }

  // Only the user's own processes may hand links over.
  static bool fromThisUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::getuid();
  }

  // The socket keeps what has arrived until a whole line is there; nothing outlives it.
  void read(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
      if (static_cast<std::size_t>(socket->bytesAvailable()) > kMaxLength) {
        socket->abort();
      }
      return;
    }
    QByteArray line = socket->readLine(static_cast<qint64>(kMaxLength) + 2);
    if (!line.endsWith('\n')) {
      socket->abort();
      return;
    }
    line.chop(1);
    const bool taken = onURL_ && onURL_(line.toStdString());
    socket->write(taken ? "ok\n" : "no\n");
    socket->flush();
    socket->disconnectFromServer();
  }

  QLocalServer server_;
  std::function<bool(const std::string&)> onURL_;
};

LocalURLChannel::LocalURLChannel() = default;
LocalURLChannel::~LocalURLChannel() = default;

std::filesystem::path LocalURLChannel::socketPath(const std::filesystem::path& directory,
                                                  const std::string& bundleID, unsigned uid) {
  return directory / (sanitisedBundleID(bundleID) + "." + std::to_string(uid) + ".url.socket");
}

bool LocalURLChannel::listen(const std::filesystem::path& path,
                             std::function<bool(const std::string&)> onURL) {
  server_ = std::make_unique<Server>(std::move(onURL));
  if (!server_->listen(QString::fromStdString(path.string()))) {
    server_.reset();
    return false;
  }
  return true;
}

bool LocalURLChannel::send(const std::filesystem::path& path, const std::string& url,
                           int timeoutMs) {
  // A plain socket: the sending process has no event loop (it exits right after).
  sockaddr_un address{};
  const std::string where = path.string();
  if (url.size() > kMaxLength || url.find('\n') != std::string::npos ||
      where.size() >= sizeof address.sun_path) {
    return false;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, where.c_str(), where.size() + 1);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  // The link (a sign-in code among it) goes only to a process of this user.
  ucred peer{};
  socklen_t size = sizeof peer;
  ok = ok && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
  const std::string line = url + "\n";
  for (std::size_t sent = 0; ok && sent < line.size();) {
    const auto n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    ok = n > 0;
    sent += ok ? static_cast<std::size_t>(n) : 0;
  }
  std::string answer;
  while (ok && answer.find('\n') == std::string::npos && answer.size() < 16) {
    pollfd waiting{fd, POLLIN, 0};
    ok = ::poll(&waiting, 1, timeoutMs) == 1;
    char buffer[16];
    const auto n = ok ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
    ok = n > 0;
    answer.append(buffer, ok ? static_cast<std::size_t>(n) : 0);
  }
  ::close(fd);
  return ok && answer.rfind("ok\n", 0) == 0;
}

}  // namespace lumarin

namespace lumarin {

std::filesystem::path LocalURLChannel::privateDirectory(
    const std::optional<std::string>& runtimeDir, const std::filesystem::path& temporary,
    unsigned uid) {
  // The user's runtime directory when it is theirs alone; else a directory of our own under
  // the temporary one, made private and checked, so another user cannot sit at the path first.
  auto privateToUser = [uid](const std::filesystem::path& dir) {
    struct stat info {};
    return ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid &&
           (info.st_mode & 077) == 0;
  };
  if (runtimeDir && !runtimeDir->empty() && privateToUser(*runtimeDir)) {
    return *runtimeDir;
  }
  const auto own = temporary / ("lumarin-" + std::to_string(uid));
  ::mkdir(own.c_str(), 0700);
  return privateToUser(own) ? own : std::filesystem::path();
}

}  // namespace lumarin
