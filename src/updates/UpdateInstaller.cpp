#include "updates/UpdateInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include "updates/ArchiveUnpacker.h"

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

}  // namespace

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

Status UpdateInstaller::install(std::string_view archive) const {
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
