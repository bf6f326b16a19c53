// Runs a program's handlers inside the test process: where the program would end,
// an exception carries the exit code to the test instead.
#pragma once
#include "Haupt.h"

namespace vlmtest {

struct ProgramEnded {
    int ExitCode;
};

// Makes the real window's ends throw ProgramEnded while it lives.
class EndCatcher {
public:
    EndCatcher() {
        TFHaupt::EndHook = [](int code) { throw ProgramEnded{code}; };
    }
    EndCatcher(const EndCatcher&) = delete;
    EndCatcher& operator=(const EndCatcher&) = delete;
    ~EndCatcher() { TFHaupt::EndHook = nullptr; }

    // The exit code the handler ended with, or -1 when it returned.
    template <typename Handler>
    int Call(Handler&& handler) {
        try {
            handler();
        } catch (const ProgramEnded& ended) {
            return ended.ExitCode;
        }
        return -1;
    }
};

}  // namespace vlmtest
