#include "base/Utf8.h"

namespace lumarin::utf8 {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

char32_t decodeAt(std::string_view text, std::size_t& pos) {
  const auto c0 = static_cast<unsigned char>(text[pos]);
  if (c0 < 0x80) {
    ++pos;
    return c0;
  }
  std::size_t need = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((c0 & 0xE0) == 0xC0) {
    need = 1;
    value = c0 & 0x1F;
    minimum = 0x80;
  } else if ((c0 & 0xF0) == 0xE0) {
    need = 2;
    value = c0 & 0x0F;
    minimum = 0x800;
  } else if ((c0 & 0xF8) == 0xF0) {
    need = 3;
    value = c0 & 0x07;
    minimum = 0x10000;
  } else {
    ++pos;
    return kReplacement;
  }
  if (pos + need >= text.size()) {
    ++pos;
    return kReplacement;
  }
  for (std::size_t i = 1; i <= need; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + i]);
    if (!isContinuation(c)) {
      ++pos;
      return kReplacement;
    }
    value = (value << 6) | (c & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++pos;
    return kReplacement;
  }
  pos += need + 1;
  return value;
}

void append(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    c = kReplacement;
  }
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::vector<char32_t> decode(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    out.push_back(decodeAt(text, pos));
  }
  return out;
}

std::string encode(const std::vector<char32_t>& scalars) {
  std::string out;
  out.reserve(scalars.size());
  for (char32_t c : scalars) {
    append(out, c);
  }
  return out;
}

std::size_t length(std::string_view text) {
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    decodeAt(text, pos);
    ++count;
  }
  return count;
}

bool isValid(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t before = pos;
    const char32_t c = decodeAt(text, pos);
    if (c == kReplacement && !(pos - before == 3 && text.substr(before, 3) == "\xEF\xBF\xBD")) {
      return false;
    }
  }
  return true;
}

std::string_view prefix(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < count && pos < text.size(); ++i) {
    decodeAt(text, pos);
  }
  return text.substr(0, pos);
}

std::string_view suffix(std::string_view text, std::size_t count) {
  // Walk forward once to find the boundaries; malformed bytes make a backward walk ambiguous.
  const std::size_t total = length(text);
  if (total <= count) {
    return text;
  }
  std::size_t pos = 0;
  for (std::size_t i = 0; i < total - count; ++i) {
    decodeAt(text, pos);
  }
  return text.substr(pos);
}

bool isWhitespaceOrNewline(char32_t c) {
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
  std::size_t start = 0;
  std::size_t end = 0;  // one past the last kept byte
  bool seenContent = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t before = pos;
    const char32_t c = decodeAt(text, pos);
    if (!isWhitespaceOrNewline(c)) {
      if (!seenContent) {
        start = before;
        seenContent = true;
      }
      end = pos;
    }
  }
  if (!seenContent) {
    return {};
  }
  return std::string(text.substr(start, end - start));
}

}  // namespace lumarin::utf8
