// A profile (ini) file's bytes with keys of one section set, as the platform's
// WritePrivateProfileStringW leaves them. The platform's function writes by
// name and follows links, so the result record is written with these bytes
// through a handle instead.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

using ProfileValues = std::vector<std::pair<std::wstring, std::wstring>>;

// The file after setting each key of values, in order, in section: the
// first section of that name (letter case aside) gets the keys, a key found
// there (letter case aside) keeps its place and spelling, a missing key is
// appended to the section, a missing section to the file. The file is read
// in the encoding its start shows (UTF-16 or UTF-8 with a byte-order mark,
// otherwise the ANSI code page) and written back whole in that encoding, one
// line per section header and key, blank lines left out, as the platform does.
// before: the file's bytes, nullopt when there is none. nullopt as the result:
// every value is already as given, and the file stays as it is.
std::optional<std::string> ProfileWithValues(const std::optional<std::string>& before, const std::wstring& section,
                                             const ProfileValues& values);
