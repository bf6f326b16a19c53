// A file over 4 GiB through the directory updater's whole run: archived,
// removed, and after an exit with code 1 restored byte for byte. Every size and
// offset past 32 bits is at risk in the 32-bit program, so this runs there.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>
#include "Automation.h"
#include "RunLogs.h"
#include "SampleInstall.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kSize = 4 * kGiB + kGiB / 2 + 3;

// Distinct bytes where a size or offset cut to 32 bits would put them elsewhere
// or lose them; the rest of the file is a hole of zeros, quick to lay out and to
// deflate.
struct Marker {
    std::uint64_t Offset;
    char Bytes[17];
};
const Marker kMarkers[] = {
    {0, "first 16 bytes.."},
    {4 * kGiB - 8, "across 4 GiB...."},
    {4 * kGiB + 12345, "past 4 GiB......"},
    {kSize - 16, "the last bytes.."},
};

void WriteAt(HANDLE h, std::uint64_t offset, const void* bytes, DWORD n) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::WriteFile(h, bytes, n, &written, nullptr) || written != n)
        throw std::runtime_error("cannot write the large file");
}

void MakeLargeFile(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kSize);
    EXPECT_TRUE(::SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(h));
    for (const auto& m : kMarkers) WriteAt(h, m.Offset, m.Bytes, 16);
    ::CloseHandle(h);
}

// The file's bytes against the zeros and markers it was made of; the first
// offset where they differ, or nothing.
std::optional<std::uint64_t> FirstDifference(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    constexpr DWORD kChunk = 4 << 20;
    std::vector<char> got(kChunk), want(kChunk);
    std::uint64_t pos = 0;
    std::optional<std::uint64_t> difference;
    while (true) {
        DWORD n = 0;
        if (!::ReadFile(h, got.data(), kChunk, &n, nullptr)) {
            difference = pos;
            break;
        }
        if (n == 0) break;
        std::fill(want.begin(), want.begin() + n, '\0');
        for (const auto& m : kMarkers)
            for (std::uint64_t i = 0; i < 16; ++i)
                if (m.Offset + i >= pos && m.Offset + i < pos + n) want[m.Offset + i - pos] = m.Bytes[i];
        if (std::memcmp(got.data(), want.data(), n) != 0) {
            DWORD i = 0;
            while (got[i] == want[i]) ++i;
            difference = pos + i;
            break;
        }
        pos += n;
    }
    ::CloseHandle(h);
    if (!difference && pos != kSize) difference = pos;
    return difference;
}

}  // namespace

TEST(LargeFileRun, AFileOver4GiBIsArchivedAndRestoredByteForByte) {
    TempDir root(L"large");
    const auto s = LayOutSample(root.Path(), Fixture(L"v9_2_0_15"));
    // The NKK backup fails after the archive step: exit code 1, and the
    // program folder is restored from the archive.
    for (const auto& f : DataFiles())
        if (std::wstring(f.Name) == L"NKK_Faecher.CDX") ::DeleteFileW((s.*f.Folder + f.Name).c_str());
    const auto before = TreeSnapshot(s.ProgramDir);
    const std::wstring big = s.ProgramDir + L"\\riesig.bin";
    MakeLargeFile(big);
    SYSTEMTIME when{};
    when.wYear = 2022;
    when.wMonth = 2;
    when.wDay = 2;
    when.wHour = 2;
    SetLastWrite(big, when);
    WIN32_FILE_ATTRIBUTE_DATA made{};
    ASSERT_TRUE(::GetFileAttributesExW(big.c_str(), GetFileExInfoStandard, &made));

    Program p(BinDir() + L"\\VLMUpdaterP2_11.exe", L"\"" + s.ProgramDir + L"\"");
    HWND main = ConfirmUpdate(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitFor([&] { return ClientSize(main).cy == 134; }));
    ClickButton(main, L"Weiter");
    FollowOptions follow;
    follow.TimeoutMs = 40 * 60 * 1000;
    follow.PollMs = 200;
    follow.ReadLog = true;
    const RunSeen seen = FollowRun(p, main, follow);
    ASSERT_EQ(seen.Exit, 1u);
    EXPECT_TRUE(seen.Boxes.empty());
    EXPECT_EQ(seen.Log, WithRestoreLog(FirstLines(kDirectoryRunLog, 10)));

    WIN32_FILE_ATTRIBUTE_DATA restored{};
    ASSERT_TRUE(::GetFileAttributesExW(big.c_str(), GetFileExInfoStandard, &restored));
    EXPECT_EQ((std::uint64_t{restored.nFileSizeHigh} << 32) | restored.nFileSizeLow, kSize);
    EXPECT_EQ(restored.dwFileAttributes, made.dwFileAttributes);
    EXPECT_EQ(::CompareFileTime(&restored.ftLastWriteTime, &made.ftLastWriteTime), 0);
    EXPECT_EQ(FirstDifference(big), std::nullopt);
    // The rest of the folder as it was, without the large file, which the
    // snapshot would read whole.
    const std::wstring aside = root.Path() + L"\\riesig.bin";
    ASSERT_TRUE(::MoveFileW(big.c_str(), aside.c_str()));
    EXPECT_EQ(TreeSnapshot(s.ProgramDir), before);
}
