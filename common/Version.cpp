#include "Version.h"
#include <windows.h>
#include <cstdio>
#include <vector>

std::wstring GetFileVersionsString_2(const std::wstring& path) {
    auto text = [](DWORD ms, DWORD ls) {
        wchar_t buffer[32];
        swprintf(buffer, 32, L"%d.%d.%d.%d", int(HIWORD(ms)), int(LOWORD(ms)), int(HIWORD(ls)), int(LOWORD(ls)));
        return std::wstring(buffer);
    };
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return text(0, 0);
    std::vector<BYTE> buffer(size, 0);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, buffer.data())) return text(0, 0);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) return text(0, 0);
    return text(info->dwProductVersionMS, info->dwProductVersionLS);
}

int MajorVersion(const std::wstring& version) {
    int major = 0;
    for (wchar_t c : version) {
        if (c == L'.') break;
        if (c < L'0' || c > L'9') return -1;
        major = major * 10 + (c - L'0');
        if (major > 65535) return -1;
    }
    return major;
}
