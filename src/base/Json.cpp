#include "base/Json.h"

namespace lumarin::json {

namespace {

template <typename J>
Result<J> parseAs(std::string_view text, int maxDepth) {
  if (const auto at = tooDeepAt(text, maxDepth)) {
    return Error{
        "nested deeper than " + std::to_string(maxDepth) + " levels at byte " + std::to_string(*at),
        kTooDeepError};
  }
  try {
    return J::parse(text.begin(), text.end());
  } catch (const nlohmann::json::exception& e) {
    // Parse errors, and also out_of_range for numbers beyond a double ("1E400").
    // nlohmann's text starts with "[json.exception.parse_error.101] parse error at line 1,
    // column 2: ..."; keep only the human part.
    std::string what = e.what();
    const auto pos = what.find("] ");
    if (pos != std::string::npos) {
      what = what.substr(pos + 2);
    }
    return Error{what, static_cast<int>(e.id)};
  }
}

bool isIdentifier(std::string_view key) {
  if (key.empty()) {
    return false;
  }
  for (char c : key) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) {
      return false;
    }
  }
  return !(key[0] >= '0' && key[0] <= '9');
}

}  // namespace

std::optional<std::size_t> tooDeepAt(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character cannot end the string
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > maxDepth) {
          return i;
        }
        break;
      case ']':
      case '}':
        // A stray closer is the parser's to report; it must not buy extra depth.
        depth = depth > 0 ? depth - 1 : 0;
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

Result<Json> parse(std::string_view text, int maxDepth) { return parseAs<Json>(text, maxDepth); }
Result<OrderedJson> parseOrdered(std::string_view text, int maxDepth) {
  return parseAs<OrderedJson>(text, maxDepth);
}

std::string dump(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}
std::string dump(const OrderedJson& value, int indent) {
  return value.dump(indent, ' ', false, OrderedJson::error_handler_t::replace);
}

std::optional<std::string> stringAt(const Json& object, std::string_view key) {
  if (!object.is_object()) {
    return std::nullopt;
  }
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) {
    return std::nullopt;
  }
  return it->get<std::string>();
}

std::optional<bool> boolAt(const Json& object, std::string_view key) {
  if (!object.is_object()) {
    return std::nullopt;
  }
  auto it = object.find(key);
  if (it == object.end() || !it->is_boolean()) {
    return std::nullopt;
  }
  return it->get<bool>();
}

std::optional<std::int64_t> integerAt(const Json& object, std::string_view key) {
  if (!object.is_object()) {
    return std::nullopt;
  }
  auto it = object.find(key);
  if (it == object.end()) {
    return std::nullopt;
  }
  // Check unsigned first: nlohmann counts unsigned numbers as integers too.
  if (it->is_number_unsigned()) {
    const auto v = it->get<std::uint64_t>();
    if (v > static_cast<std::uint64_t>(INT64_MAX)) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(v);
  }
  if (it->is_number_integer()) {
    return it->get<std::int64_t>();
  }
  return std::nullopt;
}

std::optional<double> numberAt(const Json& object, std::string_view key) {
  if (!object.is_object()) {
    return std::nullopt;
  }
  auto it = object.find(key);
  if (it == object.end() || !it->is_number()) {
    return std::nullopt;
  }
  return it->get<double>();
}

std::string pathMember(std::string_view parent, std::string_view key) {
  std::string out(parent.empty() ? "$" : parent);
  if (isIdentifier(key)) {
    out += '.';
    out += key;
  } else {
    out += "[";
    out += Json(std::string(key)).dump();
    out += "]";
  }
  return out;
}

std::string pathIndex(std::string_view parent, std::size_t index) {
  std::string out(parent.empty() ? "$" : parent);
  out += '[';
  out += std::to_string(index);
  out += ']';
  return out;
}

std::string kindName(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "boolean";
    case Json::value_t::string:
      return "string";
    case Json::value_t::array:
      return "array";
    case Json::value_t::object:
      return "object";
    case Json::value_t::binary:
      return "binary";
    case Json::value_t::discarded:
      return "discarded";
    default:
      return "number";
  }
}

}  // namespace lumarin::json
