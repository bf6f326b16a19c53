// Data-path discovery shared by both updaters: from the main ini to the data
// folder and the folders derived from it. Paths stay UTF-16 throughout and are
// joined by plain concatenation, exactly as Velmora wrote them.
#include "DataPaths.h"
#include <vector>
#include "Fehler.h"
#include "Files.h"
#include "Raii.h"
#include "UpdateRun.h"

namespace {

constexpr wchar_t kShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

void RequireText(DWORD type, const std::wstring& name) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) RaiseError(L"Der Registrierungswert \"" + name + L"\" ist kein Text");
}

}  // namespace

std::wstring ReadRegistryText(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
    std::vector<wchar_t> buffer;
    LSTATUS status;
    do {
        RequireText(type, name);
        // Room for an odd byte count and for a terminator the data may lack.
        buffer.assign(size / sizeof(wchar_t) + 2, L'\0');
        size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        status = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    } while (status == ERROR_MORE_DATA);  // the value grew between the two reads
    if (status != ERROR_SUCCESS) return {};
    RequireText(type, name);

    std::wstring text(buffer.data(), size / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

std::wstring GetFileFolderPathFromRegistry(const std::wstring& name) {
    unique_hkey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kShellFoldersKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    return ReadRegistryText(key.get(), name);
}

std::wstring GetPreviousDir(const std::wstring& path) {
    const std::wstring s = WithoutOneFinalBackslash(path);
    if (s.size() <= 3) return path;
    // The last character of s is not looked at: the search starts one before it.
    for (size_t i = s.size() - 1; i-- > 0;) {
        if (s[i] == L'\\') return s.substr(0, i + 1);
    }
    return path;
}

std::wstring ReadProfileText(const std::wstring& file, const std::wstring& section, const std::wstring& key) {
    std::vector<wchar_t> buffer(2048, L'\0');
    const DWORD length = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(),
                                                    static_cast<DWORD>(buffer.size()), file.c_str());
    return std::wstring(buffer.data(), length);
}

// Main ini, data folder and the folders derived from it. How a failure is
// reported, and whether a "001" sub-folder counts, the program's settings say.
int UpdateRun::PruefeHauptIni() {
    auto fail = [&](const wchar_t* box, const wchar_t* logLine) {
        Window.ErrorBox(box);
        if (Settings.DiscoveryLogLines) Window.AddLogLine(logLine);
        return Settings.DiscoveryFailResult;
    };

    if (Settings.UsesSubdir001) {
        Session.HasSubdir001 = DirectoryExists(Session.IniDir + L"001");
        if (Session.HasSubdir001) Session.IniDir += L"001\\";
    }

    // IniDir is used as read: without a final backslash the file name is glued to
    // the last folder name, and the test below finds nothing there.
    Session.MainIniPath = Session.IniDir + L"velmora.ini";
    if (!FileExists(Session.MainIniPath)) {
        return fail(L"Die Ini-Datei \"velmora.ini\" wurde nicht gefunden!\nDas Update wird abgebrochen!",
                    L"velmora.ini nicht gefunden - Fehler");
    }

    Session.DataDir = ReadProfileText(Session.MainIniPath, L"Setup", L"Datenverzeichnis");
    if (Session.DataDir.empty()) {
        return fail(L"Das Velmora - Datenverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!",
                    L"Velmora-Datenverzeichnis - Fehler");
    }

    Session.BaseDir = GetPreviousDir(Session.DataDir);
    Session.FormsDir = Session.BaseDir + L"Formulare\\";
    Session.NkkDir = Session.BaseDir + L"NKK\\";
    return StepOk;
}
