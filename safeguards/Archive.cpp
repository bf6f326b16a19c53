// The archive step of the directory updater: the old program folder is packed
// into vlmaltinst.zip in the temporary folder, emptied, and given back its
// start ini and the archive.
#include "Archive.h"
#include <windows.h>
#include <shellapi.h>
#include <algorithm>
#include <exception>
#include <vector>
#include "../shell/Fehler.h"
#include "../shell/Haupt.h"
#include "Files.h"
#include "ZipWriter.h"

namespace {

const std::wstring& OwnPath() {
    static const std::wstring path = [] {
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n < buffer.size()) return std::wstring(buffer.data(), n);
            buffer.resize(buffer.size() * 2);
        }
    }();
    return path;
}

// Calls visit for every entry of Dir (ending in a backslash), in the file
// system's own order. A folder that cannot be listed raises: its files would
// be missing from an archive that is then taken as complete.
template <typename Visit>
void ForEachEntry(const std::wstring& Dir, Visit&& visit) {
    WIN32_FIND_DATAW fd;
    unique_hfind find(::FindFirstFileW((Dir + L"*.*").c_str(), &fd));
    if (!find) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return;
        RaiseError(L"Der Ordner kann nicht gelesen werden: " + Dir);
    }
    do {
        visit(fd);
    } while (::FindNextFileW(find.get(), &fd));
    if (::GetLastError() != ERROR_NO_MORE_FILES) RaiseError(L"Der Ordner kann nicht gelesen werden: " + Dir);
}

bool IsDotEntry(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

}  // namespace

std::wstring TempPath() {
    const DWORD needed = ::GetTempPathW(0, nullptr);
    if (needed == 0) RaiseError(L"Der temporäre Ordner ist nicht bekannt");
    std::wstring path(needed, L'\0');
    const DWORD n = ::GetTempPathW(needed, path.data());
    if (n == 0 || n >= needed) RaiseError(L"Der temporäre Ordner ist nicht bekannt");
    path.resize(n);  // the text up to its NUL
    return path;
}

bool HasParentFolder(const std::wstring& dir) {
    std::wstring t = dir;
    while (!t.empty() && t.back() == L'\\') t.pop_back();
    const std::size_t last = t.rfind(L'\\');
    if (last == std::wstring::npos) return false;  // "", "C:", "Prog", "C:Prog"
    const std::wstring leaf = t.substr(last + 1);
    if (leaf == L"." || leaf == L"..") return false;
    if (t.rfind(L"\\\\", 0) == 0) {
        // \\server\share (and \\?\C:) is a root: a folder needs a component after it.
        const std::size_t share = t.find(L'\\', 2);
        return share != std::wstring::npos && t.find(L'\\', share + 1) != std::wstring::npos;
    }
    return true;
}

void DoZip(const std::wstring& Dir, ZipWriter& archive) { ZipFolder(Dir, std::wstring(), archive); }

void ZipFolder(std::wstring Dir, std::wstring Base, ZipWriter& archive) {
    if (Base.empty()) {
        // The top folder may arrive with a final backslash of its own (from an
        // argument ending in two): the base is still its parent, so that no entry
        // name starts with "/" or lacks the folder's name.
        while (Dir.size() > 1 && Dir.back() == L'\\') Dir.pop_back();
    }
    Dir += L'\\';
    if (Base.empty()) {
        // The parent of the top folder, with its backslash: every entry name then
        // begins with the top folder's own name.
        Base = Dir.substr(0, Dir.size() - 1);
        while (!Base.empty() && Base.back() != L'\\') Base.pop_back();
        if (Base.empty()) RaiseError(L"Der Ordner hat keinen übergeordneten Ordner: " + Dir);
    }
    // Hidden and system folders are walked too: the folder is emptied
    // completely afterwards, so whatever the archive leaves out is lost.
    ForEachEntry(Dir, [&](const WIN32_FIND_DATAW& fd) {
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(fd.cFileName))
            ZipFolder(Dir + fd.cFileName, Base, archive);
    });
    ZipFolderFiles(Dir, Base, archive);
}

void ZipFolderFiles(const std::wstring& Dir, const std::wstring& Base, ZipWriter& archive) {
    std::wstring relative = Dir;
    const std::size_t at = relative.find(Base);
    if (at != std::wstring::npos) relative.erase(at, Base.size());
    ForEachEntry(Dir, [&](const WIN32_FIND_DATAW& fd) {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
        const std::wstring full = Dir + fd.cFileName;
        if (full == OwnPath()) return;  // exact text, letter case included
        std::wstring name = relative + fd.cFileName;
        std::replace(name.begin(), name.end(), L'\\', L'/');
        archive.AddFile(full, name);
    });
}

bool TFHaupt::DeleteFiles(const std::wstring& path) {
    std::wstring from = path;
    from.push_back(L'\0');  // a list of one item; c_str() adds the second NUL
    SHFILEOPSTRUCTW op{};
    op.hwnd = Handle;
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    return ::SHFileOperationW(&op) == 0;
}

int TFHaupt::SaveVLMInst() {
    int result = 1;
    {
        CursorChange hourglass(IDC_WAIT);
        ProcessMessages();
        try {
            // Emptying a drive root or the current folder is never what is meant.
            if (!HasParentFolder(TargetDir)) RaiseError(L"Kein Programmordner: " + TargetDir);
            const std::wstring temp = TempPath();
            const std::wstring tempArchive = temp + L"\\vlmaltinst.zip";
            {
                ZipWriter archive(tempArchive);
                // Looks at the queue without taking anything off it, so the window is not taken for hung.
                archive.SetHeartbeat([] { MSG m; ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE); });
                DoZip(TargetDir, archive);
                archive.Close();
            }
            // Nothing is deleted before this point: the archive is complete.
            const std::wstring startIni = TargetDir + L"\\VelmStart.ini";
            const std::wstring parkedIni = temp + L"\\VelmStart.ini";
            // Only a start ini parked by this run goes back; one left in the
            // temporary folder by an earlier run belongs to another folder, and
            // goes first, so that a read-only one cannot block the parking.
            // A start ini that cannot be parked would be lost with the folder's
            // contents: then nothing is deleted.
            bool parked = false;
            if (FileExists(startIni)) {
                ::SetFileAttributesW(parkedIni.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(parkedIni.c_str());
                if (!::CopyFileW(startIni.c_str(), parkedIni.c_str(), FALSE))
                    RaiseError(L"Die Start-Ini kann nicht zwischengespeichert werden: " + parkedIni);
                parked = true;
            }
            DeleteFiles(TargetDir + L"\\*.*");
            if (parked) ::CopyFileW(parkedIni.c_str(), startIni.c_str(), FALSE);
            const std::wstring finalArchive = TargetDir + L"\\vlmaltinst.zip";
            if (!::CopyFileW(tempArchive.c_str(), finalArchive.c_str(), FALSE))
                RaiseError(L"Das Archiv kann nicht in den Programmordner kopiert werden: " + finalArchive);
            result = 0;
        } catch (const EFehler&) {
            result = 1;
        } catch (const std::exception&) {
            result = 1;
        }
    }
    ProcessMessages();
    return result;
}
