#pragma once

#include <iosfwd>
#include <string_view>

namespace lumarin::service {

class Store;

// `lumarin-service admin --db FILE accounts|blobs|reports`: what the store holds, one line per
// row, for whoever runs the service. Password and token hashes are never printed. Returns the
// process exit status (0, or 1 on a storage error, 2 on an unknown listing).
int runAdmin(Store& store, std::string_view listing, std::ostream& out, std::ostream& err);

}  // namespace lumarin::service
