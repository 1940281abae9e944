#include "platform/UserDefaults.h"

namespace lumarin {

namespace {

template <typename T>
std::optional<T> as(const std::optional<DefaultsValue>& value) {
  if (value && std::holds_alternative<T>(*value)) {
    return std::get<T>(*value);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> UserDefaults::string(std::string_view key) const {
  return as<std::string>(object(key));
}
std::optional<StringArray> UserDefaults::stringArray(std::string_view key) const {
  return as<StringArray>(object(key));
}
std::optional<bool> UserDefaults::boolean(std::string_view key) const {
  return as<bool>(object(key));
}
std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
  return as<std::int64_t>(object(key));
}
std::optional<double> UserDefaults::real(std::string_view key) const {
  return as<double>(object(key));
}
std::optional<Bytes> UserDefaults::data(std::string_view key) const {
  return as<Bytes>(object(key));
}
std::optional<Date> UserDefaults::date(std::string_view key) const {
  return as<Date>(object(key));
}

}  // namespace lumarin
