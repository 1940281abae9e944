#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace lumarin {

// A build as the updater decides on it: the build number ("CFBundleVersion") and the version
// shown to people ("CFBundleShortVersionString", may be empty).
struct BuildVersion {
  std::string build;
  std::string shortVersion;

  // "1.10 (42)", or the build alone.
  std::string describe() const;
};

// Why an installation was refused, as the error's code.
enum class InstallProblem { failed = 0, versionRefused = 1 };

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
// The signature covers the archive's bytes only, not the feed's words about them, so the
// version that decides is the one the archive states itself: its marker file holds the lines
// "CFBundleVersion=<build>" and "CFBundleShortVersionString=<version>". An update is installed
// only when that version is the one it was offered as and newer than the running build; a
// marker naming no build is refused too (it could be any old build relabelled).
//
// Blocking file work: run it on a background queue.
class UpdateInstaller {
 public:
  static constexpr std::string_view kMarkerFile = ".lumarin-installation";

  UpdateInstaller(std::filesystem::path installationDirectory, std::string executableName);

  // Whether the installation directory can be replaced at all (marker present, a real
  // directory, its parent writable).
  Status canInstall() const;
  // Unpacks and swaps in `archive`, which must state `offered` as its version, newer than
  // `running`. A refused version fails with InstallProblem::versionRefused.
  Status install(std::string_view archive, const BuildVersion& offered,
                 const BuildVersion& running) const;

  // The version a marker file states; nothing when it names no build or cannot be read.
  static std::optional<BuildVersion> readMarker(const std::filesystem::path& marker);
  // The marker's text for a build, as a release is packed.
  static std::string markerText(const BuildVersion& version);

  const std::filesystem::path& installationDirectory() const { return directory_; }
  std::filesystem::path executable() const { return directory_ / executableName_; }

 private:
  std::filesystem::path directory_;
  std::string executableName_;
};

}  // namespace lumarin
