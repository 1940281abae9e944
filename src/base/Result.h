#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace lumarin {

// What went wrong, for a caller that wants to tell the user or the debug log.
struct Error {
  std::string message;
  int code = 0;

  bool operator==(const Error&) const = default;
};

// A value or the reason there is none. Ports return this instead of throwing.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Result(Error error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  static Result failure(std::string message, int code = 0) {
    return Result(Error{std::move(message), code});
  }

  bool ok() const { return std::holds_alternative<T>(state_); }
  explicit operator bool() const { return ok(); }

  const T& value() const& {
    assert(ok());
    return std::get<T>(state_);
  }
  T& value() & {
    assert(ok());
    return std::get<T>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<T>(std::move(state_));
  }
  const T& operator*() const& { return value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const {
    assert(!ok());
    return std::get<Error>(state_);
  }

  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

 private:
  std::variant<T, Error> state_;
};

// For operations that succeed or fail without a value.
struct Done {
  bool operator==(const Done&) const = default;
};
using Status = Result<Done>;

inline Status success() { return Done{}; }

}  // namespace lumarin
