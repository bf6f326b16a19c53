#pragma once
#include <string>

// The product version of a file's version resource as four numbers joined by
// "."; 0.0.0.0 when the file has no readable version resource.
std::wstring GetFileVersionsString_2(const std::wstring& path);

// The number before the first "." of a version text.
int MajorVersion(const std::wstring& version);
