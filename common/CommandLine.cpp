#include "CommandLine.h"
#include "Files.h"

namespace {
bool IsSeparator(wchar_t c) { return c >= 1 && c <= 32; }
}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> words;
    size_t i = 0;
    const size_t n = line.size();
    while (true) {
        while (true) {
            while (i < n && IsSeparator(line[i])) ++i;
            if (i + 1 < n && line[i] == L'"' && line[i + 1] == L'"')
                i += 2;
            else
                break;
        }
        if (i >= n || line[i] == L'\0') break;
        std::wstring word;
        while (i < n && line[i] != L'\0' && !IsSeparator(line[i])) {
            if (line[i] == L'"') {
                ++i;
                while (i < n && line[i] != L'\0' && line[i] != L'"') word += line[i++];
                if (i < n && line[i] == L'"') ++i;
            } else {
                word += line[i++];
            }
        }
        if (!word.empty()) words.push_back(std::move(word));
    }
    return words;
}

std::wstring JoinTargetDir(const std::vector<std::wstring>& words) {
    std::wstring target;
    if (words.size() < 2) return target;
    for (size_t k = 1; k < words.size(); ++k) {
        if (k > 1) target += L' ';
        target += words[k];
    }
    return WithoutOneFinalBackslash(target);
}
