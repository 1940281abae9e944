#include "updates/SignatureCheck.h"

#include <openssl/evp.h>

#include <memory>

#include "base/Base64.h"

namespace lumarin {

namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

Error problem(SignatureProblem kind, std::string message) {
  return Error{std::move(message), static_cast<int>(kind)};
}

// Base64 as people paste it: surrounding white space is dropped, the rest must be exact.
std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t' ||
                           text.front() == '\r')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t' ||
                           text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

Status verifyEd25519(std::string_view publicKeyBase64, std::string_view signatureBase64,
                     std::string_view data) {
  if (trimmed(publicKeyBase64).empty()) {
    return problem(SignatureProblem::missingPublicKey,
                   "this build has no public key to check updates with");
  }
  const auto key = base64::decode(trimmed(publicKeyBase64));
  if (!key || key->size() != 32) {
    return problem(SignatureProblem::badPublicKey,
                   "the built-in public key is not a Base64 Ed25519 key");
  }
  if (trimmed(signatureBase64).empty()) {
    return problem(SignatureProblem::notSigned, "the update is not signed");
  }
  const auto signature = base64::decode(trimmed(signatureBase64));
  if (!signature || signature->size() != 64) {
    return problem(SignatureProblem::malformed,
                   "the update's signature is not an Ed25519 signature");
  }
  std::unique_ptr<EVP_PKEY, PkeyDeleter> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key->data(), key->size()));
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  if (!pkey || !ctx) {
    return problem(SignatureProblem::badPublicKey, "the built-in public key cannot be used");
  }
  // Ed25519 signs the message itself (no separate digest), so the one-shot call is the only
  // form OpenSSL offers for it.
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1 ||
      EVP_DigestVerify(ctx.get(), signature->data(), signature->size(),
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
    return problem(SignatureProblem::mismatch,
                   "the update's signature does not match its contents");
  }
  return success();
}

}  // namespace lumarin
