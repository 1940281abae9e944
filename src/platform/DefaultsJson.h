#pragma once

// The JSON form of user-defaults values, shared by the defaults file and scenario files.
// Includes the JSON library: only for .cpp files.

#include <optional>

#include "base/Json.h"
#include "platform/UserDefaults.h"

namespace lumarin {

// Booleans, integers and doubles as JSON literals (1.0 stays a double), strings and string
// arrays as themselves, data as {"$data": base64}, dates as {"$date": seconds since 1970},
// non-finite doubles as {"$real": "nan" | "inf" | "-inf"}.
json::Json encodeDefaultsValue(const DefaultsValue& value);
// Absent for any other shape.
std::optional<DefaultsValue> decodeDefaultsValue(const json::Json& value);

}  // namespace lumarin
