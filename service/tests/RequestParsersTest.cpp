#include <gtest/gtest.h>

#include "base/Json.h"
#include "service/RequestParsers.h"

namespace lumarin::service {
namespace {

TEST(ServiceRequestParsersTest, TokenRequestNeedsThreeNonEmptyStrings) {
  auto ok = parseTokenRequest(R"({"code":"c","verifier":"v","deviceId":"D","extra":1})");
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->code, "c");
  EXPECT_EQ(ok->verifier, "v");
  EXPECT_EQ(ok->deviceId, "D");

  for (const char* body : {"", "{", "[]", "\"code\"", R"({"verifier":"v","deviceId":"D"})",
                           R"({"code":1,"verifier":"v","deviceId":"D"})",
                           R"({"code":"","verifier":"v","deviceId":"D"})",
                           R"({"code":"c","verifier":"v","deviceId":null})",
                           R"({"code":"c\u0000","verifier":"v","deviceId":"D"})"}) {
    auto bad = parseTokenRequest(body);
    ASSERT_FALSE(bad.ok()) << body;
    EXPECT_EQ(bad.error().code, kBadRequest);
    EXPECT_FALSE(bad.error().message.empty());
  }
}

TEST(ServiceRequestParsersTest, SyncPutTakesAnIntegerBaseAndAJsonBlob) {
  auto ok = parseSyncPut(R"({"blob":"{\"a\":1}","baseVersion":7,"deviceId":"D"})");
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->blob, R"({"a":1})");
  EXPECT_EQ(ok->baseVersion, 7);

  auto noDevice = parseSyncPut(R"({"blob":"[]","baseVersion":0})");
  ASSERT_TRUE(noDevice.ok());
  EXPECT_EQ(noDevice->deviceId, "");

  for (const char* body :
       {R"({"blob":"{}","baseVersion":"1"})", R"({"blob":"{}","baseVersion":1.5})",
        R"({"blob":"{}","baseVersion":-1})", R"({"blob":{},"baseVersion":1})",
        R"({"baseVersion":1})", R"({"blob":"{}"})",
        R"({"blob":"{}","baseVersion":18446744073709551615})",
        R"({"blob":"{}","baseVersion":1,"deviceId":7})"}) {
    EXPECT_FALSE(parseSyncPut(body).ok()) << body;
  }
}

TEST(ServiceRequestParsersTest, SyncBlobsMustBeJsonAtMostSixtyFourLevelsDeep) {
  const auto put = [](const std::string& blob) {
    return parseSyncPut(json::dump(json::Json{{"blob", blob}, {"baseVersion", 0}}));
  };
  // Not JSON at all, cut short, empty, or JSON followed by something else.
  for (const std::string blob : {"not json", "{\"a\":", "", "{} {}", "{\"a\":1,}"}) {
    auto refused = put(blob);
    ASSERT_FALSE(refused.ok()) << blob;
    EXPECT_EQ(refused.error().code, kBadRequest);
    EXPECT_NE(refused.error().message.find("\"blob\" must be JSON"), std::string::npos)
        << refused.error().message;
  }
  // Exactly 64 levels are a blob; 65, or the 300,000 that crashed a client, are not.
  EXPECT_TRUE(put(std::string(64, '[') + std::string(64, ']')).ok());
  for (const std::size_t depth : {65U, 300000U}) {
    auto deep =
        put("{\"monitoredApps\":" + std::string(depth, '[') + std::string(depth, ']') + "}");
    ASSERT_FALSE(deep.ok()) << depth;
    EXPECT_EQ(deep.error().code, kBadRequest);
    EXPECT_NE(deep.error().message.find("deeper than 64"), std::string::npos)
        << deep.error().message;
  }
  // Brackets inside the blob's strings are text, not depth.
  EXPECT_TRUE(put("{\"name\":\"" + std::string(100, '[') + "\"}").ok());
}

TEST(ServiceRequestParsersTest, ReportsAreObjectsWithTheMembersTheProgramTypesChecked) {
  auto improve = parseReport("improve", R"({"installID":"I","events":[{"n":"x"}],"z": 1.0})");
  ASSERT_TRUE(improve.ok());
  EXPECT_EQ(improve->installId, "I");
  EXPECT_EQ(improve->json, R"({"events":[{"n":"x"}],"installID":"I","z":1.0})");

  EXPECT_FALSE(parseReport("improve", R"({"events":{}})").ok());
  EXPECT_FALSE(parseReport("crash", R"({"callStack":[]})").ok());
  EXPECT_FALSE(parseReport("testlog", R"({"log":1})").ok());
  EXPECT_FALSE(parseReport("crash", R"({"installID":5})").ok());
  EXPECT_FALSE(parseReport("crash", "[1]").ok());

  // A NUL byte ends the JSON text for the parser; what is stored is the re-serialised object,
  // so nothing after it (and no raw NUL) reaches the database.
  const std::string withNul("{\"log\":\"a\"}\0garbage", 19);
  auto cut = parseReport("testlog", withNul);
  if (cut.ok()) {
    EXPECT_EQ(cut->json, R"({"log":"a"})");
  }
  auto escaped = parseReport("testlog", R"({"log":"a\u0000b"})");
  ASSERT_TRUE(escaped.ok());
  EXPECT_EQ(escaped->json.find('\0'), std::string::npos);
}

TEST(ServiceRequestParsersTest, DeeplyNestedJsonIsRefusedBeforeParsing) {
  const std::string deep =
      "{\"events\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  auto result = parseReport("improve", deep);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().code, kBadRequest);
  // Brackets inside strings do not count.
  const std::string inString = R"({"log":")" + std::string(1000, '[') + R"("})";
  EXPECT_TRUE(parseReport("testlog", inString).ok());
  EXPECT_TRUE(parseEmptyObject("").ok());
  EXPECT_TRUE(parseEmptyObject(" {} ").ok());
  EXPECT_FALSE(parseEmptyObject("null").ok());
}

TEST(ServiceRequestParsersTest, FormDecodingHandlesPlusEscapesAndRejectsBrokenOnes) {
  auto pairs = parseUrlEncoded("a=1+2&b=%C3%A9%26&&c&=x&d=");
  ASSERT_TRUE(pairs.ok());
  ASSERT_EQ(pairs->size(), 5u);
  EXPECT_EQ((*pairs)[0], (std::pair<std::string, std::string>{"a", "1 2"}));
  EXPECT_EQ((*pairs)[1].second, "é&");
  EXPECT_EQ((*pairs)[2], (std::pair<std::string, std::string>{"c", ""}));
  EXPECT_EQ((*pairs)[3].first, "");
  EXPECT_EQ((*pairs)[4].second, "");
  for (const char* bad : {"a=%", "a=%4", "a=%G1", "%zz=1"}) {
    EXPECT_FALSE(parseUrlEncoded(bad).ok()) << bad;
  }

  auto form = parseSignInForm("app=lumarin&email=A%40b.c&password=p&action=create&email=second");
  ASSERT_TRUE(form.ok());
  EXPECT_EQ(form->email, "A@b.c");  // the first of repeated names
  EXPECT_EQ(form->action, "create");
  EXPECT_EQ(parseSignInForm("email=a").value().action, "signin");
  EXPECT_FALSE(parseSignInForm("action=delete").ok());
  EXPECT_FALSE(parseSignInForm("password=" + std::string(1025, 'x')).ok());
}

TEST(ServiceRequestParsersTest, BearerTokensEmailsAndStates) {
  EXPECT_EQ(bearerToken("Bearer abc"), "abc");
  EXPECT_EQ(bearerToken("bearer  abc "), "abc");
  EXPECT_EQ(bearerToken("BEARER a.b-c_d~"), "a.b-c_d~");
  for (const char* bad :
       {"", "Bearer", "Bearer ", "Basic abc", "Bearer a b", "Bearerabc", "Bearer a\tb"}) {
    EXPECT_FALSE(bearerToken(bad).has_value()) << bad;
  }

  EXPECT_EQ(normaliseEmail("  Ada@Example.COM "), "ada@example.com");
  EXPECT_EQ(normaliseEmail("名前@例え.jp"), "名前@例え.jp");
  for (const char* bad : {"", "ada", "@example.com", "ada@", "a da@x.y", "ada@x\n", "\xff@x.y"}) {
    EXPECT_FALSE(normaliseEmail(bad).has_value()) << bad;
  }
  EXPECT_FALSE(normaliseEmail(std::string(250, 'a') + "@x.yz").has_value());

  EXPECT_TRUE(isValidState("abc-DEF_123"));
  EXPECT_TRUE(isValidState(std::string(512, 'x')));
  EXPECT_FALSE(isValidState(std::string(513, 'x')));
  EXPECT_FALSE(isValidState(""));
  EXPECT_FALSE(isValidState("a b"));
  EXPECT_FALSE(isValidState("\xc3\xa9"));
}

}  // namespace
}  // namespace lumarin::service
