#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarin {

// One application's desktop entry, as the "Add App" list, the icons and the launcher need it.
struct DesktopEntry {
  std::string id;    // the desktop file ID: the path below an applications folder, '/' as '-'
  std::string path;  // the file
  std::string name;  // `Name`, in the user's language where the entry has it
  std::string icon;  // an icon theme name or an absolute file
  std::string exec;  // unescaped as a key file string; DesktopExec splits it
  std::string tryExec;
  bool noDisplay = false;
  bool hidden = false;
  bool dbusActivatable = false;
};

// The locale keys to try for `LC_MESSAGES`-style value `lang_COUNTRY.ENCODING@MODIFIER`, most
// specific first: lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER, lang. "C" and "POSIX"
// and empty values have none.
std::vector<std::string> localeKeys(std::string_view locale);

// The entry in a key file's text: the `[Desktop Entry]` group of an entry of `Type`
// Application; nullopt for any other file (a link, a directory entry, no such group, no
// Name). Unknown keys and malformed lines are skipped; a key given twice keeps its first value.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text,
                                              const std::vector<std::string>& locales);

// Where desktop entries live, in precedence order: $XDG_DATA_HOME (default ~/.local/share),
// then each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share), each with
// "applications" appended. `getenv` reads the environment (a test passes its own).
std::vector<std::filesystem::path> applicationDirectories(
    const std::function<std::optional<std::string>(const char*)>& getenv);

// The desktop file ID of `file` found below `applicationsDir`: its relative path with '/'
// replaced by '-' ("kde4/konsole.desktop" → "kde4-konsole.desktop"); empty when the file is
// not below that folder or does not end in ".desktop".
std::string desktopFileID(const std::filesystem::path& applicationsDir,
                          const std::filesystem::path& file);

// Every application entry in `dirs` by ID: an ID found in an earlier folder hides the same ID
// in later ones, also when the earlier one is `Hidden` (the user's way of removing a system
// entry), so hidden entries are left out of the result. Sorted by ID. Unreadable files and
// folders are skipped. Entries with `NoDisplay` are kept (they run and send badges too).
std::vector<DesktopEntry> readDesktopEntries(const std::vector<std::filesystem::path>& dirs,
                                             const std::vector<std::string>& locales);

// Reads one entry file; its ID is the file's name unless it lies below one of `dirs`.
std::optional<DesktopEntry> readDesktopEntryFile(const std::filesystem::path& file,
                                                 const std::vector<std::filesystem::path>& dirs,
                                                 const std::vector<std::string>& locales);

}  // namespace lumarin
