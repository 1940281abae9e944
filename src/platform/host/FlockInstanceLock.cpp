#include "platform/host/FlockInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace lumarin {

Result<bool> FlockInstanceLock::acquire(const std::filesystem::path& file) {
  if (fd_ >= 0) {
    return true;
  }
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    return Error{error == ELOOP
                     ? "the lock file is a symbolic link"
                     : std::string("the lock file cannot be opened: ") + std::strerror(error)};
  }
  struct stat info {};
  std::string problem;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    problem = "the lock file is not a plain file";
  } else if (info.st_uid != ::geteuid()) {
    problem = "the lock file belongs to another user";
  } else if (info.st_nlink != 1) {
    problem = "the lock file has other names (hard links)";
  }
  if (!problem.empty()) {
    ::close(fd);
    return Error{problem};
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace lumarin
