// The update result record, written through the real profile API.
#include <gtest/gtest.h>
#include <array>
#include <regex>
#include <set>
#include "Fehler.h"
#include "DirectoryUpdater.h"
#include "Haupt.h"
#include "StepWindow.h"
#include "TestFiles.h"

using namespace vlmtest;

namespace {

// The record's lines, whatever encoding the profile API chose for the file.
std::vector<std::wstring> RecordLines(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    if (!bytes) return {};
    std::wstring text;
    if (bytes->size() >= 2 && (*bytes)[0] == '\xFF' && (*bytes)[1] == '\xFE') {
        text.assign(reinterpret_cast<const wchar_t*>(bytes->data() + 2), (bytes->size() - 2) / sizeof(wchar_t));
    } else if (!bytes->empty()) {
        const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes->data(), static_cast<int>(bytes->size()), nullptr, 0);
        text.resize(static_cast<size_t>(n));
        ::MultiByteToWideChar(CP_ACP, 0, bytes->data(), static_cast<int>(bytes->size()), text.data(), n);
    }
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::wstring Value(const std::wstring& line, const std::wstring& key) {
    EXPECT_EQ(line.substr(0, key.size() + 1), key + L"=");
    return line.substr(std::min(line.size(), key.size() + 1));
}

// Every second from one clock reading to another, milliseconds dropped.
std::vector<SYSTEMTIME> Seconds(SYSTEMTIME from, SYSTEMTIME to) {
    from.wMilliseconds = to.wMilliseconds = 0;
    auto ticks = [](const SYSTEMTIME& st) {
        FILETIME ft;
        ::SystemTimeToFileTime(&st, &ft);
        return (ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    };
    std::vector<SYSTEMTIME> result;
    for (ULONGLONG t = ticks(from), end = ticks(to); t <= end; t += 10'000'000) {
        const FILETIME ft{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
        SYSTEMTIME st;
        ::FileTimeToSystemTime(&ft, &st);
        result.push_back(st);
    }
    return result;
}

// What the platform's own formatting gives for the locale at those seconds.
struct Renderings {
    std::set<std::wstring> Dates, Times;
};
Renderings Render(LCID locale, SYSTEMTIME from, SYSTEMTIME to) {
    Renderings r;
    for (const auto& st : Seconds(from, to)) {
        wchar_t buffer[100];
        if (::GetDateFormatW(locale, DATE_SHORTDATE, &st, nullptr, buffer, 100) > 0) r.Dates.insert(buffer);
        if (::GetTimeFormatW(locale, 0, &st, nullptr, buffer, 100) > 0) r.Times.insert(buffer);
    }
    return r;
}

std::set<std::array<int, 3>> Days(SYSTEMTIME from, SYSTEMTIME to) {
    std::set<std::array<int, 3>> days;
    for (const auto& st : Seconds(from, to)) days.insert({st.wDay, st.wMonth, st.wYear});
    return days;
}

std::set<std::array<int, 3>> Clocks(SYSTEMTIME from, SYSTEMTIME to) {
    std::set<std::array<int, 3>> clocks;
    for (const auto& st : Seconds(from, to)) clocks.insert({st.wHour, st.wMinute, st.wSecond});
    return clocks;
}

struct Record : StepRun<DirectoryUpdater> {
    TempDir Root{L"record"};
    std::wstring Path = Root.Path() + L"\\VLM_9_Update.ini";
    Record() {
        R.Session.IniDir = Root.Path() + L"\\";
        R.Session.InstalledVersion = L"9.4.0.12";
    }
};

TEST(SchreibeIni, CreatesTheRecordWithFourKeysInOrder) {
    Record r;
    SYSTEMTIME before, after;
    ::GetLocalTime(&before);
    EXPECT_EQ(r.R.SchreibeIni(0), 0);
    ::GetLocalTime(&after);

    auto lines = RecordLines(r.Path);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], L"[Update]");
    EXPECT_EQ(lines[1], L"Erfolg=0");
    const auto expected = Render(::GetThreadLocale(), before, after);
    EXPECT_TRUE(expected.Dates.count(Value(lines[2], L"Datum"))) << WideToUtf8(lines[2]);
    EXPECT_TRUE(expected.Times.count(Value(lines[3], L"Uhrzeit"))) << WideToUtf8(lines[3]);
    EXPECT_EQ(lines[4], L"Vorversion=9.4.0.12");

    // A second record replaces the values; a negative code keeps its sign.
    r.R.Session.InstalledVersion = L"9.2.0.15";
    EXPECT_EQ(r.R.SchreibeIni(-3), 0);
    lines = RecordLines(r.Path);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], L"Erfolg=-3");
    EXPECT_EQ(lines[4], L"Vorversion=9.2.0.15");
}

TEST(SchreibeIni, ReplacesValuesInPlaceAndKeepsOtherSections) {
    Record r;
    WriteIni(r.Path,
             L"[Eigen]\r\nA=1\r\n[Update]\r\nVorversion=8.0.0.1\r\nUhrzeit=x\r\nErfolg=5\r\nDatum=y\r\n"
             L"[Zweit]\r\nB=\x03a9\r\n");
    EXPECT_EQ(r.R.SchreibeIni(0), 0);

    const auto lines = RecordLines(r.Path);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], L"[Eigen]");
    EXPECT_EQ(lines[1], L"A=1");
    EXPECT_EQ(lines[2], L"[Update]");
    EXPECT_EQ(lines[3], L"Vorversion=9.4.0.12");
    EXPECT_NE(Value(lines[4], L"Uhrzeit"), L"x");
    EXPECT_EQ(lines[5], L"Erfolg=0");
    EXPECT_NE(Value(lines[6], L"Datum"), L"y");
    EXPECT_EQ(lines[7], L"[Zweit]");
    EXPECT_EQ(lines[8], L"B=\x03a9");
}

// Date and time follow the thread's locale, not a fixed pattern and not the
// user's default locale (one of the two rows differs from that). Besides matching
// the platform's own rendering, the numbers are read back and checked against the
// clock. (Wine's German short date is d.M.yyyy, where Windows has dd.MM.yyyy.)
TEST(SchreibeIni, DateAndTimeFollowTheThreadLocale) {
    struct Case {
        const char* Name;
        LCID Locale;
        const wchar_t* DateShape;  // groups: day, month, year in the order of DateOrder
        std::array<int, 3> DateOrder;
        const wchar_t* TimeShape;  // groups: hour, minute, second, and AM/PM if any
    };
    const Case cases[] = {
        {"German (Germany)",
         MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT),
         L"(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})",
         {1, 2, 3},
         L"(\\d\\d):(\\d\\d):(\\d\\d)"},
        {"English (United States)",
         MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT),
         L"(\\d{1,2})/(\\d{1,2})/(\\d{4})",
         {2, 1, 3},
         L"(\\d{1,2}):(\\d\\d):(\\d\\d) ([AP]M)"},
    };
    const LCID previous = ::GetThreadLocale();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Record r;
        ASSERT_TRUE(::SetThreadLocale(c.Locale));
        SYSTEMTIME before, after;
        ::GetLocalTime(&before);
        const int result = r.R.SchreibeIni(0);
        ::GetLocalTime(&after);
        ::SetThreadLocale(previous);
        EXPECT_EQ(result, 0);

        const std::wstring date = ReadProfile(r.Path, L"Update", L"Datum");
        const std::wstring time = ReadProfile(r.Path, L"Update", L"Uhrzeit");
        const auto expected = Render(c.Locale, before, after);
        EXPECT_TRUE(expected.Dates.count(date)) << WideToUtf8(date);
        EXPECT_TRUE(expected.Times.count(time)) << WideToUtf8(time);

        std::wsmatch m;
        if (std::regex_match(date, m, std::wregex(c.DateShape))) {
            const std::array<int, 3> day{std::stoi(m[c.DateOrder[0]]), std::stoi(m[c.DateOrder[1]]),
                                         std::stoi(m[c.DateOrder[2]])};
            EXPECT_TRUE(Days(before, after).count(day)) << WideToUtf8(date);
        } else {
            ADD_FAILURE() << "date not in the locale's form: " << WideToUtf8(date);
        }
        if (std::regex_match(time, m, std::wregex(c.TimeShape))) {
            int hour = std::stoi(m[1]);
            if (m.size() > 4 && m[4].matched) hour = hour % 12 + (m[4] == L"PM" ? 12 : 0);
            const std::array<int, 3> clock{hour, std::stoi(m[2]), std::stoi(m[3])};
            EXPECT_TRUE(Clocks(before, after).count(clock)) << WideToUtf8(time);
        } else {
            ADD_FAILURE() << "time not in the locale's form: " << WideToUtf8(time);
        }
    }
}

// A record that cannot be written raises the error for the default error report,
// naming the full path.
TEST(SchreibeIni, AFailedWriteRaisesAnErrorWithThePath) {
    struct Case {
        const char* Name;
        const wchar_t* IniDir;  // below the test folder
        bool FolderAsRecord;
    };
    const Case cases[] = {
        {"a folder where the record should be", L"", true},
        {"ini folder missing", L"Fehlt\\", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Record r;
        r.R.Session.IniDir = r.Root.Path() + L"\\" + c.IniDir;
        const std::wstring path = r.R.Session.IniDir + L"VLM_9_Update.ini";
        if (c.FolderAsRecord) MakeDirs(path);
        try {
            r.R.SchreibeIni(0);
            ADD_FAILURE() << "no error raised";
        } catch (const EFehler& e) {
            EXPECT_EQ(e.Message, L"In " + path + L" kann nicht geschrieben werden");
        }
        EXPECT_FALSE(Exists(r.Root.Path() + L"\\Fehlt"));
    }
}

// The profile functions write through links; a record name that is one is
// refused like a write that failed, and what it leads to stays as it was.
TEST(SchreibeIni, ARecordNameThatIsALinkIsRefused) {
    struct Case {
        const char* Name;
        const wchar_t* Target;  // below Root\Draussen
        bool Dangling;
    };
    const Case cases[] = {
        {"link to a file outside", L"kanarie.ini", false},
        {"link to a name outside that does not exist yet", L"neu.ini", true},
        {"link to a folder outside", L"Ordner", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Record r;
        const std::wstring outside = r.Root / L"Draussen";
        MakeDirs(outside + L"\\Ordner");
        WriteIni(outside + L"\\kanarie.ini", L"[Eigen]\r\nA=1\r\n");
        const auto before = TreeSnapshot(outside);
        if (c.Dangling)
            HostSymlinkTo(outside + L"\\" + c.Target, r.Path);
        else
            HostSymlink(outside + L"\\" + c.Target, r.Path);
        try {
            r.R.SchreibeIni(0);
            ADD_FAILURE() << "no error raised";
        } catch (const EFehler& e) {
            EXPECT_EQ(e.Message, L"In " + r.Path + L" kann nicht geschrieben werden");
        }
        EXPECT_EQ(TreeSnapshot(outside), before);
    }
}

}  // namespace

namespace {

// The put-back after an end with exit code 1: what stood at the record's name
// before the first write comes back exactly (bytes, time, attributes), or the
// name is free again; a link planted at the name meanwhile is replaced, never
// written through, and what it leads to stays as it was.
TEST(SchreibeIni, PutBackRestoresTheRecordAsItWasBeforeTheFirstWrite) {
    struct Case {
        const char* Name;
        bool RecordBefore;
        int Writes;           // SchreibeIni calls before the put-back
        bool LinkAfterWrite;  // a link to a file outside replaces the record before the put-back
        bool NameFreeAfter;   // nothing at the record's name after the put-back
    };
    const Case cases[] = {
        {"no record before", false, 1, false, true},
        {"an earlier record", true, 1, false, false},
        {"written twice: the first write's earlier record", true, 2, false, false},
        {"nothing written: nothing to put back", true, 0, false, false},
        {"an earlier record, a link planted after the write", true, 1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Record r;
        const std::wstring outside = r.Root / L"Draussen";
        MakeDirs(outside);
        WriteIni(outside + L"\\kanarie.ini", L"[Eigen]\r\nA=1\r\n");
        const auto outsideBefore = TreeSnapshot(outside);
        if (c.RecordBefore) {
            WriteIni(r.Path, L"[Update]\r\nErfolg=1\r\nVorversion=9.1.0.3\r\n[Eigen]\r\nX=\u00e4\r\n");
            SetLastWrite(r.Path, SYSTEMTIME{2019, 3, 0, 14, 8, 30, 12, 0});
            ::SetFileAttributesW(r.Path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
        }
        const auto before = TreeSnapshot(r.Root.Path());
        for (int i = 0; i < c.Writes; ++i) {
            r.R.Session.InstalledVersion = L"9.4.0." + std::to_wstring(i);
            r.R.SchreibeIni(0);
        }
        if (c.Writes) {
            EXPECT_EQ(ReadProfile(r.Path, L"Update", L"Erfolg"), L"0");
        }
        if (c.LinkAfterWrite) {
            ::SetFileAttributesW(r.Path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ASSERT_TRUE(::DeleteFileW(r.Path.c_str()));
            HostSymlink(outside + L"\\kanarie.ini", r.Path);
        }

        EXPECT_TRUE(r.R.PutBackRecord());
        EXPECT_EQ(TreeSnapshot(r.Root.Path()), before);
        EXPECT_EQ(TreeSnapshot(outside), outsideBefore);
        EXPECT_EQ(!Exists(r.Path), c.NameFreeAfter);
        EXPECT_TRUE(NamesIn(r.Root.Path(), L"*.tmp").empty());
    }
}

}  // namespace

namespace {

// The record is replaced whole or not at all: with no room for the new one,
// the write fails, the earlier record stays byte for byte and nothing is left
// beside it. (The platform's profile function truncates the file first.)
TEST(SchreibeIni, AFullDiskLeavesTheEarlierRecordWhole) {
    TempDir root(L"full");
    SmallDisk disk(root / L"Klein", 4);
    if (!disk.Mounted) GTEST_SKIP() << "mounting a small file system needs the host's administrator";
    StepRun<DirectoryUpdater> run;
    run.R.Session.IniDir = disk.Folder + L"\\";
    run.R.Session.InstalledVersion = L"9.4.0.12";
    const std::wstring path = disk.Folder + L"\\VLM_9_Update.ini";
    // An earlier record with a large section of its own: the new one is as
    // large and no longer fits beside it.
    WriteIni(path, L"[Eigen]\r\nText=" + std::wstring(200 * 1024, L'x') + L"\r\n[Update]\r\nErfolg=1\r\n");
    const auto before = ReadBytes(path);
    ASSERT_GT(disk.Free(), 64u * 1024);
    WriteBytes(disk.Folder + L"\\Fueller.bin", RandomBytes(static_cast<size_t>(disk.Free() - 64 * 1024), 5));

    try {
        run.R.SchreibeIni(0);
        ADD_FAILURE() << "no error raised";
    } catch (const EFehler& e) {
        EXPECT_EQ(e.Message, L"In " + path + L" kann nicht geschrieben werden");
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_TRUE(NamesIn(disk.Folder, L"*.tmp").empty());
    EXPECT_FALSE(run.R.Session.RecordWritten.has_value());
}

}  // namespace
