#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 text helpers. "Characters" here are Unicode scalar values: lengths count them and cuts
// never split a multi-byte sequence. Malformed input is read one byte at a time, each bad byte
// counting as one U+FFFD.
namespace lumarin::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

// Decodes the scalar value starting at `pos` and advances `pos` past it.
char32_t decodeAt(std::string_view text, std::size_t& pos);
void append(std::string& out, char32_t scalar);

std::vector<char32_t> decode(std::string_view text);
std::string encode(const std::vector<char32_t>& scalars);

std::size_t length(std::string_view text);
bool isValid(std::string_view text);

// The first / last `count` characters (the whole text when it is shorter).
std::string_view prefix(std::string_view text, std::size_t count);
std::string_view suffix(std::string_view text, std::size_t count);

// White space and line breaks as the platform's text system defines them (Unicode White_Space).
bool isWhitespaceOrNewline(char32_t c);
std::string trimWhitespaceAndNewlines(std::string_view text);

}  // namespace lumarin::utf8
