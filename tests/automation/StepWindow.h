// A program's run inside the test process, for in-process tests of the steps,
// with empty session fields: StepRun against a window that records what the
// steps show, StepWindow against the program's real main window where the
// window itself is the point (box titles and buttons, layout). The real
// window goes with it without posting a quit message, so no later step takes
// it for a closed program.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "Haupt.h"
#include "InProcessRun.h"
#include "UpdateRun.h"

namespace vlmtest {

template <typename Program>
struct StepWindow {
    Program P;
    TFHaupt F{P.Design()};
    UpdateRun R{P, F};
    StepWindow() { F.CreateForm(::GetModuleHandleW(nullptr), R); }
};

// What the steps show, kept in order; a confirmation is answered with the
// next of ConfirmAnswers ("&Ja" once they are used up). An end throws
// ProgramEnded after the run's end steps, as the real window calls them.
class RecordingWindow final : public RunWindow {
public:
    struct Box {
        bool Confirmation;
        std::wstring Text;
    };
    std::vector<std::wstring> Log;
    std::wstring Status;
    std::vector<Box> Boxes;
    std::vector<bool> ConfirmAnswers;
    enum class Layout { Created, Compact, WithLog } Shown = Layout::Created;
    FormHandlers* Handlers = nullptr;

    void AddLogLine(const std::wstring& text) override { Log.push_back(text); }
    void SetStatus(const std::wstring& text) override { Status = text; }
    void ErrorBox(const std::wstring& text) override { Boxes.push_back({false, text}); }
    bool ConfirmBox(const std::wstring& text) override {
        Boxes.push_back({true, text});
        if (ConfirmAnswers.empty()) return true;
        const bool answer = ConfirmAnswers.front();
        ConfirmAnswers.erase(ConfirmAnswers.begin());
        return answer;
    }
    void ProcessMessages() override {}
    void ShowWithoutInput(DWORD) override {}
    void ShowCompact() override { Shown = Layout::Compact; }
    void ShowLog() override { Shown = Layout::WithLog; }
    [[noreturn]] void EndWith(int exitCode) override {
        if (Handlers) Handlers->BeforeEnd(exitCode);
        throw ProgramEnded{exitCode};
    }
};

template <typename Program>
struct StepRun {
    Program P;
    RecordingWindow W;
    UpdateRun R{P, W};
    StepRun() { W.Handlers = &R; }
};

}  // namespace vlmtest
