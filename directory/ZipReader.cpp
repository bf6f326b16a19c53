// Reader of our own ZIP archives on zlib's raw inflate.
#include "ZipReader.h"
#include <algorithm>
#include "Fehler.h"
#include "Heartbeat.h"
#include "ZipFormat.h"

namespace {
using namespace zipformat;

constexpr std::uint16_t kFlagsAllowed = kFlagUtf8 | 0x0006;  // bits 1-2 only tell the deflate level
constexpr std::uint16_t kMaxNeeded = 45;
constexpr std::size_t kEndSize = 22, kLocatorSize = 20, kZip64EndSize = 56, kCentralSize = 46, kLocalSize = 30;

// Little-endian fields read from a byte range; reading past its end raises
// through the owner's refusal.
struct Fields {
    const unsigned char* p;
    std::size_t size;
    std::size_t at = 0;
    bool ok = true;
    std::uint64_t take(std::size_t n) {
        if (at + n > size) {
            ok = false;
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{p[at + i]} << (8 * i);
        at += n;
        return v;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take(4)); }
    std::uint64_t u64() { return take(8); }
};

// The Zip64 extended information of an extra field, if it has one. Other
// blocks are passed over; the blocks must fill the field exactly.
bool FindZip64(const unsigned char* extra, std::size_t size, const unsigned char*& data, std::size_t& length,
               bool& wellFormed) {
    wellFormed = true;
    bool found = false;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 4) {
            wellFormed = false;
            return false;
        }
        const std::uint16_t id = static_cast<std::uint16_t>(extra[at] | extra[at + 1] << 8);
        const std::size_t len = static_cast<std::size_t>(extra[at + 2] | extra[at + 3] << 8);
        if (size - at - 4 < len) {
            wellFormed = false;
            return false;
        }
        if (id == kZip64ExtraId) {
            if (found) {  // two of them: which one counts is anybody's guess
                wellFormed = false;
                return false;
            }
            found = true;
            data = extra + at + 4;
            length = len;
        }
        at += 4 + len;
    }
    return found;
}

bool DecodeUtf8(const std::string& bytes, std::wstring& out) {
    if (bytes.empty()) return false;
    const int n =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), L'\0');
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                 out.data(), n) == n;
}

}  // namespace

ZipReader::ZipReader(const std::wstring& path)
    : ZipReader(unique_hfile(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr)),
                path) {}

ZipReader::ZipReader(unique_hfile file, const std::wstring& path)
    : path_(path), file_(std::move(file)), in_(new unsigned char[ChunkSize]), out_(new unsigned char[ChunkSize]) {
    if (!file_)
        RaiseError(L"Das Archiv kann nicht geöffnet werden: " + path + L" (Fehler " +
                   std::to_wstring(::GetLastError()) + L")");
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_.get(), &size)) Refuse(L"Größe unbekannt");
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    if (inflateInit2(&zs_, -15) != Z_OK) RaiseError(L"zlib: inflateInit2 fehlgeschlagen");
    zsReady_ = true;
    ReadCentralDirectory();
}

ZipReader::~ZipReader() {
    if (zsReady_) inflateEnd(&zs_);
}

void ZipReader::Refuse(const std::wstring& what) const {
    RaiseError(L"Das Archiv ist nicht lesbar: " + path_ + L" (" + what + L")");
}

void ZipReader::ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
    if (!file_) Refuse(L"geschlossen");
    if (offset > size_ || size > size_ - offset) Refuse(L"abgeschnitten");
    auto* p = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file_.get(), p, want, &got, &at) || got == 0)
            Refuse(L"Lesefehler " + std::to_wstring(::GetLastError()));
        p += got;
        size -= got;
        offset += got;
    }
}

void ZipReader::ReadCentralDirectory() {
    if (size_ < kEndSize) Refuse(L"kein Endeintrag");
    unsigned char end[kEndSize];
    ReadAt(size_ - kEndSize, end, kEndSize);
    Fields e{end, kEndSize};
    if (e.u32() != kEndSig) Refuse(L"kein Endeintrag");
    const std::uint16_t disk = e.u16(), directoryDisk = e.u16();
    const std::uint16_t countHere = e.u16(), count16 = e.u16();
    const std::uint32_t size32 = e.u32(), offset32 = e.u32();
    const std::uint16_t comment = e.u16();
    // Our archives carry no comment, so the end record is the file's last 22 bytes.
    if (comment != 0) Refuse(L"Kommentar");
    if (disk != 0 || directoryDisk != 0 || countHere != count16) Refuse(L"mehrere Datenträger");

    std::uint64_t count = count16, directorySize = size32, directoryOffset = offset32;
    std::uint64_t directoryEnd = size_ - kEndSize;
    unsigned char locator[kLocatorSize];
    bool zip64 = false;
    if (size_ >= kEndSize + kLocatorSize) {
        ReadAt(size_ - kEndSize - kLocatorSize, locator, kLocatorSize);
        Fields l{locator, kLocatorSize};
        zip64 = l.u32() == kZip64LocatorSig;
        if (zip64) {
            const std::uint32_t recordDisk = l.u32();
            const std::uint64_t recordOffset = l.u64();
            const std::uint32_t disks = l.u32();
            if (recordDisk != 0 || disks != 1) Refuse(L"mehrere Datenträger");
            if (recordOffset > size_ - kEndSize - kLocatorSize ||
                size_ - kEndSize - kLocatorSize - recordOffset < kZip64EndSize)
                Refuse(L"Zip64-Endeintrag");
            unsigned char record[kZip64EndSize];
            ReadAt(recordOffset, record, kZip64EndSize);
            Fields r{record, kZip64EndSize};
            if (r.u32() != kZip64EndSig) Refuse(L"Zip64-Endeintrag");
            const std::uint64_t recordSize = r.u64();
            r.u16();  // made by
            r.u16();  // needed
            const std::uint32_t disk64 = r.u32(), directoryDisk64 = r.u32();
            const std::uint64_t countHere64 = r.u64(), count64 = r.u64();
            const std::uint64_t size64 = r.u64(), offset64 = r.u64();
            // The record, its locator and the end record follow one another.
            if (recordSize < kZip64EndSize - 12 || recordOffset + 12 + recordSize != size_ - kEndSize - kLocatorSize)
                Refuse(L"Zip64-Endeintrag");
            if (disk64 != 0 || directoryDisk64 != 0 || countHere64 != count64) Refuse(L"mehrere Datenträger");
            if ((count16 != kMax16 && count16 != count64) || (size32 != kMax32 && size32 != size64) ||
                (offset32 != kMax32 && offset32 != offset64))
                Refuse(L"Endeinträge widersprechen sich");
            count = count64;
            directorySize = size64;
            directoryOffset = offset64;
            directoryEnd = recordOffset;
        }
    }
    if (!zip64 && (count16 == kMax16 || size32 == kMax32 || offset32 == kMax32)) Refuse(L"Zip64-Endeintrag fehlt");
    if (directoryOffset > directoryEnd || directoryEnd - directoryOffset != directorySize)
        Refuse(L"Zentralverzeichnis liegt nicht vor dem Endeintrag");
    if (count > directorySize / kCentralSize) Refuse(L"Anzahl der Einträge");

    struct Pending {
        std::uint16_t Needed, Flags;
    };
    std::vector<Pending> pending;
    // The count is only a claim: reserve no more than a sane archive needs up front.
    entries_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 16)));
    pending.reserve(entries_.capacity());
    std::uint64_t at = directoryOffset;
    std::vector<unsigned char> variable;
    // Four reads an entry: for thousands of entries long enough that the
    // window must go on answering meanwhile.
    for (std::uint64_t i = 0; i < count; ++i) {
        Heartbeat();
        if (directoryEnd - at < kCentralSize) Refuse(L"Zentralverzeichnis abgeschnitten");
        unsigned char fixed[kCentralSize];
        ReadAt(at, fixed, kCentralSize);
        Fields c{fixed, kCentralSize};
        if (c.u32() != kCentralSig) Refuse(L"Zentraleintrag");
        const std::uint16_t madeBy = c.u16(), needed = c.u16(), flags = c.u16(), method = c.u16();
        ZipEntry z;
        z.DosTime = c.u16();
        z.DosDate = c.u16();
        z.Crc = c.u32();
        const std::uint32_t compressed32 = c.u32(), uncompressed32 = c.u32();
        const std::uint16_t nameLength = c.u16(), extraLength = c.u16(), commentLength = c.u16();
        const std::uint16_t diskStart = c.u16();
        c.u16();  // internal attributes
        z.Attributes = c.u32();
        const std::uint32_t offset32e = c.u32();
        // Only an MS-DOS host gives Windows attribute bits.
        if ((madeBy >> 8) != 0) Refuse(L"fremdes Herkunftssystem");
        if (needed > kMaxNeeded) Refuse(L"zu neue Version");
        if (flags & 0x0001) Refuse(L"verschlüsselt");
        if (flags & 0x0008) Refuse(L"Datendeskriptor");
        if (!(flags & kFlagUtf8) || (flags & ~kFlagsAllowed)) Refuse(L"Kennzeichen");
        if (method != kDeflate) Refuse(L"Kompressionsmethode " + std::to_wstring(method));
        const std::size_t rest = std::size_t{nameLength} + extraLength + commentLength;
        if (directoryEnd - at - kCentralSize < rest) Refuse(L"Zentralverzeichnis abgeschnitten");
        variable.resize(rest);
        if (rest) ReadAt(at + kCentralSize, variable.data(), rest);
        z.Name.assign(reinterpret_cast<const char*>(variable.data()), nameLength);
        if (!DecodeUtf8(z.Name, z.WideName)) Refuse(L"Name ist kein UTF-8");

        z.Uncompressed = uncompressed32;
        z.Compressed = compressed32;
        z.HeaderOffset = offset32e;
        std::uint32_t disk32 = diskStart;
        const unsigned char* zip64Data = nullptr;
        std::size_t zip64Length = 0;
        bool wellFormed = true;
        const bool hasZip64 = FindZip64(variable.data() + nameLength, extraLength, zip64Data, zip64Length, wellFormed);
        if (!wellFormed) Refuse(L"Zusatzfeld");
        if (uncompressed32 == kMax32 || compressed32 == kMax32 || offset32e == kMax32 || diskStart == kMax16) {
            if (!hasZip64) Refuse(L"Zip64-Zusatzfeld fehlt");
            Fields x{zip64Data, zip64Length};
            if (uncompressed32 == kMax32) z.Uncompressed = x.u64();
            if (compressed32 == kMax32) z.Compressed = x.u64();
            if (offset32e == kMax32) z.HeaderOffset = x.u64();
            if (diskStart == kMax16) disk32 = x.u32();
            if (!x.ok) Refuse(L"Zip64-Zusatzfeld zu kurz");
        }
        if (disk32 != 0) Refuse(L"mehrere Datenträger");
        entries_.push_back(std::move(z));
        pending.push_back({needed, flags});
        at += kCentralSize + rest;
    }
    if (at != directoryEnd) Refuse(L"Zentralverzeichnis hat Überhang");

    // Entries lie one after another in the order of the directory, and the last
    // one ends where the directory begins: no entry shares bytes with another.
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        Heartbeat();
        const std::uint64_t limit = i + 1 < entries_.size() ? entries_[i + 1].HeaderOffset : directoryOffset;
        if (entries_[i].HeaderOffset > limit) Refuse(L"Reihenfolge der Einträge");
        CheckLocalHeader(entries_[i], pending[i].Needed, pending[i].Flags, limit);
    }
}

void ZipReader::CheckLocalHeader(ZipEntry& z, std::uint16_t needed, std::uint16_t flags, std::uint64_t limit) {
    if (limit - z.HeaderOffset < kLocalSize) Refuse(L"Kopf abgeschnitten: " + z.WideName);
    unsigned char fixed[kLocalSize];
    ReadAt(z.HeaderOffset, fixed, kLocalSize);
    Fields l{fixed, kLocalSize};
    if (l.u32() != kLocalSig) Refuse(L"lokaler Kopf fehlt: " + z.WideName);
    const std::uint16_t localNeeded = l.u16(), localFlags = l.u16(), method = l.u16();
    const std::uint16_t time = l.u16(), date = l.u16();
    const std::uint32_t crc = l.u32(), compressed32 = l.u32(), uncompressed32 = l.u32();
    const std::uint16_t nameLength = l.u16(), extraLength = l.u16();
    if (localNeeded != needed || localFlags != flags || method != kDeflate || time != z.DosTime || date != z.DosDate ||
        crc != z.Crc || nameLength != z.Name.size())
        Refuse(L"lokaler Kopf weicht ab: " + z.WideName);
    const std::size_t rest = std::size_t{nameLength} + extraLength;
    if (limit - z.HeaderOffset - kLocalSize < rest) Refuse(L"Kopf abgeschnitten: " + z.WideName);
    std::vector<unsigned char> variable(rest);
    if (rest) ReadAt(z.HeaderOffset + kLocalSize, variable.data(), rest);
    if (!std::equal(z.Name.begin(), z.Name.end(), variable.begin(), variable.begin() + nameLength,
                    [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }))
        Refuse(L"lokaler Name weicht ab: " + z.WideName);

    std::uint64_t uncompressed = uncompressed32, compressed = compressed32;
    const unsigned char* zip64Data = nullptr;
    std::size_t zip64Length = 0;
    bool wellFormed = true;
    const bool hasZip64 = FindZip64(variable.data() + nameLength, extraLength, zip64Data, zip64Length, wellFormed);
    if (!wellFormed) Refuse(L"lokales Zusatzfeld: " + z.WideName);
    if (uncompressed32 == kMax32 || compressed32 == kMax32) {
        // A local Zip64 extra holds both sizes.
        if (!hasZip64) Refuse(L"lokales Zip64-Zusatzfeld fehlt: " + z.WideName);
        Fields x{zip64Data, zip64Length};
        uncompressed = x.u64();
        compressed = x.u64();
        if (!x.ok) Refuse(L"lokales Zip64-Zusatzfeld zu kurz: " + z.WideName);
    }
    if (uncompressed != z.Uncompressed || compressed != z.Compressed) Refuse(L"Größen weichen ab: " + z.WideName);
    z.DataOffset = z.HeaderOffset + kLocalSize + rest;
    if (limit - z.DataOffset < z.Compressed) Refuse(L"Daten abgeschnitten: " + z.WideName);
}

bool ZipReader::Extract(const ZipEntry& z, const std::function<bool(const unsigned char*, std::size_t)>& sink) {
    if (inflateReset(&zs_) != Z_OK) RaiseError(L"zlib: inflateReset fehlgeschlagen");
    std::uint64_t offset = z.DataOffset, remaining = z.Compressed, produced = 0;
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    bool ended = false;
    zs_.avail_in = 0;
    while (!ended) {
        if (zs_.avail_in == 0) {
            if (remaining == 0) Refuse(L"Datenstrom endet zu früh: " + z.WideName);
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, ChunkSize));
            ReadAt(offset, in_.get(), n);
            offset += n;
            remaining -= n;
            zs_.next_in = in_.get();
            zs_.avail_in = static_cast<uInt>(n);
        }
        zs_.next_out = out_.get();
        zs_.avail_out = static_cast<uInt>(ChunkSize);
        const int rc = inflate(&zs_, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) Refuse(L"Datenstrom beschädigt: " + z.WideName);
        const std::size_t n = ChunkSize - zs_.avail_out;
        if (n > z.Uncompressed - produced) Refuse(L"mehr Daten als angegeben: " + z.WideName);
        produced += n;
        crc = static_cast<std::uint32_t>(crc32(crc, out_.get(), static_cast<uInt>(n)));
        if (n > 0 && !sink(out_.get(), n)) return false;
        if (rc == Z_STREAM_END) ended = true;
        // Z_BUF_ERROR with input left and room for output cannot happen; with
        // no input left the next round reads more or finds the stream cut off.
    }
    if (zs_.avail_in != 0 || remaining != 0) Refuse(L"Daten nach dem Ende des Datenstroms: " + z.WideName);
    if (produced != z.Uncompressed) Refuse(L"Größe stimmt nicht: " + z.WideName);
    if (crc != z.Crc) Refuse(L"CRC-32 stimmt nicht: " + z.WideName);
    return true;
}
