// Window creation, controls, layout and message dispatch of TFHaupt.
#include "Haupt.h"
#include <richedit.h>
#include <exception>
#include <new>
#include "Fehler.h"
#include "ResourceIds.h"

namespace {

constexpr wchar_t kClassName[] = L"TFHaupt";
constexpr COLORREF kGlyphKey = RGB(255, 0, 255);

HFONT MakeTahoma(int pixelHeight, BYTE charset) {
    LOGFONTW lf{};
    lf.lfHeight = -pixelHeight;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = charset;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpyW(lf.lfFaceName, L"Tahoma");
    return ::CreateFontIndirectW(&lf);
}

// Copies the given glyphs of the image list into a new list for one button.
HIMAGELIST ButtonImages(HIMAGELIST source, std::initializer_list<int> glyphs) {
    HIMAGELIST list = ::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, static_cast<int>(glyphs.size()), 0);
    if (!list) RaiseError(L"Die Schaltfl\u00e4chenbilder konnten nicht erstellt werden");
    for (int glyph : glyphs) {
        unique_hicon icon(::ImageList_GetIcon(source, glyph, ILD_TRANSPARENT));
        ::ImageList_ReplaceIcon(list, -1, icon.get());
    }
    return list;
}

// The rich-edit control answers that it wants every key, so the dialog manager
// would leave Tab (typed into the log), Enter (a new line) and Esc (which makes
// the control close its parent) to it. The log takes only characters and arrow
// keys; Tab, Enter and Esc then move the focus and reach the two buttons. Tabbed
// into, it keeps its selection instead of selecting all its text.
WNDPROC richEditProc = nullptr;

LRESULT CALLBACK LogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = ::CallWindowProcW(richEditProc, hwnd, msg, wParam, lParam);
    if (msg == WM_GETDLGCODE) return result & (DLGC_WANTCHARS | DLGC_WANTARROWS);
    return result;
}

void AttachImages(HWND button, HIMAGELIST images) {
    BUTTON_IMAGELIST bil{};
    bil.himl = images;
    bil.margin = RECT{0, 0, 4, 0};
    bil.uAlign = BUTTON_IMAGELIST_ALIGN_RIGHT;
    ::SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&bil));
}

// The text of an exception from the library, which comes in the ANSI code page.
std::wstring WidenAnsi(const char* text) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return L"Unbekannter Fehler";
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
    wide.resize(static_cast<std::size_t>(n - 1));
    return wide;
}

}  // namespace

// The window no longer reaches this object once it is gone; destroying it then
// ends no message loop.
TFHaupt::~TFHaupt() {
    if (Handle && ::IsWindow(Handle)) {
        ::SetWindowLongPtrW(Handle, GWLP_USERDATA, 0);
        ::DestroyWindow(Handle);
    }
}

void TFHaupt::CreateForm(HINSTANCE instance, FormHandlers& handlers) {
    handlers_ = &handlers;
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES;
    ::InitCommonControlsEx(&icc);
    static unique_hmodule richEdit(::LoadLibraryW(L"msftedit.dll"));

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &TFHaupt::WindowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_VLMAPP));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    // A second window in the same process finds the class registered already.
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        RaiseError(L"Die Fensterklasse konnte nicht registriert werden");

    DWORD style =
        Design.FixedDialogFrame ? (WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN) : (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
    DWORD exStyle = WS_EX_APPWINDOW | (Design.FixedDialogFrame ? WS_EX_DLGMODALFRAME : 0);
    RECT r{0, 0, Design.ClientWidth, Design.ClientHeight};
    ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
    int width = r.right - r.left, height = r.bottom - r.top;

    const POINT at = CentredOrigin(width, height);
    Handle = ::CreateWindowExW(exStyle, kClassName, Design.Caption, style, at.x, at.y, width, height, nullptr, nullptr,
                               instance, this);
    if (!Handle) RaiseError(L"Das Hauptfenster konnte nicht erstellt werden");
    CreateControls(instance);
    LayoutControls();
    DispatchWorking(FormState::Created, &TFHaupt::FormCreate);
}

void TFHaupt::CreateControls(HINSTANCE instance) {
    formFont_.reset(MakeTahoma(11, DEFAULT_CHARSET));
    buttonFont_.reset(MakeTahoma(13, DEFAULT_CHARSET));
    ::SendMessageW(Handle, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.get()), FALSE);

    ILButton.reset(::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 0));
    if (!ILButton) RaiseError(L"Die Schaltfl\u00e4chenbilder konnten nicht erstellt werden");
    {
        unique_hgdiobj strip(
            ::LoadImageW(instance, MAKEINTRESOURCEW(IDB_ILBUTTON), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        if (!strip) RaiseError(L"Die Schaltfl\u00e4chenbilder konnten nicht geladen werden");
        ::ImageList_AddMasked(ILButton.get(), static_cast<HBITMAP>(strip.get()), kGlyphKey);
    }
    abbruchImages_.reset(ButtonImages(ILButton.get(), {0}));
    // Per-state list: normal, hot, pressed, disabled, defaulted, stylus-hot.
    weiterImages_.reset(ButtonImages(ILButton.get(), {1, 1, 1, 2, 1, 1}));

    auto makeButton = [&](const ControlPlace& p, const wchar_t* caption, int id, DWORD extra) {
        HWND b = ::CreateWindowExW(0, WC_BUTTONW, caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | extra, p.Left, p.Top,
                                   p.Width, p.Height, Handle, reinterpret_cast<HMENU>(INT_PTR(id)), instance, nullptr);
        ::SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_.get()), FALSE);
        return b;
    };
    auto makeLog = [&] {
        REd_Ergebnis = ::CreateWindowExW(
            WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 0, 0,
            Design.ClientWidth, LogHeight, Handle, nullptr, instance, nullptr);
        logFont_.reset(MakeTahoma(11, ANSI_CHARSET));
        ::SendMessageW(REd_Ergebnis, WM_SETFONT, reinterpret_cast<WPARAM>(logFont_.get()), FALSE);
        ::SendMessageW(REd_Ergebnis, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
        richEditProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(REd_Ergebnis, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LogProc)));
        // Design content: one empty line.
        ::SetWindowTextW(REd_Ergebnis, L"");
    };

    // Creation order is the keyboard tab order.
    if (Design.LogFirstInTabOrder) makeLog();
    BtAbbruch = makeButton(Design.BtAbbruch, L"Abbruch", IDCANCEL, BS_PUSHBUTTON);
    BtWeiter = makeButton(Design.BtWeiter, L"Weiter", IDOK, BS_DEFPUSHBUTTON);
    if (!Design.LogFirstInTabOrder) makeLog();
    AttachImages(BtAbbruch, abbruchImages_.get());
    AttachImages(BtWeiter, weiterImages_.get());

    SBStatus = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                                 WS_CHILD | WS_VISIBLE | CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0, 0,
                                 Design.ClientWidth, StatusHeight, Handle, nullptr, instance, nullptr);
    int parts[1] = {StatusPanelWidth};
    ::SendMessageW(SBStatus, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
    ::SendMessageW(SBStatus, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.get()), FALSE);
}

// Buttons keep their distance to the right edge; the log and the status bar are
// docked to the bottom edge in the order of the design.
void TFHaupt::LayoutControls() {
    RECT client;
    ::GetClientRect(Handle, &client);
    const int width = client.right, height = client.bottom;
    auto placeButton = [&](HWND b, const ControlPlace& p) {
        int right = Design.ClientWidth - (p.Left + p.Width);
        ::MoveWindow(b, width - right - p.Width, p.Top, p.Width, p.Height, TRUE);
    };
    placeButton(BtAbbruch, Design.BtAbbruch);
    placeButton(BtWeiter, Design.BtWeiter);
    if (Design.StatusBelowLog) {
        ::MoveWindow(SBStatus, 0, height - StatusHeight, width, StatusHeight, TRUE);
        ::MoveWindow(REd_Ergebnis, 0, height - StatusHeight - logHeight_, width, logHeight_, TRUE);
    } else {
        ::MoveWindow(REd_Ergebnis, 0, height - logHeight_, width, logHeight_, TRUE);
        ::MoveWindow(SBStatus, 0, height - logHeight_ - StatusHeight, width, StatusHeight, TRUE);
    }
}

void TFHaupt::SetLogVisible(bool visible, int height) {
    logHeight_ = height;
    LayoutControls();
    ::ShowWindow(REd_Ergebnis, visible ? SW_SHOW : SW_HIDE);
}

void TFHaupt::SetClientHeight(int height) {
    RECT outer, client;
    ::GetWindowRect(Handle, &outer);
    ::GetClientRect(Handle, &client);
    int frame = (outer.bottom - outer.top) - client.bottom;
    ::SetWindowPos(Handle, nullptr, 0, 0, outer.right - outer.left, height + frame,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT TFHaupt::CentredOrigin(int width, int height) const {
    RECT area{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    if (Design.CentreOnDesktop) ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return POINT{area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2};
}

void TFHaupt::CentreWindow() {
    RECT outer;
    ::GetWindowRect(Handle, &outer);
    const POINT at = CentredOrigin(outer.right - outer.left, outer.bottom - outer.top);
    ::SetWindowPos(Handle, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TFHaupt::SetOuterHeight(int height) {
    RECT outer;
    ::GetWindowRect(Handle, &outer);
    ::SetWindowPos(Handle, nullptr, 0, 0, outer.right - outer.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TFHaupt::ClientHeight() const {
    RECT client;
    ::GetClientRect(Handle, &client);
    return client.bottom;
}

// Every handler runs here, and nothing it raises goes further: the error ends
// the handler, is shown in the default error report, and the window stays
// open.
bool TFHaupt::Dispatch(void (TFHaupt::*handler)()) {
    try {
        (this->*handler)();
        return true;
    } catch (const EFehler& e) {
        ShowDefaultErrorReport(e.Message);
    } catch (const std::bad_alloc&) {
        ShowDefaultErrorReport(L"Zu wenig Arbeitsspeicher");
    } catch (const std::exception& e) {
        ShowDefaultErrorReport(WidenAnsi(e.what()));
    } catch (...) {
        ShowDefaultErrorReport(L"Unbekannter Fehler");
    }
    return false;
}

bool TFHaupt::DispatchWorking(FormState state, void (TFHaupt::*handler)()) {
    state_ = FormState::InStep;
    workingState_ = state;
    const bool done = Dispatch(handler);
    if (state_ == FormState::InStep) state_ = state;
    return done;
}

TFHaupt::AtPoint::AtPoint(TFHaupt& form) : form_(form) {
    if (form_.state_ != FormState::InStep) return;
    form_.state_ = form_.workingState_;
    entered_ = true;
}

TFHaupt::AtPoint::~AtPoint() {
    if (entered_ && form_.state_ == form_.workingState_) form_.state_ = FormState::InStep;
}

LRESULT CALLBACK TFHaupt::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        static_cast<TFHaupt*>(cs->lpCreateParams)->Handle = hwnd;
    }
    auto* self = reinterpret_cast<TFHaupt*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    return self->HandleMessage(msg, wParam, lParam);
}

LRESULT TFHaupt::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case DM_GETDEFID:
        return MAKELRESULT(IDOK, DC_HASDEFID);
    case WM_SIZE:
        if (BtAbbruch) LayoutControls();
        return 0;
    case WM_CLOSE:
        OnEvent(FormEvent::Close);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(Handle, msg, wParam, lParam);
    }
}

void TFHaupt::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    if (id == IDCANCEL) OnEvent(FormEvent::Abbruch);
    if (id == IDOK) OnEvent(FormEvent::Weiter);
}

// Every event in every state. Before FormShow is done the window is visible
// with its buttons (behind the confirmation box, and while FormShow lets
// messages through), but the compact state a run starts from does not stand:
// "Weiter" and closing wait for it. During a run "Weiter" would start the
// sequence again inside the running one, and closing must not let the
// installation go on. Inside a step a command may still arrive, sent by
// another program while the step lets the window answer: an end there would
// leave the step half done (an archive half written, a folder half restored),
// so the command waits in the queue for the next point, as a posted one does.
// During the restore before the end nothing may end the process with the
// folder half restored.
Reaction TFHaupt::Decide(FormState state, FormEvent event, bool closeOffered) {
    if (event == FormEvent::Close && !closeOffered) return Reaction::Ignore;
    switch (state) {
    case FormState::InStep:
        return Reaction::Requeue;
    case FormState::Created:
    case FormState::ShowTime:
        return event == FormEvent::Abbruch ? Reaction::EndWithOne : Reaction::Defer;
    case FormState::Compact:
    case FormState::StoppedByError:
        return event == FormEvent::Weiter    ? Reaction::Run
               : event == FormEvent::Abbruch ? Reaction::EndWithOne
                                             : Reaction::CloseWindow;
    case FormState::Running:
        return event == FormEvent::Weiter ? Reaction::Ignore : Reaction::EndWithOne;
    case FormState::Ending:
        return Reaction::Ignore;
    }
    return Reaction::Ignore;
}

void TFHaupt::OnEvent(FormEvent event) {
    switch (Decide(state_, event, !Design.FixedDialogFrame)) {
    case Reaction::Run:
        Dispatch(&TFHaupt::BtWeiterClick);
        break;
    case Reaction::EndWithOne:
        Dispatch(&TFHaupt::BtAbbruchClick);
        break;
    case Reaction::CloseWindow:
        ::DestroyWindow(Handle);
        break;
    case Reaction::Defer:
        (event == FormEvent::Weiter ? weiterDeferred_ : closeDeferred_) = true;
        break;
    case Reaction::Requeue:
        PostEvent(event);
        break;
    case Reaction::Ignore:
        break;
    }
}

void TFHaupt::PostEvent(FormEvent event) {
    if (event == FormEvent::Close) {
        ::PostMessageW(Handle, WM_CLOSE, 0, 0);
        return;
    }
    const bool weiter = event == FormEvent::Weiter;
    ::PostMessageW(Handle, WM_COMMAND, MAKEWPARAM(weiter ? IDOK : IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(weiter ? BtWeiter : BtAbbruch));
}

void TFHaupt::BtAbbruchClick() { EndWith(1); }

void TFHaupt::BtWeiterClick() {
    // Verarbeite ends the program on every path; coming back means an error
    // ended it.
    scope_exit stopped([this] {
        if (state_ == FormState::InStep || state_ == FormState::Running) state_ = FormState::StoppedByError;
    });
    state_ = FormState::InStep;
    workingState_ = FormState::Running;
    handlers_->Verarbeite();
}

void TFHaupt::ShowCompact() {
    ::SetForegroundWindow(Handle);
    ProcessMessages();
    ClearLog();
    SetLogVisible(false, 0);
    if (Design.CompactOuterHeight)
        SetOuterHeight(Design.CompactOuterHeight);
    else  // the buttons, the status line and a margin
        SetClientHeight(Design.BtAbbruch.Top + Design.BtAbbruch.Height + StatusHeight + 40);
    compactClientHeight_ = ClientHeight();
    if (Design.CentreWhenCompact) CentreWindow();
}

void TFHaupt::ShowLog() {
    SetLogVisible(true, LogHeight);
    if (Design.RunOuterHeight)
        SetOuterHeight(Design.RunOuterHeight);
    else
        SetClientHeight(compactClientHeight_ + LogHeight);
}
