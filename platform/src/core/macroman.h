// Text encodings. The toolbox's strings (titles, menu items, dialog texts, file names in FSSpecs)
// are UTF-8 on this platform, as Linux file names are, so a name goes from the file system to
// the screen and back unchanged. Key events still carry a one-byte Mac Roman character code.
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
// A toolbox string as UTF-8: well-formed UTF-8 as it is; other bytes (text written for the
// classic Mac Roman set, such as "Open\xC9") read as Mac Roman.
std::string toolboxToUtf8(std::string_view bytes);
// UTF-8 for a toolbox string of at most maxBytes: malformed sequences dropped, cut at a
// character boundary, never inside one.
std::string utf8ToToolbox(std::string_view utf8, size_t maxBytes = 255);
// Whether s is well-formed UTF-8.
bool isValidUtf8(std::string_view s);

// Appends the UTF-8 form of a code point.
void appendUtf8(std::string& out, uint32_t cp);
// Decodes the UTF-8 sequence at s[i]: its length and code point; 0 when it is malformed.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& cp);

}  // namespace vt
