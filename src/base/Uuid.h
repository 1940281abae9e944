#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumarin {

// A 128-bit identifier. `random()` makes version 4 identifiers; the text form is the canonical
// 8-4-4-4-12 upper-case one ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
class Uuid {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  Uuid() = default;  // the nil identifier
  explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

  static Uuid random();
  // Strict: exactly 36 characters, hyphens at 8, 13, 18 and 23, hexadecimal digits (either
  // case) everywhere else. Anything else, including braces or white space, is refused.
  static std::optional<Uuid> parse(std::string_view text);

  std::string toString() const;
  const Bytes& bytes() const { return bytes_; }
  bool isNil() const;
  int version() const { return bytes_[6] >> 4; }

  // Byte order (spelled out: clang-tidy misreads a defaulted <=> used as a map key).
  bool operator==(const Uuid& other) const { return bytes_ == other.bytes_; }
  bool operator<(const Uuid& other) const { return bytes_ < other.bytes_; }

 private:
  Bytes bytes_{};
};

}  // namespace lumarin

template <>
struct std::hash<lumarin::Uuid> {
  std::size_t operator()(const lumarin::Uuid& u) const noexcept {
    std::size_t h = 1469598103934665603ULL;
    for (auto b : u.bytes()) {
      h = (h ^ b) * 1099511628211ULL;
    }
    return h;
  }
};
