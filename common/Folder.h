// A folder held open: the one way the updaters act on what lies in a folder
// that ordinary users may write to.
//
// A name can be swapped for a link between any check and the call that
// follows it; a handle cannot. A Folder is opened once, without following a
// link at its own name, and shares no delete access while it is held, so
// nobody renames or replaces it through the platform meanwhile. Every child is
// opened, created, renamed and deleted relative to the handle, never by a path
// again. The platform here follows a link at a child's name even when asked not
// to, so each child opened is checked to lie in this folder under its name
// (where it really is on the volume, as FileNameInfo gives it); a child that
// does not is closed again and refused.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "Raii.h"

class Folder {
public:
    // What a folder handle may do besides listing, traversing and reading
    // attributes.
    static constexpr ACCESS_MASK ReadOnly = 0;
    static constexpr ACCESS_MASK Writable = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES;
    // Writable, and the folder itself can be removed through its handle (Remove).
    static constexpr ACCESS_MASK Removable = Writable | DELETE;

    // The error of a child refused because its name led elsewhere (a link):
    // ERROR_STOPPED_ON_SYMLINK, which the headers here lack.
    static constexpr DWORD LinkRefused = 681;

    enum class How {
        Open,          // it must exist
        Create,        // it must not exist: an existing name, a dangling link included, fails
        OpenOrCreate,  // folders only
    };

    // One entry of a listing. A link to a folder shows the reparse-point bit;
    // a link to a file may look like a plain file: opening it tells.
    struct Entry {
        std::wstring Name;
        DWORD Attributes = 0;
        std::uint64_t Size = 0;
        LONGLONG LastWrite = 0;
        bool IsLink() const { return Attributes & FILE_ATTRIBUTE_REPARSE_POINT; }
        bool IsFolder() const { return (Attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(); }
    };

    Folder() = default;
    Folder(Folder&&) noexcept = default;
    Folder& operator=(Folder&&) noexcept = default;

    // The folder at a full path, opened once: its parent by name (a link above
    // it is taken as it is), the folder itself relative to the parent and
    // refused when it is a link. Empty on failure, with the platform's error.
    static Folder Open(const std::wstring& path, ACCESS_MASK access = Writable);
    // The folder a path names, opened by that name once, a link at its own
    // name followed: for a folder that Velmora's ini files name, which an
    // administrator may have moved and left a link behind. Nothing below it
    // is opened but relative to the handle. Empty on failure, with the
    // platform's error.
    static Folder OpenAsNamed(const std::wstring& path, ACCESS_MASK access = Writable);

    // A sub-folder, relative to this folder's handle. Empty on failure (a link
    // at the name among them), with the platform's error.
    Folder OpenFolder(const std::wstring& name, How how = How::Open, ACCESS_MASK access = Writable) const;
    // A file of this folder, relative to its handle, with the access and
    // sharing given. A link at the name is refused (a file created here is
    // deleted again then). Empty on failure, with the platform's error.
    unique_hfile OpenFile(const std::wstring& name, ACCESS_MASK access, DWORD share, How how = How::Open,
                          DWORD attributes = FILE_ATTRIBUTE_NORMAL) const;
    // A new file under a fresh temporary name ("~vlm<pid>_<n>.tmp", given back
    // in name), created relative to the handle (an existing name, a planted
    // link included, is skipped) with delete access and no sharing.
    unique_hfile CreateTemporary(ACCESS_MASK access, std::wstring& name) const;
    // Whether an open child lies in this folder under name. True also for
    // a name told in another letter case.
    bool Holds(HANDLE child, const std::wstring& name) const;

    // Renames the file or folder open on child (with delete access) into this
    // folder under name; replace decides whether an existing entry there (a
    // link itself, never its target) is replaced. The handle stays open.
    bool RenameInto(HANDLE child, const std::wstring& name, bool replace) const;
    // Deletes what is open on child (with delete access) when its last handle
    // closes. Under some platforms that is not proof that it goes: a name
    // that no longer leads to it keeps it.
    static bool Delete(HANDLE child);
    // The same for a read-only file, without clearing its read-only bit
    // (FileDispositionInformationEx). False where the platform lacks it, as
    // Wine 8 does.
    static bool DeleteEvenReadOnly(HANDLE child);
    // Removes this folder (opened Removable, and empty) and closes it.
    bool Remove();
    // Removes a link at name, the link itself and never what it leads to: only
    // what the platform opens as a reparse point of this folder goes. Where
    // the platform follows links whatever it is asked, the link stays.
    bool RemoveLink(const std::wstring& name) const;

    // Every entry, "." and ".." left out, in the file system's order, through
    // the handle. With heartbeat, Heartbeat() is called for every batch of
    // entries. False when the folder could not be listed completely.
    bool List(std::vector<Entry>& entries, bool heartbeat = false) const;

    HANDLE get() const { return handle_.get(); }
    explicit operator bool() const { return static_cast<bool>(handle_); }
    // The full path it was opened by, for messages only: nothing is opened
    // through it again.
    const std::wstring& Path() const { return path_; }
    // Where it lay on its volume when it was opened (FileNameInfo).
    const std::wstring& OnVolume() const { return onVolume_; }
    // The same folder, opened again on its own handle (for a second owner).
    Folder Duplicate() const;

private:
    Folder(unique_hfile handle, std::wstring path, std::wstring onVolume)
        : handle_(std::move(handle)), path_(std::move(path)), onVolume_(std::move(onVolume)) {}
    unique_hfile OpenChild(const std::wstring& name, ACCESS_MASK access, DWORD share, How how, ULONG options,
                           DWORD attributes) const;

    unique_hfile handle_;
    std::wstring path_, onVolume_;
};

// A file's identity on its volume (FileInternalInformation), cheap to read:
// the same file under any name. Zero when it cannot be read.
std::uint64_t FileIndexOf(HANDLE file);
