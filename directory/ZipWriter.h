// A ZIP archive written front to back in the order the files are added, while
// worker threads deflate ahead of the writer. Each entry is one raw deflate
// stream (zlib, default level); CRC-32 and both sizes are patched into the
// local header once the data is written, so no data descriptor is needed.
//
// The calling thread opens and reads the files and writes the archive; the
// workers only deflate bytes handed to them. A file of up to WholeFileLimit
// bytes is deflated in one piece; a larger one is cut into blocks of
// BlockSize, each deflated with the DictionarySize bytes before it as its
// dictionary and ended with a sync flush (the last with finish), so that the
// pieces join into one stream. These sizes are fixed: the archive is the same
// bytes whatever the number of workers. At most InFlightBudget bytes of
// buffers are handed out to the workers at a time, so memory does not grow
// with the size of a file.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include "Raii.h"

class ZipWriter {
public:
    // Size of the write buffer: large, so that the number of WriteFile calls
    // (each a trip through the platform's file layer) stays small.
    static constexpr std::size_t DefaultBufferSize = std::size_t{1} << 20;
    static constexpr std::size_t WholeFileLimit = std::size_t{1} << 20;
    static constexpr std::size_t BlockSize = std::size_t{128} << 10;
    static constexpr std::size_t DictionarySize = std::size_t{32} << 10;
    static constexpr std::size_t InFlightBudget = std::size_t{6} << 20;
    static constexpr unsigned MaxWorkers = 4;

    // Creates the archive, replacing a file of that name. Raises EFehler when the
    // file cannot be created (for example, another program holds it open).
    // bufferSize is the size of the write buffer; workers the number of deflate
    // threads, 0 for one per processor (at most MaxWorkers).
    explicit ZipWriter(const std::wstring& path, std::size_t bufferSize = DefaultBufferSize, unsigned workers = 0);
    // The same on a file the caller created and checked, open for writing;
    // path names it in error messages. Close closes the handle.
    ZipWriter(unique_hfile file, const std::wstring& path, std::size_t bufferSize = DefaultBufferSize,
              unsigned workers = 0);
    // Stops the workers. An archive that was never closed is left behind incomplete.
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds the file at sourcePath (opened as given, "\\?\" form included) as the
    // entry entryName ("/" between the components). The file is opened and read
    // here, with write access denied to others; the entry may be written by a
    // later call. Raises EFehler when the file cannot be opened or read, or when
    // writing an earlier entry fails; errors come in the order the files were
    // added. After an error the archive takes no more files and cannot be closed.
    void AddFile(const std::wstring& sourcePath, const std::wstring& entryName);

    // The same for a file the caller has opened and checked: source must be
    // open for synchronous reading with write access denied to others (so it
    // cannot grow meanwhile), size its size on that handle. The file is read
    // from its start whatever the handle's file pointer, completely before the
    // call returns; the caller keeps the handle. sourcePath names the file in
    // error messages.
    void AddFile(HANDLE source, std::uint64_t size, const std::wstring& sourcePath, const std::wstring& entryName);

    // Writes every entry still pending, the central directory and the end
    // records, and closes the file. Only after it has returned is the archive
    // complete; it raises EFehler for any error not yet reported.
    void Close();

    // Entries written so far; after Close every entry added.
    std::uint64_t EntryCount() const { return entries_; }
    unsigned Workers() const { return static_cast<unsigned>(threads_.size()); }

    // Called on the calling thread at least every BeatInterval milliseconds
    // while the writer reads files or waits for the workers (for example, to let
    // the platform see that a window's thread still looks at its queue).
    static constexpr unsigned BeatInterval = 250;
    void SetHeartbeat(std::function<void()> heartbeat) { heartbeat_ = std::move(heartbeat); }

    // Whether an entry of this uncompressed size gets Zip64 sizes. Decided before
    // the local header is written, so it allows for the growth of data that
    // deflate cannot compress (stored blocks, zlib's own worst-case bound, and
    // the flush that ends each block).
    static bool NeedsZip64Sizes(std::uint64_t size);

    // MS-DOS date (high word) and time (low word) of a file time, as the wall
    // clock showed it then in the local time zone, daylight saving included.
    static std::uint32_t DosDateTime(const FILETIME& utc);

private:
    struct Entry {
        std::string name;  // UTF-8
        std::wstring source;
        std::uint64_t offset = 0;  // of the local header
        bool zip64Sizes = false;
        std::uint16_t needed = 0, time = 0, date = 0;
        std::uint32_t attributes = 0, crc = 0;
        std::uint64_t compressed = 0, uncompressed = 0;
    };
    // One deflate call: a whole small file or one block of a large one.
    struct Piece {
        std::size_t at = 0, length = 0;        // in the job's input
        std::size_t dictionary = 0;            // bytes right before `at` that serve as dictionary
        bool first = false, last = false;      // of its entry; the last one ends the stream
        std::size_t outAt = 0, outLength = 0;  // filled in by the worker
        std::uint32_t crc = 0;
    };
    // Input handed to a worker and the output it makes of it.
    struct Job {
        std::unique_ptr<unsigned char[]> in, out;
        std::size_t inCapacity = 0, inUsed = 0, outCapacity = 0, outUsed = 0;
        std::vector<Piece> pieces;
        std::size_t cost = 0;               // buffer bytes counted against the budget
        bool done = false, failed = false;  // set by the worker, under lock_
    };
    class Lock;

    static std::vector<unsigned char> LocalHeader(const Entry& e);
    // The fields from "version needed" to the name length, which the local header
    // and the central record of an entry must carry alike.
    static void AppendEntryFields(std::vector<unsigned char>& record, const Entry& e);
    void AppendCentralRecord(const Entry& e);
    void AddOpened(HANDLE source, std::uint64_t size, const std::wstring& sourcePath, const std::wstring& entryName);
    void AddBlocks(HANDLE source, const std::wstring& sourcePath, std::uint64_t size);
    std::size_t ReadUpTo(HANDLE source, const std::wstring& sourcePath, std::uint64_t offset, unsigned char* to,
                         std::size_t want);
    std::unique_ptr<Job> NewJob(std::size_t input);
    void Submit(std::unique_ptr<Job> job);
    bool WriteFront(bool wait);
    void Put(const void* data, std::size_t size);
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    void FlushBuffer();
    void WriteFileAll(const void* data, std::size_t size);
    std::uint64_t Position() const { return flushed_ + used_; }
    void Beat();
    void RaiseIfUnusable() const;
    void StopWorkers() noexcept;
    static DWORD WINAPI WorkerMain(void* self);
    void Work() noexcept;

    std::wstring path_;
    unique_hfile file_;
    std::size_t bufferSize_;
    std::unique_ptr<unsigned char[]> out_;
    std::size_t used_ = 0;                // bytes in out_ not yet written
    std::uint64_t flushed_ = 0;           // bytes already in the file; also its file pointer
    std::vector<unsigned char> central_;  // central directory records so far
    std::uint64_t entries_ = 0;
    bool closed_ = false, failed_ = false;

    std::deque<Entry> pending_;                // added, not yet completely written, in order
    std::deque<std::unique_ptr<Job>> queue_;   // handed to the workers, in order
    std::unique_ptr<Job> batch_;               // small files gathered for the next job
    std::vector<std::unique_ptr<Job>> spare_;  // written jobs whose buffers are kept
    std::size_t inFlight_ = 0;                 // cost of the jobs in queue_
    std::unique_ptr<unsigned char[]> tail_;    // the last DictionarySize bytes read of a large file
    std::size_t tailUsed_ = 0;

    std::function<void()> heartbeat_;
    ULONGLONG lastBeat_ = 0;

    // Shared with the workers.
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE work_ = CONDITION_VARIABLE_INIT;  // a job waits, or stop_
    CONDITION_VARIABLE done_ = CONDITION_VARIABLE_INIT;  // a job is done
    std::deque<Job*> todo_;
    bool stop_ = false;
    std::vector<unique_handle> threads_;
};
