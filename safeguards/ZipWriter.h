// A ZIP archive written front to back while the source files are read in
// chunks: memory stays the same whatever the size of a file. Each entry is raw
// deflate (zlib, default level); CRC-32 and both sizes are patched into the
// local header once the data is written, so no data descriptor is needed.
#pragma once
#include <windows.h>
#include <zlib.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "../shell/Raii.h"

class ZipWriter {
public:
    // Large chunks keep the number of ReadFile/WriteFile calls (each a trip
    // through the platform's file layer) small against the work of deflate.
    static constexpr std::size_t DefaultBufferSize = std::size_t{1} << 20;

    // Creates the archive, replacing a file of that name. Raises EFehler when the
    // file cannot be created (for example, another program holds it open).
    // bufferSize is the size of both the read chunk and the write buffer.
    explicit ZipWriter(const std::wstring& path, std::size_t bufferSize = DefaultBufferSize);
    // An archive that was never closed is left behind incomplete.
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds the file at sourcePath as the entry entryName ("/" between the
    // components). The file is opened for reading with write access denied to
    // others. Raises EFehler when it cannot be opened or read, or when writing
    // the archive fails.
    void AddFile(const std::wstring& sourcePath, const std::wstring& entryName);

    // Writes the central directory and the end records and closes the file.
    // Only after it has returned is the archive complete.
    void Close();

    std::uint64_t EntryCount() const { return entries_; }

    // Whether an entry of this uncompressed size gets Zip64 sizes. Decided before
    // the local header is written, so it allows for the growth of data that
    // deflate cannot compress (stored blocks, zlib's own worst-case bound).
    static bool NeedsZip64Sizes(std::uint64_t size);

    // MS-DOS date (high word) and time (low word) of a file time, as the wall
    // clock showed it then in the local time zone, daylight saving included.
    static std::uint32_t DosDateTime(const FILETIME& utc);

private:
    struct Entry {
        std::string name;  // UTF-8
        std::uint64_t offset = 0;  // of the local header
        bool zip64Sizes = false;
        std::uint16_t needed = 0, time = 0, date = 0;
        std::uint32_t attributes = 0, crc = 0;
        std::uint64_t compressed = 0, uncompressed = 0;
    };
    static std::vector<unsigned char> LocalHeader(const Entry& e);
    // The fields from "version needed" to the name length, which the local header
    // and the central record of an entry must carry alike.
    static void AppendEntryFields(std::vector<unsigned char>& record, const Entry& e);
    void AppendCentralRecord(const Entry& e);
    void DeflateFrom(HANDLE source, const std::wstring& sourcePath, std::uint64_t size, Entry& e);
    void Put(const void* data, std::size_t size);
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    void FlushBuffer();
    void WriteFileAll(const void* data, std::size_t size);
    std::uint64_t Position() const { return flushed_ + used_; }

    std::wstring path_;
    unique_hfile file_;
    z_stream zs_{};
    bool zsReady_ = false;
    std::size_t bufferSize_;
    std::unique_ptr<unsigned char[]> in_;
    std::unique_ptr<unsigned char[]> out_;
    std::size_t used_ = 0;        // bytes in out_ not yet written
    std::uint64_t flushed_ = 0;   // bytes already in the file; also its file pointer
    std::vector<unsigned char> central_;  // central directory records so far
    std::uint64_t entries_ = 0;
    bool closed_ = false;
};
