#include "platform/host/HostSecretStore.h"

#include <fcntl.h>
#include <qt6keychain/keychain.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
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

// A keychain call that has not answered in this time has failed (the item is not read or not
// written); it does not make the keyring count as absent.
constexpr int kJobTimeoutMs = 5000;
// The bus itself answers in milliseconds; this only bounds a bus that hangs.
constexpr int kBusTimeoutMs = 2000;
constexpr const char* kSecretServiceName = "org.freedesktop.secrets";

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

// The file's items; nothing when the file is there but cannot be read as ours.
std::optional<Items> readItems(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return Items{};
  }
  std::stringstream text;
  text << in.rdbuf();
  auto parsed = json::parse(text.str());
  Items items;
  if (!parsed.ok() || !parsed.value().is_object()) {
    return std::nullopt;
  }
  for (const auto& [key, value] : parsed.value().items()) {
    if (value.is_string()) {
      items.emplace(key, value.get<std::string>());
    }
  }
  return items;
}

// An unreadable file reads as empty and is replaced by the next write.
Items readFile(const std::filesystem::path& file) { return readItems(file).value_or(Items{}); }

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

// The Secret Service through qtkeychain; its existence asked of the bus daemon.
class SecretServiceKeyring final : public Keyring {
 public:
  explicit SecretServiceKeyring(std::string serviceName) : service_(std::move(serviceName)) {}

  bool exists() override {
    // Without a session bus the library would wait for a bus that never comes.
    if (QCoreApplication::instance() == nullptr ||
        std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
      return false;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
      return false;
    }
    auto ask = [&bus](const char* method, const QVariantList& arguments) {
      QDBusMessage call = QDBusMessage::createMethodCall(
          QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
          QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method));
      call.setArguments(arguments);
      QDBusMessage reply = bus.call(call, QDBus::Block, kBusTimeoutMs);
      return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
                 ? reply.arguments().first()
                 : QVariant();
    };
    const QString name = QString::fromLatin1(kSecretServiceName);
    if (ask("NameHasOwner", {name}).toBool()) {
      return true;
    }
    return ask("ListActivatableNames", {}).toStringList().contains(name);
  }

  Read read(std::string_view key) override {
    auto* job = new QKeychain::ReadPasswordJob(QString::fromStdString(service_));
    job->setInsecureFallback(false);
    job->setKey(qKey(key));
    const JobResult result = runJob(job);
    if (result.finished && result.error == QKeychain::NoError) {
      return Read{Outcome::ok, result.text.toStdString()};
    }
    if (result.finished && result.error == QKeychain::EntryNotFound) {
      return Read{Outcome::notFound, {}};
    }
    return Read{Outcome::failed, {}};
  }

  Outcome write(std::string_view key, const std::string& value) override {
    auto* job = new QKeychain::WritePasswordJob(QString::fromStdString(service_));
    job->setInsecureFallback(false);
    job->setKey(qKey(key));
    job->setTextData(QString::fromStdString(value));
    const JobResult result = runJob(job);
    return result.finished && result.error == QKeychain::NoError ? Outcome::ok : Outcome::failed;
  }

  Outcome remove(std::string_view key) override {
    auto* job = new QKeychain::DeletePasswordJob(QString::fromStdString(service_));
    job->setInsecureFallback(false);
    job->setKey(qKey(key));
    const JobResult result = runJob(job);
    return result.finished &&
                   (result.error == QKeychain::NoError || result.error == QKeychain::EntryNotFound)
               ? Outcome::ok
               : Outcome::failed;
  }

 private:
  static QString qKey(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
  }

  std::string service_;
};

}  // namespace

HostSecretStore::HostSecretStore(std::string serviceName, std::filesystem::path fallbackFile,
                                 bool useSecretService, Log log)
    : keyring_(useSecretService ? std::make_unique<SecretServiceKeyring>(std::move(serviceName))
                                : nullptr),
      file_(std::move(fallbackFile)),
      log_(std::move(log)) {}

HostSecretStore::HostSecretStore(std::unique_ptr<Keyring> keyring,
                                 std::filesystem::path fallbackFile, Log log)
    : keyring_(std::move(keyring)), file_(std::move(fallbackFile)), log_(std::move(log)) {}

HostSecretStore::~HostSecretStore() = default;

void HostSecretStore::log(const std::string& line) const {
  if (log_) {
    log_("secret store: " + line);
  }
}

bool HostSecretStore::keyringExistsLocked() const {
  const bool exists = keyring_ != nullptr && keyring_->exists();
  if (secretService_ != exists) {
    log(exists ? "using the system keyring"
               : "no Secret Service on the session bus; using the private file " +
                     file_.filename().string());
  }
  secretService_ = exists;
  if (exists) {
    moveFileItemsLocked();
  }
  return exists;
}

// Items written while there was no keyring go into it, newest first: they are what the user
// last did. The file goes once all of them are in.
void HostSecretStore::moveFileItemsLocked() const {
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file_, error))) {
    return;
  }
  const auto items = readItems(file_);
  if (!items) {
    std::filesystem::remove(file_, error);
    log("the private file " + file_.filename().string() +
        " could not be read; removed it (the keyring is used now)");
    return;
  }
  Items left;
  for (const auto& [key, value] : *items) {
    if (keyring_->write(key, value) != Keyring::Outcome::ok) {
      left.emplace(key, value);
    }
  }
  if (!left.empty()) {
    if (left.size() != items->size()) {
      writeFile(file_, left);
    }
    log("the keyring did not take " + std::to_string(left.size()) + " of " +
        std::to_string(items->size()) +
        " item(s) from the private file (locked or not answering); they stay there until it "
        "does");
    return;
  }
  std::filesystem::remove(file_, error);
  if (error) {
    log("moved " + std::to_string(items->size()) +
        " item(s) into the keyring but could not delete the private file: " + error.message());
    return;
  }
  log("moved " + std::to_string(items->size()) +
      " item(s) from the private file into the keyring and deleted the file");
}

std::optional<bool> HostSecretStore::usesSecretService() const {
  std::lock_guard lock(mutex_);
  return secretService_;
}

std::optional<std::string> HostSecretStore::get(std::string_view account) const {
  std::lock_guard lock(mutex_);
  if (!keyringExistsLocked()) {
    const Items items = readFile(file_);
    auto it = items.find(account);
    return it == items.end() ? std::nullopt : std::optional<std::string>(it->second);
  }
  auto read = keyring_->read(account);
  if (read.outcome == Keyring::Outcome::ok) {
    return std::move(read.value);
  }
  // An item the keyring has not taken yet is still in the file.
  const Items pending = readFile(file_);
  if (auto it = pending.find(account); it != pending.end()) {
    return it->second;
  }
  if (read.outcome == Keyring::Outcome::failed) {
    log("the keyring did not answer for \"" + std::string(account) +
        "\" (locked or slow); read as empty, nothing moved to the private file");
  }
  return std::nullopt;
}

void HostSecretStore::set(std::string_view account, std::optional<std::string> value) {
  std::lock_guard lock(mutex_);
  if (keyringExistsLocked()) {
    // A copy still waiting in the file would bring the old value back when it is moved.
    if (Items pending = readFile(file_); pending.erase(std::string(account)) > 0) {
      std::error_code error;
      if (pending.empty()) {
        std::filesystem::remove(file_, error);
      } else {
        writeFile(file_, pending);
      }
    }
    const auto outcome = value ? keyring_->write(account, *value) : keyring_->remove(account);
    if (outcome != Keyring::Outcome::ok) {
      log(std::string("the keyring did not ") + (value ? "store" : "remove") + " \"" +
          std::string(account) + "\" (locked or slow); dropped, never written to the private file");
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
