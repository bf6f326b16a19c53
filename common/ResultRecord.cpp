// The update result record: written once at the end of a successful run, beside
// Velmora's main ini.
#include <vector>
#include "Fehler.h"
#include "Files.h"
#include "Raii.h"
#include "UpdateRun.h"

namespace {

// Date and time share the formatting functions' signature.
using ClockFormatter = int(WINAPI*)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int);

// A reading of the local clock in a format of the thread locale: each text
// comes from its own reading.
std::wstring FormatNow(ClockFormatter format, DWORD flags, const wchar_t* failure) {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const LCID locale = ::GetThreadLocale();
    const int size = format(locale, flags, &now, nullptr, nullptr, 0);
    std::vector<wchar_t> text(static_cast<size_t>(size > 0 ? size : 1), L'\0');
    if (size <= 0 || format(locale, flags, &now, nullptr, text.data(), size) <= 0) RaiseError(failure);
    return text.data();
}

}  // namespace

int UpdateRun::SchreibeIni(int result) {
    const std::wstring path = Session.IniDir + Settings.RecordName;
    // Makes the platform write its cached copy of the record, on every way out.
    scope_exit flush([&path] { ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str()); });

    // One key per call, so keys written before a failure stay in the file.
    // The profile functions write by name and follow links: before each call
    // the record must be a plain file of the ini folder (made empty when it
    // is missing), or the write is refused as one that failed.
    auto write = [this, &path](const wchar_t* key, const std::wstring& value) {
        if (!EnsurePlainFileBelow(Session.IniDir, Settings.RecordName) ||
            !::WritePrivateProfileStringW(L"Update", key, value.c_str(), path.c_str()))
            RaiseError(L"In " + path + L" kann nicht geschrieben werden", path);
    };
    write(L"Erfolg", std::to_wstring(result));
    write(L"Datum", FormatNow(&::GetDateFormatW, DATE_SHORTDATE, L"Das Datum kann nicht dargestellt werden"));
    // No flags: the long time format, seconds included.
    write(L"Uhrzeit", FormatNow(&::GetTimeFormatW, 0, L"Die Uhrzeit kann nicht dargestellt werden"));
    write(L"Vorversion", Session.InstalledVersion);
    return StepOk;
}
