// Runs the archive step and the archive walk on real folders for the reader
// checks (check_archives.py) and the benchmark (bench_archive.sh).
//
//   archive_probe <commands.txt> <results.jsonl>
//
// Each line of the UTF-8 command file is one command, its fields separated by
// tabs; each command appends one JSON object to the result file:
//   temp <dir>                 TMP and TEMP of this process (what TempPath reports)
//   attrib <hex bits> <path>   adds attribute bits to a file or folder
//   list <dir>                 the raw listing of dir and every folder below it,
//                              in the order the file system enumerates them
//   save <TargetDir>           DirectoryUpdater::SaveVLMInst on that folder
//   zip <dir> <archive> [buffer bytes [workers]]
//                              DoZip into a new archive: entries, seconds, memory;
//                              buffer 0 and workers 0 (or left out) are the defaults
//   read <file> <buffer bytes> <crc 0|1>
//                              reads the file in chunks, with or without CRC-32
//   deflate <file>             raw deflate of the whole file held in memory
//   memory                     the process's peak working set so far
#include <windows.h>
#include <psapi.h>
#include <zlib.h>
#include <cstdio>
#include <string>
#include <vector>
#include "Archive.h"
#include "DirectoryUpdater.h"
#include "Fehler.h"
#include "Files.h"
#include "Haupt.h"
#include "ZipWriter.h"

namespace {

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (unsigned char c : Utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::uint64_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.PeakWorkingSetSize;
}

double CpuSeconds() {
    FILETIME c, x, k, u;
    ::GetProcessTimes(::GetCurrentProcess(), &c, &x, &k, &u);
    auto s = [](const FILETIME& t) {
        return static_cast<double>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return s(k) + s(u);
}

double WallSeconds() {
    LARGE_INTEGER f, t;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

std::string Timing(double wall0, double cpu0) {
    char text[128];
    std::snprintf(text, sizeof text, ",\"seconds\":%.3f,\"cpu\":%.3f", WallSeconds() - wall0, CpuSeconds() - cpu0);
    return text;
}

void List(const std::wstring& dir, std::string& out) {
    out += "{\"list\":" + Json(dir) + ",\"entries\":[";
    std::vector<std::wstring> folders;
    bool first = true;
    FolderListing list(dir);
    while (const WIN32_FIND_DATAW* fd = list.Next()) {
        const std::wstring name = fd->cFileName;
        out += (first ? "[" : ",[") + Json(name) + "," + std::to_string(fd->dwFileAttributes) + "]";
        first = false;
        if (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(dir + L"\\" + name);
    }
    out += "]}\n";
    for (const auto& f : folders) List(f, out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: archive_probe <commands.txt> <results.jsonl>\n", stderr);
        return 2;
    }
    std::string script;
    {
        HANDLE h = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 2;
        char buffer[65536];
        DWORD got = 0;
        while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) script.append(buffer, got);
        ::CloseHandle(h);
    }
    HANDLE results = ::CreateFileW(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (results == INVALID_HANDLE_VALUE) return 2;
    auto emit = [&](const std::string& line) {
        DWORD written = 0;
        ::WriteFile(results, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    };

    DirectoryUpdater program;
    TFHaupt form(program.Design());
    UpdateRun run(program, form);
    bool formMade = false;
    std::size_t pos = 0;
    while (pos < script.size()) {
        std::size_t end = script.find('\n', pos);
        if (end == std::string::npos) end = script.size();
        std::string line = script.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::wstring> f;
        for (std::size_t a = 0;;) {
            const std::size_t b = line.find('\t', a);
            f.push_back(Wide(line.substr(a, b == std::string::npos ? std::string::npos : b - a)));
            if (b == std::string::npos) break;
            a = b + 1;
        }
        const std::wstring& cmd = f[0];
        if (cmd == L"temp" && f.size() == 2) {
            ::SetEnvironmentVariableW(L"TMP", f[1].c_str());
            ::SetEnvironmentVariableW(L"TEMP", f[1].c_str());
            emit("{\"temp\":" + Json(TempPath()) + "}\n");
        } else if (cmd == L"attrib" && f.size() == 3) {
            const DWORD bits = std::wcstoul(f[1].c_str(), nullptr, 16);
            const DWORD before = ::GetFileAttributesW(f[2].c_str());
            const BOOL ok = before != INVALID_FILE_ATTRIBUTES &&
                            ::SetFileAttributesW(f[2].c_str(), (before & ~FILE_ATTRIBUTE_NORMAL) | bits);
            emit("{\"attrib\":" + Json(f[2]) + ",\"ok\":" + (ok ? "true" : "false") +
                 ",\"now\":" + std::to_string(::GetFileAttributesW(f[2].c_str())) + "}\n");
        } else if (cmd == L"list" && f.size() == 2) {
            std::string out;
            List(f[1], out);
            emit(out);
        } else if (cmd == L"save" && f.size() == 2) {
            if (!formMade) {
                form.CreateForm(::GetModuleHandleW(nullptr), run);
                formMade = true;
            }
            // Each save is a run of its own, on a folder of its own: the
            // program names its folder once per run.
            program = DirectoryUpdater{};
            run.Session = UpdateSession{};
            run.Session.TargetDir = f[1];
            const int result = program.SaveVLMInst(run);
            emit("{\"save\":" + Json(f[1]) + ",\"result\":" + std::to_string(result) + "}\n");
        } else if (cmd == L"zip" && f.size() >= 3 && f.size() <= 5) {
            std::size_t buffer = f.size() >= 4 ? std::wcstoull(f[3].c_str(), nullptr, 10) : 0;
            if (buffer == 0) buffer = ZipWriter::DefaultBufferSize;
            const unsigned workers = f.size() == 5 ? static_cast<unsigned>(std::wcstoul(f[4].c_str(), nullptr, 10)) : 0;
            const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
            try {
                ZipWriter archive(f[2], buffer, workers);
                const unsigned used = archive.Workers();
                DoZip(f[1], archive);
                archive.Close();
                emit("{\"zip\":" + Json(f[1]) + ",\"entries\":" + std::to_string(archive.EntryCount()) +
                     ",\"workers\":" + std::to_string(used) + Timing(wall0, cpu0) +
                     ",\"peak_working_set\":" + std::to_string(PeakWorkingSet()) + "}\n");
            } catch (const EFehler& e) {
                emit("{\"zip\":" + Json(f[1]) + ",\"error\":" + Json(e.Message) + "}\n");
            }
        } else if (cmd == L"read" && f.size() == 4) {
            std::vector<unsigned char> buffer(std::wcstoull(f[2].c_str(), nullptr, 10));
            const bool crc = f[3] == L"1";
            const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
            HANDLE h = ::CreateFileW(f[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
            unsigned long long total = 0;
            uLong sum = crc32(0, nullptr, 0);
            DWORD got = 0;
            while (h != INVALID_HANDLE_VALUE &&
                   ::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
                total += got;
                if (crc) sum = crc32(sum, buffer.data(), got);
            }
            if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
            emit("{\"read\":" + Json(f[1]) + ",\"bytes\":" + std::to_string(total) + ",\"crc\":" + std::to_string(sum) +
                 Timing(wall0, cpu0) + "}\n");
        } else if (cmd == L"deflate" && f.size() == 2) {
            std::string data;
            {
                HANDLE h =
                    ::CreateFileW(f[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
                std::vector<char> buffer(1 << 20);
                DWORD got = 0;
                while (h != INVALID_HANDLE_VALUE &&
                       ::ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0)
                    data.append(buffer.data(), got);
                if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
            }
            std::vector<unsigned char> out(1 << 20);
            const double wall0 = WallSeconds(), cpu0 = CpuSeconds();
            z_stream zs{};
            deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
            zs.next_in = reinterpret_cast<Bytef*>(data.data());
            zs.avail_in = static_cast<uInt>(data.size());
            unsigned long long produced = 0;
            int rc = Z_OK;
            while (rc != Z_STREAM_END) {
                zs.next_out = out.data();
                zs.avail_out = static_cast<uInt>(out.size());
                rc = deflate(&zs, Z_FINISH);
                produced += out.size() - zs.avail_out;
            }
            deflateEnd(&zs);
            emit("{\"deflate\":" + Json(f[1]) + ",\"bytes\":" + std::to_string(data.size()) +
                 ",\"out\":" + std::to_string(produced) + Timing(wall0, cpu0) + "}\n");
        } else if (cmd == L"memory") {
            emit("{\"peak_working_set\":" + std::to_string(PeakWorkingSet()) + "}\n");
        } else {
            emit("{\"unknown\":" + Json(Wide(line)) + "}\n");
        }
    }
    ::CloseHandle(results);
    return 0;
}
