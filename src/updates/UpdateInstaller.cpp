#include "updates/UpdateInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <compare>
#include <cstdio>
#include <system_error>
#include <vector>

#include "updates/ArchiveUnpacker.h"
#include "updates/UpdateFeed.h"
#include "updates/Version.h"

namespace lumarin {

namespace fs = std::filesystem;

namespace {

std::string errnoText() { return std::generic_category().message(errno); }

// A new, empty directory beside `directory`, named after it.
Result<fs::path> makeSibling(const fs::path& directory, std::string_view purpose) {
  std::string pattern = (directory.parent_path() / ("." + directory.filename().string() + "." +
                                                    std::string(purpose) + "-XXXXXX"))
                            .string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    return Error{"cannot create a folder beside " + directory.string() + ": " + errnoText()};
  }
  return fs::path(buffer.data());
}

void removeQuietly(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

void syncDirectory(const fs::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
}

constexpr std::string_view kBuildKey = "CFBundleVersion";
constexpr std::string_view kShortVersionKey = "CFBundleShortVersionString";
// A marker is a few short lines; anything longer is not one we wrote.
constexpr std::size_t kMaxMarkerBytes = 4096;

bool isNewer(const BuildVersion& candidate, const BuildVersion& than) {
  UpdateFeedItem item;
  item.version = candidate.build;
  item.shortVersion = candidate.shortVersion;
  return isNewerBuild(item, than.shortVersion, than.build);
}

// Whether the archive's own version is the one the feed offered. A feed item without a short
// version leaves that part open; the build number must always match.
bool isSameBuild(const BuildVersion& stated, const BuildVersion& offered) {
  if (!std::is_eq(compareVersions(stated.build, offered.build))) {
    return false;
  }
  return offered.shortVersion.empty() ||
         std::is_eq(compareVersions(stated.shortVersion, offered.shortVersion));
}

Error versionRefused(std::string message) {
  return Error{std::move(message), static_cast<int>(InstallProblem::versionRefused)};
}

}  // namespace

std::string BuildVersion::describe() const {
  if (shortVersion.empty()) {
    return "build " + build;
  }
  return shortVersion + " (" + build + ")";
}

std::optional<BuildVersion> UpdateInstaller::readMarker(const fs::path& marker) {
  const int fd = ::open(marker.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  std::string text(kMaxMarkerBytes + 1, '\0');
  std::size_t used = 0;
  while (used < text.size()) {
    const auto got = ::read(fd, text.data() + used, text.size() - used);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    used += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (used > kMaxMarkerBytes) {
    return std::nullopt;
  }
  text.resize(used);
  BuildVersion version;
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      continue;
    }
    const auto key = line.substr(0, equals);
    const auto value = line.substr(equals + 1);
    if (key == kBuildKey) {
      version.build = std::string(value);
    } else if (key == kShortVersionKey) {
      version.shortVersion = std::string(value);
    }
  }
  if (version.build.empty()) {
    return std::nullopt;
  }
  return version;
}

std::string UpdateInstaller::markerText(const BuildVersion& version) {
  std::string text = std::string(kBuildKey) + "=" + version.build + "\n";
  if (!version.shortVersion.empty()) {
    text += std::string(kShortVersionKey) + "=" + version.shortVersion + "\n";
  }
  return text;
}

UpdateInstaller::UpdateInstaller(fs::path installationDirectory, std::string executableName)
    : directory_(std::move(installationDirectory)), executableName_(std::move(executableName)) {
  while (directory_.has_filename() == false && directory_.has_parent_path() &&
         directory_ != directory_.root_path()) {
    directory_ = directory_.parent_path();  // "…/Lumarin/" names the same folder
  }
}

Status UpdateInstaller::canInstall() const {
  std::error_code error;
  const auto status = fs::symlink_status(directory_, error);
  if (error || !fs::is_directory(status)) {
    return Error{"the installation folder " + directory_.string() + " is not a folder"};
  }
  if (!fs::is_regular_file(directory_ / kMarkerFile, error)) {
    return Error{"the installation folder " + directory_.string() +
                 " is not a self-contained installation of the program"};
  }
  if (::access(directory_.parent_path().c_str(), W_OK) != 0) {
    return Error{"the folder " + directory_.parent_path().string() + " is not writable"};
  }
  return success();
}

Status UpdateInstaller::install(std::string_view archive, const BuildVersion& offered,
                                const BuildVersion& running) const {
  if (auto ok = canInstall(); !ok) {
    return ok;
  }
  auto staging = makeSibling(directory_, "update");
  if (!staging) {
    return staging.error();
  }
  const fs::path& fresh = staging.value();
  if (auto unpacked = unpackArchive(archive, fresh); !unpacked) {
    removeQuietly(fresh);
    return unpacked;
  }
  std::error_code error;
  const fs::path program = fresh / executableName_;
  if (!fs::is_regular_file(fs::symlink_status(fresh / kMarkerFile, error)) ||
      !fs::is_regular_file(fs::symlink_status(program, error)) ||
      ::access(program.c_str(), X_OK) != 0) {
    removeQuietly(fresh);
    return Error{"the update does not hold an installation of the program (" + executableName_ +
                 " and " + std::string(kMarkerFile) + ")"};
  }
  // The signed bytes say which build this is; the feed's label is only a claim.
  const auto stated = readMarker(fresh / kMarkerFile);
  if (!stated) {
    removeQuietly(fresh);
    return versionRefused("refused: the update offered as " + offered.describe() +
                          " does not state its own version in " + std::string(kMarkerFile));
  }
  if (!isSameBuild(*stated, offered)) {
    removeQuietly(fresh);
    return versionRefused("refused: the update offered as " + offered.describe() + " holds " +
                          stated->describe() + " (relabelled)");
  }
  if (!isNewer(*stated, running)) {
    removeQuietly(fresh);
    return versionRefused("refused: the update " + stated->describe() +
                          " is not newer than the running " + running.describe());
  }
  // The new folder gets the old one's permissions, not mkdtemp's private 0700.
  struct stat old {};
  if (::stat(directory_.c_str(), &old) == 0) {
    (void)::chmod(fresh.c_str(), old.st_mode & 07777);
  }
  syncDirectory(fresh);

  // The swap: from here on either the old or the new installation is in place, never neither.
  if (::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, directory_.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
      const std::string why = errnoText();
      removeQuietly(fresh);
      return Error{"cannot replace " + directory_.string() + ": " + why};
    }
    // A file system without exchange: move the old copy aside, then the new one in, and put
    // the old one back if the second step fails.
    auto aside = makeSibling(directory_, "old");
    if (!aside) {
      removeQuietly(fresh);
      return aside.error();
    }
    const fs::path oldCopy = aside.value() / "installation";
    if (::rename(directory_.c_str(), oldCopy.c_str()) != 0) {
      const std::string why = errnoText();
      removeQuietly(fresh);
      removeQuietly(aside.value());
      return Error{"cannot move " + directory_.string() + " aside: " + why};
    }
    if (::rename(fresh.c_str(), directory_.c_str()) != 0) {
      const std::string why = errnoText();
      (void)::rename(oldCopy.c_str(), directory_.c_str());
      removeQuietly(fresh);
      removeQuietly(aside.value());
      return Error{"cannot move the update into place: " + why};
    }
    syncDirectory(directory_.parent_path());
    removeQuietly(aside.value());
    return success();
  }
  syncDirectory(directory_.parent_path());
  // After the exchange `fresh` names the previous installation.
  removeQuietly(fresh);
  return success();
}

}  // namespace lumarin
