#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "base/Result.h"

namespace lumarin {

// Unpacks an archive held in memory (tar in any compression libarchive reads, or zip) into
// `target`, an existing empty directory. Only regular files, directories and symbolic links
// are written. Refused, with nothing more written: absolute paths, ".." anywhere, entries that
// would pass through a symbolic link, links whose target leaves `target` or passes through
// another link (checked once all entries exist, so chains such as `d/l -> ..` with
// `x -> d/l/..` are refused in either order), hard links, devices, and archives larger than
// the limits once unpacked. What was written before a refusal stays
// in `target` for the caller to remove.
struct UnpackLimits {
  std::uint64_t maxTotalBytes = std::uint64_t{2} * 1024 * 1024 * 1024;
  std::uint64_t maxEntries = 100'000;
};

Status unpackArchive(std::string_view archive, const std::filesystem::path& target,
                     UnpackLimits limits = {});

}  // namespace lumarin
