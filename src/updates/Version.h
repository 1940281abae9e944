#pragma once

#include <compare>
#include <string_view>

namespace lumarin {

// Orders version strings the way people read them: "1.10" > "1.9", "2.0" == "2.0.0",
// "1.0b2" > "1.0b1", and a pre-release ("1.0b1", "1.0-rc1") before its release ("1.0").
// Each version splits into numbers and words at every change between digits and other
// characters; ".", "-", "_", "+" and spaces only separate. Numbers compare by value (of any
// length, leading zeros ignored), words by their bytes, a number after a word.
std::strong_ordering compareVersions(std::string_view a, std::string_view b);

}  // namespace lumarin
