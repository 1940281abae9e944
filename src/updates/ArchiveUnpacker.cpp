#include "updates/ArchiveUnpacker.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace lumarin {

namespace fs = std::filesystem;

namespace {

struct ReaderDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};

Error refused(const std::string& path, const std::string& why) {
  return Error{"the update archive's entry \"" + path + "\" " + why};
}

// A relative path of plain names: no root, no "..", no empty result. "." components are
// dropped.
std::optional<fs::path> safeRelative(std::string_view text) {
  if (text.empty() || text.front() == '/') {
    return std::nullopt;
  }
  fs::path out;
  for (const auto& part : fs::path(text)) {
    if (part == "..") {
      return std::nullopt;
    }
    if (part.empty() || part == ".") {
      continue;
    }
    out /= part;
  }
  if (out.empty()) {
    return std::nullopt;
  }
  return out;
}

// True when no directory on the way from `root` to `relative`'s parent is a symbolic link,
// so whatever is created there lies inside `root`.
bool parentsAreReal(const fs::path& root, const fs::path& relative) {
  fs::path at = root;
  for (const auto& part : relative.parent_path()) {
    at /= part;
    std::error_code error;
    const auto status = fs::symlink_status(at, error);
    if (!error && fs::is_symlink(status)) {
      return false;
    }
  }
  return true;
}

// A link stays inside when its target, taken from the link's own folder, never climbs above
// the root. Its folder has no symbolic links on the way (checked before), so the lexical walk
// is the real one.
bool linkStaysInside(const fs::path& relative, std::string_view linkTarget) {
  if (linkTarget.empty() || linkTarget.front() == '/') {
    return false;
  }
  int depth = 0;
  for (const auto& part : relative.parent_path()) {
    (void)part;
    ++depth;
  }
  for (const auto& part : fs::path(linkTarget)) {
    if (part == "..") {
      if (--depth < 0) {
        return false;
      }
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
  }
  return true;
}

// The second half of the link rule, once every entry is in place: a link's target may not
// pass through another link on its way (`x -> d/l/..` with `d/l -> ..` climbs out, although
// each looks harmless alone). Only the last part of a target may be a link, and that link is
// checked in its own turn. Checking after the last entry also catches chains whose links come
// later in the archive than the link that uses them.
Status refuseLinksThroughLinks(const fs::path& root,
                               const std::vector<std::pair<fs::path, std::string>>& links) {
  for (const auto& [relative, linkTarget] : links) {
    const fs::path folder = relative.parent_path();
    std::vector<fs::path> at(folder.begin(), folder.end());
    const fs::path target(linkTarget);
    const auto last = std::prev(target.end());
    for (auto part = target.begin(); part != target.end(); ++part) {
      if (part->empty() || *part == ".") {
        continue;
      }
      if (*part == "..") {
        if (at.empty()) {
          return refused(relative.string(), "links outside the update");
        }
        at.pop_back();
        continue;
      }
      at.push_back(*part);
      if (part == last) {
        break;
      }
      fs::path step = root;
      for (const auto& name : at) {
        step /= name;
      }
      std::error_code error;
      if (fs::is_symlink(fs::symlink_status(step, error))) {
        return refused(relative.string(), "links through another link (\"" + linkTarget +
                                              "\"), which could lead "
                                              "outside the update");
      }
    }
  }
  return success();
}

Status writeFile(archive* reader, const fs::path& path, mode_t mode, std::uint64_t& total,
                 const UnpackLimits& limits, const std::string& name) {
  // O_EXCL and O_NOFOLLOW: an entry never writes through a link or over another entry.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        (mode & 0777) | S_IRUSR | S_IWUSR);
  if (fd < 0) {
    return refused(name, "cannot be created: " + std::generic_category().message(errno));
  }
  const void* block = nullptr;
  std::size_t size = 0;
  la_int64_t offset = 0;
  la_int64_t written = 0;
  for (;;) {
    const int rc = archive_read_data_block(reader, &block, &size, &offset);
    if (rc == ARCHIVE_EOF) {
      break;
    }
    if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) {
      ::close(fd);
      return refused(name, std::string("cannot be read: ") + archive_error_string(reader));
    }
    total += size;
    if (total > limits.maxTotalBytes) {
      ::close(fd);
      return Error{"the update archive is larger than allowed once unpacked"};
    }
    // Sparse entries leave holes: write at the block's offset.
    if (offset != written && ::lseek(fd, offset, SEEK_SET) < 0) {
      ::close(fd);
      return refused(name, "cannot be written");
    }
    const auto* bytes = static_cast<const char*>(block);
    std::size_t done = 0;
    while (done < size) {
      const auto n = ::write(fd, bytes + done, size - done);
      if (n < 0) {
        if (errno == EINTR) {
          continue;
        }
        const int saved = errno;
        ::close(fd);
        return refused(name, "cannot be written: " + std::generic_category().message(saved));
      }
      done += static_cast<std::size_t>(n);
    }
    written = offset + static_cast<la_int64_t>(size);
  }
  // Sparse files that end in a hole still need their length.
  if (::ftruncate(fd, written) != 0 && errno != EINVAL) {
    ::close(fd);
    return refused(name, "cannot be written");
  }
  // The umask must not take away what the archive gave (the program's execute bits).
  (void)::fchmod(fd, (mode & 0777) | S_IRUSR | S_IWUSR);
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    return refused(name, "cannot be written to disk");
  }
  return success();
}

}  // namespace

Status unpackArchive(std::string_view bytes, const fs::path& target, UnpackLimits limits) {
  std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
  if (!reader) {
    return Error{"out of memory"};
  }
  archive_read_support_filter_all(reader.get());
  archive_read_support_format_all(reader.get());
  if (archive_read_open_memory(reader.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) {
    return Error{std::string("the update is not an archive: ") +
                 archive_error_string(reader.get())};
  }
  std::uint64_t total = 0;
  std::uint64_t entries = 0;
  std::vector<std::pair<fs::path, std::string>> links;
  archive_entry* entry = nullptr;
  for (;;) {
    const int rc = archive_read_next_header(reader.get(), &entry);
    if (rc == ARCHIVE_EOF) {
      break;
    }
    if (rc != ARCHIVE_OK && rc != ARCHIVE_WARN) {
      return Error{std::string("the update archive is damaged: ") +
                   archive_error_string(reader.get())};
    }
    if (++entries > limits.maxEntries) {
      return Error{"the update archive has too many entries"};
    }
    const char* rawName = archive_entry_pathname(entry);
    const std::string name = rawName == nullptr ? "" : rawName;
    const auto relative = safeRelative(name);
    if (!relative) {
      // "./" alone is the archive's root folder, which exists already.
      if (archive_entry_filetype(entry) == AE_IFDIR &&
          name.find_first_not_of("./") == std::string::npos &&
          name.find("..") == std::string::npos && !name.starts_with("/")) {
        continue;
      }
      return refused(name, "is not a plain relative path");
    }
    if (archive_entry_hardlink(entry) != nullptr) {
      return refused(name, "is a hard link");
    }
    if (!parentsAreReal(target, *relative)) {
      return refused(name, "lies behind a symbolic link");
    }
    const fs::path path = target / *relative;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) {
      return refused(name, "cannot get its folder: " + error.message());
    }
    const mode_t mode = archive_entry_perm(entry);
    switch (archive_entry_filetype(entry)) {
      case AE_IFDIR: {
        if (fs::is_symlink(fs::symlink_status(path, error))) {
          return refused(name, "would replace a symbolic link");
        }
        fs::create_directories(path, error);
        if (error) {
          return refused(name, "cannot be created: " + error.message());
        }
        (void)::chmod(path.c_str(), (mode & 0777) | S_IRWXU);
        break;
      }
      case AE_IFREG: {
        if (auto written = writeFile(reader.get(), path, mode, total, limits, name); !written) {
          return written;
        }
        break;
      }
      case AE_IFLNK: {
        const char* linkTarget = archive_entry_symlink(entry);
        if (linkTarget == nullptr || !linkStaysInside(*relative, linkTarget)) {
          return refused(name, "links outside the update");
        }
        fs::create_symlink(linkTarget, path, error);
        if (error) {
          return refused(name, "cannot be created: " + error.message());
        }
        links.emplace_back(*relative, linkTarget);
        break;
      }
      default:
        return refused(name, "is neither a file, a folder nor a link");
    }
  }
  return refuseLinksThroughLinks(target, links);
}

}  // namespace lumarin
