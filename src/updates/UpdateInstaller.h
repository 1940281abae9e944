#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace lumarin {

// Replaces the program's installation directory with the contents of an update archive, as
// one step: the archive is unpacked into a fresh sibling directory, checked, and then swapped
// with the installation directory by one rename (`renameat2(RENAME_EXCHANGE)`, or two renames
// where the file system cannot exchange); the old copy is removed afterwards. Until the swap
// the installation is untouched; a failure before it leaves no trace.
//
// Only a directory that says it is a self-contained installation of the program is replaced:
// it must hold the marker file, and so must the update, together with the program's
// executable. A copy run from a shared system folder (/usr/bin) has no marker and is never
// touched; the package manager updates that one.
//
// Blocking file work: run it on a background queue.
class UpdateInstaller {
 public:
  static constexpr std::string_view kMarkerFile = ".lumarin-installation";

  UpdateInstaller(std::filesystem::path installationDirectory, std::string executableName);

  // Whether the installation directory can be replaced at all (marker present, a real
  // directory, its parent writable).
  Status canInstall() const;
  Status install(std::string_view archive) const;

  const std::filesystem::path& installationDirectory() const { return directory_; }
  std::filesystem::path executable() const { return directory_ / executableName_; }

 private:
  std::filesystem::path directory_;
  std::string executableName_;
};

}  // namespace lumarin
