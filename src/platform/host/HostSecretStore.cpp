#include "platform/host/HostSecretStore.h"

#include <fcntl.h>
#include <qt6keychain/keychain.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "base/Json.h"

namespace lumarin {
namespace {

// A keychain call that has not answered in this time is taken as "no service".
constexpr int kJobTimeoutMs = 5000;

struct JobResult {
  bool finished = false;
  QKeychain::Error error = QKeychain::OtherError;
  QString text;
};

// Runs a job to its end on the calling thread's own event loop. The job deletes itself when it
// finishes, also after we stopped waiting for it: a backend that answers late then still has
// a live job to answer to.
JobResult runJob(QKeychain::Job* job) {
  auto result = std::make_shared<JobResult>();
  QEventLoop loop;
  QObject::connect(job, &QKeychain::Job::finished, &loop, [result, &loop](QKeychain::Job* done) {
    result->finished = true;
    result->error = done->error();
    if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done)) {
      result->text = read->textData();
    }
    loop.quit();
  });
  QTimer::singleShot(kJobTimeoutMs, &loop, &QEventLoop::quit);
  job->setAutoDelete(true);
  job->start();
  if (!result->finished) {
    loop.exec();
  }
  return *result;
}

using Items = std::map<std::string, std::string, std::less<>>;

Items readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return {};
  }
  std::stringstream text;
  text << in.rdbuf();
  auto parsed = json::parse(text.str());
  Items items;
  if (!parsed.ok() || !parsed.value().is_object()) {
    return items;
  }
  for (const auto& [key, value] : parsed.value().items()) {
    if (value.is_string()) {
      items.emplace(key, value.get<std::string>());
    }
  }
  return items;
}

void writeFile(const std::filesystem::path& file, const Items& items) {
  json::Json root = json::Json::object();
  for (const auto& [key, value] : items) {
    root[key] = value;
  }
  const std::string text = json::dump(root, 2) + "\n";
  std::error_code error;
  const auto dir = file.parent_path();
  std::filesystem::create_directories(dir, error);
  std::filesystem::path temp = file;
  temp += ".tmp-" + std::to_string(::getpid());
  // Created 0600 from the start: the secrets are never readable by others, not even briefly.
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    return;
  }
  ::fchmod(fd, 0600);
  std::size_t written = 0;
  while (written < text.size()) {
    const auto n = ::write(fd, text.data() + written, text.size() - written);
    if (n <= 0) {
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  const bool ok = written == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok) {
    std::filesystem::remove(temp, error);
    return;
  }
  std::filesystem::rename(temp, file, error);
  if (error) {
    std::filesystem::remove(temp, error);
    return;
  }
  if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

}  // namespace

HostSecretStore::HostSecretStore(std::string serviceName, std::filesystem::path fallbackFile,
                                 bool useSecretService)
    : serviceName_(std::move(serviceName)),
      file_(std::move(fallbackFile)),
      trySecretService_(useSecretService) {}

bool HostSecretStore::secretServiceLocked() const {
  if (!secretService_) {
    bool answers = false;
    // Without a session bus the library would wait for a bus that never comes.
    if (trySecretService_ && QCoreApplication::instance() != nullptr &&
        std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) {
      auto* probe = new QKeychain::ReadPasswordJob(QString::fromStdString(serviceName_));
      probe->setInsecureFallback(false);
      probe->setKey(QStringLiteral("cloudDeviceId"));
      const JobResult result = runJob(probe);
      answers = result.finished &&
                (result.error == QKeychain::NoError || result.error == QKeychain::EntryNotFound);
    }
    secretService_ = answers;
  }
  return *secretService_;
}

std::optional<bool> HostSecretStore::usesSecretService() const {
  std::lock_guard lock(mutex_);
  return secretService_;
}

std::optional<std::string> HostSecretStore::get(std::string_view account) const {
  std::lock_guard lock(mutex_);
  if (secretServiceLocked()) {
    auto* job = new QKeychain::ReadPasswordJob(QString::fromStdString(serviceName_));
    job->setKey(QString::fromUtf8(account.data(), static_cast<qsizetype>(account.size())));
    const JobResult result = runJob(job);
    if (!result.finished || result.error != QKeychain::NoError) {
      return std::nullopt;
    }
    return result.text.toStdString();
  }
  const Items items = readFile(file_);
  auto it = items.find(account);
  return it == items.end() ? std::nullopt : std::optional<std::string>(it->second);
}

void HostSecretStore::set(std::string_view account, std::optional<std::string> value) {
  std::lock_guard lock(mutex_);
  if (secretServiceLocked()) {
    const QString key = QString::fromUtf8(account.data(), static_cast<qsizetype>(account.size()));
    if (value) {
      auto* job = new QKeychain::WritePasswordJob(QString::fromStdString(serviceName_));
      job->setKey(key);
      job->setTextData(QString::fromStdString(*value));
      runJob(job);
    } else {
      auto* job = new QKeychain::DeletePasswordJob(QString::fromStdString(serviceName_));
      job->setKey(key);
      runJob(job);
    }
    return;
  }
  Items items = readFile(file_);
  if (value) {
    items.insert_or_assign(std::string(account), std::move(*value));
  } else if (items.erase(std::string(account)) == 0) {
    return;
  }
  writeFile(file_, items);
}

}  // namespace lumarin
