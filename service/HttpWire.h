#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/Service.h"

// HTTP/1.1 as the service's own front reads and writes it: the request head (request line and
// header fields) with bounds on its size and field count, and the serialised answer. Pure
// functions over bytes, so the event loop stays about sockets and time, and the parser can be
// tested and fuzzed on its own.
namespace lumarin::service::wire {

struct Limits {
  std::size_t maxHeaderBytes = 16 * 1024;
  std::size_t maxHeaderCount = 64;
  std::size_t maxTargetBytes = 8 * 1024;
};

struct RequestHead {
  std::string method;
  std::string path;      // percent-decoded
  std::string rawQuery;  // as sent, without the '?'
  int minorVersion = 1;  // HTTP/1.<minor>
  // Field names in lower case, values without surrounding blanks, in the order sent.
  std::vector<std::pair<std::string, std::string>> headers;
  std::size_t contentLength = 0;
  bool keepAlive = true;
  bool expectContinue = false;

  // The first value of a field (name in lower case), or empty.
  std::string header(std::string_view lowerName) const;
};

struct HeadResult {
  enum class State { incomplete, complete, failed };
  State state = State::incomplete;
  std::size_t consumed = 0;  // bytes of the head, blank line included, when complete
  RequestHead head;
  int errorStatus = 0;  // 400, 414, 431, 501 when failed
  std::string error;    // for the JSON error answer
};

// Reads a request head from the start of `buffer`. Incomplete while the blank line has not
// arrived and the bytes are within the limit; failed as soon as anything is malformed or over
// a bound, so an attacker cannot make us buffer more than the limit.
HeadResult parseRequestHead(std::string_view buffer, const Limits& limits);

// "%2F" and the like decoded; nothing when an escape is malformed or decodes to NUL.
std::optional<std::string> percentDecodePath(std::string_view path);

std::string_view reasonPhrase(int status);

// The status line, the fields (Content-Type, Content-Length, Connection and the answer's own)
// and, unless it answers a HEAD, the body.
std::string serializeResponse(const HttpResponse& response, bool keepAlive, bool headOnly);

}  // namespace lumarin::service::wire
