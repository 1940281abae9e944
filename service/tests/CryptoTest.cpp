#include <gtest/gtest.h>

#include <set>

#include "service/Crypto.h"

namespace lumarin::service::crypto {
namespace {

// RFC 7636, appendix B.
constexpr std::string_view kRfcVerifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr std::string_view kRfcChallenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

TEST(ServiceCryptoTest, PkceS256MatchesTheRfcExampleAndNothingNearIt) {
  EXPECT_EQ(base64Url(sha256(kRfcVerifier)), kRfcChallenge);
  EXPECT_TRUE(pkceMatches(kRfcVerifier, kRfcChallenge));

  std::string otherVerifier(kRfcVerifier);
  otherVerifier.back() = 'j';
  EXPECT_FALSE(pkceMatches(otherVerifier, kRfcChallenge));
  std::string paddedChallenge = std::string(kRfcChallenge) + "=";
  EXPECT_FALSE(pkceMatches(kRfcVerifier, paddedChallenge));
  // "plain" is not accepted: the verifier itself is never its own challenge.
  EXPECT_FALSE(pkceMatches(kRfcVerifier, kRfcVerifier));
}

TEST(ServiceCryptoTest, VerifiersOutsideTheRfcFormNeverMatch) {
  const std::string shortVerifier(42, 'a');
  EXPECT_FALSE(pkceMatches(shortVerifier, base64Url(sha256(shortVerifier))));
  const std::string longest(128, '~');
  EXPECT_TRUE(pkceMatches(longest, base64Url(sha256(longest))));
  const std::string tooLong(129, 'a');
  EXPECT_FALSE(pkceMatches(tooLong, base64Url(sha256(tooLong))));
  const std::string withPlus = std::string(42, 'a') + "+";
  EXPECT_FALSE(pkceMatches(withPlus, base64Url(sha256(withPlus))));

  EXPECT_TRUE(isValidS256Challenge(kRfcChallenge));
  EXPECT_FALSE(isValidS256Challenge(kRfcChallenge.substr(1)));
  EXPECT_FALSE(isValidS256Challenge(std::string(42, 'A') + "/"));
}

TEST(ServiceCryptoTest, Base64UrlHasNoPaddingAndRandomStringsHaveTheProgramsLengths) {
  EXPECT_EQ(base64Url(""), "");
  EXPECT_EQ(base64Url("f"), "Zg");
  EXPECT_EQ(base64Url("fo"), "Zm8");
  EXPECT_EQ(base64Url("foo"), "Zm9v");
  EXPECT_EQ(base64Url("\xfb\xff"), "-_8");

  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    const auto token = randomUrlSafe(32);
    EXPECT_EQ(token.size(), 43u);
    EXPECT_EQ(token.find_first_of("+/="), std::string::npos);
    seen.insert(token);
  }
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(randomUrlSafe(16).size(), 22u);
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(ServiceCryptoTest, PasswordHashesAreSaltedAndRejectAnythingElse) {
  const auto a = hashPassword("correct horse", 1000);
  const auto b = hashPassword("correct horse", 1000);
  EXPECT_NE(a, b);  // salted
  EXPECT_TRUE(a.starts_with("pbkdf2-sha256$1000$"));
  EXPECT_EQ(a.find("correct"), std::string::npos);
  EXPECT_TRUE(verifyPassword("correct horse", a));
  EXPECT_TRUE(verifyPassword("correct horse", b));
  EXPECT_FALSE(verifyPassword("correct horse ", a));
  EXPECT_FALSE(verifyPassword("", a));

  // Stored values that are not ours, or are damaged, never verify (and never throw).
  const auto cut = a.substr(0, a.size() - 1);
  for (const std::string& stored :
       {std::string(), std::string("correct horse"), cut, std::string("pbkdf2-sha256$0$AAAA$AAAA"),
        std::string("pbkdf2-sha256$99999999999$AAAA$AAAA"), std::string("md5$1$a$b"),
        std::string("pbkdf2-sha256$1000$!!$AAAA"), a + "$extra"}) {
    EXPECT_FALSE(verifyPassword("correct horse", stored)) << stored;
  }
}

}  // namespace
}  // namespace lumarin::service::crypto
