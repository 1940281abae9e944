#include "updates/UpdateFeed.h"

#include <charconv>
#include <pugixml.hpp>

#include "updates/Version.h"

namespace lumarin {

namespace {

// Text of an element, CDATA sections and plain text together.
std::string textOf(const pugi::xml_node& node) {
  std::string out;
  for (const auto& child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      out += child.value();
    }
  }
  return out;
}

// The prefix bound to our namespace on the root element ("lumarin" when the feed binds it to
// that name), or nothing when the feed does not use the namespace.
std::optional<std::string> ourPrefix(const pugi::xml_node& root) {
  for (const auto& attribute : root.attributes()) {
    const std::string_view name = attribute.name();
    if (name.starts_with("xmlns:") && attribute.value() == kUpdateFeedNamespace) {
      return std::string(name.substr(6));
    }
  }
  return std::nullopt;
}

std::optional<std::int64_t> parseLength(std::string_view text) {
  std::int64_t value = 0;
  const auto* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || value < 0) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

Result<UpdateFeed> parseUpdateFeed(std::string_view xml) {
  pugi::xml_document document;
  // No DOCTYPE processing beyond skipping it: pugixml never fetches or expands external
  // entities, so a feed cannot make us read files or other URLs.
  const auto parsed =
      document.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    return Error{std::string("the update feed is not well-formed XML: ") + parsed.description() +
                 " at offset " + std::to_string(parsed.offset)};
  }
  const auto rss = document.child("rss");
  const auto channel = rss.child("channel");
  if (!rss || !channel) {
    return Error{"the update feed is not an RSS channel"};
  }
  const auto prefix = ourPrefix(rss);
  auto qualified = [&](const char* local) {
    return prefix ? *prefix + ":" + local : std::string("\x01");  // never matches
  };
  const auto versionName = qualified("version");
  const auto shortVersionName = qualified("shortVersionString");
  const auto signatureName = qualified("edSignature");

  UpdateFeed feed;
  for (const auto& item : channel.children("item")) {
    UpdateFeedItem entry;
    entry.title = textOf(item.child("title"));
    entry.pubDate = textOf(item.child("pubDate"));
    entry.releaseNotes = textOf(item.child("description"));
    const auto enclosure = item.child("enclosure");
    entry.url = enclosure.attribute("url").value();
    // The enclosure's attributes first; elements of the item stand in for them.
    entry.version = enclosure.attribute(versionName.c_str()).value();
    if (entry.version.empty()) {
      entry.version = textOf(item.child(versionName.c_str()));
    }
    entry.shortVersion = enclosure.attribute(shortVersionName.c_str()).value();
    if (entry.shortVersion.empty()) {
      entry.shortVersion = textOf(item.child(shortVersionName.c_str()));
    }
    entry.edSignature = enclosure.attribute(signatureName.c_str()).value();
    bool usable = enclosure && !entry.url.empty() && !entry.version.empty();
    if (const auto length = enclosure.attribute("length"); usable && length) {
      entry.length = parseLength(length.value());
      usable = entry.length.has_value();
    }
    if (!usable) {
      ++feed.skippedItems;
      continue;
    }
    feed.items.push_back(std::move(entry));
  }
  return feed;
}

bool isNewerBuild(const UpdateFeedItem& item, std::string_view currentShortVersion,
                  std::string_view currentBuild) {
  if (!item.shortVersion.empty() && !currentShortVersion.empty()) {
    const auto byShort = compareVersions(item.shortVersion, currentShortVersion);
    if (std::is_neq(byShort)) {
      return std::is_gt(byShort);
    }
  }
  return std::is_gt(compareVersions(item.version, currentBuild));
}

std::optional<UpdateFeedItem> newestUpdate(const UpdateFeed& feed,
                                           std::string_view currentShortVersion,
                                           std::string_view currentBuild) {
  const UpdateFeedItem* best = nullptr;
  for (const auto& item : feed.items) {
    if (!isNewerBuild(item, currentShortVersion, currentBuild)) {
      continue;
    }
    if (best == nullptr || isNewerBuild(item, best->shortVersion, best->version)) {
      best = &item;
    }
  }
  if (best == nullptr) {
    return std::nullopt;
  }
  return *best;
}

std::string resolveFeedURL(std::string_view feedURL, std::string_view reference) {
  if (reference.find("://") != std::string_view::npos) {
    return std::string(reference);
  }
  const auto schemeEnd = feedURL.find("://");
  if (schemeEnd == std::string_view::npos) {
    return std::string(reference);
  }
  const auto pathStart = feedURL.find('/', schemeEnd + 3);
  const auto origin = feedURL.substr(0, pathStart);
  if (reference.starts_with("//")) {
    return std::string(feedURL.substr(0, schemeEnd + 1)) + std::string(reference);
  }
  if (reference.starts_with("/")) {
    return std::string(origin) + std::string(reference);
  }
  if (pathStart == std::string_view::npos) {
    return std::string(origin) + "/" + std::string(reference);
  }
  auto path = feedURL.substr(0, feedURL.find_first_of("?#"));
  return std::string(path.substr(0, path.rfind('/') + 1)) + std::string(reference);
}

}  // namespace lumarin
