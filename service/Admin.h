#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

namespace lumarin::service {

class Store;

// `lumarin-service admin --db FILE accounts|blobs|reports|usage`: what the store holds, one
// line per row, for whoever runs the service. Password and token hashes are never printed.
// `usage` lists what the limits counted in the hour before `now` (seconds since 1970): uploads
// per installation and address, failed sign-ins, accounts made. Returns the process exit
// status (0, or 1 on a storage error, 2 on an unknown listing).
int runAdmin(Store& store, std::string_view listing, std::ostream& out, std::ostream& err,
             std::int64_t now = 0);

}  // namespace lumarin::service
