// Streaming ZIP writer (PKWARE APPNOTE layout) on zlib's raw deflate and crc32.
#include "ZipWriter.h"
#include <algorithm>
#include <cstring>
#include "../shell/Fehler.h"

namespace {

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kZip64EndSig = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064b50;

constexpr std::uint16_t kMadeBy = 20;           // format 2.0, host MS-DOS: attributes are DOS/Windows bits
constexpr std::uint16_t kNeeded = 20;
constexpr std::uint16_t kNeededZip64 = 45;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint16_t kDeflate = 8;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;    // a value this large is a Zip64 sentinel
constexpr std::uint16_t kMax16 = 0xFFFF;

// Little-endian fields appended to a byte vector.
struct Bytes {
    std::vector<unsigned char>& v;
    void u16(std::uint16_t x) { v.push_back(static_cast<unsigned char>(x)); v.push_back(static_cast<unsigned char>(x >> 8)); }
    void u32(std::uint32_t x) { u16(static_cast<std::uint16_t>(x)); u16(static_cast<std::uint16_t>(x >> 16)); }
    void u64(std::uint64_t x) { u32(static_cast<std::uint32_t>(x)); u32(static_cast<std::uint32_t>(x >> 32)); }
    void raw(const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }
};

std::uint32_t Clip32(std::uint64_t x) { return x >= kMax32 ? kMax32 : static_cast<std::uint32_t>(x); }

std::wstring LastErrorText(const wchar_t* what, const std::wstring& path) {
    return std::wstring(what) + L" " + path + L" (Fehler " + std::to_wstring(::GetLastError()) + L")";
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

bool ZipWriter::NeedsZip64Sizes(std::uint64_t size) {
    // zlib's bound for a raw stream with a 15-bit window and memory level 8.
    const std::uint64_t bound = size + (size >> 12) + (size >> 14) + (size >> 25) + 7;
    return size >= kMax32 || bound >= kMax32;
}

std::uint32_t ZipWriter::DosDateTime(const FILETIME& utc) {
    // The time zone rules of the file's own date (not today's daylight-saving
    // bias as FileTimeToLocalFileTime would apply), so an archive lister shows
    // the same wall-clock time as a folder listing of the file.
    SYSTEMTIME u, t;
    if (!::FileTimeToSystemTime(&utc, &u) || !::SystemTimeToTzSpecificLocalTime(nullptr, &u, &t) ||
        t.wYear < 1980)
        return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00, the earliest DOS time
    if (t.wYear > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    const std::uint32_t date = static_cast<std::uint32_t>((t.wYear - 1980) << 9 | t.wMonth << 5 | t.wDay);
    const std::uint32_t time = static_cast<std::uint32_t>(t.wHour << 11 | t.wMinute << 5 | t.wSecond / 2);
    return date << 16 | time;
}

ZipWriter::ZipWriter(const std::wstring& path, std::size_t bufferSize)
    : path_(path),
      bufferSize_(std::clamp<std::size_t>(bufferSize, 16, std::size_t{1} << 30)),
      in_(new unsigned char[bufferSize_]),
      out_(new unsigned char[bufferSize_]) {
    file_.reset(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) RaiseError(LastErrorText(L"Das Archiv kann nicht angelegt werden:", path));
    if (deflateInit2(&zs_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        RaiseError(L"zlib: deflateInit2 fehlgeschlagen");
    zsReady_ = true;
}

ZipWriter::~ZipWriter() {
    if (zsReady_) deflateEnd(&zs_);
}

void ZipWriter::WriteFileAll(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file_.get(), p, chunk, &written, nullptr) || written == 0)
            RaiseError(LastErrorText(L"Das Archiv kann nicht geschrieben werden:", path_));
        p += written;
        size -= written;
    }
}

void ZipWriter::FlushBuffer() {
    if (used_ == 0) return;
    WriteFileAll(out_.get(), used_);
    flushed_ += used_;
    used_ = 0;
}

void ZipWriter::Put(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (used_ == bufferSize_) FlushBuffer();
        const std::size_t n = std::min(size, bufferSize_ - used_);
        std::memcpy(out_.get() + used_, p, n);
        used_ += n;
        p += n;
        size -= n;
    }
}

// Overwrites bytes already put: in the buffer while they are still there,
// otherwise in the file, after which the file pointer returns to the end.
void ZipWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    if (offset < flushed_) {
        const std::size_t onDisk = static_cast<std::size_t>(std::min<std::uint64_t>(size, flushed_ - offset));
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN))
            RaiseError(LastErrorText(L"Das Archiv kann nicht geschrieben werden:", path_));
        WriteFileAll(p, onDisk);
        to.QuadPart = static_cast<LONGLONG>(flushed_);
        if (!::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN))
            RaiseError(LastErrorText(L"Das Archiv kann nicht geschrieben werden:", path_));
        p += onDisk;
        size -= onDisk;
        offset += onDisk;
    }
    if (size > 0) std::memcpy(out_.get() + (offset - flushed_), p, size);
}

void ZipWriter::AppendEntryFields(std::vector<unsigned char>& record, const Entry& e) {
    Bytes r{record};
    r.u16(e.needed);
    r.u16(kFlagUtf8);
    r.u16(kDeflate);
    r.u16(e.time);
    r.u16(e.date);
    r.u32(e.crc);
    r.u32(e.zip64Sizes ? kMax32 : static_cast<std::uint32_t>(e.compressed));
    r.u32(e.zip64Sizes ? kMax32 : static_cast<std::uint32_t>(e.uncompressed));
    r.u16(static_cast<std::uint16_t>(e.name.size()));
}

std::vector<unsigned char> ZipWriter::LocalHeader(const Entry& e) {
    std::vector<unsigned char> h;
    h.reserve(30 + e.name.size() + 20);
    Bytes b{h};
    b.u32(kLocalSig);
    AppendEntryFields(h, e);
    b.u16(e.zip64Sizes ? 20 : 0);
    b.raw(e.name);
    if (e.zip64Sizes) {
        // The local Zip64 extra always holds both sizes, original size first.
        b.u16(kZip64ExtraId);
        b.u16(16);
        b.u64(e.uncompressed);
        b.u64(e.compressed);
    }
    return h;
}

void ZipWriter::AppendCentralRecord(const Entry& e) {
    // The Zip64 extra holds the sizes of an entry that has them in its local
    // header too, and the header offset only when it does not fit 32 bits.
    const bool zip64Offset = e.offset >= kMax32;
    Bytes c{central_};
    c.u32(kCentralSig);
    c.u16(kMadeBy);
    AppendEntryFields(central_, e);
    const std::uint16_t extra = static_cast<std::uint16_t>((e.zip64Sizes ? 16 : 0) + (zip64Offset ? 8 : 0));
    c.u16(extra ? extra + 4 : 0);
    c.u16(0);  // comment
    c.u16(0);  // disk number start
    c.u16(0);  // internal attributes
    c.u32(e.attributes);
    c.u32(zip64Offset ? kMax32 : static_cast<std::uint32_t>(e.offset));
    c.raw(e.name);
    if (extra) {
        c.u16(kZip64ExtraId);
        c.u16(extra);
        if (e.zip64Sizes) {
            c.u64(e.uncompressed);
            c.u64(e.compressed);
        }
        if (zip64Offset) c.u64(e.offset);
    }
}

// Deflates the whole source into the archive, filling in CRC and both sizes.
void ZipWriter::DeflateFrom(HANDLE source, const std::wstring& sourcePath, std::uint64_t size, Entry& e) {
    if (deflateReset(&zs_) != Z_OK) RaiseError(L"zlib: deflateReset fehlgeschlagen");
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    std::uint64_t total = 0, compressed = 0;
    for (;;) {
        // The share mode keeps writers out, so the size taken at open time holds
        // and the last chunk is known without a read that returns nothing.
        const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(bufferSize_, size - total));
        DWORD got = 0;
        if (want > 0 && !::ReadFile(source, in_.get(), want, &got, nullptr))
            RaiseError(LastErrorText(L"Die Datei kann nicht gelesen werden:", sourcePath));
        total += got;
        crc = static_cast<std::uint32_t>(crc32(crc, in_.get(), got));
        const bool last = got < want || total == size;
        const int flush = last ? Z_FINISH : Z_NO_FLUSH;
        zs_.next_in = in_.get();
        zs_.avail_in = got;
        for (;;) {
            if (used_ == bufferSize_) FlushBuffer();
            const std::size_t room = bufferSize_ - used_;
            zs_.next_out = out_.get() + used_;
            zs_.avail_out = static_cast<uInt>(room);
            const int rc = deflate(&zs_, flush);
            if (rc == Z_STREAM_ERROR) RaiseError(L"zlib: deflate fehlgeschlagen");
            const std::size_t produced = room - zs_.avail_out;
            used_ += produced;
            compressed += produced;
            if (last ? rc == Z_STREAM_END : (zs_.avail_in == 0 && zs_.avail_out != 0)) break;
        }
        if (last) break;
    }
    e.crc = crc;
    e.uncompressed = total;
    e.compressed = compressed;
}

void ZipWriter::AddFile(const std::wstring& sourcePath, const std::wstring& entryName) {
    unique_hfile source(::CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) RaiseError(LastErrorText(L"Die Datei kann nicht geöffnet werden:", sourcePath));
    // Only what the entry needs: GetFileInformationByHandle would also look up
    // the volume serial number, which costs more than the open itself under Wine.
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!::GetFileInformationByHandleEx(source.get(), FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(source.get(), FileStandardInfo, &standard, sizeof standard))
        RaiseError(LastErrorText(L"Zeit und Attribute der Datei sind nicht lesbar:", sourcePath));

    Entry e;
    e.name = Utf8(entryName);
    if (e.name.size() > kMax16) RaiseError(L"Der Name ist zu lang für das Archiv: " + entryName);
    const auto size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    e.offset = Position();
    e.zip64Sizes = NeedsZip64Sizes(size);
    // Local and central record of one entry name the same version.
    e.needed = (e.zip64Sizes || e.offset >= kMax32) ? kNeededZip64 : kNeeded;
    const FILETIME lastWrite{basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
    const std::uint32_t dos = DosDateTime(lastWrite);
    e.time = static_cast<std::uint16_t>(dos);
    e.date = static_cast<std::uint16_t>(dos >> 16);
    e.attributes = basic.FileAttributes;

    const std::vector<unsigned char> placeholder = LocalHeader(e);
    Put(placeholder.data(), placeholder.size());
    DeflateFrom(source.get(), sourcePath, size, e);
    if (!e.zip64Sizes && (e.compressed >= kMax32 || e.uncompressed >= kMax32))
        RaiseError(L"Der Eintrag passt nicht in die Felder ohne Zip64: " + sourcePath);

    // The header again, now with CRC and sizes; its length is unchanged.
    const std::vector<unsigned char> header = LocalHeader(e);
    WriteAt(e.offset, header.data(), header.size());
    AppendCentralRecord(e);
    ++entries_;
}

void ZipWriter::Close() {
    if (closed_) return;
    const std::uint64_t dirOffset = Position();
    const std::uint64_t dirSize = central_.size();
    Put(central_.data(), central_.size());
    std::vector<unsigned char>().swap(central_);

    const bool zip64End = entries_ >= kMax16 || dirOffset >= kMax32 || dirSize >= kMax32;
    std::vector<unsigned char> tail;
    Bytes t{tail};
    if (zip64End) {
        const std::uint64_t recordOffset = Position();
        t.u32(kZip64EndSig);
        t.u64(44);  // size of the record after this field
        t.u16(kMadeBy);
        t.u16(kNeededZip64);
        t.u32(0);  // this disk
        t.u32(0);  // disk with the central directory
        t.u64(entries_);
        t.u64(entries_);
        t.u64(dirSize);
        t.u64(dirOffset);
        t.u32(kZip64LocatorSig);
        t.u32(0);  // disk with the Zip64 end record
        t.u64(recordOffset);
        t.u32(1);  // total disks
    }
    const auto count16 = static_cast<std::uint16_t>(entries_ >= kMax16 ? kMax16 : entries_);
    t.u32(kEndSig);
    t.u16(0);
    t.u16(0);
    t.u16(count16);
    t.u16(count16);
    t.u32(Clip32(dirSize));
    t.u32(Clip32(dirOffset));
    t.u16(0);  // no comment
    Put(tail.data(), tail.size());
    FlushBuffer();
    HANDLE h = file_.release();
    if (!::CloseHandle(h)) RaiseError(LastErrorText(L"Das Archiv kann nicht geschlossen werden:", path_));
    closed_ = true;
}
