// Reads back the archives ZipWriter writes: central directory and end record
// (Zip64 end records and extra fields where present), UTF-8 names, raw deflate
// with CRC-32 and sizes in the local header. Anything else (another method,
// encryption, a data descriptor, several disks, records that disagree, a
// truncated file) raises EFehler; nothing is ever trusted beyond what the file
// holds, and memory stays bounded whatever the sizes claim.
#pragma once
#include <windows.h>
#include <zlib.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "Raii.h"

struct ZipEntry {
    std::string Name;       // as stored: UTF-8 bytes
    std::wstring WideName;  // the same name decoded
    std::uint16_t DosTime = 0, DosDate = 0;
    std::uint32_t Crc = 0;
    std::uint64_t Compressed = 0, Uncompressed = 0;
    std::uint32_t Attributes = 0;    // external attributes: Windows attribute bits
    std::uint64_t HeaderOffset = 0;  // of the local header
    std::uint64_t DataOffset = 0;    // of the deflate stream
};

class ZipReader {
public:
    static constexpr std::size_t ChunkSize = std::size_t{1} << 18;

    // Opens the archive for reading (others may read it too) and reads and
    // checks the central directory and every local header.
    explicit ZipReader(const std::wstring& path);
    // The same on a file already open for reading (path names it in errors).
    ZipReader(unique_hfile file, const std::wstring& path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    const std::vector<ZipEntry>& Entries() const { return entries_; }

    // Inflates the entry and hands its content to sink in chunks. The sink
    // returns false to stop early (Extract then returns false). Returns true
    // only when the whole stream was inflated and its size and CRC-32 match the
    // entry; a mismatch or a damaged stream raises.
    bool Extract(const ZipEntry& entry, const std::function<bool(const unsigned char*, std::size_t)>& sink);

private:
    void ReadAt(std::uint64_t offset, void* buffer, std::size_t size);
    void ReadCentralDirectory();
    void CheckLocalHeader(ZipEntry& e, std::uint16_t needed, std::uint16_t flags, std::uint64_t dataLimit);
    [[noreturn]] void Refuse(const std::wstring& what) const;

    std::wstring path_;
    unique_hfile file_;
    std::uint64_t size_ = 0;
    std::vector<ZipEntry> entries_;
    z_stream zs_{};
    bool zsReady_ = false;
    std::unique_ptr<unsigned char[]> in_;
    std::unique_ptr<unsigned char[]> out_;
};
