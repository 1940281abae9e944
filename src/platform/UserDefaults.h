#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace lumarin {

using Bytes = std::vector<std::uint8_t>;
using StringArray = std::vector<std::string>;

// A calendar date, in seconds since 1970 (fractions kept).
struct Date {
  double secondsSince1970 = 0;
  bool operator==(const Date&) const = default;
};

// One stored value. The kinds are kept apart on every round trip: a boolean never reads back
// as an integer, an integer never as a double.
using DefaultsValue =
    std::variant<bool, std::int64_t, double, std::string, StringArray, Bytes, Date>;

// One write of a batch: a value to store, or nullopt to remove the key.
struct DefaultsChange {
  std::string key;
  std::optional<DefaultsValue> value;
};

// The user-defaults system: the program's own domain (read and write) and the global domain
// (read only). Callable from any thread.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;

  virtual std::optional<DefaultsValue> object(std::string_view key) const = 0;
  virtual void set(std::string_view key, DefaultsValue value) = 0;
  virtual void remove(std::string_view key) = 0;
  virtual std::optional<DefaultsValue> globalObject(std::string_view key) const = 0;

  // Several writes as one: an adapter that stores to disk writes once.
  virtual void applyChanges(const std::vector<DefaultsChange>& changes);

  // Typed reads: absent when the key is missing or holds another kind.
  std::optional<std::string> string(std::string_view key) const;
  std::optional<StringArray> stringArray(std::string_view key) const;
  std::optional<bool> boolean(std::string_view key) const;
  std::optional<std::int64_t> integer(std::string_view key) const;
  std::optional<double> real(std::string_view key) const;
  // Any number, integer or real (NSNumber's doubleValue).
  std::optional<double> number(std::string_view key) const;
  std::optional<Bytes> data(std::string_view key) const;
  std::optional<Date> date(std::string_view key) const;
  bool contains(std::string_view key) const { return object(key).has_value(); }

  // The platform's boolean reading of any value (`bool(forKey:)`): booleans as they are,
  // numbers as non-zero, strings "YES"/"true" (any case) or a non-zero integer as true,
  // everything else and absent as false.
  bool boolValue(std::string_view key) const;
};

}  // namespace lumarin
