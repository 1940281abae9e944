#include "platform/ServiceURL.h"

#include <cctype>
#include <string>

namespace lumarin {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// "127.a.b.c" with each part a decimal number 0-255.
bool isLoopbackIPv4(std::string_view host) {
  int parts = 0;
  std::size_t start = 0;
  while (start <= host.size()) {
    const auto dot = host.find('.', start);
    const auto part =
        host.substr(start, dot == std::string_view::npos ? host.size() - start : dot - start);
    if (part.empty() || part.size() > 3) {
      return false;
    }
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') {
        return false;
      }
      value = value * 10 + (c - '0');
    }
    if (value > 255 || (parts == 0 && value != 127)) {
      return false;
    }
    ++parts;
    if (dot == std::string_view::npos) {
      break;
    }
    start = dot + 1;
  }
  return parts == 4;
}

}  // namespace

bool isPermittedServiceURL(std::string_view url) {
  const std::string text = lower(url);
  if (text.starts_with("https://")) {
    return text.size() > 8 && text[8] != '/';
  }
  if (!text.starts_with("http://")) {
    return false;
  }
  std::string_view rest = std::string_view(text).substr(7);
  const auto end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, end);
  // User information would let "http://127.0.0.1@evil.example/" pass as loopback.
  if (authority.find('@') != std::string_view::npos) {
    return false;
  }
  std::string_view host;
  if (authority.starts_with("[")) {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) {
      return false;
    }
    host = authority.substr(0, close + 1);
    const auto after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') {
      return false;
    }
  } else {
    host = authority.substr(0, authority.find(':'));
  }
  return host == "localhost" || host == "[::1]" || isLoopbackIPv4(host);
}

}  // namespace lumarin
