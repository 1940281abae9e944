#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace lumarin {

// Links of the program's URL scheme between two processes of one user: the running instance
// listens on a local socket only that user may reach; a second process, started with a link
// (by the desktop's URL handler), hands the link over and exits. One line per connection: the
// link and "\n", answered "ok\n" once taken ("no\n" otherwise). Lines longer than `kMaxLength`
// are refused.
class LocalURLChannel {
 public:
  static constexpr std::size_t kMaxLength = 8192;

  LocalURLChannel();
  LocalURLChannel(const LocalURLChannel&) = delete;
  LocalURLChannel& operator=(const LocalURLChannel&) = delete;
  ~LocalURLChannel();

  // Where the socket may live: `runtimeDir` (XDG_RUNTIME_DIR) when it is a directory of the
  // user's alone, else "<temporary>/lumarin-<uid>", made with mode 0700 and checked; empty when
  // neither is private.
  static std::filesystem::path privateDirectory(const std::optional<std::string>& runtimeDir,
                                                const std::filesystem::path& temporary,
                                                unsigned uid);
  // "<directory>/<bundle id with / as _>.<uid>.url.socket".
  static std::filesystem::path socketPath(const std::filesystem::path& directory,
                                          const std::string& bundleID, unsigned uid);
  // Listens at `path` (a socket left there by an instance that is gone is replaced: the caller
  // holds the single-instance lock). Each link goes to `onURL` on the main thread, from the Qt
  // event loop; the sender hears "ok" when it returns true. Connections of other users are
  // refused. False when the socket cannot be made.
  bool listen(const std::filesystem::path& path, std::function<bool(const std::string&)> onURL);
  // Hands `url` to the instance of this user listening at `path` and waits (at most
  // `timeoutMs`) until it has taken it; false when none did.
  static bool send(const std::filesystem::path& path, const std::string& url, int timeoutMs = 3000);

 private:
  class Server;
  std::unique_ptr<Server> server_;
};

}  // namespace lumarin
