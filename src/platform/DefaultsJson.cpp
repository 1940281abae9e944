#include "platform/DefaultsJson.h"

#include <cmath>

#include "base/Base64.h"

namespace lumarin {

using json::Json;

json::Json encodeDefaultsValue(const DefaultsValue& value) {
  return std::visit(
      [](const auto& v) -> Json {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Bytes>) {
          return Json{{"$data", base64::encode(v)}};
        } else if constexpr (std::is_same_v<T, Date>) {
          return Json{{"$date", v.secondsSince1970}};
        } else if constexpr (std::is_same_v<T, double>) {
          if (std::isnan(v)) {
            return Json{{"$real", "nan"}};
          }
          if (std::isinf(v)) {
            return Json{{"$real", v > 0 ? "inf" : "-inf"}};
          }
          return Json(v);
        } else {
          return Json(v);
        }
      },
      value);
}

std::optional<DefaultsValue> decodeDefaultsValue(const json::Json& j) {
  switch (j.type()) {
    case Json::value_t::boolean:
      return j.get<bool>();
    case Json::value_t::number_integer:
      return j.get<std::int64_t>();
    case Json::value_t::number_unsigned: {
      const auto v = j.get<std::uint64_t>();
      if (v > static_cast<std::uint64_t>(INT64_MAX)) {
        return std::nullopt;
      }
      return static_cast<std::int64_t>(v);
    }
    case Json::value_t::number_float:
      return j.get<double>();
    case Json::value_t::string:
      return j.get<std::string>();
    case Json::value_t::array: {
      StringArray out;
      for (const auto& element : j) {
        if (!element.is_string()) {
          return std::nullopt;
        }
        out.push_back(element.get<std::string>());
      }
      return out;
    }
    case Json::value_t::object: {
      if (j.size() != 1) {
        return std::nullopt;
      }
      if (auto it = j.find("$data"); it != j.end() && it->is_string()) {
        auto bytes = base64::decode(it->get<std::string>());
        if (!bytes) {
          return std::nullopt;
        }
        return Bytes(std::move(*bytes));
      }
      if (auto it = j.find("$date"); it != j.end() && it->is_number()) {
        return Date{it->get<double>()};
      }
      if (auto it = j.find("$real"); it != j.end() && it->is_string()) {
        const auto text = it->get<std::string>();
        if (text == "nan") {
          return std::nan("");
        }
        if (text == "inf" || text == "-inf") {
          return text == "inf" ? HUGE_VAL : -HUGE_VAL;
        }
      }
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace lumarin
