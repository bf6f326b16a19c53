#pragma once
#include <string>
#include <vector>

// Splits a command line into the program name and its arguments: runs of
// characters 1 to 32 separate arguments, a double quote opens a stretch up to the
// next one (or the end) in which separators are ordinary characters, a pair of
// double quotes where an argument would begin is skipped, and a backslash has no
// special meaning. No argument is ever empty.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);

// The arguments 1..n joined with single blanks, one final backslash removed.
std::wstring JoinTargetDir(const std::vector<std::wstring>& words);
