#pragma once

#include <string_view>

#include "base/Result.h"

namespace lumarin {

// Why a download is refused before anything is unpacked.
enum class SignatureProblem { missingPublicKey, badPublicKey, notSigned, malformed, mismatch };

// Checks the Ed25519 signature (Base64, 64 bytes) of `data` against a public key (Base64, the
// 32 raw bytes). The error's code is a SignatureProblem.
Status verifyEd25519(std::string_view publicKeyBase64, std::string_view signatureBase64,
                     std::string_view data);

}  // namespace lumarin
