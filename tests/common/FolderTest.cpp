// The held folder: every child operation relative to its handle, with host
// links planted at each name and folders swapped for links on the host, which
// ignores share modes.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include "Folder.h"
#include "Files.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

constexpr char kCanary[] = "outside, never to be touched";

struct Fixture {
    TempDir root{L"vlmfolder"};
    std::wstring in = root / L"in", out = root / L"out";
    Fixture() {
        MakeDirs(in + L"\\sub");
        MakeDirs(out + L"\\deep");
        WriteBytes(in + L"\\a.txt", "inside");
        WriteBytes(out + L"\\canary.txt", kCanary);
    }
    // The outside folder exactly as it was made.
    void ExpectOutsideUntouched() const {
        EXPECT_EQ(NamesIn(out), (std::vector<std::wstring>{L"canary.txt", L"deep"}));
        EXPECT_EQ(ReadBytes(out + L"\\canary.txt"), std::string(kCanary));
        EXPECT_TRUE(NamesIn(out + L"\\deep").empty());
    }
    // A host rename of the folder (the platform's share modes do not hold
    // the host back) and a link to the outside folder in its place.
    void SwapForLink(const std::wstring& folder, const std::wstring& movedTo) const {
        ASSERT_EQ(RunHostCommand(L"mv \"" + HostPath(folder) + L"\" \"" + HostPath(movedTo) + L"\""), 0);
        HostSymlink(out, folder);
    }
};

std::vector<std::wstring> Names(const std::vector<Folder::Entry>& entries) {
    std::vector<std::wstring> names;
    for (const auto& e : entries) names.push_back(e.Name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FolderTest, OpensAFolderButNeverALinkAtItsName) {
    Fixture f;
    const Folder in = Folder::Open(f.in);
    ASSERT_TRUE(in);
    EXPECT_EQ(in.Path(), f.in);
    EXPECT_TRUE(SamePath(in.OnVolume(), VolumePath(f.in)));
    HostSymlink(f.out, f.root / L"link");
    EXPECT_FALSE(Folder::Open(f.root / L"link"));
    EXPECT_FALSE(Folder::Open(f.root / L"missing"));
    EXPECT_FALSE(Folder::Open(f.in + L"\\a.txt"));  // a file is no folder
}

// A link at the child's name: to a folder, to a file, dangling. Nothing is
// opened or created through it, and outside stays as it was.
TEST(FolderTest, RefusesALinkAtEveryChildName) {
    // Below the outside folder; "missing" dangles.
    for (const wchar_t* target : {L"deep", L"canary.txt", L"missing"}) {
        SCOPED_TRACE(target);
        Fixture f;
        HostSymlinkTo(f.out + L"\\" + target, f.in + L"\\link");
        const Folder in = Folder::Open(f.in);
        ASSERT_TRUE(in);
        EXPECT_FALSE(in.OpenFolder(L"link"));
        EXPECT_FALSE(in.OpenFolder(L"link", Folder::How::OpenOrCreate));
        EXPECT_FALSE(in.OpenFolder(L"link", Folder::How::Create));
        EXPECT_FALSE(in.OpenFile(L"link", GENERIC_READ, FILE_SHARE_READ));
        EXPECT_FALSE(in.OpenFile(L"link", GENERIC_WRITE | DELETE, 0, Folder::How::Create));
        f.ExpectOutsideUntouched();
    }
}

TEST(FolderTest, OpensAndCreatesChildrenRelativeToItsHandle) {
    Fixture f;
    const Folder in = Folder::Open(f.in);
    ASSERT_TRUE(in);
    EXPECT_TRUE(in.OpenFile(L"A.TXT", GENERIC_READ, FILE_SHARE_READ));           // names compare without case
    EXPECT_FALSE(in.OpenFile(L"a.txt", GENERIC_WRITE, 0, Folder::How::Create));  // exists
    EXPECT_FALSE(in.OpenFile(L"sub", GENERIC_READ, FILE_SHARE_READ));            // a folder is no file
    EXPECT_FALSE(in.OpenFolder(L"a.txt"));                                       // and a file no folder
    for (const wchar_t* bad : {L"", L".", L"..", L"sub\\x", L"a.txt:stream", L"../out"})
        EXPECT_FALSE(in.OpenFolder(bad)) << bad;

    const Folder made = in.OpenFolder(L"made", Folder::How::OpenOrCreate);
    ASSERT_TRUE(made);
    EXPECT_EQ(made.Path(), f.in + L"\\made");
    EXPECT_TRUE(in.OpenFolder(L"made", Folder::How::OpenOrCreate));  // the same one again
    EXPECT_FALSE(in.OpenFolder(L"made", Folder::How::Create));
    {
        unique_hfile file = made.OpenFile(L"new.txt", GENERIC_WRITE, 0, Folder::How::Create);
        ASSERT_TRUE(file);
        ASSERT_TRUE(WriteAll(file.get(), "new", 3));
    }
    EXPECT_EQ(ReadBytes(f.in + L"\\made\\new.txt"), std::string("new"));
}

// The held folder is renamed away on the host and a link to the outside put in
// its place: what is done relative to the handle lands in the real folder.
TEST(FolderTest, AHeldFolderSwappedForALinkKeepsEveryOperationInside) {
    Fixture f;
    const Folder in = Folder::Open(f.in, Folder::Removable);
    ASSERT_TRUE(in);
    unique_hfile a = in.OpenFile(L"a.txt", DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE);
    ASSERT_TRUE(a);
    f.SwapForLink(f.in, f.root / L"moved");

    Folder made = in.OpenFolder(L"made", Folder::How::OpenOrCreate);
    unique_hfile file = in.OpenFile(L"new.txt", GENERIC_WRITE | DELETE, 0, Folder::How::Create);
    // Wine resolves the new child's place through the old name, which now
    // leads outside: the check refuses what it cannot place. Either way
    // nothing may appear outside.
    made = Folder();
    file.reset();
    Folder::Delete(a.get());
    a.reset();
    f.ExpectOutsideUntouched();
    EXPECT_EQ(ReadBytes(f.root / L"moved\\a.txt").value_or("gone"), "inside");
    std::vector<std::wstring> moved = NamesIn(f.root / L"moved");
    for (const std::wstring& name : moved)
        EXPECT_TRUE(name == L"a.txt" || name == L"sub" || name == L"made" || name == L"new.txt") << name;
}

TEST(FolderTest, RenamesIntoTheFolderThroughTheHandle) {
    Fixture f;
    const Folder in = Folder::Open(f.in);
    const Folder sub = in.OpenFolder(L"sub");
    ASSERT_TRUE(sub);
    unique_hfile file = sub.OpenFile(L"part.tmp", GENERIC_WRITE | DELETE, 0, Folder::How::Create);
    ASSERT_TRUE(file);
    ASSERT_TRUE(WriteAll(file.get(), "whole", 5));
    EXPECT_FALSE(in.RenameInto(file.get(), L"a.txt", false));  // no replacing
    EXPECT_EQ(ReadBytes(f.in + L"\\a.txt"), std::string("inside"));
    EXPECT_TRUE(in.RenameInto(file.get(), L"a.txt", true));
    EXPECT_TRUE(in.Holds(file.get(), L"a.txt"));
    file.reset();
    EXPECT_EQ(ReadBytes(f.in + L"\\a.txt"), std::string("whole"));
    EXPECT_TRUE(NamesIn(f.in + L"\\sub").empty());
}

// A link at the destination is replaced itself; what it leads to stays.
TEST(FolderTest, ARenameReplacesALinkAtTheNameNeverItsTarget) {
    for (const wchar_t* target : {L"canary.txt", L"deep", L"missing"}) {
        SCOPED_TRACE(target);
        Fixture f;
        HostSymlinkTo(f.out + L"\\" + target, f.in + L"\\dest");
        const Folder in = Folder::Open(f.in);
        unique_hfile file = in.OpenFile(L"part.tmp", GENERIC_WRITE | DELETE, 0, Folder::How::Create);
        ASSERT_TRUE(file);
        ASSERT_TRUE(WriteAll(file.get(), "mine", 4));
        const bool renamed = in.RenameInto(file.get(), L"dest", true);
        file.reset();
        f.ExpectOutsideUntouched();
        if (renamed) {
            EXPECT_EQ(ReadBytes(f.in + L"\\dest"), std::string("mine"));
        }
    }
}

TEST(FolderTest, DeletesThroughTheChildsOwnHandle) {
    Fixture f;
    const Folder in = Folder::Open(f.in);
    {
        unique_hfile a = in.OpenFile(L"a.txt", DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(a);
        EXPECT_TRUE(Folder::Delete(a.get()));
    }
    EXPECT_FALSE(Exists(f.in + L"\\a.txt"));

    // The file renamed away on the host and a link to an outside file put at
    // its name before the handle closes: neither goes.
    WriteBytes(f.in + L"\\b.txt", "b");
    {
        unique_hfile b = in.OpenFile(L"b.txt", DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE);
        ASSERT_TRUE(b);
        ASSERT_EQ(RunHostCommand(L"mv \"" + HostPath(f.in + L"\\b.txt") + L"\" \"" + HostPath(f.in + L"\\b2.txt") +
                                 L"\" && ln -s \"" + HostPath(f.out + L"\\canary.txt") + L"\" \"" +
                                 HostPath(f.in + L"\\b.txt") + L"\""),
                  0);
        Folder::Delete(b.get());
    }
    f.ExpectOutsideUntouched();

    Folder removable = in.OpenFolder(L"sub", Folder::How::Open, Folder::Removable);
    ASSERT_TRUE(removable);
    EXPECT_TRUE(removable.Remove());
    EXPECT_FALSE(removable);
    EXPECT_FALSE(Exists(f.in + L"\\sub"));
}

TEST(FolderTest, ListsThroughTheHandleWithLinksMarked) {
    Fixture f;
    HostSymlink(f.out, f.in + L"\\link");
    const Folder in = Folder::Open(f.in);
    std::vector<Folder::Entry> entries;
    ASSERT_TRUE(in.List(entries));
    EXPECT_EQ(Names(entries), (std::vector<std::wstring>{L"a.txt", L"link", L"sub"}));
    for (const Folder::Entry& e : entries) {
        if (e.Name == L"link") {
            EXPECT_TRUE(e.IsLink() && !e.IsFolder());
        } else if (e.Name == L"sub") {
            EXPECT_TRUE(e.IsFolder());
        } else {
            EXPECT_EQ(e.Size, 6u);
        }
    }
    // A second listing of the same handle sees what came meanwhile.
    WriteBytes(f.in + L"\\later.txt", "");
    entries.clear();
    ASSERT_TRUE(in.List(entries));
    EXPECT_EQ(Names(entries), (std::vector<std::wstring>{L"a.txt", L"later.txt", L"link", L"sub"}));
    // More entries than one buffer of the listing holds.
    const Folder sub = in.OpenFolder(L"sub");
    for (int i = 0; i < 1500; ++i) WriteBytes(f.in + L"\\sub\\file-with-a-longish-name-" + std::to_wstring(i), "");
    std::vector<Folder::Entry> many;
    ASSERT_TRUE(sub.List(many));
    EXPECT_EQ(many.size(), 1500u);
}

}  // namespace
