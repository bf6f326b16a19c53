// The pieces of the registered-installation updater's discovery that stand on
// their own.
#include "Discovery.h"
#include <shlobj.h>
#include "Fehler.h"
#include "Files.h"

REGSAM InstallKeyAccess(bool wow64) { return wow64 ? (KEY_READ | KEY_WOW64_64KEY) : KEY_READ; }

std::wstring GetShellFolder(int csidl) {
    wchar_t buffer[MAX_PATH]{};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE)) return {};
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
