#pragma once

#include <string_view>

namespace lumarin {

// Whether the program may talk to this URL: https anywhere, plain http only to a loopback
// host (127.0.0.0/8, "localhost", [::1]), where nothing travels over a network. Tokens ride in
// every request's header, so a plain-http service elsewhere would hand them to anyone on the
// path.
bool isPermittedServiceURL(std::string_view url);

}  // namespace lumarin
