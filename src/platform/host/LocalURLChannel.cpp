#include "platform/host/LocalURLChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <algorithm>
#include <cstring>
#include <map>

namespace lumarin {

namespace {

std::string sanitisedBundleID(std::string id) {
  std::replace(id.begin(), id.end(), '/', '_');
  return id;
}

}  // namespace

class LocalURLChannel::Server {
 public:
  explicit Server(std::function<void(const std::string&)> onURL) : onURL_(std::move(onURL)) {
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
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] { read(socket); });
      if (socket->bytesAvailable() > 0) {
        read(socket);
      }
    }
  }

  void read(QLocalSocket* socket) {
    QByteArray& buffer = pending_[socket];
    buffer += socket->readAll();
    const auto newline = buffer.indexOf('\n');
    if (newline < 0) {
      if (static_cast<std::size_t>(buffer.size()) > kMaxLength) {
        pending_.erase(socket);
        socket->abort();
      }
      return;
    }
    const std::string url = buffer.left(newline).toStdString();
    pending_.erase(socket);
    if (url.size() > kMaxLength) {
      socket->abort();
      return;
    }
    socket->write("ok\n");
    socket->flush();
    socket->disconnectFromServer();
    if (onURL_) {
      onURL_(url);
    }
  }

  QLocalServer server_;
  std::function<void(const std::string&)> onURL_;
  std::map<QLocalSocket*, QByteArray> pending_;
};

LocalURLChannel::LocalURLChannel() = default;
LocalURLChannel::~LocalURLChannel() = default;

std::filesystem::path LocalURLChannel::socketPath(const std::filesystem::path& directory,
                                                  const std::string& bundleID, unsigned uid) {
  return directory / (sanitisedBundleID(bundleID) + "." + std::to_string(uid) + ".url.socket");
}

bool LocalURLChannel::listen(const std::filesystem::path& path,
                             std::function<void(const std::string&)> onURL) {
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
