// Installation discovery of the registered-installation updater: the installer
// registration names the installation folder; the start ini there, its
// VirtualStore copy or the ini-folder default names the ini folder.
#include <shlobj.h>
#include "DataPaths.h"
#include "Discovery.h"
#include "Fehler.h"
#include "Files.h"
#include "Haupt.h"
#include "RegisteredUpdater.h"

namespace {

constexpr wchar_t kInstallDirUnknown[] =
    L"Das Installationsverzeichnis von Velmora konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
constexpr wchar_t kIniDirUnknown[] =
    L"Das Velmora-Inidateiverzeichnis konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";
constexpr wchar_t kCommonAppDataUnknown[] =
    L"Der Ordner \"All Users\\Anwendungsdaten\" konnte nicht ermittelt werden!\nDas Update wird abgebrochen!";

}  // namespace

REGSAM InstallKeyAccess(bool wow64) { return wow64 ? (KEY_READ | KEY_WOW64_64KEY) : KEY_READ; }

std::wstring GetShellFolder(HWND owner, int csidl) {
    wchar_t buffer[MAX_PATH]{};
    if (!::SHGetSpecialFolderPathW(owner, buffer, csidl, FALSE)) return {};
    return buffer;
}

std::wstring VirtualStoreStartIni(const std::wstring& localAppData, const std::wstring& installDir) {
    std::wstring path = localAppData;
    for (wchar_t& c : path)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    path = WithFinalBackslash(path);
    // The folder without its drive letter and colon, and without the final
    // backslash that "\VelmStart.ini" brings back. A folder given without one
    // keeps its last character.
    const std::wstring folder = WithoutOneFinalBackslash(installDir.size() > 2 ? installDir.substr(2) : std::wstring());
    return path + L"VirtualStore" + folder + L"\\VelmStart.ini";
}

bool IsWow64() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32");
    if (!kernel) return false;
    FARPROC proc = ::GetProcAddress(kernel, "IsWow64Process");
    if (!proc) return false;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(proc));
    BOOL wow64 = FALSE;
    if (!isWow64Process(::GetCurrentProcess(), &wow64)) RaiseError(L"IsWow64: bad process handle");
    return wow64 != FALSE;
}

// The value is used as read: a final backslash stays.
int RegisteredUpdater::GetCommAppData(TFHaupt& form) {
    form.CommonAppDataDir = GetFileFolderPathFromRegistry(L"Common Appdata");
    if (form.CommonAppDataDir.empty()) {
        form.ErrorBox(kCommonAppDataUnknown);
        return 1;
    }
    return 0;
}

int RegisteredUpdater::PruefeVLMIni(TFHaupt& form) {
    const REGSAM access = InstallKeyAccess(IsWow64());
    {
        unique_hkey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallPropertiesKey, 0, access, key.put()) != ERROR_SUCCESS) {
            form.ErrorBox(kInstallDirUnknown);
            return 1;
        }
        form.InstallDir = ReadRegistryText(key.get(), L"InstallLocation");
    }
    if (form.InstallDir.empty()) {
        form.ErrorBox(kInstallDirUnknown);
        return 1;
    }

    // The sources of the ini folder, each only while the previous one has no
    // start ini: a start ini without IniPfad ends the search.
    std::wstring startIni = form.InstallDir + L"\\VelmStart.ini";
    if (!FileExists(startIni))
        startIni = VirtualStoreStartIni(GetShellFolder(form.Handle, CSIDL_LOCAL_APPDATA), form.InstallDir);
    if (FileExists(startIni)) {
        form.IniDir = ReadProfileText(startIni, L"Setup", L"IniPfad");
        if (form.IniDir.empty()) {
            form.ErrorBox(kIniDirUnknown);
            return 1;
        }
    } else {
        if (GetCommAppData(form) != 0) return 1;
        form.IniDir = form.CommonAppDataDir + L"\\Brellix\\Velmora\\";
    }

    // The "001" sub-folder and the main ini: the shared steps, by this program's settings.
    return form.PruefeHauptIni();
}
