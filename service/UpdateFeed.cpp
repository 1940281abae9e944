#include "service/UpdateFeed.h"

#include <chrono>
#include <cstdio>
#include <pugixml.hpp>
#include <sstream>

#include "base/Iso8601.h"

namespace lumarin::service {

bool isSafeReleaseToken(std::string_view text) {
  if (text.empty() || text.size() > 128 || text == "." || text == "..") {
    return false;
  }
  for (char c : text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_' || c == '+';
    if (!ok) {
      return false;
    }
  }
  return true;
}

std::string releaseArchivePath(const Release& release) {
  return std::string(kUpdateArchivePrefix) + release.version + "/" + release.fileName;
}

std::string formatRfc822(Seconds time) {
  static constexpr const char* kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  constexpr Seconds kDay = 86400;
  Seconds days = time / kDay;
  Seconds rest = time % kDay;
  if (rest < 0) {
    rest += kDay;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  iso8601::civilFromDays(days, year, month, day);
  // 1970-01-01 was a Thursday.
  const auto weekday = static_cast<std::size_t>(((days % 7) + 7) % 7);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02u %s %04lld %02lld:%02lld:%02lld +0000",
                kDays[weekday], day, kMonths[month - 1], static_cast<long long>(year),
                static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return buffer;
}

std::string renderUpdateFeed(const std::vector<Release>& releases, std::string_view archiveBase) {
  // pugixml escapes every text and attribute it writes, so notes and titles can hold anything.
  pugi::xml_document document;
  auto declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  auto rss = document.append_child("rss");
  rss.append_attribute("version") = "2.0";
  rss.append_attribute("xmlns:lumarin") = std::string(kUpdateNamespace).c_str();
  auto channel = rss.append_child("channel");
  channel.append_child("title").text() = "Lumarin";
  channel.append_child("description").text() = "New versions of Lumarin";
  channel.append_child("language").text() = "en";
  for (auto it = releases.rbegin(); it != releases.rend(); ++it) {
    const Release& release = *it;
    auto item = channel.append_child("item");
    item.append_child("title").text() =
        (release.title.empty() ? "Version " + release.shortVersion : release.title).c_str();
    item.append_child("pubDate").text() = formatRfc822(release.publishedAt).c_str();
    item.append_child("lumarin:version").text() = release.version.c_str();
    item.append_child("lumarin:shortVersionString").text() = release.shortVersion.c_str();
    item.append_child("description").text() = release.notes.c_str();
    auto enclosure = item.append_child("enclosure");
    enclosure.append_attribute("url") =
        (std::string(archiveBase) + releaseArchivePath(release)).c_str();
    enclosure.append_attribute("length") = std::to_string(release.length).c_str();
    enclosure.append_attribute("type") = "application/octet-stream";
    enclosure.append_attribute("lumarin:version") = release.version.c_str();
    enclosure.append_attribute("lumarin:shortVersionString") = release.shortVersion.c_str();
    enclosure.append_attribute("lumarin:edSignature") = release.edSignature.c_str();
  }
  std::ostringstream out;
  document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return out.str();
}

}  // namespace lumarin::service
