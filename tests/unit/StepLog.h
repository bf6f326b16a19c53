// The result-log lines of a window of this process, read from its own control.
// (vlmtest::LogLines looks the control up by class name, which Wine reports as
// "RichEdit50W" and so does not match.)
#pragma once
#include <string>
#include <vector>
#include "Haupt.h"

inline std::vector<std::wstring> StepLog(const TFHaupt& f) {
    const int length = ::GetWindowTextLengthW(f.REd_Ergebnis);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(f.REd_Ergebnis, text.data(), length + 1)));
    std::vector<std::wstring> lines;
    if (text.empty()) return lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            lines.push_back(line);
            line.clear();
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            line += text[i];
        }
    }
    lines.push_back(line);
    return lines;
}
