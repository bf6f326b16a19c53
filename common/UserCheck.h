// Reading Velmora's count of logged-in users.
#pragma once
#include <string>

// The whole text as one signed 32-bit integer, or -1 when it is not one: leading
// blanks, at most one "+" or "-", then decimal digits within the signed 32-bit
// range, or hexadecimal digits after "$", "x", "X", "0x" or "0X" using all 32 bits
// (two's complement). The sign applies to the value after it ("-$1" is -1). Only a
// text that denotes zero gives 0.
int ReadUserZahl(const std::wstring& text);
