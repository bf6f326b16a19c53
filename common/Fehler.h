// An error that a step raises instead of returning a step result. Nothing in the
// steps or the runs catches it; the window's one dispatch point shows its
// message in the default error report and leaves the window open.
#pragma once
#include <windows.h>
#include <string>

struct EFehler {
    std::wstring Message;  // the text of the report
    DWORD Error = 0;       // the platform's error code behind it, where there is one
    std::wstring Path;     // the file or folder it concerns, where there is one
};

[[noreturn]] inline void RaiseError(std::wstring message) { throw EFehler{std::move(message), 0, {}}; }
// The same for a platform call on path that failed just now: the error code
// is the thread's last error.
[[noreturn]] inline void RaiseError(std::wstring message, const std::wstring& path) {
    const DWORD error = ::GetLastError();
    throw EFehler{std::move(message), error, path};
}
