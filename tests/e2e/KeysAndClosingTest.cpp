// Esc, Tab, Enter and close requests in both programs' windows, with the focus
// in the result log as well: the installer may go on only when the user let the
// run finish.
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

enum class Updater { Directory, Registered };
// Compact: waiting for "Weiter". Running: the first log line is shown.
// Stopped: the result record could not be written, the window stays open.
enum class State { Compact, Running, Stopped };

const char* NameOf(Updater u) { return u == Updater::Directory ? "directory updater" : "registered updater"; }
const char* NameOf(State s) {
    switch (s) {
    case State::Compact:
        return "compact";
    case State::Running:
        return "running";
    default:
        return "stopped";
    }
}

// One of the programs on a sample installation, brought into a state.
class Session {
public:
    Session(Updater updater, State state)
        : updater_(updater), sample_(LayOutSample(root_.Path(), Fixture(IsDirectory() ? L"v9_2_0_15" : L"v10_0_0_0"))) {
        // A folder where the record file should be stops the run at its end.
        if (state == State::Stopped) MakeDirs(Record());
        if (IsDirectory()) {
            program_ =
                std::make_unique<Program>(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + sample_.ProgramDir + L"\"");
            auto confirm = program_->WaitBox();
            EXPECT_TRUE(confirm);
            if (confirm) program_->Answer(L"&Ja");
        } else {
            registration_ = std::make_unique<RegistryValue>(HKEY_LOCAL_MACHINE, kInstallPropertiesKey,
                                                            L"InstallLocation", kInstallerView);
            registration_->SetString(sample_.ProgramDir + L"\\");
            program_ = std::make_unique<Program>(BinDir() + L"\\VLMUpdater11.exe", L"");
        }
        main_ = program_->MainWindow();
        EXPECT_TRUE(main_);
        if (!main_) return;
        EXPECT_EQ(WaitFor([&] { return IsDirectory() ? ClientSize(main_).cy == 134 : OuterSize(main_).cy == 170; }),
                  true);
        if (state == State::Compact) return;
        ClickButton(main_, L"Weiter");
        if (state == State::Running) {
            EXPECT_EQ(WaitFor([&] { return !LogLines(main_).empty(); }), true);
        } else {
            auto report = program_->WaitBox(30000);
            EXPECT_TRUE(report);
            if (report) program_->Answer(L"OK");
        }
    }

    bool IsDirectory() const { return updater_ == Updater::Directory; }
    Program& Process() { return *program_; }
    HWND Main() const { return main_; }
    HWND Log() const { return ChildOfClass(main_, L"RICHEDIT50W"); }
    std::wstring Record() const {
        return sample_.IniDir + (IsDirectory() ? L"VLM_9_Update.ini" : L"VLM_10_Update.ini");
    }
    const std::vector<std::wstring>& CompleteLog() const {
        return IsDirectory() ? kDirectoryRunLog : kRegisteredRunLog;
    }

private:
    Updater updater_;
    TempDir root_{L"keys"};
    SampleInstall sample_;
    std::unique_ptr<RegistryValue> registration_;
    std::unique_ptr<Program> program_;
    HWND main_ = nullptr;
};

bool RecordWritten(const Session& s) { return ReadProfile(s.Record(), L"Update", L"Erfolg") == L"0"; }

const Updater kBoth[] = {Updater::Directory, Updater::Registered};

TEST(KeysAndClosing, EscWithTheFocusInTheLogIsAbbruch) {
    // The compact window's log is hidden, but a click still gives it the focus.
    for (Updater updater : kBoth) {
        for (State state : {State::Compact, State::Running, State::Stopped}) {
            SCOPED_TRACE(std::string(NameOf(updater)) + ", " + NameOf(state));
            Session s(updater, state);
            ASSERT_TRUE(s.Main());
            ASSERT_TRUE(ClickInto(s.Log()));
            PressKey(s.Main(), VK_ESCAPE);
            EXPECT_EQ(s.Process().WaitExit(), 1u);
            EXPECT_FALSE(RecordWritten(s));
        }
    }
}

TEST(KeysAndClosing, TabAndShiftTabLeaveTheLogAndEnterInItStartsTheRun) {
    for (Updater updater : kBoth) {
        SCOPED_TRACE(NameOf(updater));
        Session s(updater, State::Stopped);
        HWND main = s.Main();
        ASSERT_TRUE(main);
        ASSERT_EQ(LogLines(main), s.CompleteLog());
        ASSERT_TRUE(ClickInto(s.Log()));

        // Both designs' tab orders give the same cycle once the log has the focus.
        const HWND abbruch = ::FindWindowExW(main, nullptr, L"Button", L"Abbruch");
        const HWND weiter = ::FindWindowExW(main, nullptr, L"Button", L"Weiter");
        for (HWND next : {abbruch, weiter, s.Log()}) {
            PressKey(main, VK_TAB);
            EXPECT_EQ(WaitFor([&] { return FocusedWindow(main) == next; }, 5000), true);
        }
        for (HWND previous : {weiter, abbruch, s.Log()}) {
            PressChord({VK_SHIFT, VK_TAB});
            EXPECT_EQ(WaitFor([&] { return FocusedWindow(main) == previous; }, 5000), true);
        }
        EXPECT_EQ(LogLines(main), s.CompleteLog());

        // The focus is back in the log: Enter is "Weiter", the run starts again
        // from its first step and stops at the record once more.
        PressKey(main, VK_RETURN);
        auto report = s.Process().WaitBox(30000);
        ASSERT_TRUE(report);
        s.Process().Answer(L"OK");
        auto twice = s.CompleteLog();
        twice.insert(twice.end(), s.CompleteLog().begin(), s.CompleteLog().end());
        EXPECT_EQ(LogLines(main), twice);
        ClickButton(main, L"Abbruch");
        EXPECT_EQ(s.Process().WaitExit(), 1u);
    }
}

TEST(KeysAndClosing, CloseRequests) {
    struct Case {
        Updater Program;
        State At;
        const char* Name;
        void (*Request)(HWND);
        // The exit code the request gives; none when the program ignores it and
        // then finishes its run (started by the test if need be) with 0.
        std::optional<DWORD> Exit;
    };
    const auto altF4 = [](HWND main) { PressAltKey(main, VK_F4); };
    const Case cases[] = {
        {Updater::Directory, State::Compact, "close button", PressClose, 0},
        {Updater::Directory, State::Stopped, "close button", PressClose, 1},
        {Updater::Directory, State::Running, "close button", PressClose, 1},
        {Updater::Directory, State::Running, "Alt+F4", altF4, 1},
        {Updater::Directory, State::Running, "posted close", PostClose, 1},
        {Updater::Registered, State::Compact, "Alt+F4", altF4, std::nullopt},
        {Updater::Registered, State::Compact, "posted close", PostClose, std::nullopt},
        {Updater::Registered, State::Running, "Alt+F4", altF4, std::nullopt},
        {Updater::Registered, State::Running, "system close command", PressClose, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(NameOf(c.Program)) + ", " + NameOf(c.At) + ", " + c.Name);
        Session s(c.Program, c.At);
        ASSERT_TRUE(s.Main());
        c.Request(s.Main());
        if (c.Exit) {
            EXPECT_EQ(s.Process().WaitExit(), c.Exit);
            EXPECT_FALSE(RecordWritten(s));
            continue;
        }
        if (c.At == State::Compact) {
            if (auto exit = s.Process().WaitExit(1500)) {
                ADD_FAILURE() << "the program ended with " << *exit;
                continue;
            }
            ClickButton(s.Main(), L"Weiter");
        }
        EXPECT_EQ(s.Process().WaitExit(30000), 0u);
        EXPECT_TRUE(RecordWritten(s));
    }
}

}  // namespace
