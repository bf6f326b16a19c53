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

void UpdateRun::KeepRecordBefore() {
    if (recordBefore_.Kept) return;
    RecordBefore before;
    before.Folder = Session.IniDir;
    before.Name = Settings.RecordName;
    const std::wstring path = before.Folder + before.Name;
    const auto refuse = [&path] { RaiseError(L"In " + path + L" kann nicht geschrieben werden", path); };
    const std::wstring full = FullPath(path);
    if (full.empty()) refuse();
    unique_hfile file(::CreateFileW(ExtendedPath(full).c_str(), GENERIC_READ | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) {
        // Only a plain file of the ini folder is the record; whatever a link
        // leads to is neither kept nor, later, written.
        FILE_STANDARD_INFO standard{};
        FILE_BASIC_INFO basic{};
        if (!HandleLiesBelow(file.get(), before.Folder, before.Name) ||
            !::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof standard) ||
            !::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) || standard.Directory ||
            (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || standard.EndOfFile.QuadPart > (1 << 24))
            refuse();
        before.Bytes.resize(static_cast<std::size_t>(standard.EndOfFile.QuadPart));
        DWORD got = 0;
        if (!before.Bytes.empty() &&
            (!::ReadFile(file.get(), before.Bytes.data(), static_cast<DWORD>(before.Bytes.size()), &got, nullptr) ||
             got != before.Bytes.size()))
            refuse();
        before.Existed = true;
        before.LastWrite = FILETIME{basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
        before.Attributes = basic.FileAttributes;
    } else {
        // Nothing there, or not even the ini folder: the write then fails on
        // its own. Anything else that cannot be read could not be put back.
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) refuse();
    }
    before.Kept = true;
    recordBefore_ = std::move(before);
}

bool UpdateRun::PutBackRecord() {
    const RecordBefore& before = recordBefore_;
    if (!before.Kept) return true;
    const std::wstring path = before.Folder + before.Name;
    // The platform's cached copy goes to the file now, not over the put-back.
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
    const std::wstring full = FullPath(path);
    if (full.empty()) return false;
    if (!before.Existed) return DeletePlainFile(full) || !FileExists(full);
    // The earlier bytes go to a fresh file beside the record, which then
    // takes the record's name: the rename replaces whatever stands there,
    // a link itself rather than what it leads to.
    TemporaryFile temp = CreateTemporaryBelow(before.Folder, L"", GENERIC_WRITE | FILE_WRITE_ATTRIBUTES);
    if (!temp) return false;
    scope_exit discard([&temp] { DiscardTemporary(temp); });
    if (!WriteAll(temp.Handle.get(), before.Bytes.data(), before.Bytes.size()) ||
        !::FlushFileBuffers(temp.Handle.get()) ||
        !SetTimeAndAttributes(temp.Handle.get(), &before.LastWrite, before.Attributes) ||
        !RenameByHandle(temp.Handle.get(), full, true))
        return false;
    discard.release();
    return HandleLiesBelow(temp.Handle.get(), before.Folder, before.Name);
}

int UpdateRun::SchreibeIni(int result) {
    KeepRecordBefore();
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
