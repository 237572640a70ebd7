// Text encodings: the toolbox's strings are Mac Roman bytes; the resource file, the automation
// API and the text renderer speak UTF-8.
#pragma once
#include <string>
#include <string_view>

namespace vt {

std::string macRomanToUtf8(std::string_view macRoman);
// Characters Mac Roman lacks become '?'; malformed UTF-8 bytes too.
std::string utf8ToMacRoman(std::string_view utf8);
// Whether s is well-formed UTF-8.
bool isValidUtf8(std::string_view s);

}  // namespace vt
