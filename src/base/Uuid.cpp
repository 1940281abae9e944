#include "base/Uuid.h"

#include <random>

#include "base/Hex.h"

namespace lumarin {

namespace {

bool isHyphenPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

Uuid Uuid::random() {
  // One engine per thread, seeded from the operating system's entropy source.
  thread_local std::mt19937_64 engine{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  Bytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    std::uint64_t word = engine();
    for (std::size_t j = 0; j < 8; ++j) {
      bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return Uuid(bytes);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) {
    return std::nullopt;
  }
  Bytes bytes{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHyphenPosition(i)) {
      if (text[i] != '-') {
        return std::nullopt;
      }
      continue;
    }
    const int v = hexDigitValue(text[i]);
    if (v < 0) {
      return std::nullopt;
    }
    bytes[nibble / 2] =
        static_cast<std::uint8_t>(bytes[nibble / 2] | (nibble % 2 == 0 ? v << 4 : v));
    ++nibble;
  }
  return Uuid(bytes);
}

std::string Uuid::toString() const {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      out.push_back('-');
    }
    out.push_back(digits[bytes_[i] >> 4]);
    out.push_back(digits[bytes_[i] & 0x0F]);
  }
  return out;
}

bool Uuid::isNil() const {
  for (auto b : bytes_) {
    if (b != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace lumarin
