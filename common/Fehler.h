// An error that a step raises instead of returning a step result. Nothing in the
// steps or the runs catches it; the window's message dispatch shows it in the
// default error report and leaves the window open.
#pragma once
#include <string>

struct EFehler {
    std::wstring Message;
};

[[noreturn]] inline void RaiseError(std::wstring message) { throw EFehler{std::move(message)}; }
