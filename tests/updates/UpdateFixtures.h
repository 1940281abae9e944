#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <string>
#include <vector>

#include "base/Base64.h"

namespace lumarin::test {

// One entry of an archive made for a test.
struct ArchiveEntry {
  enum class Kind { file, directory, symlink, hardlink };
  std::string path;
  std::string content;  // files; the target for links
  Kind kind = Kind::file;
  int mode = 0644;
};

// A gzip-compressed tar (or another format libarchive writes) held in memory.
inline std::string makeArchive(const std::vector<ArchiveEntry>& entries, bool zip = false) {
  archive* writer = archive_write_new();
  if (zip) {
    archive_write_set_format_zip(writer);
  } else {
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_gzip(writer);
  }
  std::vector<char> buffer(4 * 1024 * 1024);
  std::size_t used = 0;
  archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
  for (const auto& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.path.c_str());
    archive_entry_set_perm(entry, static_cast<mode_t>(e.mode));
    switch (e.kind) {
      case ArchiveEntry::Kind::file:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
        break;
      case ArchiveEntry::Kind::directory:
        archive_entry_set_filetype(entry, AE_IFDIR);
        break;
      case ArchiveEntry::Kind::symlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink(entry, e.content.c_str());
        break;
      case ArchiveEntry::Kind::hardlink:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_hardlink(entry, e.content.c_str());
        break;
    }
    archive_write_header(writer, entry);
    if (e.kind == ArchiveEntry::Kind::file && !e.content.empty()) {
      archive_write_data(writer, e.content.data(), e.content.size());
    }
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
  return std::string(buffer.data(), used);
}

// An Ed25519 key pair made for one test, signing as the release admin does.
class SigningKey {
 public:
  SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {}
  ~SigningKey() { EVP_PKEY_free(key_); }
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  std::string publicKeyBase64() const {
    std::vector<std::uint8_t> raw(32);
    std::size_t size = raw.size();
    EVP_PKEY_get_raw_public_key(key_, raw.data(), &size);
    return base64::encode(raw);
  }

  std::string sign(const std::string& data) const {
    std::vector<std::uint8_t> signature(64);
    std::size_t size = signature.size();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key_);
    EVP_DigestSign(ctx, signature.data(), &size,
                   reinterpret_cast<const unsigned char*>(data.data()), data.size());
    EVP_MD_CTX_free(ctx);
    return base64::encode(signature);
  }

  // The private key as PEM, for the service's admin command.
  std::string privateKeyPem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key_, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    return pem;
  }

 private:
  EVP_PKEY* key_;
};

}  // namespace lumarin::test
