// The request-head parser of the service's own front, and the parsers of what a proxy or a
// path hands us: client addresses and device identifiers.
#include <gtest/gtest.h>

#include "service/HttpWire.h"
#include "service/RequestParsers.h"

namespace lumarin::service {
namespace {

using wire::HeadResult;

TEST(ServiceWireTest, ACompleteHeadIsReadWithItsFieldsAndLength) {
  const std::string text =
      "\r\nPUT /api/sync/lumarin?x=1 HTTP/1.1\r\nHost: h\r\nContent-Length: 12\r\n"
      "Authorization:  Bearer abc \r\nExpect: 100-continue\r\n\r\n{\"blob\":\"\"}";
  const auto parsed = wire::parseRequestHead(text, {});
  ASSERT_EQ(parsed.state, HeadResult::State::complete) << parsed.error;
  EXPECT_EQ(parsed.consumed, text.find("\r\n\r\n") + 4);
  EXPECT_EQ(parsed.head.method, "PUT");
  EXPECT_EQ(parsed.head.path, "/api/sync/lumarin");
  EXPECT_EQ(parsed.head.rawQuery, "x=1");
  EXPECT_EQ(parsed.head.contentLength, 12u);
  EXPECT_EQ(parsed.head.header("authorization"), "Bearer abc");
  EXPECT_TRUE(parsed.head.keepAlive);
  EXPECT_TRUE(parsed.head.expectContinue);

  const auto old = wire::parseRequestHead("GET /a%2Fb HTTP/1.0\n\n", {});
  ASSERT_EQ(old.state, HeadResult::State::complete);
  EXPECT_EQ(old.head.path, "/a/b");
  EXPECT_FALSE(old.head.keepAlive);
  EXPECT_FALSE(
      wire::parseRequestHead("GET / HTTP/1.1\r\nConnection: close\r\n\r\n", {}).head.keepAlive);
}

TEST(ServiceWireTest, PartialHeadsWaitUntilTheyCrossABound) {
  wire::Limits limits;
  limits.maxHeaderBytes = 64;
  limits.maxHeaderCount = 2;
  EXPECT_EQ(wire::parseRequestHead("GET / HTTP/1.1\r\nHost: x\r\n", limits).state,
            HeadResult::State::incomplete);
  const auto tooBig =
      wire::parseRequestHead("GET / HTTP/1.1\r\nX: " + std::string(80, 'a'), limits);
  EXPECT_EQ(tooBig.state, HeadResult::State::failed);
  EXPECT_EQ(tooBig.errorStatus, 431);
  const auto tooMany =
      wire::parseRequestHead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", limits);
  EXPECT_EQ(tooMany.errorStatus, 431);
  EXPECT_EQ(wire::parseRequestHead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\n\r\n", limits).state,
            HeadResult::State::complete);
}

TEST(ServiceWireTest, MalformedHeadsFailWithTheirStatus) {
  const std::pair<std::string, int> cases[] = {
      {"GET\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\n\r\n", 505},
      {"GET / FTP/1.0\r\n\r\n", 400},
      {"G(T / HTTP/1.1\r\n\r\n", 400},
      {"GET nopath HTTP/1.1\r\n\r\n", 400},
      {"GET /%zz HTTP/1.1\r\n\r\n", 400},
      {"GET /%00 HTTP/1.1\r\n\r\n", 400},
      {"GET /% HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nA: 1\r\n folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414},
  };
  for (const auto& [text, status] : cases) {
    const auto parsed = wire::parseRequestHead(text, {});
    EXPECT_EQ(parsed.state, HeadResult::State::failed) << text.substr(0, 60);
    EXPECT_EQ(parsed.errorStatus, status) << text.substr(0, 60);
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(ServiceWireTest, AnswersCarryTheirLengthAndNoInjectedLines) {
  HttpResponse response;
  response.status = 429;
  response.body = "{}";
  response.headers.emplace_back("Retry-After", "5\r\nSet-Cookie: x");
  const auto text = wire::serializeResponse(response, true, false);
  EXPECT_TRUE(text.starts_with("HTTP/1.1 429 Too Many Requests\r\n"));
  EXPECT_NE(text.find("Content-Length: 2\r\n"), std::string::npos);
  EXPECT_NE(text.find("Connection: keep-alive"), std::string::npos);
  EXPECT_EQ(text.find("\r\nSet-Cookie"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\r\n\r\n{}"));
  EXPECT_TRUE(wire::serializeResponse(response, false, true).ends_with("\r\n\r\n"));
}

TEST(ServiceWireTest, TheClientAddressIsTheLastForwardedEntryWhenItIsAnAddress) {
  EXPECT_EQ(forwardedClientAddress("203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(forwardedClientAddress("1.1.1.1, 203.0.113.9"), "203.0.113.9");
  EXPECT_EQ(forwardedClientAddress("1.1.1.1,  2001:DB8::1 "), "2001:db8::1");
  EXPECT_EQ(forwardedClientAddress("[2001:db8::2]"), "2001:db8::2");
  EXPECT_EQ(forwardedClientAddress("::ffff:192.0.2.1"), "192.0.2.1");
  // A client's own entries come first; a bad last entry is not skipped to reach them.
  EXPECT_EQ(forwardedClientAddress("203.0.113.9, unknown"), std::nullopt);
  EXPECT_EQ(forwardedClientAddress("203.0.113.9,"), std::nullopt);
  EXPECT_EQ(forwardedClientAddress(""), std::nullopt);
  EXPECT_EQ(forwardedClientAddress("192.0.2.1:8080"), std::nullopt);
  EXPECT_EQ(forwardedClientAddress("999.1.1.1"), std::nullopt);
  EXPECT_EQ(normaliseIpAddress("127.000.0.1"), std::nullopt);
}

TEST(ServiceWireTest, DevicePathsNameOneBoundedPrintableIdentifier) {
  EXPECT_EQ(parseDevicePath("/api/app/devices/LAPTOP-1"), "LAPTOP-1");
  EXPECT_EQ(parseDevicePath("/api/app/devices/" + std::string(128, 'a')), std::string(128, 'a'));
  EXPECT_EQ(parseDevicePath("/api/app/devices/" + std::string(129, 'a')), std::nullopt);
  EXPECT_EQ(parseDevicePath("/api/app/devices/"), std::nullopt);
  EXPECT_EQ(parseDevicePath("/api/app/devices"), std::nullopt);
  EXPECT_EQ(parseDevicePath("/api/app/devicesX/a"), std::nullopt);
  EXPECT_EQ(parseDevicePath("/api/app/devices/a/b"), std::nullopt);
  EXPECT_EQ(parseDevicePath("/api/app/devices/a b"), std::nullopt);
  EXPECT_EQ(parseDevicePath("/api/app/devices/\xc3\xa9"), std::nullopt);
}

}  // namespace
}  // namespace lumarin::service
