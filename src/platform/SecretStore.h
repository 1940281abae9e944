#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumarin {

// The login keychain's generic passwords of the program: one UTF-8 string per account name,
// all under the program's one service name. Failures are silent (a read yields nothing, a
// write is dropped), as the keychain's are for the program. Callable from any thread; it may
// block briefly on the system's store, so the main queue calls it only for single items.
class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual std::optional<std::string> get(std::string_view account) const = 0;
  // An absent value removes the item.
  virtual void set(std::string_view account, std::optional<std::string> value) = 0;
  void remove(std::string_view account) { set(account, std::nullopt); }
};

}  // namespace lumarin
