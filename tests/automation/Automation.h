// Drives our programs' windows and boxes the way a person would: find them,
// read their texts, click their buttons, press keys. Works on windows of another
// process in the same Wine prefix as well as on those of the test process itself.
#pragma once
#include <windows.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vlmtest {

struct BoxSeen {
    std::wstring Title;
    std::wstring Text;
    std::vector<std::wstring> Buttons;  // captions in tab order
    std::wstring DefaultButton;
};

// The visible dialog box of the given process, if one is open.
HWND FindBox(DWORD pid);
BoxSeen ReadBox(HWND box);
// Clicks the button with exactly this caption among the window's children.
void ClickButton(HWND parent, const std::wstring& caption);

// The first child window of the class (compared without regard to case).
HWND ChildOfClass(HWND parent, const wchar_t* className);
// Top-level window of class TFHaupt of the process, if there is one.
HWND FindMainWindow(DWORD pid);
// A top-level window of the process and class, visible or not; nothing is
// sent to the program on the way.
HWND FindWindowOfClass(DWORD pid, const wchar_t* className);
std::vector<std::wstring> LogLines(HWND main);
std::wstring StatusText(HWND main);
bool LogVisible(HWND main);
SIZE ClientSize(HWND window);
SIZE OuterSize(HWND window);
// A child's rectangle in its parent's client coordinates.
RECT RectInClient(HWND parent, HWND child);
// The button with exactly this caption among the window's children, or null.
HWND ButtonOf(HWND parent, const std::wstring& caption);
// The character height in pixels of the log's text, read from the log's own
// process; 0 when the control does not answer. The rich-edit control answers
// in twips, converted at its process's system dpi, which is given.
int LogFontPixels(HWND main, UINT dpi);
// The window that has the keyboard focus in the window's thread (the window
// itself or one of its controls), or null.
HWND FocusedWindow(HWND main);
// Posts a left click into the control, which takes the focus when its program
// handles the click, as it would a person's click; waits until it has the focus.
// (SetFocus after AttachThreadInput works under Wine as well, but blocks while
// the program is busy in a run.)
bool ClickInto(HWND control, int timeoutMs = 10000);
// Posts the key to the control that has the keyboard focus in the window's thread.
void PressKey(HWND main, UINT virtualKey);
// The key pressed with Alt held, as Alt+F4: the system-key messages carry the Alt
// state in their own parameters.
void PressAltKey(HWND main, UINT virtualKey);
// Presses the keys in order and releases them in reverse, as keyboard input to
// the foreground window. Unlike posted key messages this moves the receiving
// thread's key state, which Shift+Tab needs.
void PressChord(std::initializer_list<WORD> keys);
// What the close button of the title bar does.
void PressClose(HWND main);
// A close request posted by another program.
void PostClose(HWND main);

// A command another program sends (SendMessage) instead of posting it, as
// accessibility and automation tools do: "Abbruch" as its button's
// WM_COMMAND, or WM_CLOSE.
enum class SentCommand { Abbruch, Close };
// Sends the command to the main window and waits at most timeoutMs for its
// answer: the milliseconds the answer took, or nothing when none came.
std::optional<DWORD> SendCommand(HWND main, SentCommand command, int timeoutMs = 1000);

// A command sent once, at the first log read for which When holds.
struct CommandOnLog {
    SentCommand Command = SentCommand::Abbruch;
    std::function<bool(const std::vector<std::wstring>& log)> When;
    // Runs right after the answer, before anything else is read: where the
    // program was when it answered can be looked at here.
    std::function<void()> Answered;
    bool Sent = false;
    std::optional<DWORD> AnswerMs;  // nothing: unanswered within 1 s
};
// The log reader (FollowOptions::AfterRead) that sends command to main.
std::function<void(const std::vector<std::wstring>&)> SendWhen(HWND main, CommandOnLog& command);

// Waits until the predicate holds or the time is up; returns the last result.
template <typename Predicate>
auto WaitFor(Predicate predicate, int timeoutMs = 10000) -> decltype(predicate()) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto value = predicate();
        if (value || std::chrono::steady_clock::now() >= end) return value;
        ::Sleep(20);
    }
}

// One of our programs started as a child process.
class Program {
public:
    Program(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingDir = L"");
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();  // ends the process if it is still running

    DWORD Pid() const { return pid_; }
    // Exit code, or nothing when the process still runs after the timeout.
    std::optional<DWORD> WaitExit(int timeoutMs = 20000);
    HWND MainWindow(int timeoutMs = 10000);
    // The next box that opens (waiting up to the timeout); nothing if none opens
    // or the process ends first.
    std::optional<BoxSeen> WaitBox(int timeoutMs = 10000);
    // Clicks a button of the box last returned by WaitBox and waits until it closes.
    void Answer(const std::wstring& caption);

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND lastBox_ = nullptr;
};

// Answers the update's confirmation with "&Ja" and waits for the main window;
// null when either does not come.
HWND ConfirmUpdate(Program& p);

// What a run showed until its program ended.
struct RunSeen {
    std::optional<DWORD> Exit;      // nothing: still running when the following stopped
    std::vector<BoxSeen> Boxes;     // every box, answered with "OK", in order
    std::vector<std::wstring> Log;  // the longest log read (with ReadLog)
};

struct FollowOptions {
    int TimeoutMs = 120000;
    int PollMs = 50;
    // Reads the log between boxes. The program answers a read only where it
    // handles messages, so each read waits for that.
    bool ReadLog = false;
    // After each box was answered; true stops the following, with the program
    // still running.
    std::function<bool(const BoxSeen&)> AfterBox;
    // After each log read that showed lines; the window may be gone already.
    std::function<void(const std::vector<std::wstring>&)> AfterRead;
};

// Follows a run in the main window until its program ends or the time is up,
// answering every box with "OK".
RunSeen FollowRun(Program& p, HWND main, const FollowOptions& options = {});
// Confirms the directory updater's question, starts the run and follows it
// to its end (FollowRun).
RunSeen RunThrough(Program& p);

// Ends a program as a power loss or the task manager would: SIGKILL to its
// host process, no code of it runs any more. The host process is the one whose
// command line holds the given text (the program's unique folder argument); it
// is looked up on construction, so that Now() acts within milliseconds.
class HostKiller {
public:
    explicit HostKiller(const std::wstring& commandLineText);
    HostKiller(const HostKiller&) = delete;
    HostKiller& operator=(const HostKiller&) = delete;
    ~HostKiller();                         // lets the waiting killer go without killing
    bool Ready() const { return ready_; }  // exactly one host process was found
    void Now();                            // kills and waits until the killer is done

private:
    void Trigger(const char* what);
    std::wstring stem_;
    bool ready_ = false, triggered_ = false;
};

// Answers every box of a process from another thread, recording what it saw:
// for steps that show modal boxes on the thread that runs them.
class BoxWatcher {
public:
    explicit BoxWatcher(std::vector<std::wstring> answers = {}, DWORD pid = ::GetCurrentProcessId());
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;
    ~BoxWatcher();
    // Stops watching and returns every box seen, in order.
    std::vector<BoxSeen> Stop();

private:
    void Run();
    std::vector<std::wstring> answers_;  // per box in order; "OK" when they run out
    DWORD pid_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<BoxSeen> seen_;
    std::thread thread_;
};

}  // namespace vlmtest
