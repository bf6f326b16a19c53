// The directory updater's window while the archive step packs a large program
// folder: watched from this process, as the platform's hung-window check sees it.
#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include "Automation.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

using Clock = std::chrono::steady_clock;

// Whether the step's archive, still under its name of its own
// ("vlmaltinst.zip.<pid>.tmp"), is being written in the program folder.
bool PartialArchiveExists(const std::wstring& programDir) {
    return !NamesIn(programDir, L"vlmaltinst.zip.*.tmp").empty();
}

TEST(ArchiveStep, TheWindowIsNeverTakenForHungAndAQueuedClickWaitsForTheStepsEnd) {
    TempDir root(L"hung");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    constexpr int kFiles = 24;  // 192 MiB: at least 7 s of archiving on a quiet machine
    MakeDirs(s.ProgramDir + L"\\Daten");
    // Even seconds: the archive keeps a file's time to two seconds.
    const SYSTEMTIME even{2024, 3, 4, 14, 10, 20, 30, 0};
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring path = s.ProgramDir + L"\\Daten\\teil" + std::to_wstring(i) + L".dat";
        WriteBytes(path, SlowToDeflate(8u << 20, i + 1));
        SetLastWrite(path, even);
    }
    const std::wstring placed = s.ProgramDir + L"\\vlmaltinst.zip";
    const auto before = TreeSnapshot(s.ProgramDir);

    Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + s.ProgramDir + L"\"");
    ASSERT_TRUE(p.WaitBox());
    p.Answer(L"&Ja");
    HWND main = p.MainWindow();
    ASSERT_TRUE(main);
    ClickButton(main, L"Weiter");

    // The step starts by creating its archive under a name of its own and
    // gives it its final name once it is complete.
    std::optional<Clock::time_point> started, archived;
    bool clicked = false;
    int hungSamples = 0, samples = 0;
    std::optional<DWORD> exit;
    while (!(exit = p.WaitExit(50))) {
        const auto now = Clock::now();
        if (!started && PartialArchiveExists(s.ProgramDir)) started = now;
        if (started && !archived && Exists(placed)) archived = now;
        if (started && !archived) {
            ++samples;
            if (::IsHungAppWindow(main)) ++hungSamples;
            // "Abbruch" clicked in the middle of archiving: the click waits in the
            // queue until the step's own message point at its end.
            if (!clicked && now - *started > std::chrono::seconds(1)) {
                ::PostMessageW(::GetDlgItem(main, IDCANCEL), BM_CLICK, 0, 0);
                clicked = true;
            }
        }
    }
    ASSERT_TRUE(started && archived) << "the archive step was not seen";
    const double seconds = std::chrono::duration<double>(*archived - *started).count();
    std::printf("archiving %.1f s, %d samples\n", seconds, samples);
    if (seconds < 7.0) GTEST_SKIP() << "archiving took " << seconds << " s: too short for the 5 s hung check";
    EXPECT_EQ(hungSamples, 0) << "of " << samples << " samples over " << seconds << " s";
    ASSERT_TRUE(clicked);
    // The click ended the program after the step, which had emptied the
    // folder; ending with 1 put it back as it was.
    EXPECT_EQ(exit, 1u);
    EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
}

}  // namespace

// ---- The window answers other programs throughout a run on a large folder. ----

namespace {

// Sends WM_GETTEXT to the window every 50 ms from its own thread and samples
// the platform's hung-window check, as another program (or the shell offering
// to end a silent window) would.
class ReadProbe {
public:
    explicit ReadProbe(HWND window) : window_(window), thread_([this] { Run(); }) {}
    ~ReadProbe() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    double SlowestMs = 0;
    int Reads = 0, Unanswered = 0, HungSamples = 0;

private:
    void Run() {
        while (!stop_ && ::IsWindow(window_)) {
            if (::IsHungAppWindow(window_)) ++HungSamples;
            wchar_t text[64];
            DWORD_PTR result = 0;
            const auto sent = Clock::now();
            const LRESULT ok = ::SendMessageTimeoutW(window_, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text),
                                                     SMTO_NORMAL, 1000, &result);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
            if (!::IsWindow(window_)) break;  // the program ended while the read waited
            ++Reads;
            if (!ok) ++Unanswered;
            SlowestMs = std::max(SlowestMs, ms);
            ::Sleep(50);
        }
    }
    HWND window_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// 200 MiB that deflate makes short work of (a 16 KiB block repeated, so every
// match is long), and 8,000 small files: cheap to lay out, long to delete and
// to restore one by one.
void AddLargeFolder(const std::wstring& programDir) {
    const std::string block = RandomBytes(16 << 10, 2);
    std::string large;
    for (int i = 0; i < 512; ++i) large += block;  // 8 MiB
    MakeDirs(programDir + L"\\Daten");
    for (int i = 0; i < 25; ++i) WriteBytes(programDir + L"\\Daten\\gross" + std::to_wstring(i) + L".bin", large);
    for (int i = 0; i < 8000; ++i) {
        const std::wstring folder = programDir + L"\\Hilfe\\T" + std::to_wstring(i / 250);
        if (i % 250 == 0) MakeDirs(folder);
        WriteBytes(folder + L"\\s" + std::to_wstring(i) + L".htm", "<p>" + std::to_string(i) + "</p>");
    }
}

}  // namespace

TEST(WindowAnswers, ThroughoutARunAndARestoreOnALargeFolder) {
    struct Case {
        const char* Name;
        bool MissingNkk;  // the run ends with exit code 1 and restores the folder
        DWORD Exit;
    };
    const Case cases[] = {{"complete run", false, 0}, {"run ending in the restore", true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir root(L"answers");
        const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
        AddLargeFolder(s.ProgramDir);
        if (c.MissingNkk) ::DeleteFileW((s.NkkDir + L"NKK_Noten.CDX").c_str());
        Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + s.ProgramDir + L"\"");
        ASSERT_TRUE(p.WaitBox(60000));
        p.Answer(L"&Ja");
        HWND main = p.MainWindow();
        ASSERT_TRUE(main);
        ASSERT_EQ(WaitFor([&] { return ClientSize(main).cy == 134; }), true);
        const auto started = Clock::now();
        ReadProbe probe(main);
        ClickButton(main, L"Weiter");
        const auto exit = p.WaitExit(600000);
        probe.Stop();
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        std::printf("%s: %.1f s, %d reads, slowest answer %.0f ms, %d hung samples\n", c.Name, seconds, probe.Reads,
                    probe.SlowestMs, probe.HungSamples);
        EXPECT_EQ(exit, c.Exit);
        EXPECT_GT(probe.Reads, 20);
        EXPECT_EQ(probe.Unanswered, 0);
        EXPECT_LT(probe.SlowestMs, 1000.0);
        EXPECT_EQ(probe.HungSamples, 0);
    }
}
