#include "Automation.h"
#include <richedit.h>
#include <string>
#include <iterator>
#include <stdexcept>
#include "Raii.h"
#include "TestFiles.h"

namespace vlmtest {
namespace {

std::wstring ClassOf(HWND h) {
    wchar_t name[64]{};
    ::GetClassNameW(h, name, 64);
    return name;
}

// One WM_GETTEXT with room to spare: a program that is busy answers a query only
// at its next message handling, when the text may have grown since a length query.
std::wstring TextOf(HWND h) {
    std::wstring text(1 << 16, L'\0');
    const LRESULT got = ::SendMessageW(h, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> result;
    for (HWND c = ::GetWindow(parent, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) result.push_back(c);
    return result;
}

struct TopLevelQuery {
    DWORD Pid;
    const wchar_t* ClassName;
    bool VisibleOnly;
    HWND Found;
};

BOOL CALLBACK MatchTopLevel(HWND h, LPARAM param) {
    auto* q = reinterpret_cast<TopLevelQuery*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    if (pid == q->Pid && (!q->VisibleOnly || ::IsWindowVisible(h)) && ClassOf(h) == q->ClassName) {
        q->Found = h;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopLevel(DWORD pid, const wchar_t* className, bool visibleOnly = true) {
    TopLevelQuery q{pid, className, visibleOnly, nullptr};
    ::EnumWindows(&MatchTopLevel, reinterpret_cast<LPARAM>(&q));
    return q.Found;
}

}  // namespace

HWND ChildOfClass(HWND parent, const wchar_t* className) {
    for (HWND c : Children(parent))  // class names compare without regard to case
        if (::lstrcmpiW(ClassOf(c).c_str(), className) == 0) return c;
    return nullptr;
}

HWND FindBox(DWORD pid) { return FindTopLevel(pid, L"#32770"); }

BoxSeen ReadBox(HWND box) {
    BoxSeen seen;
    seen.Title = TextOf(box);
    for (HWND c : Children(box)) {
        const std::wstring cls = ClassOf(c);
        const LONG style = ::GetWindowLongW(c, GWL_STYLE);
        if (cls == L"Static" && (style & SS_TYPEMASK) != SS_ICON) {
            seen.Text = TextOf(c);
        } else if (cls == L"Button") {
            seen.Buttons.push_back(TextOf(c));
            if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.DefaultButton = seen.Buttons.back();
        }
    }
    return seen;
}

void ClickButton(HWND parent, const std::wstring& caption) {
    for (HWND c : Children(parent)) {
        if (ClassOf(c) == L"Button" && TextOf(c) == caption) {
            ::PostMessageW(c, BM_CLICK, 0, 0);
            return;
        }
    }
    throw std::runtime_error("no button with that caption");
}

HWND FindMainWindow(DWORD pid) { return FindTopLevel(pid, L"TFHaupt"); }

HWND FindWindowOfClass(DWORD pid, const wchar_t* className) { return FindTopLevel(pid, className, false); }

std::vector<std::wstring> LogLines(HWND main) {
    std::vector<std::wstring> lines;
    HWND log = ChildOfClass(main, L"RICHEDIT50W");
    if (!log) return lines;
    const std::wstring text = TextOf(log);
    if (text.empty()) return lines;
    std::wstring line;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r' || c == L'\n') {
            lines.push_back(line);
            line.clear();
            if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
        } else {
            line += c;
        }
    }
    lines.push_back(line);
    return lines;
}

std::wstring StatusText(HWND main) {
    HWND status = ChildOfClass(main, L"msctls_statusbar32");
    return status ? TextOf(status) : std::wstring();
}

// The log's own visibility, so that it reads the same in a window not shown.
bool LogVisible(HWND main) {
    HWND log = ChildOfClass(main, L"RICHEDIT50W");
    return log && (::GetWindowLongW(log, GWL_STYLE) & WS_VISIBLE);
}

SIZE ClientSize(HWND window) {
    RECT r;
    ::GetClientRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

SIZE OuterSize(HWND window) {
    RECT r;
    ::GetWindowRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT RectInClient(HWND parent, HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HWND ButtonOf(HWND parent, const std::wstring& caption) {
    for (HWND c : Children(parent))
        if (ClassOf(c) == L"Button" && TextOf(c) == caption) return c;
    return nullptr;
}

// EM_GETCHARFORMAT writes to memory of the control's process: the format is
// passed through a page there.
int LogFontPixels(HWND main, UINT dpi) {
    HWND log = ChildOfClass(main, L"RICHEDIT50W");
    DWORD pid = 0;
    ::GetWindowThreadProcessId(log, &pid);
    unique_handle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (!log || !process) return 0;
    void* remote = ::VirtualAllocEx(process.get(), nullptr, sizeof(CHARFORMAT2W), MEM_COMMIT, PAGE_READWRITE);
    if (!remote) return 0;
    CHARFORMAT2W format{};
    format.cbSize = sizeof(format);
    DWORD_PTR answer = 0;
    const bool read = ::WriteProcessMemory(process.get(), remote, &format, sizeof(format), nullptr) &&
                      ::SendMessageTimeoutW(log, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(remote),
                                            SMTO_ABORTIFHUNG, 10000, &answer) &&
                      ::ReadProcessMemory(process.get(), remote, &format, sizeof(format), nullptr);
    ::VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return read && (format.dwMask & CFM_SIZE) ? ::MulDiv(format.yHeight, static_cast<int>(dpi), 1440) : 0;
}

HWND FocusedWindow(HWND main) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(main, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool ClickInto(HWND control, int timeoutMs) {
    ::PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    return WaitFor([&] { return FocusedWindow(control) == control; }, timeoutMs);
}

namespace {
HWND KeyTarget(HWND main) {
    HWND focus = FocusedWindow(main);
    return focus ? focus : main;
}
}  // namespace

void PressKey(HWND main, UINT virtualKey) {
    HWND target = KeyTarget(main);
    ::PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    ::PostMessageW(target, WM_KEYUP, virtualKey, 0xC0000001);
}

void PressAltKey(HWND main, UINT virtualKey) {
    constexpr LPARAM kAltDown = 1 << 29;
    HWND target = KeyTarget(main);
    ::PostMessageW(target, WM_SYSKEYDOWN, virtualKey, 1 | kAltDown);
    ::PostMessageW(target, WM_SYSKEYUP, virtualKey, 0xC0000001 | kAltDown);
}

void PressChord(std::initializer_list<WORD> keys) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD key, DWORD flags) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        in.ki.dwFlags = flags;
        inputs.push_back(in);
    };
    for (WORD key : keys) add(key, 0);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) add(*it, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void PressClose(HWND main) { ::PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0); }

void PostClose(HWND main) { ::PostMessageW(main, WM_CLOSE, 0, 0); }

Program::Program(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingDir) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    // A start under Wine failed once in a loaded run, between two starts of
    // the same program that succeeded: a few tries, and the error code when
    // all of them fail, so that a failure can be told apart next time.
    bool started = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) ::Sleep(500);
        std::wstring line = commandLine;  // CreateProcessW may write into it
        started = ::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   workingDir.empty() ? nullptr : workingDir.c_str(), &si, &pi) != 0;
        if (!started) error = ::GetLastError();
    }
    if (!started) throw std::runtime_error("CreateProcessW failed with error " + std::to_string(error));
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
}

Program::~Program() {
    if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
    }
    ::CloseHandle(process_);
}

std::optional<DWORD> Program::WaitExit(int timeoutMs) {
    if (::WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

HWND Program::MainWindow(int timeoutMs) {
    return WaitFor([&] { return FindMainWindow(pid_); }, timeoutMs);
}

std::optional<BoxSeen> Program::WaitBox(int timeoutMs) {
    HWND box = WaitFor(
        [&]() -> HWND {
            HWND h = FindBox(pid_);
            if (h && h != lastBox_) return h;
            if (::WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) return HWND(1);
            return nullptr;
        },
        timeoutMs);
    if (!box || box == HWND(1)) return std::nullopt;
    // Let the box finish laying out its controls.
    WaitFor([&] { return !ReadBox(box).Buttons.empty(); }, 2000);
    lastBox_ = box;
    return ReadBox(box);
}

void Program::Answer(const std::wstring& caption) {
    ClickButton(lastBox_, caption);
    WaitFor([&] { return !::IsWindow(lastBox_) || !::IsWindowVisible(lastBox_); }, 5000);
}

HWND ConfirmUpdate(Program& p) {
    if (!p.WaitBox()) return nullptr;
    p.Answer(L"&Ja");
    return p.MainWindow();
}

std::optional<DWORD> SendCommand(HWND main, SentCommand command, int timeoutMs) {
    const bool close = command == SentCommand::Close;
    const UINT message = close ? WM_CLOSE : WM_COMMAND;
    const WPARAM w = close ? 0 : MAKEWPARAM(IDCANCEL, BN_CLICKED);
    const LPARAM l = close ? 0 : reinterpret_cast<LPARAM>(::GetDlgItem(main, IDCANCEL));
    const ULONGLONG sent = ::GetTickCount64();
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(main, message, w, l, SMTO_NORMAL, static_cast<UINT>(timeoutMs), &result))
        return std::nullopt;
    return static_cast<DWORD>(::GetTickCount64() - sent);
}

std::function<void(const std::vector<std::wstring>&)> SendWhen(HWND main, CommandOnLog& command) {
    return [main, &command](const std::vector<std::wstring>& log) {
        if (command.Sent || !command.When(log)) return;
        command.Sent = true;
        command.AnswerMs = SendCommand(main, command.Command);
        if (command.Answered) command.Answered();
    };
}

RunSeen FollowRun(Program& p, HWND main, const FollowOptions& options) {
    RunSeen seen;
    const DWORD until = ::GetTickCount() + static_cast<DWORD>(options.TimeoutMs);
    while (!(seen.Exit = p.WaitExit(options.PollMs)) && ::GetTickCount() < until) {
        if (FindBox(p.Pid())) {
            if (const auto box = p.WaitBox(1000)) {
                seen.Boxes.push_back(*box);
                p.Answer(L"OK");
                if (options.AfterBox && options.AfterBox(*box)) break;
            }
            continue;
        }
        if (!options.ReadLog) continue;
        // A window on its way out may show less than before.
        const auto lines = LogLines(main);
        if (lines.empty() || lines.size() < seen.Log.size()) continue;
        seen.Log = lines;
        if (options.AfterRead) options.AfterRead(lines);
    }
    return seen;
}

HostKiller::HostKiller(const std::wstring& commandLineText) {
    stem_ = HostScriptStem(L"kill");
    const std::string base = WideToUtf8(HostPath(stem_));
    WriteBytes(stem_ + L".needle", WideToUtf8(commandLineText));
    // Finds the host processes first and reports them, then waits for the
    // trigger: "kill" kills them, anything else lets them be.
    std::string script =
        "pids=''\n"
        "for d in /proc/[0-9]*; do\n"
        "  if { tr '\\0' ' ' < $d/cmdline; } 2>/dev/null | grep -qF -f '@.needle'; then\n"
        "    pids=\"$pids ${d#/proc/}\"; fi\n"
        "done\n"
        "echo \"$pids\" > '@.pids.part' && mv '@.pids.part' '@.pids'\n"
        "while [ ! -e '@.go' ]; do sleep 0.002; done\n"
        "if [ \"$(cat '@.go')\" = kill ] && [ -n \"$pids\" ]; then kill -9 $pids; fi\n"
        "echo done > '@.done.part' && mv '@.done.part' '@.done'\n";
    for (std::size_t at = 0; (at = script.find('@', at)) != std::string::npos; at += base.size())
        script.replace(at, 1, base);
    StartHostScript(stem_ + L".sh", script);
    if (WaitFor([&] { return Exists(stem_ + L".pids"); }, 30000)) {
        const std::string pids = ReadBytes(stem_ + L".pids").value_or("");
        // One number: the program itself, nothing else that names its folder.
        const std::size_t first = pids.find_first_of("0123456789");
        ready_ = first != std::string::npos && pids.find(' ', first) == std::string::npos;
    }
}

void HostKiller::Trigger(const char* what) {
    if (triggered_) return;
    triggered_ = true;
    WriteBytes(stem_ + L".go.part", what);
    ::MoveFileW((stem_ + L".go.part").c_str(), (stem_ + L".go").c_str());
    WaitFor([&] { return Exists(stem_ + L".done"); }, 30000);
    for (const wchar_t* end : {L".sh", L".needle", L".pids", L".go", L".done"}) ::DeleteFileW((stem_ + end).c_str());
}

void HostKiller::Now() { Trigger("kill"); }

HostKiller::~HostKiller() { Trigger("leave"); }

BoxWatcher::BoxWatcher(std::vector<std::wstring> answers, DWORD pid)
    : answers_(std::move(answers)), pid_(pid), thread_([this] { Run(); }) {}

BoxWatcher::~BoxWatcher() { Stop(); }

std::vector<BoxSeen> BoxWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return seen_;
}

void BoxWatcher::Run() {
    while (!stop_) {
        HWND box = FindBox(pid_);
        if (!box) {
            ::Sleep(10);
            continue;
        }
        WaitFor([&] { return !ReadBox(box).Buttons.empty(); }, 2000);
        BoxSeen seen = ReadBox(box);
        size_t index;
        {
            std::lock_guard lock(mutex_);
            seen_.push_back(seen);
            index = seen_.size() - 1;
        }
        const std::wstring answer = index < answers_.size() ? answers_[index] : L"OK";
        try {
            ClickButton(box, answer);
        } catch (const std::exception&) {
            ::PostMessageW(box, WM_CLOSE, 0, 0);  // the test expected another box
        }
        WaitFor([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5000);
    }
}

RunSeen RunThrough(Program& p) {
    HWND main = ConfirmUpdate(p);
    if (!main) return {};  // no exit seen: every check of the end fails
    ClickButton(main, L"Weiter");
    return FollowRun(p, main);
}

}  // namespace vlmtest
