#include "base/Iso8601.h"

#include <cstdio>

namespace lumarin::iso8601 {

// Civil calendar conversions after Howard Hinnant's public-domain algorithms.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& year, unsigned& month, unsigned& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

std::string formatUtc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto secs = floor<seconds>(time).time_since_epoch().count();
  std::int64_t days = secs / 86400;
  std::int64_t rem = secs % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civilFromDays(days, year, month, day);
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), month, day, static_cast<long long>(rem / 3600),
                static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
  return buffer;
}

namespace {

bool digits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
  if (pos + count > text.size()) {
    return false;
  }
  out = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') {
      return false;
    }
    out = out * 10 + (c - '0');
  }
  return true;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> parse(std::string_view text) {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  if (!digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' ||
      !digits(text, 5, 2, month) || text[7] != '-' || !digits(text, 8, 2, day) || text[10] != 'T' ||
      !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) ||
      text[16] != ':' || !digits(text, 17, 2, second)) {
    return std::nullopt;
  }
  static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] || hour > 23 ||
      minute > 59 || second > 60) {
    return std::nullopt;
  }
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) {
    return std::nullopt;
  }
  std::size_t pos = 19;
  std::int64_t nanos = 0;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    std::int64_t scale = 100000000;
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      nanos += (text[pos] - '0') * scale;
      scale /= 10;
      ++pos;
    }
    if (pos == start) {
      return std::nullopt;
    }
  }
  int offsetMinutes = 0;
  if (pos < text.size() && text[pos] == 'Z') {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    int oh = 0;
    int om = 0;
    if (!digits(text, pos + 1, 2, oh) || pos + 3 >= text.size() || text[pos + 3] != ':' ||
        !digits(text, pos + 4, 2, om) || oh > 23 || om > 59) {
      return std::nullopt;
    }
    offsetMinutes = (oh * 60 + om) * (text[pos] == '-' ? -1 : 1);
    pos += 6;
  } else {
    return std::nullopt;
  }
  if (pos != text.size()) {
    return std::nullopt;
  }
  const std::int64_t days =
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const std::int64_t secs = days * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 +
                            second - std::int64_t{offsetMinutes} * 60;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(secs) + std::chrono::nanoseconds(nanos)));
}

}  // namespace lumarin::iso8601
