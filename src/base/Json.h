#pragma once

// JSON helpers over nlohmann-json. This header is compile-heavy: include it only from .cpp
// files that read or write JSON, never from a widely included header.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace lumarin::json {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Parses a complete document. The error names the byte offset and what the parser expected.
Result<Json> parse(std::string_view text);
Result<OrderedJson> parseOrdered(std::string_view text);

// Compact or indented text; invalid UTF-8 inside strings is replaced rather than thrown on.
std::string dump(const Json& value, int indent = -1);
std::string dump(const OrderedJson& value, int indent = -1);

// Typed reads of one member that never throw: absent, null or of another type gives nullopt.
std::optional<std::string> stringAt(const Json& object, std::string_view key);
std::optional<bool> boolAt(const Json& object, std::string_view key);
std::optional<std::int64_t> integerAt(const Json& object, std::string_view key);
std::optional<double> numberAt(const Json& object, std::string_view key);

// JSON path notation for error messages: "$", "$.world", "$.world.apps[2]".
std::string pathMember(std::string_view parent, std::string_view key);
std::string pathIndex(std::string_view parent, std::size_t index);

// A short name of a value's kind for messages ("string", "number", "object", ...).
std::string kindName(const Json& value);

}  // namespace lumarin::json
