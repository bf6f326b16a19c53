#include "FolderFiles.h"
#include <vector>
#include "Files.h"

FileInFolder OpenFileInFolder(const std::wstring& fullPath, ACCESS_MASK access) {
    const std::size_t slash = fullPath.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash + 1 >= fullPath.size()) {
        ::SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    return {Folder::OpenAsNamed(fullPath.substr(0, slash + 1), access), fullPath.substr(slash + 1)};
}

AtName WhatIsAt(const Folder& folder, const std::wstring& name) {
    if (folder.OpenFile(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return AtName::PlainFile;
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return AtName::Refused;
    // A dangling link cannot be opened and looks missing; only creating the
    // name tells. The probe goes again at once.
    const unique_hfile probe = folder.OpenFile(name, DELETE, 0, Folder::How::Create);
    if (!probe) return AtName::Refused;
    Folder::Delete(probe.get());
    return AtName::Free;
}

unique_hfile OpenToRead(const Folder& folder, const std::wstring& name) {
    unique_hfile file = folder.OpenFile(name, GENERIC_READ, FILE_SHARE_READ);
    if (!file) return file;
    const unique_hfile again =
        folder.OpenFile(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    const std::uint64_t index = FileIndexOf(file.get());
    if (!again || index == 0 || FileIndexOf(again.get()) != index) {
        ::SetLastError(Folder::LinkRefused);
        return {};
    }
    return file;
}

std::optional<std::string> ReadWhole(HANDLE file) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::nullopt;
    std::string bytes;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return std::nullopt;
        if (got == 0) return bytes;
        bytes.append(buffer.data(), got);
    }
}

std::uint64_t PutWhole(const Folder& folder, const std::wstring& name, bool replace,
                       const std::function<bool(HANDLE temp)>& fill) {
    std::wstring tempName;
    unique_hfile temp = folder.CreateTemporary(GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, tempName);
    if (!temp) return 0;
    // Every way out but the last deletes the temporary file, keeping the
    // failure's own error.
    bool renamed = false;
    scope_exit discard([&temp, &renamed] {
        const DWORD error = ::GetLastError();
        if (!renamed) {
            SetTimeAndAttributes(temp.get(), nullptr, 0);
            Folder::Delete(temp.get());
        }
        ::SetLastError(error ? error : ERROR_WRITE_FAULT);
    });
    const std::uint64_t index = FileIndexOf(temp.get());
    if (index == 0 || !fill(temp.get()) || !::FlushFileBuffers(temp.get())) return 0;
    if (!folder.RenameInto(temp.get(), name, replace)) {
        // A rename refused after it went through leaves the file elsewhere:
        // it is not ours to delete by a name it no longer has.
        renamed = ::GetLastError() == Folder::LinkRefused;
        return 0;
    }
    renamed = true;
    // What now stands at the name, opened afresh without following a link,
    // must be the file just written.
    const unique_hfile check =
        folder.OpenFile(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!check || FileIndexOf(check.get()) != index) {
        ::SetLastError(Folder::LinkRefused);
        return 0;
    }
    discard.release();
    return index;
}

bool CopyWhole(HANDLE source, const Folder& folder, const std::wstring& name) {
    const AtName at = WhatIsAt(folder, name);
    if (at == AtName::Refused) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(source, FileStandardInfo, &standard, sizeof standard) ||
        !::GetFileInformationByHandleEx(source, FileBasicInfo, &basic, sizeof basic) || standard.Directory)
        return false;
    const auto fill = [&](HANDLE temp) {
        std::vector<unsigned char> buffer(1 << 20);
        ULONGLONG copied = 0;
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return false;
            if (got == 0) break;
            if (!WriteAll(temp, buffer.data(), got)) return false;
            copied += got;
        }
        LARGE_INTEGER written{};
        if (copied != static_cast<ULONGLONG>(standard.EndOfFile.QuadPart) || !::GetFileSizeEx(temp, &written) ||
            static_cast<ULONGLONG>(written.QuadPart) != copied) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        const FILETIME lastWrite{basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
        return SetTimeAndAttributes(temp, &lastWrite, basic.FileAttributes);
    };
    // Only a file checked to be plain is replaced; where nothing was seen,
    // whatever stands there now is not ours to replace.
    return PutWhole(folder, name, at == AtName::PlainFile, fill) != 0;
}
