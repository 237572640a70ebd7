#include <MacTypes.h>
#include <TextUtils.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/boundary.h"
#include "core/pstring.h"

void NumToString(long theNum, Str255 theString) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!theString) return;
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%ld", theNum);
    vt::toPascal(std::string_view(buf, (size_t)n), theString);
  });
}

void StringToNum(ConstStr255Param theString, long* theNum) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!theString || !theNum) return;
    // Unsigned, so that too many digits wrap instead of overflowing (LONG_MIN's digits included).
    unsigned long v = 0;
    int i = 1, len = theString[0];
    bool neg = false;
    if (i <= len && (theString[i] == '-' || theString[i] == '+')) neg = theString[i++] == '-';
    for (; i <= len; ++i)  // the original ignores non-digits too
      v = v * 10 + (unsigned long)(long)(theString[i] - '0');
    *theNum = (long)(neg ? 0 - v : v);
  });
}

StringPtr c2pstr(char* aStr) {
  return vt::apiCall<StringPtr>(vt::noErrorState, {}, [&]() -> StringPtr {
    if (!aStr) return nullptr;
    size_t n = std::strlen(aStr);
    if (n > 255) n = 255;
    std::memmove(aStr + 1, aStr, n);
    aStr[0] = (char)n;
    return reinterpret_cast<StringPtr>(aStr);
  });
}

char* p2cstr(StringPtr aStr) {
  return vt::apiCall<char*>(vt::noErrorState, {}, [&]() -> char* {
    if (!aStr) return nullptr;
    size_t n = aStr[0];
    std::memmove(aStr, aStr + 1, n);
    aStr[n] = 0;
    return reinterpret_cast<char*>(aStr);
  });
}

void CopyPascalStringToC(ConstStr255Param src, char* dst) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!dst) return;
    if (!src) {
      dst[0] = 0;
      return;
    }
    size_t n = src[0];
    std::memmove(dst, src + 1, n);
    dst[n] = 0;
  });
}

void CopyCStringToPascal(const char* src, Str255 dst) {
  vt::apiCall(vt::noErrorState, [&] {
    if (!dst) return;
    size_t n = src ? std::strlen(src) : 0;
    if (n > 255) n = 255;
    std::memmove(dst + 1, src, n);
    dst[0] = (unsigned char)n;
  });
}

Boolean EqualString(ConstStr255Param a, ConstStr255Param b, Boolean caseSensitive, Boolean) {
  return vt::apiCall<Boolean>(vt::noErrorState, {}, [&]() -> Boolean {
    if (!a || !b) return a == b;
    if (a[0] != b[0]) return false;
    for (int i = 1; i <= a[0]; ++i) {
      unsigned char x = a[i], y = b[i];
      if (!caseSensitive) {
        x = (unsigned char)std::tolower(x);
        y = (unsigned char)std::tolower(y);
      }
      if (x != y) return false;
    }
    return true;
  });
}
