#include "platform/desktop/DesktopEntries.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

namespace lumarin {

namespace {

// No entry comes near this; a bigger file is not read.
constexpr std::uintmax_t kMaxEntryBytes = 1 << 20;

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A key file string's escapes: \s \n \t \r \\. Any other backslash stays as it is.
std::string unescape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out.push_back(value[i]);
      continue;
    }
    switch (value[i + 1]) {
      case 's':
        out.push_back(' ');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case '\\':
        out.push_back('\\');
        break;
      default:
        out.push_back('\\');
        out.push_back(value[i + 1]);
        break;
    }
    ++i;
  }
  return out;
}

bool isTrue(const std::string& value) { return value == "true"; }

}  // namespace

std::vector<std::string> localeKeys(std::string_view locale) {
  if (locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.")) {
    return {};
  }
  std::string_view modifier;
  if (const auto at = locale.find('@'); at != std::string_view::npos) {
    modifier = locale.substr(at);
    locale = locale.substr(0, at);
  }
  if (const auto dot = locale.find('.'); dot != std::string_view::npos) {
    locale = locale.substr(0, dot);
  }
  std::string_view lang = locale;
  std::string_view country;
  if (const auto underscore = locale.find('_'); underscore != std::string_view::npos) {
    lang = locale.substr(0, underscore);
    country = locale.substr(underscore);
  }
  std::vector<std::string> keys;
  if (!country.empty() && !modifier.empty()) {
    keys.push_back(std::string(lang) + std::string(country) + std::string(modifier));
  }
  if (!country.empty()) {
    keys.push_back(std::string(lang) + std::string(country));
  }
  if (!modifier.empty()) {
    keys.push_back(std::string(lang) + std::string(modifier));
  }
  if (!lang.empty()) {
    keys.emplace_back(lang);
  }
  return keys;
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text,
                                              const std::vector<std::string>& locales) {
  std::map<std::string, std::string, std::less<>> values;
  bool inGroup = false;
  bool sawGroup = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == '#') {
      continue;
    }
    if (line.front() == '[') {
      // Only the first group counts as the entry; later groups are actions and extensions.
      inGroup = line == "[Desktop Entry]" && !sawGroup;
      sawGroup = true;
      continue;
    }
    if (!inGroup) {
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      continue;
    }
    const std::string key(trim(line.substr(0, equals)));
    if (key.empty()) {
      continue;
    }
    values.try_emplace(key, unescape(trim(line.substr(equals + 1))));
  }
  const auto get = [&values](std::string_view key) {
    const auto it = values.find(key);
    return it == values.end() ? std::string() : it->second;
  };
  if (get("Type") != "Application") {
    return std::nullopt;
  }
  DesktopEntry entry;
  entry.name = get("Name");
  for (const auto& locale : locales) {
    if (auto it = values.find("Name[" + locale + "]"); it != values.end() && !it->second.empty()) {
      entry.name = it->second;
      break;
    }
  }
  if (entry.name.empty()) {
    return std::nullopt;
  }
  entry.icon = get("Icon");
  entry.exec = get("Exec");
  entry.tryExec = get("TryExec");
  entry.noDisplay = isTrue(get("NoDisplay"));
  entry.hidden = isTrue(get("Hidden"));
  entry.dbusActivatable = isTrue(get("DBusActivatable"));
  return entry;
}

std::vector<std::filesystem::path> applicationDirectories(
    const std::function<std::optional<std::string>(const char*)>& getenv) {
  std::vector<std::filesystem::path> dirs;
  const auto value = [&getenv](const char* name) {
    auto text = getenv(name);
    return text && !text->empty() ? *text : std::string();
  };
  std::string home = value("XDG_DATA_HOME");
  if (home.empty() && !value("HOME").empty()) {
    home = value("HOME") + "/.local/share";
  }
  if (!home.empty()) {
    dirs.emplace_back(std::filesystem::path(home) / "applications");
  }
  std::string shared = value("XDG_DATA_DIRS");
  if (shared.empty()) {
    shared = "/usr/local/share:/usr/share";
  }
  std::stringstream list(shared);
  std::string dir;
  while (std::getline(list, dir, ':')) {
    // Relative entries are invalid and ignored, as are repeats.
    if (dir.empty() || dir.front() != '/') {
      continue;
    }
    std::filesystem::path candidate = std::filesystem::path(dir) / "applications";
    if (std::find(dirs.begin(), dirs.end(), candidate) == dirs.end()) {
      dirs.push_back(std::move(candidate));
    }
  }
  return dirs;
}

std::string desktopFileID(const std::filesystem::path& applicationsDir,
                          const std::filesystem::path& file) {
  const std::string base = applicationsDir.lexically_normal().string();
  const std::string path = file.lexically_normal().string();
  const std::string prefix = base.ends_with('/') ? base : base + "/";
  if (!path.starts_with(prefix) || !path.ends_with(".desktop")) {
    return {};
  }
  std::string id = path.substr(prefix.size());
  if (id.size() <= std::string_view(".desktop").size()) {
    return {};
  }
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

namespace {

std::optional<DesktopEntry> readEntry(const std::filesystem::path& file,
                                      const std::vector<std::string>& locales) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > kMaxEntryBytes) {
    return std::nullopt;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  auto entry = parseDesktopEntry(text.str(), locales);
  if (entry) {
    entry->path = file.string();
  }
  return entry;
}

}  // namespace

std::vector<DesktopEntry> readDesktopEntries(const std::vector<std::filesystem::path>& dirs,
                                             const std::vector<std::string>& locales) {
  std::map<std::string, std::optional<DesktopEntry>> byID;
  for (const auto& dir : dirs) {
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(
        dir, std::filesystem::directory_options::skip_permission_denied, error);
    if (error) {
      continue;
    }
    for (const std::filesystem::recursive_directory_iterator end; it != end; it.increment(error)) {
      if (error) {
        break;
      }
      if (!it->is_regular_file(error) || it->path().extension() != ".desktop") {
        continue;
      }
      std::string id = desktopFileID(dir, it->path());
      if (id.empty() || byID.contains(id)) {
        continue;
      }
      // The first file with an ID is the one that counts, also when it is hidden (the user's
      // way of removing a system entry) or no application: later folders do not bring it back.
      auto entry = readEntry(it->path(), locales);
      if (entry) {
        entry->id = id;
        if (entry->hidden) {
          entry.reset();
        }
      }
      byID.emplace(std::move(id), std::move(entry));
    }
  }
  std::vector<DesktopEntry> out;
  for (auto& [id, entry] : byID) {
    if (entry) {
      out.push_back(std::move(*entry));
    }
  }
  return out;
}

std::optional<DesktopEntry> readDesktopEntryFile(const std::filesystem::path& file,
                                                 const std::vector<std::filesystem::path>& dirs,
                                                 const std::vector<std::string>& locales) {
  auto entry = readEntry(file, locales);
  if (!entry) {
    return std::nullopt;
  }
  for (const auto& dir : dirs) {
    if (std::string id = desktopFileID(dir, file); !id.empty()) {
      entry->id = std::move(id);
      return entry;
    }
  }
  entry->id = file.filename().string();
  return entry;
}

}  // namespace lumarin
