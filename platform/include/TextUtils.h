// String utilities: length-prefixed (Pascal) strings and number conversion.
#pragma once
#include "MacTypes.h"

void NumToString(long theNum, Str255 theString);
void StringToNum(ConstStr255Param theString, long* theNum);
// In-place conversions between C and length-prefixed strings (at most 255 characters).
StringPtr c2pstr(char* aStr);
char* p2cstr(StringPtr aStr);
void CopyPascalStringToC(ConstStr255Param src, char* dst);
void CopyCStringToPascal(const char* src, Str255 dst);
Boolean EqualString(ConstStr255Param str1, ConstStr255Param str2, Boolean caseSensitive,
                    Boolean diacSensitive);
