#include "service/Admin.h"

#include <algorithm>
#include <chrono>
#include <ostream>

#include "base/Iso8601.h"
#include "base/Utf8.h"
#include "service/Store.h"

namespace lumarin::service {

namespace {

std::string stamp(Seconds seconds) {
  return iso8601::formatUtc(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
}

// Blobs and report bodies can be long and hold line breaks; a listing shows their start on the
// row's one line.
std::string preview(std::string_view text) {
  constexpr std::size_t kPreview = 80;
  std::string out(utf8::prefix(text, kPreview));
  for (char& c : out) {
    if (c == '\n' || c == '\r' || c == '\t') {
      c = ' ';
    }
  }
  if (out.size() < text.size()) {
    out += "...";
  }
  return out;
}

}  // namespace

int runAdmin(Store& store, std::string_view listing, std::ostream& out, std::ostream& err,
             std::int64_t now) {
  if (listing == "accounts") {
    auto rows = store.accounts();
    if (!rows) {
      err << rows.error().message << "\n";
      return 1;
    }
    out << "id\temail\ttier\tcreated\n";
    for (const auto& a : rows.value()) {
      out << a.id << "\t" << a.email << "\t" << a.tier << "\t" << stamp(a.createdAt) << "\n";
    }
    out << rows->size() << " account(s)\n";
    return 0;
  }
  if (listing == "blobs") {
    auto rows = store.blobs();
    if (!rows) {
      err << rows.error().message << "\n";
      return 1;
    }
    out << "account\temail\tversion\tbytes\tdevice\tupdated\tblob\n";
    for (const auto& b : rows.value()) {
      out << b.accountId << "\t" << b.email << "\t" << b.version << "\t" << b.blob.size() << "\t"
          << b.deviceId << "\t" << stamp(b.updatedAt) << "\t" << preview(b.blob) << "\n";
    }
    out << rows->size() << " blob(s)\n";
    return 0;
  }
  if (listing == "reports") {
    auto rows = store.reports();
    if (!rows) {
      err << rows.error().message << "\n";
      return 1;
    }
    out << "id\tkind\treceived\tinstallID\taccount\tbytes\tbody\n";
    for (const auto& r : rows.value()) {
      out << r.id << "\t" << r.kind << "\t" << stamp(r.receivedAt) << "\t" << r.installId << "\t"
          << (r.accountId ? std::to_string(*r.accountId) : "-") << "\t" << r.body.size() << "\t"
          << preview(r.body) << "\n";
    }
    const auto anonymous =
        std::count_if(rows->begin(), rows->end(), [](const Report& r) { return !r.accountId; });
    out << rows->size() << " report(s), " << anonymous << " without an account\n";
    return 0;
  }
  if (listing == "usage") {
    constexpr std::int64_t kHour = std::int64_t{60} * 60;
    auto rows = store.usageSince(now - kHour);
    if (!rows) {
      err << rows.error().message << "\n";
      return 1;
    }
    out << "limit\tkey\tcount\tbytes\tfirst\tlast\n";
    for (const auto& u : rows.value()) {
      out << u.scope << "\t" << u.key << "\t" << u.usage.count << "\t" << u.usage.bytes << "\t"
          << stamp(u.usage.oldest) << "\t" << stamp(u.usage.newest) << "\n";
    }
    out << rows->size() << " counter(s) in the last hour\n";
    return 0;
  }
  err << "unknown listing \"" << listing << "\"; use accounts, blobs, reports or usage\n";
  return 2;
}

}  // namespace lumarin::service
