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

// The deepest nesting of arrays and objects a parsed document may have. Every document the
// program reads (settings, synced copies, server answers, scenarios, reports) is a handful of
// levels deep; a deeper one is hostile or broken, and a tree that deep would overflow the
// stack of nlohmann's recursive copy, comparison and dump.
inline constexpr int kMaxDepth = 64;

// Code of the error a too-deep document gives, so callers can tell it from a syntax error.
inline constexpr int kTooDeepError = 900;

// Parses a complete document. The error names the byte offset and what the parser expected;
// a document nested deeper than maxDepth is refused before any tree is built.
Result<Json> parse(std::string_view text, int maxDepth = kMaxDepth);
Result<OrderedJson> parseOrdered(std::string_view text, int maxDepth = kMaxDepth);

// The byte offset where text first nests deeper than maxDepth, or nullopt. Strings (with their
// escapes) are skipped; the text need not be valid JSON.
std::optional<std::size_t> tooDeepAt(std::string_view text, int maxDepth = kMaxDepth);

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
