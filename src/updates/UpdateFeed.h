#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace lumarin {

// The XML namespace of the feed's own attributes and elements.
inline constexpr std::string_view kUpdateFeedNamespace =
    "https://kestova.example/xml-namespaces/lumarin";

// One offered build, as the update feed (RSS 2.0, one <item> per build) describes it.
struct UpdateFeedItem {
  std::string title;
  std::string pubDate;
  std::string releaseNotes;  // the <description>, HTML
  std::string url;           // the enclosure as written (may be relative to the feed)
  std::optional<std::int64_t> length;
  std::string version;       // the build number ("CFBundleVersion")
  std::string shortVersion;  // the version shown to people; may be empty
  std::string edSignature;   // Base64; empty when the item is unsigned

  // What to show people: the short version, else the build number.
  const std::string& displayVersion() const {
    return shortVersion.empty() ? version : shortVersion;
  }
};

struct UpdateFeed {
  std::vector<UpdateFeedItem> items;
  // Items left out because they cannot be installed (no enclosure, no URL, no version, a
  // length that is not a number).
  std::size_t skippedItems = 0;
};

// Parses a feed. Malformed XML or a document that is not an RSS channel is an error; items
// that are unusable are skipped and counted, so one broken entry does not hide the others.
// The attributes of our namespace are found by its URI, whatever prefix the feed binds it to.
Result<UpdateFeed> parseUpdateFeed(std::string_view xml);

// The newest item that is newer than the running build, or nothing. Short versions decide
// when both have one and they differ; otherwise the build numbers do.
std::optional<UpdateFeedItem> newestUpdate(const UpdateFeed& feed,
                                           std::string_view currentShortVersion,
                                           std::string_view currentBuild);

// Whether `item` is a newer build than the running one (the rule of `newestUpdate`).
bool isNewerBuild(const UpdateFeedItem& item, std::string_view currentShortVersion,
                  std::string_view currentBuild);

// An enclosure URL resolved against the feed's address: absolute URLs stay as they are,
// "/path" takes the feed's scheme and host, anything else is relative to the feed's folder.
std::string resolveFeedURL(std::string_view feedURL, std::string_view reference);

}  // namespace lumarin
