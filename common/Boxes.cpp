// The modal message boxes, built as our own dialogs so that the buttons carry the
// German captions whatever the language of Windows.
#include <algorithm>
#include <vector>
#include "Files.h"
#include "Haupt.h"

namespace {

struct BoxButton {
    const wchar_t* Caption;
    int Id;
};

struct BoxSpec {
    LPCWSTR Icon;
    const std::wstring& Title;
    const std::wstring& Text;
    std::vector<BoxButton> Buttons;
    int DefaultId;
};

constexpr int kMargin = 11, kGap = 10, kButtonHeight = 23, kButtonMinWidth = 75, kButtonSpacing = 6;
constexpr int kMaxTextWidth = 640;
constexpr int kTextId = 0xFFFF;

// A dialog template without items: the controls are made in WM_INITDIALOG,
// where the text can be measured.
std::vector<WORD> EmptyTemplate(const std::wstring& title) {
    std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* dlg = reinterpret_cast<DLGTEMPLATE*>(t.data());
    dlg->style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.push_back(0);  // no menu
    t.push_back(0);  // default dialog class
    t.insert(t.end(), title.begin(), title.end());
    t.push_back(0);
    t.push_back(8);  // point size
    const std::wstring face = L"MS Shell Dlg";
    t.insert(t.end(), face.begin(), face.end());
    t.push_back(0);
    return t;
}

HWND Child(HWND dlg, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    HWND h = ::CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, dlg,
                               reinterpret_cast<HMENU>(INT_PTR(id)), nullptr, nullptr);
    ::SendMessageW(h, WM_SETFONT, ::SendMessageW(dlg, WM_GETFONT, 0, 0), FALSE);
    return h;
}

SIZE Measure(HWND dlg, const std::wstring& text, UINT flags, int maxWidth) {
    WindowDC dc(dlg);
    HGDIOBJ old = ::SelectObject(dc.get(), reinterpret_cast<HFONT>(::SendMessageW(dlg, WM_GETFONT, 0, 0)));
    RECT r{0, 0, maxWidth, 0};
    ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &r, flags | DT_CALCRECT);
    ::SelectObject(dc.get(), old);
    return SIZE{r.right, r.bottom};
}

void LayOut(HWND dlg, const BoxSpec& box) {
    HWND icon = Child(dlg, WC_STATICW, L"", SS_ICON, -1);
    ::SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, box.Icon)), 0);
    HWND text = Child(dlg, WC_STATICW, box.Text.c_str(), SS_LEFT | SS_NOPREFIX, kTextId);
    SIZE textSize = Measure(dlg, box.Text, DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS, kMaxTextWidth);
    textSize.cx += 4;  // the static control needs a little more room than DrawText reports

    int buttonWidth = kButtonMinWidth;
    for (const auto& b : box.Buttons)
        buttonWidth = std::max<int>(buttonWidth, Measure(dlg, b.Caption, DT_SINGLELINE, 1000).cx + 16);
    const int count = static_cast<int>(box.Buttons.size());
    const int buttonsWidth = count * buttonWidth + (count - 1) * kButtonSpacing;

    const int iconSize = ::GetSystemMetrics(SM_CXICON);
    const int textLeft = kMargin + iconSize + kGap;
    const int bodyHeight = std::max<int>(iconSize, textSize.cy);
    const int clientWidth = std::max<int>(textLeft + textSize.cx + kMargin, buttonsWidth + 2 * kMargin);
    const int buttonsTop = kMargin + bodyHeight + kGap + 4;
    const int clientHeight = buttonsTop + kButtonHeight + kMargin;

    ::MoveWindow(icon, kMargin, kMargin, iconSize, iconSize, FALSE);
    ::MoveWindow(text, textLeft, kMargin + (bodyHeight - textSize.cy) / 2, textSize.cx, textSize.cy, FALSE);
    int left = (clientWidth - buttonsWidth) / 2;
    for (const auto& b : box.Buttons) {
        const bool isDefault = b.Id == box.DefaultId;
        HWND h = Child(dlg, WC_BUTTONW, b.Caption, WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), b.Id);
        ::MoveWindow(h, left, buttonsTop, buttonWidth, kButtonHeight, FALSE);
        left += buttonWidth + kButtonSpacing;
    }

    RECT frame{0, 0, clientWidth, clientHeight};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(dlg, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(dlg, GWL_EXSTYLE)));
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    HWND owner = ::GetWindow(dlg, GW_OWNER);
    if (owner && ::IsWindowVisible(owner)) ::GetWindowRect(owner, &area);
    ::SetWindowPos(dlg, HWND_TOP, area.left + (area.right - area.left - w) / 2,
                   area.top + (area.bottom - area.top - h) / 2, w, h, 0);

    ::SendMessageW(dlg, DM_SETDEFID, box.DefaultId, 0);
    ::SetFocus(::GetDlgItem(dlg, box.DefaultId));
}

INT_PTR CALLBACK BoxProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        LayOut(dlg, *reinterpret_cast<const BoxSpec*>(lParam));
        ::SetForegroundWindow(dlg);
        return FALSE;  // focus was set on the default button
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) != kTextId) {
            ::EndDialog(dlg, LOWORD(wParam));  // Esc and the close button give IDCANCEL
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

int ShowBox(HWND owner, const BoxSpec& box) {
    std::vector<WORD> tmpl = EmptyTemplate(box.Title);
    return static_cast<int>(::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr),
                                                      reinterpret_cast<const DLGTEMPLATE*>(tmpl.data()), owner,
                                                      &BoxProc, reinterpret_cast<LPARAM>(&box)));
}

// The program file's name up to its first full stop, every letter after the
// first in lower case.
std::wstring ProgramTitle() {
    std::wstring name = ModuleFileName();
    name = name.substr(name.find_last_of(L"\\/") + 1);
    name = name.substr(0, name.find(L'.'));
    if (name.size() > 1) ::CharLowerBuffW(name.data() + 1, static_cast<DWORD>(name.size() - 1));
    return name;
}

}  // namespace

void TFHaupt::ErrorBox(const std::wstring& text) {
    // A box's own message loop is one of the points where commands count.
    const AtPoint point(*this);
    static const std::wstring title = L"Fehler";
    ShowBox(Handle, {IDI_ERROR, title, text, {{L"OK", IDOK}}, IDOK});
}

bool TFHaupt::ConfirmBox(const std::wstring& text) {
    const AtPoint point(*this);
    static const std::wstring title = L"Best\u00e4tigen";
    return ShowBox(Handle, {IDI_QUESTION, title, text, {{L"&Ja", IDYES}, {L"&Nein", IDNO}}, IDYES}) == IDYES;
}

// A full stop is added unless the text already ends in a character whose code is
// no higher than that of the full stop (".", "!", ")" ...).
void TFHaupt::ShowDefaultErrorReport(const std::wstring& message) {
    const AtPoint point(*this);
    std::wstring text = message;
    if (text.empty() || text.back() > L'.') text += L'.';
    const std::wstring title = ProgramTitle();
    ShowBox(Handle, {IDI_ERROR, title, text, {{L"OK", IDOK}}, IDOK});
}
