#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumarin {

// What an entry's field codes stand for when the app is launched with no files.
struct DesktopExecContext {
  std::string name;       // %c: the localised Name
  std::string icon;       // %i: "--icon ICON", nothing when the entry has no Icon
  std::string entryPath;  // %k: where the .desktop file is
};

// The argument vector of an entry's Exec value (already unescaped as a key file string):
// arguments split on unquoted spaces, double-quoted arguments with \" \` \$ \\ escapes,
// file and URL codes removed (no files are passed), deprecated codes removed, %% kept as %.
// Empty when the line holds no program or an unterminated quote.
std::optional<std::vector<std::string>> expandDesktopExec(std::string_view exec,
                                                          const DesktopExecContext& context);

}  // namespace lumarin
