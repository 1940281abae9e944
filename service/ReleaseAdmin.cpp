#include "service/ReleaseAdmin.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "base/Base64.h"
#include "base/Iso8601.h"
#include "service/UpdateFeed.h"

namespace lumarin::service {

namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};

std::string toBase64(const unsigned char* data, std::size_t size) {
  return base64::encode(std::vector<std::uint8_t>(data, data + size));
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    return std::nullopt;
  }
  return content.str();
}

// "--name value" pairs; false (with a message) on a stray word or a name without its value.
bool parseOptions(const std::vector<std::string>& arguments,
                  std::map<std::string, std::string>& options, std::ostream& err) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const auto& name = arguments[i];
    if (!name.starts_with("--") || i + 1 >= arguments.size()) {
      err << "release-add: unexpected \"" << name << "\"\n";
      return false;
    }
    options[name.substr(2)] = arguments[++i];
  }
  return true;
}

int addRelease(Store& store, const std::vector<std::string>& arguments, Seconds now,
               std::ostream& out, std::ostream& err) {
  std::map<std::string, std::string> options;
  if (!parseOptions(arguments, options, err)) {
    return 2;
  }
  for (const auto& [name, value] : options) {
    static const char* kKnown[] = {"version",   "short-version", "archive", "private-key",
                                   "signature", "title",         "notes"};
    if (std::find(std::begin(kKnown), std::end(kKnown), name) == std::end(kKnown)) {
      err << "release-add: unknown option --" << name << "\n";
      return 2;
    }
  }
  for (const char* required : {"version", "short-version", "archive"}) {
    if (!options.contains(required)) {
      err << "release-add: --" << required << " is required\n";
      return 2;
    }
  }
  if (options.contains("private-key") == options.contains("signature")) {
    err << "release-add: give either --private-key FILE or --signature BASE64\n";
    return 2;
  }
  Release release;
  release.version = options["version"];
  release.shortVersion = options["short-version"];
  if (!isSafeReleaseToken(release.version) || !isSafeReleaseToken(release.shortVersion)) {
    err << "release-add: versions may hold only letters, digits and \".-_+\"\n";
    return 2;
  }
  const std::string archivePath = options["archive"];
  release.fileName = std::filesystem::path(archivePath).filename().string();
  if (!isSafeReleaseToken(release.fileName)) {
    err << "release-add: the archive's file name may hold only letters, digits and \".-_+\"\n";
    return 2;
  }
  auto archive = readWholeFile(archivePath);
  if (!archive) {
    err << "release-add: cannot read " << archivePath << "\n";
    return 1;
  }
  if (archive->empty()) {
    err << "release-add: " << archivePath << " is empty\n";
    return 1;
  }
  release.title = options.contains("title") ? options["title"] : "Version " + release.shortVersion;
  if (options.contains("notes")) {
    auto notes = readWholeFile(options["notes"]);
    if (!notes) {
      err << "release-add: cannot read " << options["notes"] << "\n";
      return 1;
    }
    release.notes = std::move(*notes);
  }
  std::optional<std::string> publicKey;
  if (options.contains("private-key")) {
    auto pem = readWholeFile(options["private-key"]);
    if (!pem) {
      err << "release-add: cannot read " << options["private-key"] << "\n";
      return 1;
    }
    auto signed_ = signEd25519(*pem, *archive);
    if (!signed_) {
      err << "release-add: " << signed_.error().message << "\n";
      return 1;
    }
    release.edSignature = signed_->signature;
    publicKey = signed_->publicKey;
  } else {
    release.edSignature = options["signature"];
    const auto decoded = base64::decode(release.edSignature);
    if (!decoded || decoded->size() != 64) {
      err << "release-add: --signature must be a Base64 Ed25519 signature (64 bytes)\n";
      return 2;
    }
  }
  release.publishedAt = now;
  auto added = store.addRelease(release, *archive);
  if (!added) {
    err << "release-add: " << added.error().message << "\n";
    return 1;
  }
  out << "added release " << release.version << " (" << release.shortVersion << "), "
      << archive->size() << " bytes, id " << added.value() << "\n";
  if (publicKey) {
    out << "public key (LUMARIN_UPDATE_PUBLIC_KEY): " << *publicKey << "\n";
  }
  return 0;
}

int listReleases(Store& store, std::ostream& out, std::ostream& err) {
  auto rows = store.releases();
  if (!rows) {
    err << rows.error().message << "\n";
    return 1;
  }
  out << "id\tversion\tshortVersion\tbytes\tpublished\tfile\tsignature\n";
  for (const auto& r : rows.value()) {
    out << r.id << "\t" << r.version << "\t" << r.shortVersion << "\t" << r.length << "\t"
        << iso8601::formatUtc(
               std::chrono::system_clock::time_point(std::chrono::seconds(r.publishedAt)))
        << "\t" << r.fileName << "\t" << r.edSignature.substr(0, 16) << "...\n";
  }
  out << rows->size() << " release(s)\n";
  return 0;
}

}  // namespace

Result<Ed25519Signature> signEd25519(std::string_view privateKeyPem, std::string_view data) {
  std::unique_ptr<BIO, BioDeleter> bio(
      BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())));
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key(
      bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) {
    return Error{"the private key is not a PEM private key"};
  }
  if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    return Error{"the private key is not an Ed25519 key"};
  }
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  unsigned char signature[64];
  std::size_t signatureLength = sizeof signature;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), signature, &signatureLength,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
    return Error{"signing failed"};
  }
  unsigned char publicKey[32];
  std::size_t publicKeyLength = sizeof publicKey;
  if (EVP_PKEY_get_raw_public_key(key.get(), publicKey, &publicKeyLength) != 1) {
    return Error{"the public key cannot be derived"};
  }
  return Ed25519Signature{toBase64(signature, signatureLength),
                          toBase64(publicKey, publicKeyLength)};
}

bool isReleaseCommand(std::string_view command) {
  return command == "release-add" || command == "releases";
}

int runReleaseAdmin(Store& store, std::string_view command,
                    const std::vector<std::string>& arguments, Seconds now, std::ostream& out,
                    std::ostream& err) {
  if (command == "release-add") {
    return addRelease(store, arguments, now, out, err);
  }
  if (command == "releases") {
    if (!arguments.empty()) {
      err << "releases takes no arguments\n";
      return 2;
    }
    return listReleases(store, out, err);
  }
  err << "unknown release command \"" << command << "\"\n";
  return 2;
}

}  // namespace lumarin::service
