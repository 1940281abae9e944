#include "service/HttpWire.h"

#include <algorithm>
#include <cctype>

#include "base/Hex.h"

namespace lumarin::service::wire {

namespace {

HeadResult failed(int status, std::string message) {
  HeadResult result;
  result.state = HeadResult::State::failed;
  result.errorStatus = status;
  result.error = std::move(message);
  return result;
}

bool isTokenChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (std::isalnum(byte) != 0) {
    return true;
  }
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// A comma-separated field holds `token` (case-insensitive), as in "Connection: keep-alive,
// Upgrade".
bool listHas(std::string_view value, std::string_view token) {
  while (!value.empty()) {
    const auto comma = value.find(',');
    const auto item = trim(value.substr(0, comma));
    if (lower(item) == token) {
      return true;
    }
    if (comma == std::string_view::npos) {
      break;
    }
    value.remove_prefix(comma + 1);
  }
  return false;
}

// The end of the head: the blank line after the fields, with CRLF or bare LF line ends.
std::optional<std::pair<std::size_t, std::size_t>> headEnd(std::string_view buffer) {
  for (std::size_t i = buffer.find('\n'); i != std::string_view::npos;
       i = buffer.find('\n', i + 1)) {
    if (i + 1 < buffer.size() && buffer[i + 1] == '\n') {
      return std::pair{i + 1, i + 2};
    }
    if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') {
      return std::pair{i + 1, i + 3};
    }
  }
  return std::nullopt;
}

}  // namespace

std::string RequestHead::header(std::string_view lowerName) const {
  for (const auto& [name, value] : headers) {
    if (name == lowerName) {
      return value;
    }
  }
  return {};
}

std::optional<std::string> percentDecodePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      out.push_back(path[i]);
      continue;
    }
    if (i + 2 >= path.size()) {
      return std::nullopt;
    }
    const int high = hexDigitValue(path[i + 1]);
    const int low = hexDigitValue(path[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) {
      return std::nullopt;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

HeadResult parseRequestHead(std::string_view buffer, const Limits& limits) {
  // Blank lines before a request line are tolerated (RFC 9112 2.2), a few of them.
  std::size_t start = 0;
  while (start < buffer.size() && start < 8 && (buffer[start] == '\r' || buffer[start] == '\n')) {
    ++start;
  }
  const auto view = buffer.substr(start);
  const auto end = headEnd(view);
  if (!end) {
    if (view.size() > limits.maxHeaderBytes) {
      return failed(431, "the request header is larger than " +
                             std::to_string(limits.maxHeaderBytes) + " bytes");
    }
    // A request line alone can already be too long; say so before the rest arrives.
    const auto firstLine = view.find('\n');
    if (firstLine == std::string_view::npos && view.size() > limits.maxTargetBytes + 32) {
      return failed(414, "the request URI is too long");
    }
    return {};
  }
  if (end->second > limits.maxHeaderBytes) {
    return failed(431, "the request header is larger than " +
                           std::to_string(limits.maxHeaderBytes) + " bytes");
  }
  HeadResult result;
  auto& head = result.head;
  std::string_view text = view.substr(0, end->first);

  auto nextLine = [&text]() {
    const auto nl = text.find('\n');
    auto line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    return line;
  };

  // The request line: METHOD SP target SP HTTP/1.x
  const auto requestLine = nextLine();
  const auto firstSpace = requestLine.find(' ');
  const auto lastSpace = requestLine.rfind(' ');
  if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
    return failed(400, "the request line could not be read");
  }
  const auto method = requestLine.substr(0, firstSpace);
  const auto target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  const auto version = requestLine.substr(lastSpace + 1);
  if (!isToken(method)) {
    return failed(400, "the request method could not be read");
  }
  if (version.size() != 8 || !version.starts_with("HTTP/1.") || version[7] < '0' ||
      version[7] > '9') {
    return failed(version.starts_with("HTTP/") ? 505 : 400, "only HTTP/1.x is served here");
  }
  if (target.size() > limits.maxTargetBytes) {
    return failed(414, "the request URI is too long");
  }
  if (target.empty() || target.front() != '/' ||
      std::any_of(target.begin(), target.end(),
                  [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; })) {
    return failed(400, "the request target must be a path");
  }
  head.method = std::string(method);
  head.minorVersion = version[7] - '0';
  const auto question = target.find('?');
  auto path = percentDecodePath(target.substr(0, question));
  if (!path) {
    return failed(400, "the request path has a malformed escape");
  }
  head.path = std::move(*path);
  if (question != std::string_view::npos) {
    auto query = target.substr(question + 1);
    query = query.substr(0, query.find('#'));
    head.rawQuery = std::string(query);
  }

  bool sawLength = false;
  while (!text.empty()) {
    const auto line = nextLine();
    if (line.empty()) {
      break;
    }
    if (line.front() == ' ' || line.front() == '\t') {
      return failed(400, "folded header lines are not accepted");
    }
    if (head.headers.size() >= limits.maxHeaderCount) {
      return failed(431, "the request has more than " + std::to_string(limits.maxHeaderCount) +
                             " header fields");
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
      return failed(400, "a header field could not be read");
    }
    const auto value = trim(line.substr(colon + 1));
    if (std::any_of(value.begin(), value.end(), [](char c) { return c == '\0' || c == '\r'; })) {
      return failed(400, "a header field holds a control character");
    }
    auto name = lower(line.substr(0, colon));
    if (name == "content-length") {
      if (value.empty() || value.size() > 18 ||
          !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return failed(400, "Content-Length is not a number");
      }
      const auto length = static_cast<std::size_t>(std::stoull(std::string(value)));
      if (sawLength && length != head.contentLength) {
        return failed(400, "Content-Length is given twice with different values");
      }
      sawLength = true;
      head.contentLength = length;
    } else if (name == "transfer-encoding") {
      // Every client of ours sends a length; chunked bodies would be one more parser to harden.
      return failed(501, "request bodies must come with Content-Length, not Transfer-Encoding");
    }
    head.headers.emplace_back(std::move(name), std::string(value));
  }

  const auto connection = head.header("connection");
  head.keepAlive =
      head.minorVersion >= 1 ? !listHas(connection, "close") : listHas(connection, "keep-alive");
  head.expectContinue = lower(head.header("expect")) == "100-continue";
  result.state = HeadResult::State::complete;
  result.consumed = start + end->second;
  return result;
}

std::string_view reasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Status";
  }
}

std::string serializeResponse(const HttpResponse& response, bool keepAlive, bool headOnly) {
  std::string out;
  out.reserve(160 + response.body.size());
  out += "HTTP/1.1 ";
  out += std::to_string(response.status);
  out += ' ';
  out += reasonPhrase(response.status);
  out += "\r\nContent-Type: ";
  out += response.contentType;
  out += "\r\nContent-Length: ";
  out += std::to_string(response.body.size());
  out += keepAlive ? "\r\nConnection: keep-alive" : "\r\nConnection: close";
  for (const auto& [name, value] : response.headers) {
    out += "\r\n";
    out += name;
    out += ": ";
    // A value of ours never holds a line break; should one slip in, it must not end the head.
    for (char c : value) {
      out.push_back(c == '\r' || c == '\n' ? ' ' : c);
    }
  }
  out += "\r\n\r\n";
  if (!headOnly) {
    out += response.body;
  }
  return out;
}

}  // namespace lumarin::service::wire
