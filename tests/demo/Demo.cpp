// The demonstration run: lays out a sample installation, runs both updaters on
// it the way a person would (or lets the person click, with --interactive) and
// prints what happened. With --shots DIR it also saves pictures of the windows.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

bool interactive = false;
std::wstring shotsDir;

void Print(const std::wstring& text) {
    const std::string bytes = WideToUtf8(text + L"\n");
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Saves what the screen shows of the window as a 24-bit BMP; nothing when the
// window is gone by then.
void Shot(HWND window, const std::wstring& name) {
    if (shotsDir.empty() || !window) return;
    ::Sleep(150);  // let the window paint
    RECT r;
    if (!::GetWindowRect(window, &r)) return;
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = ((w * 3 + 3) / 4) * 4, size = stride * h;
    // A window on its way out may still exist but show nothing: a picture
    // that is black all over keeps the earlier one.
    const auto* first = static_cast<const unsigned char*>(bits);
    const bool alive = ::IsWindow(window) && std::any_of(first, first + size, [](unsigned char b) { return b; });
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(fh) + sizeof(bi.bmiHeader);
    fh.bfSize = fh.bfOffBits + size;
    std::string file(reinterpret_cast<const char*>(&fh), sizeof(fh));
    file.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof(bi.bmiHeader));
    file.append(static_cast<const char*>(bits), size);
    if (alive) WriteBytes(shotsDir + L"\\" + name + L".bmp", file);
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

void PrintBox(const BoxSeen& box) {
    Print(L"  Meldung \u00bb" + box.Title + L"\u00ab:");
    std::wstring text = box.Text;
    for (size_t pos = 0; (pos = text.find(L'\n', pos)) != std::wstring::npos; pos += 5) text.replace(pos, 1, L"\n    ");
    Print(L"    " + text);
}

// Answers the boxes, presses "Weiter" and follows the log until the program ends.
DWORD Drive(Program& program, const std::wstring& shotPrefix, bool expectConfirmation) {
    if (expectConfirmation && !interactive) {
        if (auto box = program.WaitBox()) {
            PrintBox(*box);
            Print(L"  Antwort: &Ja");
            if (!shotPrefix.empty() && !shotsDir.empty()) Shot(FindBox(program.Pid()), shotPrefix + L"-confirm");
            program.Answer(L"&Ja");
        }
    }
    HWND main = program.MainWindow(interactive ? 600000 : 10000);
    if (!main) {
        Print(L"  (kein Fenster)");
        return program.WaitExit().value_or(99);
    }
    Shot(main, shotPrefix + L"-compact");
    if (!interactive) ClickButton(main, L"Weiter");
    size_t printed = 0;
    size_t shotLines = 0;
    while (true) {
        if (auto code = program.WaitExit(50)) return *code;
        if (HWND box = FindBox(program.Pid()); box && !interactive) {
            PrintBox(ReadBox(box));
            program.WaitBox(100);
            program.Answer(L"OK");
        }
        const auto lines = LogLines(main);
        for (; printed < lines.size(); ++printed) Print(L"  | " + lines[printed]);
        // The window goes as soon as the run ends: keep the latest picture taken.
        if (lines.size() >= 9 && lines.size() != shotLines) {
            Shot(main, shotPrefix + L"-run");
            shotLines = lines.size();
        }
        if (!lines.empty()) {
            static std::wstring lastStatus;
            const std::wstring status = StatusText(main);
            // Nothing clears the status line: an empty read means the window is gone.
            if (!status.empty() && status != lastStatus) Print(L"  Statuszeile: " + (lastStatus = status));
        }
    }
}

void PrintRecord(const std::wstring& path) {
    Print(L"  Ergebnisdatei " + path + L":");
    if (auto bytes = ReadBytes(path)) {
        std::wstring text =
            (bytes->size() >= 2 && (*bytes)[0] == '\xFF' && (*bytes)[1] == '\xFE')
                ? std::wstring(reinterpret_cast<const wchar_t*>(bytes->data() + 2), (bytes->size() - 2) / 2)
                : Utf8ToWide(*bytes);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(L'\n', start);
            std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
            if (!line.empty() && line.back() == L'\r') line.pop_back();
            if (!line.empty()) Print(L"    " + line);
            if (end == std::wstring::npos) break;
            start = end + 1;
        }
    } else {
        Print(L"    (nicht geschrieben)");
    }
}

void PrintBackups(const SampleInstall& s) {
    Print(L"  Sicherungen:");
    for (const std::wstring& folder : {s.FormsDir, s.DataDir, s.NkkDir})
        for (const auto& name : ListTree(folder.substr(0, folder.size() - 1)))
            if (name.starts_with(L"VLM_Bkp_")) Print(L"    " + folder + name);
    for (const auto& name : ListTree(s.BaseDir + L"VLM_Bkp_Formulierungen"))
        Print(L"    " + s.BaseDir + L"VLM_Bkp_Formulierungen\\" + name);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring root;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--interactive")
            interactive = true;
        else if (arg == L"--shots" && i + 1 < argc)
            shotsDir = argv[++i];
        else
            root = arg;
    }
    if (root.empty()) {
        Print(L"usage: vlm_demo ROOT [--interactive] [--shots DIR]");
        return 2;
    }
    RemoveTree(root);

    Print(L"== VLMUpdaterP2_11: Verzeichnis-Update einer Version-9-Installation");
    const SampleInstall dir = LayOutSample(root + L"\\Verzeichnis", Fixture(L"v9_4_0_12"));
    Print(L"  Programmordner: " + dir.ProgramDir);
    DWORD dirExit;
    {
        Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + dir.ProgramDir + L"\\\"");
        dirExit = Drive(p, L"VLMUpdaterP2_11", true);
    }
    Print(L"  Exit-Code: " + std::to_wstring(dirExit));
    Print(L"  Programmordner danach:");
    for (const auto& name : ListTree(dir.ProgramDir)) Print(L"    " + name);
    PrintBackups(dir);
    PrintRecord(dir.IniDir + L"VLM_9_Update.ini");

    Print(L"");
    Print(L"== VLMUpdater11: Update der registrierten Version-10-Installation");
    DWORD regExit;
    SampleInstall reg;
    std::wstring removal;
    {
        // Installed by Windows Installer as on a school's computer; the updater
        // finds it through the installer's registration alone.
        InstalledSample installed(root + L"\\Registriert", L"v10_0_0_0");
        reg = installed.Sample;
        removal = installed.RemoveCommand;
        Print(L"  Installiert mit Windows Installer: msiexec " + installed.InstallCommand);
        Print(L"  Registriert (HKLM\\" + std::wstring(kInstallPropertiesKey) + L"):");
        Print(L"    InstallLocation=" + RegisteredInstallLocation().value_or(L"(fehlt)"));
        Print(L"  Programmordner:");
        for (const auto& name : ListTree(reg.ProgramDir)) Print(L"    " + name);
        Program p(BinDir() + L"\\VLMUpdater11.exe", L"");
        regExit = Drive(p, L"VLMUpdater11", false);
    }
    Print(L"  Exit-Code: " + std::to_wstring(regExit));
    Print(L"  Entfernt mit Windows Installer: msiexec " + removal + L" (registriert danach: " +
          (RegisteredInstallLocation() ? L"ja" : L"nein") + L")");
    PrintBackups(reg);
    PrintRecord(reg.IniDir + L"VLM_10_Update.ini");
    return dirExit == 0 && regExit == 0 ? 0 : 1;
}
