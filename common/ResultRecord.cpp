// The update result record: written once at the end of a successful run, beside
// Velmora's main ini. The platform's profile functions write by name and follow
// links, so the record is written whole by our own profile writer, through a
// handle on the ini folder.
#include <vector>
#include "Fehler.h"
#include "Files.h"
#include "FolderFiles.h"
#include "ProfileText.h"
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
    // The record is the file this name gives, joined as the ini folder was
    // read: without a final backslash the name is glued to the last folder's.
    const std::wstring path = Session.IniDir + Settings.RecordName;
    const auto refuse = [&path] { RaiseError(L"In " + path + L" kann nicht geschrieben werden", path); };

    const ProfileValues values{
        {L"Erfolg", std::to_wstring(result)},
        {L"Datum", FormatNow(&::GetDateFormatW, DATE_SHORTDATE, L"Das Datum kann nicht dargestellt werden")},
        // No flags: the long time format, seconds included.
        {L"Uhrzeit", FormatNow(&::GetTimeFormatW, 0, L"Die Uhrzeit kann nicht dargestellt werden")},
        {L"Vorversion", Session.InstalledVersion},
    };
    const FileInFolder record = OpenFileInFolder(path);
    if (!record) refuse();
    // The earlier record is read through a handle checked to lie in the
    // folder under its name; a link there is refused, never read or written.
    std::optional<std::string> before;
    FILE_BASIC_INFO basic{};
    if (const unique_hfile old = OpenToRead(record.Dir, record.Name)) {
        before = ReadWhole(old.get());
        if (!before || !::GetFileInformationByHandleEx(old.get(), FileBasicInfo, &basic, sizeof basic)) refuse();
    } else if (WhatIsAt(record.Dir, record.Name) != AtName::Free) {
        refuse();
    }
    const std::optional<std::string> after = ProfileWithValues(before, L"Update", values);
    if (!after) return StepOk;  // every key already as given: nothing to write
    // All four keys at once: a failure or a kill leaves the earlier record.
    // The new record keeps the earlier one's attributes, as a write in place
    // would; a read-only one takes the new values all the same.
    const DWORD attributes = before ? basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY : 0;
    const std::uint64_t written = PutWhole(record.Dir, record.Name, before.has_value(), [&](HANDLE file) {
        return WriteAll(file, after->data(), after->size()) && SetTimeAndAttributes(file, nullptr, attributes);
    });
    if (!written) refuse();
    // What the first write replaced is what an end with exit code 1 puts back.
    if (!Session.RecordWritten) {
        const FILETIME lastWrite{basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
        Session.RecordWritten = UpdateSession::WrittenRecord{path, std::move(before), lastWrite, basic.FileAttributes};
    }
    Session.RecordWritten->Written = written;
    return StepOk;
}

bool UpdateRun::PutBackRecord() {
    if (!Session.RecordWritten) return true;
    const UpdateSession::WrittenRecord& replaced = *Session.RecordWritten;
    const FileInFolder record = OpenFileInFolder(replaced.Path);
    if (!record) return false;
    bool done = false;
    if (replaced.Before) {
        // Whatever stands at the name now is replaced: the record this run
        // wrote, or a link itself, never what a link leads to.
        done = PutWhole(record.Dir, record.Name, true, [&replaced](HANDLE file) {
                   return WriteAll(file, replaced.Before->data(), replaced.Before->size()) &&
                          SetTimeAndAttributes(file, &replaced.LastWrite, replaced.Attributes);
               }) != 0;
    } else {
        // Only the file this run wrote goes; anything else at the name stays.
        {
            const unique_hfile current =
                record.Dir.OpenFile(record.Name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
            if (current && FileIndexOf(current.get()) == replaced.Written) Folder::Delete(current.get());
        }
        done = WhatIsAt(record.Dir, record.Name) == AtName::Free;
    }
    if (done) Session.RecordWritten.reset();
    return done;
}
