#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "service/Store.h"

namespace lumarin::service {

// The XML namespace of the feed's own attributes (version, shortVersionString, edSignature).
inline constexpr std::string_view kUpdateNamespace =
    "https://kestova.example/xml-namespaces/lumarin";

// Where the program finds the feed and the archives.
inline constexpr std::string_view kUpdateFeedPath = "/updates/feed.xml";
inline constexpr std::string_view kUpdateArchivePrefix = "/updates/archives/";

// Versions and file names become path segments of download URLs as they are, so they are kept
// to letters, digits and ".-_+" (and never "." or ".." alone).
bool isSafeReleaseToken(std::string_view text);

// "/updates/archives/<version>/<fileName>".
std::string releaseArchivePath(const Release& release);

// "Sun, 01 Mar 2026 12:00:00 +0000" (RFC 822 as RSS uses it), whatever the process locale.
std::string formatRfc822(Seconds time);

// The RSS 2.0 feed of `releases`, newest first. Archive URLs are `archiveBase` (the public
// base URL without its trailing slash, or empty for path-absolute URLs that the program
// resolves against the feed's own address) followed by the archive's path.
std::string renderUpdateFeed(const std::vector<Release>& releases, std::string_view archiveBase);

}  // namespace lumarin::service
