#include "platform/UserDefaults.h"

#include <cstdlib>

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

void UserDefaults::applyChanges(const std::vector<DefaultsChange>& changes) {
  for (const auto& change : changes) {
    if (change.value) {
      set(change.key, *change.value);
    } else {
      remove(change.key);
    }
  }
}

bool UserDefaults::boolValue(std::string_view key) const {
  const auto value = object(key);
  if (!value) {
    return false;
  }
  if (const auto* b = std::get_if<bool>(&*value)) {
    return *b;
  }
  if (const auto* i = std::get_if<std::int64_t>(&*value)) {
    return *i != 0;
  }
  if (const auto* d = std::get_if<double>(&*value)) {
    return *d != 0;
  }
  if (const auto* s = std::get_if<std::string>(&*value)) {
    std::string lower;
    for (char c : *s) {
      lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (lower == "yes" || lower == "true") {
      return true;
    }
    char* end = nullptr;
    const long long n = std::strtoll(s->c_str(), &end, 10);
    return end != s->c_str() && n != 0;
  }
  return false;
}

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
std::optional<double> UserDefaults::number(std::string_view key) const {
  if (auto i = integer(key)) {
    return static_cast<double>(*i);
  }
  return real(key);
}
std::optional<Bytes> UserDefaults::data(std::string_view key) const {
  return as<Bytes>(object(key));
}
std::optional<Date> UserDefaults::date(std::string_view key) const { return as<Date>(object(key)); }

}  // namespace lumarin
