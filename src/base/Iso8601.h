#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumarin::iso8601 {

// "2026-03-01T12:00:05Z": UTC, whole seconds (fractions are dropped, not rounded).
std::string formatUtc(std::chrono::system_clock::time_point time);

// Reads "YYYY-MM-DDTHH:MM:SS" followed by "Z", optional fractional seconds before it, or a
// "+HH:MM"/"-HH:MM" offset instead of it. Anything else is refused.
std::optional<std::chrono::system_clock::time_point> parse(std::string_view text);

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day);
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day);

}  // namespace lumarin::iso8601
