#include "updates/Version.h"

#include <string>
#include <vector>

namespace lumarin {

namespace {

struct Part {
  bool number = false;
  std::string_view text;  // for numbers: the digits without leading zeros
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSeparator(char c) { return c == '.' || c == '-' || c == '_' || c == '+' || c == ' '; }

std::vector<Part> split(std::string_view version) {
  std::vector<Part> parts;
  std::size_t i = 0;
  while (i < version.size()) {
    if (isSeparator(version[i])) {
      ++i;
      continue;
    }
    const bool number = isDigit(version[i]);
    std::size_t end = i;
    while (end < version.size() && !isSeparator(version[end]) && isDigit(version[end]) == number) {
      ++end;
    }
    std::string_view text = version.substr(i, end - i);
    if (number) {
      while (text.size() > 1 && text.front() == '0') {
        text.remove_prefix(1);
      }
    }
    parts.push_back(Part{number, text});
    i = end;
  }
  return parts;
}

std::strong_ordering compareParts(const Part& a, const Part& b) {
  if (a.number != b.number) {
    return a.number ? std::strong_ordering::greater : std::strong_ordering::less;
  }
  if (a.number && a.text.size() != b.text.size()) {
    return a.text.size() <=> b.text.size();
  }
  const int c = a.text.compare(b.text);
  return c < 0 ? std::strong_ordering::less
               : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
}

// How a version that goes on after the other one compares with it: more zeros change
// nothing, any other number makes it newer, a word makes it a pre-release (older).
std::strong_ordering compareTail(const std::vector<Part>& parts, std::size_t from) {
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (!parts[i].number) {
      return std::strong_ordering::less;
    }
    if (parts[i].text != "0") {
      return std::strong_ordering::greater;
    }
  }
  return std::strong_ordering::equal;
}

}  // namespace

std::strong_ordering compareVersions(std::string_view a, std::string_view b) {
  const auto left = split(a);
  const auto right = split(b);
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (auto c = compareParts(left[i], right[i]); std::is_neq(c)) {
      return c;
    }
  }
  if (left.size() > common) {
    return compareTail(left, common);
  }
  if (right.size() > common) {
    // Seen from the left: the order turned round.
    const auto tail = compareTail(right, common);
    return std::is_gt(tail)   ? std::strong_ordering::less
           : std::is_lt(tail) ? std::strong_ordering::greater
                              : std::strong_ordering::equal;
  }
  return std::strong_ordering::equal;
}

}  // namespace lumarin
