#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "service/Store.h"

namespace lumarin::service {

// An Ed25519 signature made with a private key in PEM (as `openssl genpkey -algorithm ed25519`
// writes it), plus the key's public half, both Base64.
struct Ed25519Signature {
  std::string signature;
  std::string publicKey;
};
Result<Ed25519Signature> signEd25519(std::string_view privateKeyPem, std::string_view data);

// The admin's release commands:
//
//   release-add --version BUILD --short-version X.Y.Z --archive FILE
//               (--private-key PEM_FILE | --signature BASE64)
//               [--title TEXT] [--notes HTML_FILE]
//   releases
//
// `release-add` signs the archive itself when given the private key (and prints the public key
// the program must be built with); a signature made elsewhere is accepted as it is, so the key
// never has to be on the service's machine. `now` stamps the release. Returns the process exit
// status: 0, 1 on a storage or file error, 2 on a usage error.
int runReleaseAdmin(Store& store, std::string_view command,
                    const std::vector<std::string>& arguments, Seconds now, std::ostream& out,
                    std::ostream& err);

bool isReleaseCommand(std::string_view command);

}  // namespace lumarin::service
