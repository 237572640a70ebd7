// Text encodings: the toolbox's strings are Mac Roman bytes; the resource file, the automation
// API and the text renderer speak UTF-8.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vt {

std::string macRomanToUtf8(std::string_view macRoman);
// Characters Mac Roman lacks become '?'; malformed UTF-8 bytes too.
std::string utf8ToMacRoman(std::string_view utf8);
// The Mac Roman byte of a code point, -1 when Mac Roman has none.
int macRomanByte(uint32_t cp);
// Whether s is well-formed UTF-8.
bool isValidUtf8(std::string_view s);

// Appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, uint32_t cp);
// Decodes the UTF-8 sequence at s[i]: its length and code point; 0 when it is malformed.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& cp);

}  // namespace vt
