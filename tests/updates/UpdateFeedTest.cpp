#include <gtest/gtest.h>

#include "updates/UpdateFeed.h"

namespace lumarin {
namespace {

std::string feedWith(const std::string& items,
                     const std::string& binding =
                         R"(xmlns:lumarin="https://kestova.example/xml-namespaces/lumarin")") {
  return R"(<?xml version="1.0" encoding="utf-8"?><rss version="2.0" )" + binding +
         "><channel><title>Lumarin</title>" + items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& shortVersion,
                 const std::string& extra = "") {
  return "<item><title>Version " + shortVersion +
         "</title><pubDate>Sun, 01 Mar 2026 12:00:00 +0000</pubDate>"
         "<description><![CDATA[<p>Notes ]]>&amp; more</description>"
         R"(<enclosure url="/updates/archives/)" +
         version + R"(/a.tar.gz" length="120" type="application/octet-stream" lumarin:version=")" +
         version + R"(" lumarin:shortVersionString=")" + shortVersion +
         R"(" lumarin:edSignature="c2ln" )" + extra + "/></item>";
}

TEST(UpdateFeedTest, ItemsCarryEverythingTheUpdaterNeeds) {
  auto feed = parseUpdateFeed(feedWith(item("42", "1.10")));
  ASSERT_TRUE(feed.ok()) << feed.error().message;
  ASSERT_EQ(feed->items.size(), 1U);
  const auto& it = feed->items[0];
  EXPECT_EQ(it.title, "Version 1.10");
  EXPECT_EQ(it.version, "42");
  EXPECT_EQ(it.shortVersion, "1.10");
  EXPECT_EQ(it.edSignature, "c2ln");
  EXPECT_EQ(it.length, 120);
  EXPECT_EQ(it.url, "/updates/archives/42/a.tar.gz");
  // CDATA and escaped text read back as one text.
  EXPECT_EQ(it.releaseNotes, "<p>Notes & more");
  EXPECT_EQ(it.pubDate, "Sun, 01 Mar 2026 12:00:00 +0000");
}

TEST(UpdateFeedTest, OurAttributesAreFoundByNamespaceNotByPrefix) {
  std::string other = item("42", "1.10");
  for (std::string::size_type at; (at = other.find("lumarin:")) != std::string::npos;) {
    other.replace(at, 8, "u:");
  }
  auto feed = parseUpdateFeed(
      feedWith(other, R"(xmlns:u="https://kestova.example/xml-namespaces/lumarin")"));
  ASSERT_TRUE(feed.ok());
  ASSERT_EQ(feed->items.size(), 1U);
  EXPECT_EQ(feed->items[0].version, "42");

  // The right prefix bound to a foreign namespace is not ours.
  auto foreign = parseUpdateFeed(
      feedWith(item("42", "1.10"), R"(xmlns:lumarin="https://elsewhere.example/ns")"));
  ASSERT_TRUE(foreign.ok());
  EXPECT_TRUE(foreign->items.empty());
  EXPECT_EQ(foreign->skippedItems, 1U);
}

TEST(UpdateFeedTest, MalformedXmlAndNonFeedsAreErrors) {
  for (const std::string& bad :
       {std::string(""), std::string("not xml"),
        std::string("<rss><channel><item></channel></rss>"),
        feedWith(item("42", "1.10")).substr(0, 150), std::string("<html><body/></html>"),
        std::string("<rss version=\"2.0\"/>")}) {
    auto feed = parseUpdateFeed(bad);
    EXPECT_FALSE(feed.ok()) << bad;
  }
}

TEST(UpdateFeedTest, UnusableItemsAreSkippedAndTheRestKept) {
  const std::string noEnclosure = "<item><title>x</title></item>";
  const std::string noUrl = R"(<item><enclosure lumarin:version="50" length="1"/></item>)";
  const std::string noVersion = R"(<item><enclosure url="/a" length="1"/></item>)";
  const std::string badLength =
      item("51", "2.1", "")
          .replace(item("51", "2.1", "").find("length=\"120\""), 12, "length=\"12x\"");
  auto feed =
      parseUpdateFeed(feedWith(noEnclosure + noUrl + noVersion + badLength + item("42", "1.10")));
  ASSERT_TRUE(feed.ok());
  EXPECT_EQ(feed->skippedItems, 4U);
  ASSERT_EQ(feed->items.size(), 1U);
  EXPECT_EQ(feed->items[0].version, "42");
}

TEST(UpdateFeedTest, VersionElementsOfTheItemStandInForEnclosureAttributes) {
  const std::string xml = feedWith(
      "<item><lumarin:version>43</lumarin:version>"
      "<lumarin:shortVersionString>1.11</lumarin:shortVersionString>"
      R"(<enclosure url="https://x.example/a.zip"/></item>)");
  auto feed = parseUpdateFeed(xml);
  ASSERT_TRUE(feed.ok());
  ASSERT_EQ(feed->items.size(), 1U);
  EXPECT_EQ(feed->items[0].version, "43");
  EXPECT_EQ(feed->items[0].shortVersion, "1.11");
  EXPECT_FALSE(feed->items[0].length.has_value());
  EXPECT_TRUE(feed->items[0].edSignature.empty());
}

TEST(UpdateFeedTest, NewestUpdateIsTheNewestBuildAboveTheRunningOne) {
  auto feed =
      parseUpdateFeed(feedWith(item("41", "1.9") + item("43", "1.10.1") + item("42", "1.10")));
  ASSERT_TRUE(feed.ok());
  EXPECT_EQ(newestUpdate(feed.value(), "1.9", "41")->version, "43");
  EXPECT_EQ(newestUpdate(feed.value(), "1.10", "42")->version, "43");
  EXPECT_FALSE(newestUpdate(feed.value(), "1.10.1", "43").has_value());
  EXPECT_FALSE(newestUpdate(feed.value(), "2.0", "1").has_value());
  // The feed's order means nothing: the newest first or last is still the newest.
  for (const auto& items : {item("43", "1.10.1") + item("41", "1.9") + item("42", "1.10"),
                            item("42", "1.10") + item("41", "1.9") + item("43", "1.10.1")}) {
    auto shuffled = parseUpdateFeed(feedWith(items));
    ASSERT_TRUE(shuffled.ok());
    const auto newest = newestUpdate(shuffled.value(), "1.9", "41");
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->version, "43");
  }
  // Same short version: the build number decides.
  UpdateFeedItem rebuilt;
  rebuilt.version = "44";
  rebuilt.shortVersion = "1.10.1";
  EXPECT_TRUE(isNewerBuild(rebuilt, "1.10.1", "43"));
  EXPECT_FALSE(isNewerBuild(rebuilt, "1.10.1", "44"));
  // Without short versions only builds count.
  rebuilt.shortVersion.clear();
  EXPECT_TRUE(isNewerBuild(rebuilt, "9.9", "43"));
}

TEST(UpdateFeedTest, EnclosureURLsResolveAgainstTheFeed) {
  const std::string feed = "https://u.example:8443/updates/feed.xml?x=1";
  EXPECT_EQ(resolveFeedURL(feed, "https://cdn.example/a.tar.gz"), "https://cdn.example/a.tar.gz");
  EXPECT_EQ(resolveFeedURL(feed, "/archives/a.tar.gz"), "https://u.example:8443/archives/a.tar.gz");
  EXPECT_EQ(resolveFeedURL(feed, "a.tar.gz"), "https://u.example:8443/updates/a.tar.gz");
  EXPECT_EQ(resolveFeedURL(feed, "//cdn.example/a"), "https://cdn.example/a");
  EXPECT_EQ(resolveFeedURL("http://127.0.0.1:80", "a"), "http://127.0.0.1:80/a");
}

}  // namespace
}  // namespace lumarin
