// The benchmark's real run (scripts/bench_archive.sh): the directory updater
// started on a sample installation and driven as a person would, with nothing
// polled from its window meanwhile, so that the run is timed as it is.
//
//   bench_run layout <root>   lays out the sample installation below root
//   bench_run run <root>      runs VLMUpdaterP2_11 on root\Programm; prints one
//                             JSON line: exit code, seconds from the start of
//                             the process and from "Weiter" to its end, and the
//                             entries left in the program folder
//   bench_run hold <file>     waits while the file exists (keeps the prefix's
//                             system processes up between the timed runs)
#include <windows.h>
#include <chrono>
#include <cstdio>
#include <string>
#include "Automation.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

double Since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

int Run(const std::wstring& root) {
    const std::wstring programDir = root + L"\\Programm";
    const auto started = std::chrono::steady_clock::now();
    Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + programDir + L"\\\"");
    if (!p.WaitBox(60000)) return 3;
    p.Answer(L"&Ja");
    HWND main = p.MainWindow(60000);
    if (!main) return 3;
    const auto weiter = std::chrono::steady_clock::now();
    ClickButton(main, L"Weiter");
    std::optional<DWORD> exit;
    while (!(exit = p.WaitExit(50))) {
        if (FindBox(p.Pid()) && p.WaitBox(1000)) p.Answer(L"OK");
    }
    const double whole = Since(started), run = Since(weiter);
    const std::size_t left = ListTree(programDir).size();
    std::printf("{\"exit\": %lu, \"seconds\": %.3f, \"run_seconds\": %.3f, \"left\": %zu}\n",
                static_cast<unsigned long>(*exit), whole, run, left);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"layout" && argc == 3) {
        RemoveTree(argv[2]);
        LayOutSample(argv[2], Fixture(L"v9_4_0_12"));
        return 0;
    }
    if (mode == L"run" && argc == 3) return Run(argv[2]);
    if (mode == L"hold" && argc == 3) {
        while (::GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES) ::Sleep(200);
        return 0;
    }
    std::fputs("usage: bench_run layout|run ROOT, or bench_run hold FILE\n", stderr);
    return 2;
}
