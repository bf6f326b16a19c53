// The result log and the status line.
#include "Haupt.h"

void TFHaupt::AddLogLine(const std::wstring& text) {
    const bool empty = ::GetWindowTextLengthW(REd_Ergebnis) == 0;
    std::wstring line = empty ? text : L"\r\n" + text;
    ::SendMessageW(REd_Ergebnis, EM_SETSEL, -1, -1);
    ::SendMessageW(REd_Ergebnis, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    ::SendMessageW(REd_Ergebnis, WM_VSCROLL, SB_BOTTOM, 0);
}

void TFHaupt::ClearLog() { ::SetWindowTextW(REd_Ergebnis, L""); }

void TFHaupt::SetStatus(const std::wstring& text) {
    ::SendMessageW(SBStatus, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
