#include "platform/desktop/DesktopWorkspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QUrl>
#include <QVariantMap>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "gfx/Drawing.h"
#include "platform/desktop/DesktopExec.h"

namespace lumarin {

namespace {

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string fileName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isInterpreter(const std::string& name) {
  static const std::set<std::string> kNames = {"sh",   "bash", "dash", "env",  "perl",
                                               "node", "ruby", "gjs",  "java", "mono"};
  return kNames.contains(name) || name.starts_with("python");
}

// The program a command line runs: its first word, or after an interpreter (and its options,
// and env's variables) the first word that is neither.
std::string programOf(const std::vector<std::string>& argv) {
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string name = fileName(argv[i]);
    if (i == 0 && !isInterpreter(name)) {
      return argv[i];
    }
    if (i > 0 && !argv[i].starts_with('-') && argv[i].find('=') == std::string::npos &&
        !isInterpreter(name)) {
      return argv[i];
    }
  }
  return argv.empty() ? std::string() : argv.front();
}

std::string resolveInPath(const std::string& program) {
  if (program.empty() || program.find('/') != std::string::npos) {
    return program;
  }
  std::stringstream path(environment("PATH").value_or("/usr/local/bin:/usr/bin:/bin"));
  std::string dir;
  while (std::getline(path, dir, ':')) {
    std::string candidate = std::move(dir);
    candidate += '/';
    candidate += program;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return program;
}

std::string canonical(const std::string& path) {
  std::error_code error;
  auto resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

// What an entry's processes look like: the program's resolved file and its file name.
struct ProgramKey {
  std::string path;
  std::string name;
};

std::vector<ProgramKey> programKeys(const DesktopEntry& entry) {
  std::vector<ProgramKey> keys;
  for (const std::string* line : {&entry.exec, &entry.tryExec}) {
    if (line->empty()) {
      continue;
    }
    const auto argv =
        expandDesktopExec(*line, DesktopExecContext{entry.name, entry.icon, entry.path});
    if (!argv || argv->empty()) {
      continue;
    }
    const std::string program = programOf(*argv);
    if (program.empty()) {
      continue;
    }
    keys.push_back({canonical(resolveInPath(program)), fileName(program)});
  }
  return keys;
}

struct Process {
  int pid = 0;
  std::string exe;
  std::vector<std::string> argv;
};

// This user's processes, by pid.
std::vector<Process> userProcesses(const std::filesystem::path& proc) {
  std::vector<Process> out;
  std::error_code error;
  std::filesystem::directory_iterator it(proc, error);
  if (error) {
    return out;
  }
  const uid_t uid = ::getuid();
  const int self = ::getpid();
  for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
    if (error) {
      break;
    }
    const std::string name = it->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) {
      continue;
    }
    struct stat info {};
    if (::stat(it->path().c_str(), &info) != 0 || info.st_uid != uid) {
      continue;
    }
    Process process;
    process.pid = std::atoi(name.c_str());
    if (process.pid == self) {
      continue;
    }
    std::ifstream cmdline(it->path() / "cmdline", std::ios::binary);
    std::string arg;
    while (std::getline(cmdline, arg, '\0') && process.argv.size() < 8) {
      process.argv.push_back(arg);
    }
    if (process.argv.empty()) {
      continue;  // a kernel thread or a zombie
    }
    process.exe = std::filesystem::read_symlink(it->path() / "exe", error).string();
    error.clear();
    out.push_back(std::move(process));
  }
  std::sort(out.begin(), out.end(),
            [](const Process& a, const Process& b) { return a.pid < b.pid; });
  return out;
}

bool runs(const Process& process, const ProgramKey& key) {
  if (!process.exe.empty() && process.exe == key.path) {
    return true;
  }
  const std::string first = fileName(process.argv.front());
  if (first == key.name) {
    return true;
  }
  // A script: its interpreter's first argument that is not an option.
  if (isInterpreter(fileName(process.exe)) || isInterpreter(first)) {
    return fileName(programOf(process.argv)) == key.name;
  }
  return false;
}

std::string pathOfURL(const std::string& url) {
  const QUrl parsed(QString::fromStdString(url));
  if (parsed.isLocalFile()) {
    return parsed.toLocalFile().toStdString();
  }
  return url.starts_with('/') ? url : std::string();
}

std::string urlOfPath(const std::string& path) {
  return QUrl::fromLocalFile(QString::fromStdString(path)).toString().toStdString();
}

// A picture of 32 points at 2× (enough for the sizes the items draw at).
Image iconImage(const QIcon& icon) {
  const QImage image = icon.pixmap(64, 64).toImage();
  if (image.isNull()) {
    return {};
  }
  return fromQImage(image.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation),
                    Size{32, 32});
}

// A theme icon by name, or its symbolic form (some themes carry only that).
QIcon themeIcon(const QString& name) {
  QIcon icon = QIcon::fromTheme(name);
  return icon.isNull() ? QIcon::fromTheme(name + QStringLiteral("-symbolic")) : icon;
}

// Drawn when the theme has no icon at all (no theme set, or a minimal one): a grey rounded
// square with the app's initial. A blank picture would make a dimmed item vanish from the tray.
Image drawnIcon(const std::string& name) {
  QImage image(64, 64, QImage::Format_RGBA8888_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x77, 0x7d, 0x85));
  painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
  const QString initial = QString::fromStdString(name).left(1).toUpper();
  if (!initial.isEmpty()) {
    QFont font = painter.font();
    font.setPixelSize(36);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(4, 4, 56, 56), Qt::AlignCenter, initial);
  }
  painter.end();
  return fromQImage(image, Size{32, 32});
}

// The generic application icon of the theme, else a drawn one: every file has an icon.
Image genericIcon(const std::string& name) {
  Image image = iconImage(themeIcon(QStringLiteral("application-x-executable")));
  return image.isEmpty() ? drawnIcon(name) : image;
}

}  // namespace

DesktopWorkspace::Options DesktopWorkspace::optionsFromEnvironment() {
  Options options;
  options.applicationDirs = applicationDirectories(environment);
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (auto value = environment(name); value && !value->empty()) {
      options.locales = localeKeys(*value);
      break;
    }
  }
  return options;
}

DesktopWorkspace::DesktopWorkspace(Options options) : options_(std::move(options)) {}

std::vector<DesktopEntry> DesktopWorkspace::entries() const {
  std::vector<std::filesystem::file_time_type> stamps;
  for (const auto& dir : options_.applicationDirs) {
    std::error_code error;
    stamps.push_back(std::filesystem::last_write_time(dir, error));
  }
  std::lock_guard lock(mutex_);
  if (!loaded_ || stamps != stamps_) {
    entries_ = readDesktopEntries(options_.applicationDirs, options_.locales);
    stamps_ = std::move(stamps);
    loaded_ = true;
  }
  return entries_;
}

std::vector<DesktopEntry> DesktopWorkspace::installedApplications() const {
  std::vector<DesktopEntry> out;
  for (auto& entry : entries()) {
    if (!entry.noDisplay) {
      out.push_back(std::move(entry));
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const DesktopEntry& a, const DesktopEntry& b) {
    return QString::localeAwareCompare(QString::fromStdString(a.name),
                                       QString::fromStdString(b.name)) < 0;
  });
  return out;
}

std::optional<DesktopEntry> DesktopWorkspace::entry(const std::string& id) const {
  for (auto& candidate : entries()) {
    if (candidate.id == id) {
      return std::move(candidate);
    }
  }
  return std::nullopt;
}

std::vector<RunningApplication> DesktopWorkspace::runningApplications() const {
  const auto all = entries();
  std::vector<std::pair<const DesktopEntry*, std::vector<ProgramKey>>> keyed;
  for (const auto& candidate : all) {
    auto keys = programKeys(candidate);
    if (!keys.empty()) {
      keyed.emplace_back(&candidate, std::move(keys));
    }
  }
  std::vector<RunningApplication> out;
  std::set<std::string> seen;
  for (const auto& process : userProcesses(options_.proc)) {
    for (const auto& [candidate, keys] : keyed) {
      if (seen.contains(candidate->id)) {
        continue;
      }
      const bool match = std::any_of(keys.begin(), keys.end(), [&process](const ProgramKey& key) {
        return runs(process, key);
      });
      if (!match) {
        continue;
      }
      seen.insert(candidate->id);
      RunningApplication app;
      app.pid = process.pid;
      app.bundleIdentifier = candidate->id;
      app.localizedName = candidate->name;
      app.bundleURL = urlOfPath(candidate->path);
      out.push_back(std::move(app));
      break;
    }
  }
  return out;
}

std::optional<std::string> DesktopWorkspace::urlForApplication(const std::string& id) const {
  const auto found = entry(id);
  return found ? std::optional<std::string>(urlOfPath(found->path)) : std::nullopt;
}

std::optional<DesktopEntry> DesktopWorkspace::entryAtURL(const std::string& url) const {
  const std::string path = pathOfURL(url);
  if (path.empty()) {
    return std::nullopt;
  }
  return readDesktopEntryFile(path, options_.applicationDirs, options_.locales);
}

std::optional<BundleDescription> DesktopWorkspace::bundleAtURL(const std::string& url) const {
  const auto found = entryAtURL(url);
  if (!found) {
    return std::nullopt;
  }
  BundleDescription bundle;
  bundle.bundleIdentifier = found->id;
  bundle.name = found->name;
  bundle.info = {{"CFBundleName", found->name}, {"Icon", found->icon}, {"Exec", found->exec}};
  return bundle;
}

Image DesktopWorkspace::iconForFile(const std::string& url) const {
  const auto found = entryAtURL(url);
  if (!found) {
    return genericIcon({});
  }
  if (found->icon.empty()) {
    return genericIcon(found->name);
  }
  QIcon icon;
  const QString name = QString::fromStdString(found->icon);
  if (found->icon.starts_with('/')) {
    icon = QIcon(name);
  } else {
    icon = themeIcon(name);
    if (icon.isNull()) {
      for (const char* ext : {".png", ".svg", ".xpm"}) {
        const QString file = QStringLiteral("/usr/share/pixmaps/") + name + QLatin1String(ext);
        if (QFile::exists(file)) {
          icon = QIcon(file);
          break;
        }
      }
    }
  }
  Image image = iconImage(icon);
  return image.isEmpty() ? genericIcon(found->name) : image;
}

bool DesktopWorkspace::launch(const DesktopEntry& entry) {
  if (entry.dbusActivatable) {
    // The well-known name is the ID without ".desktop"; the object its path form.
    const std::string name = entry.id.substr(0, entry.id.size() - std::string(".desktop").size());
    QString path = QLatin1Char('/') + QString::fromStdString(name);
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromStdString(name), path, QStringLiteral("org.freedesktop.Application"),
        QStringLiteral("Activate"));
    call << QVariantMap();
    if (QDBusConnection::sessionBus().send(call)) {
      return true;
    }
  }
  const auto argv =
      expandDesktopExec(entry.exec, DesktopExecContext{entry.name, entry.icon, entry.path});
  if (!argv || argv->empty()) {
    return false;
  }
  QStringList arguments;
  for (std::size_t i = 1; i < argv->size(); ++i) {
    arguments << QString::fromStdString((*argv)[i]);
  }
  QProcess process;
  process.setProgram(QString::fromStdString(argv->front()));
  process.setArguments(arguments);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("GIO_LAUNCHED_DESKTOP_FILE"), QString::fromStdString(entry.path));
  process.setProcessEnvironment(env);
  return process.startDetached();
}

bool DesktopWorkspace::openApplication(const std::string& url) {
  const auto found = entryAtURL(url);
  return found && launch(*found);
}

bool DesktopWorkspace::activate(int pid) {
  for (const auto& running : runningApplications()) {
    if (running.pid == pid && running.bundleIdentifier) {
      const auto found = entry(*running.bundleIdentifier);
      return found && launch(*found);
    }
  }
  return false;
}

bool DesktopWorkspace::openURL(const std::string& url) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

Subscription DesktopWorkspace::observeLaunches(std::function<void(const RunningApplication&)>) {
  return Subscription();
}

Subscription DesktopWorkspace::observeTerminations(std::function<void(const RunningApplication&)>) {
  return Subscription();
}

}  // namespace lumarin
