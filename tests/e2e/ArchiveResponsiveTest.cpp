// The directory updater's window while the archive step packs a large program
// folder: watched from this process, as the platform's hung-window check sees it.
#include <gtest/gtest.h>
#include <chrono>
#include "Automation.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

using Clock = std::chrono::steady_clock;

// Random letters from a four-letter alphabet: quick to make, slow to deflate
// (long hash chains, short matches), so a modest folder keeps the step busy.
std::string SlowToDeflate(std::size_t size, std::uint64_t seed) {
    std::string out(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i < size; i += 32) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        for (std::size_t j = 0; j < 32 && i + j < size; ++j) out[i + j] = "ACGT"[(x >> (2 * j)) & 3];
    }
    return out;
}

// Whether the step's archive of its own ("vlm*.tmp") is in the temporary folder.
bool TempArchiveExists() {
    wchar_t temp[MAX_PATH + 1]{};
    ::GetTempPathW(MAX_PATH + 1, temp);
    WIN32_FIND_DATAW fd;
    HANDLE find = ::FindFirstFileW((std::wstring(temp) + L"vlm*.tmp").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return false;
    ::FindClose(find);
    return true;
}

TEST(ArchiveStep, TheWindowIsNeverTakenForHungAndAQueuedClickWaitsForTheStepsEnd) {
    TempDir root(L"hung");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    constexpr int kFiles = 16;
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

    // The step starts by creating its temporary archive and puts the archive
    // in the folder once it is complete.
    std::optional<Clock::time_point> started, archived;
    bool clicked = false;
    int hungSamples = 0, samples = 0;
    std::optional<DWORD> exit;
    while (!(exit = p.WaitExit(50))) {
        const auto now = Clock::now();
        if (!started && TempArchiveExists()) started = now;
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
