#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace lumarin {

// The properties of a statistics event: names with typed values, as they go out in JSON.
using PropertyValue = std::variant<bool, std::int64_t, double, std::string>;
using Properties = std::map<std::string, PropertyValue>;

}  // namespace lumarin
