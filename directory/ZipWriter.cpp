// Streaming ZIP writer (PKWARE APPNOTE layout) on zlib's raw deflate and crc32.
#include "ZipWriter.h"
#include <zlib.h>
#include <algorithm>
#include <cstring>
#include "Fehler.h"
#include "Files.h"
#include "ZipFormat.h"

namespace {
using namespace zipformat;

constexpr std::uint16_t kMadeBy = 20;  // format 2.0, host MS-DOS: attributes are DOS/Windows bits
constexpr std::uint16_t kNeeded = 20;
constexpr std::uint16_t kNeededZip64 = 45;

// Little-endian fields appended to a byte vector.
struct Bytes {
    std::vector<unsigned char>& v;
    void u16(std::uint16_t x) {
        v.push_back(static_cast<unsigned char>(x));
        v.push_back(static_cast<unsigned char>(x >> 8));
    }
    void u32(std::uint32_t x) {
        u16(static_cast<std::uint16_t>(x));
        u16(static_cast<std::uint16_t>(x >> 16));
    }
    void u64(std::uint64_t x) {
        u32(static_cast<std::uint32_t>(x));
        u32(static_cast<std::uint32_t>(x >> 32));
    }
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

// Room for the deflated form of `input` bytes cut into `pieces`: zlib's bound
// for data that does not compress (stored blocks), plus for each piece the sync
// flush that ends it and zlib's few bytes of its own.
std::uint64_t OutputBound(std::uint64_t input, std::uint64_t pieces) {
    return input + (input >> 12) + (input >> 14) + (input >> 25) + 16 * (pieces + 1);
}

}  // namespace

bool ZipWriter::NeedsZip64Sizes(std::uint64_t size) {
    const std::uint64_t pieces = size > WholeFileLimit ? size / BlockSize + 1 : 1;
    return size >= kMax32 || OutputBound(size, pieces) >= kMax32;
}

std::uint32_t ZipWriter::DosDateTime(const FILETIME& utc) {
    // The time zone rules of the file's own date (not today's daylight-saving
    // bias as FileTimeToLocalFileTime would apply), so an archive lister shows
    // the same wall-clock time as a folder listing of the file.
    SYSTEMTIME u, t;
    if (!::FileTimeToSystemTime(&utc, &u) || !::SystemTimeToTzSpecificLocalTime(nullptr, &u, &t) || t.wYear < 1980)
        return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00, the earliest DOS time
    if (t.wYear > 2107) return ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u);
    const std::uint32_t date = static_cast<std::uint32_t>((t.wYear - 1980) << 9 | t.wMonth << 5 | t.wDay);
    const std::uint32_t time = static_cast<std::uint32_t>(t.wHour << 11 | t.wMinute << 5 | t.wSecond / 2);
    return date << 16 | time;
}

namespace {

unique_hfile CreateArchiveFile(const std::wstring& path) {
    unique_hfile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseError(LastErrorText(L"Das Archiv kann nicht angelegt werden:", path));
    return file;
}

}  // namespace

ZipWriter::ZipWriter(const std::wstring& path, std::size_t bufferSize, unsigned workers)
    : ZipWriter(CreateArchiveFile(path), path, bufferSize, workers) {}

ZipWriter::ZipWriter(unique_hfile file, const std::wstring& path, std::size_t bufferSize, unsigned workers)
    : path_(path),
      file_(std::move(file)),
      bufferSize_(std::clamp<std::size_t>(bufferSize, 16, std::size_t{1} << 30)),
      out_(new unsigned char[bufferSize_]),
      tail_(new unsigned char[DictionarySize]),
      lastBeat_(::GetTickCount64()) {
    if (workers == 0) {
        SYSTEM_INFO si;
        ::GetSystemInfo(&si);
        workers = static_cast<unsigned>(si.dwNumberOfProcessors);
    }
    workers = std::clamp(workers, 1u, MaxWorkers);
    for (unsigned i = 0; i < workers; ++i) {
        unique_handle thread(::CreateThread(nullptr, 0, &ZipWriter::WorkerMain, this, 0, nullptr));
        if (!thread) break;  // fewer workers are slower, not wrong
        threads_.push_back(std::move(thread));
    }
    if (threads_.empty()) RaiseError(LastErrorText(L"Kein Arbeitsthread für das Archiv:", path));
}

ZipWriter::~ZipWriter() { StopWorkers(); }

void ZipWriter::WriteFileAll(const void* data, std::size_t size) {
    if (!WriteAll(file_.get(), data, size))
        RaiseError(LastErrorText(L"Das Archiv kann nicht geschrieben werden:", path_));
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

// --- the workers ------------------------------------------------------------

class ZipWriter::Lock {
public:
    explicit Lock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    ~Lock() { ::ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK& lock_;
};

DWORD WINAPI ZipWriter::WorkerMain(void* self) {
    static_cast<ZipWriter*>(self)->Work();
    return 0;
}

void ZipWriter::Work() noexcept {
    z_stream zs{};
    const bool ready = deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    for (;;) {
        Job* job = nullptr;
        {
            Lock lock(lock_);
            while (todo_.empty() && !stop_) ::SleepConditionVariableSRW(&work_, &lock_, INFINITE, 0);
            if (stop_) break;
            job = todo_.front();
            todo_.pop_front();
        }
        bool ok = ready;
        try {
            for (Piece& p : job->pieces) {
                if (!ok) break;
                ok = deflateReset(&zs) == Z_OK &&
                     (p.dictionary == 0 || deflateSetDictionary(&zs, job->in.get() + p.at - p.dictionary,
                                                                static_cast<uInt>(p.dictionary)) == Z_OK);
                zs.next_in = job->in.get() + p.at;
                zs.avail_in = static_cast<uInt>(p.length);
                p.outAt = job->outUsed;
                const int flush = p.last ? Z_FINISH : Z_SYNC_FLUSH;
                while (ok) {
                    if (job->outUsed == job->outCapacity) {
                        // Not expected: the output is sized by zlib's bound. Grown, not failed.
                        const std::size_t grown = job->outCapacity + job->outCapacity / 2 + 4096;
                        std::unique_ptr<unsigned char[]> bigger(new unsigned char[grown]);
                        std::memcpy(bigger.get(), job->out.get(), job->outUsed);
                        job->out = std::move(bigger);
                        job->outCapacity = grown;
                    }
                    const std::size_t room = std::min<std::size_t>(job->outCapacity - job->outUsed, 1u << 30);
                    zs.next_out = job->out.get() + job->outUsed;
                    zs.avail_out = static_cast<uInt>(room);
                    const int rc = deflate(&zs, flush);
                    job->outUsed += room - zs.avail_out;
                    if (rc == Z_STREAM_ERROR)
                        ok = false;
                    else if (p.last ? rc == Z_STREAM_END : (zs.avail_in == 0 && zs.avail_out != 0))
                        break;
                }
                p.outLength = job->outUsed - p.outAt;
                p.crc = static_cast<std::uint32_t>(crc32(0, job->in.get() + p.at, static_cast<uInt>(p.length)));
            }
        } catch (...) {  // no memory for a larger output
            ok = false;
        }
        {
            Lock lock(lock_);
            job->done = true;
            job->failed = !ok;
        }
        ::WakeAllConditionVariable(&done_);
    }
    if (ready) deflateEnd(&zs);
}

void ZipWriter::StopWorkers() noexcept {
    if (threads_.empty()) return;
    {
        Lock lock(lock_);
        stop_ = true;
    }
    ::WakeAllConditionVariable(&work_);
    std::vector<HANDLE> handles;
    for (const auto& t : threads_) handles.push_back(t.get());
    // A worker finishes the job in its hands first; the jobs stay alive until then.
    ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    threads_.clear();
}

// --- the calling thread -------------------------------------------------------

void ZipWriter::Beat() {
    if (!heartbeat_) return;
    const ULONGLONG now = ::GetTickCount64();
    if (now - lastBeat_ < BeatInterval) return;
    lastBeat_ = now;
    heartbeat_();
}

void ZipWriter::RaiseIfUnusable() const {
    if (failed_) RaiseError(L"Das Archiv ist nach einem Fehler unvollständig: " + path_, path_);
    if (closed_) RaiseError(L"Das Archiv ist schon geschlossen: " + path_, path_);
}

// A job whose input holds at least `input` bytes, once the jobs in flight leave
// room for it in the budget: the oldest are written first.
std::unique_ptr<ZipWriter::Job> ZipWriter::NewJob(std::size_t input) {
    const std::size_t expected = input + static_cast<std::size_t>(OutputBound(input, input / BlockSize + 1));
    while (!queue_.empty() && inFlight_ + expected > InFlightBudget) WriteFront(true);
    std::unique_ptr<Job> job;
    if (!spare_.empty()) {
        job = std::move(spare_.back());
        spare_.pop_back();
    } else {
        job = std::make_unique<Job>();
    }
    if (job->inCapacity < input) {
        job->in.reset();
        job->in.reset(new unsigned char[input]);
        job->inCapacity = input;
    }
    job->inUsed = job->outUsed = 0;
    job->pieces.clear();
    job->done = job->failed = false;
    return job;
}

void ZipWriter::Submit(std::unique_ptr<Job> job) {
    const auto bound = static_cast<std::size_t>(OutputBound(job->inUsed, job->pieces.size()));
    if (job->outCapacity < bound) {
        job->out.reset();
        job->out.reset(new unsigned char[bound]);
        job->outCapacity = bound;
    }
    job->cost = job->inCapacity + job->outCapacity;
    inFlight_ += job->cost;
    Job* raw = job.get();
    queue_.push_back(std::move(job));
    {
        Lock lock(lock_);
        todo_.push_back(raw);
    }
    ::WakeConditionVariable(&work_);
    // Whatever is ready goes out now, so that writing keeps pace with deflate.
    while (!queue_.empty() && WriteFront(false)) {}
}

// Writes the oldest job's pieces into the archive, waiting for it if asked to;
// false when it is not done and waiting was not asked for.
bool ZipWriter::WriteFront(bool wait) {
    Job& job = *queue_.front();
    for (;;) {
        bool done;
        {
            Lock lock(lock_);
            if (!job.done && wait) ::SleepConditionVariableSRW(&done_, &lock_, BeatInterval, 0);
            done = job.done;
        }
        if (done) break;
        if (!wait) return false;
        Beat();
    }
    if (job.failed) RaiseError(L"zlib: deflate fehlgeschlagen");
    for (const Piece& p : job.pieces) {
        Entry& e = pending_.front();
        if (p.first) {
            e.offset = Position();
            // Local and central record of one entry name the same version.
            e.needed = (e.zip64Sizes || e.offset >= kMax32) ? kNeededZip64 : kNeeded;
            const std::vector<unsigned char> placeholder = LocalHeader(e);
            Put(placeholder.data(), placeholder.size());
        }
        Put(job.out.get() + p.outAt, p.outLength);
        e.crc = static_cast<std::uint32_t>(crc32_combine(e.crc, p.crc, static_cast<z_off_t>(p.length)));
        e.uncompressed += p.length;
        e.compressed += p.outLength;
        if (!p.last) continue;
        if (!e.zip64Sizes && (e.compressed >= kMax32 || e.uncompressed >= kMax32))
            RaiseError(L"Der Eintrag passt nicht in die Felder ohne Zip64: " + e.source, e.source);
        // The header again, now with CRC and sizes; its length is unchanged.
        const std::vector<unsigned char> header = LocalHeader(e);
        WriteAt(e.offset, header.data(), header.size());
        AppendCentralRecord(e);
        ++entries_;
        pending_.pop_front();
    }
    inFlight_ -= job.cost;
    spare_.push_back(std::move(queue_.front()));
    queue_.pop_front();
    return true;
}

// Reads from offset on until `want` bytes are in or the file ends; a file
// cannot grow while others may only read it, but it may have been shorter
// than its size said. The offset is given with each read, so that the
// handle's file pointer (a caller's handle may have moved it) does not matter.
std::size_t ZipWriter::ReadUpTo(HANDLE source, const std::wstring& sourcePath, std::uint64_t offset,
                                unsigned char* to, std::size_t want) {
    std::size_t got = 0;
    while (got < want) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + got);
        at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(want - got, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(source, to + got, ask, &n, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            RaiseError(LastErrorText(L"Die Datei kann nicht gelesen werden:", sourcePath));
        }
        if (n == 0) break;
        got += n;
    }
    Beat();
    return got;
}

// A large file, cut into blocks. Each job carries the last DictionarySize
// bytes before its first block, so that a worker needs nothing of the job
// before it. The entry ends where the reading ends: a file found shorter than
// its size at open time is archived as read, with the CRC of what was read.
void ZipWriter::AddBlocks(HANDLE source, const std::wstring& sourcePath, std::uint64_t size) {
    constexpr std::size_t kJobBlocks = 4;
    std::uint64_t left = size, read = 0;
    tailUsed_ = 0;
    bool first = true, end = false;
    while (!end) {
        std::unique_ptr<Job> job = NewJob(DictionarySize + kJobBlocks * BlockSize);
        std::memcpy(job->in.get(), tail_.get(), tailUsed_);
        const std::size_t start = tailUsed_;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kJobBlocks * BlockSize));
        const std::size_t got = ReadUpTo(source, sourcePath, read, job->in.get() + start, want);
        read += got;
        left -= got;
        end = got < want || left == 0;
        job->inUsed = start + got;
        for (std::size_t off = 0; off < got || (end && got == 0 && off == 0); off += BlockSize) {
            Piece p;
            p.at = start + off;
            p.length = std::min(BlockSize, got - off);
            p.dictionary = std::min(DictionarySize, p.at);
            p.first = first;
            p.last = end && off + p.length == got;
            first = false;
            job->pieces.push_back(p);
            if (got == 0) break;
        }
        tailUsed_ = std::min(DictionarySize, job->inUsed);
        std::memcpy(tail_.get(), job->in.get() + job->inUsed - tailUsed_, tailUsed_);
        Submit(std::move(job));
    }
}

void ZipWriter::AddFile(const std::wstring& sourcePath, const std::wstring& entryName) {
    RaiseIfUnusable();
    try {
        unique_hfile source(::CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!source) RaiseError(LastErrorText(L"Die Datei kann nicht geöffnet werden:", sourcePath));
        FILE_STANDARD_INFO standard;
        if (!::GetFileInformationByHandleEx(source.get(), FileStandardInfo, &standard, sizeof standard))
            RaiseError(LastErrorText(L"Die Größe der Datei ist nicht lesbar:", sourcePath));
        AddOpened(source.get(), static_cast<std::uint64_t>(standard.EndOfFile.QuadPart), sourcePath, entryName);
    } catch (...) {
        failed_ = true;
        throw;
    }
}

void ZipWriter::AddFile(HANDLE source, std::uint64_t size, const std::wstring& sourcePath,
                        const std::wstring& entryName) {
    RaiseIfUnusable();
    try {
        AddOpened(source, size, sourcePath, entryName);
    } catch (...) {
        failed_ = true;
        throw;
    }
}

void ZipWriter::AddOpened(HANDLE source, std::uint64_t size, const std::wstring& sourcePath,
                          const std::wstring& entryName) {
    // Only what the entry needs: GetFileInformationByHandle would also look up
    // the volume serial number, which costs more than the open itself under Wine.
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(source, FileBasicInfo, &basic, sizeof basic))
        RaiseError(LastErrorText(L"Zeit und Attribute der Datei sind nicht lesbar:", sourcePath));

    Entry e;
    e.name = Utf8(entryName);
    if (e.name.size() > kMax16) RaiseError(L"Der Name ist zu lang für das Archiv: " + entryName, entryName);
    e.source = sourcePath;
    // The share mode keeps the size from growing, so Zip64 is decided here,
    // before the local header is written.
    e.zip64Sizes = NeedsZip64Sizes(size);
    const FILETIME lastWrite{basic.LastWriteTime.LowPart, static_cast<DWORD>(basic.LastWriteTime.HighPart)};
    const std::uint32_t dos = DosDateTime(lastWrite);
    e.time = static_cast<std::uint16_t>(dos);
    e.date = static_cast<std::uint16_t>(dos >> 16);
    e.attributes = basic.FileAttributes;
    e.crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    pending_.push_back(std::move(e));

    if (size > WholeFileLimit) {
        if (batch_) Submit(std::move(batch_));  // the files before it come first
        AddBlocks(source, sourcePath, size);
        return;
    }
    // Small files are gathered into one job until it holds this much.
    constexpr std::size_t kBatch = std::size_t{512} << 10;
    const auto n = static_cast<std::size_t>(size);
    if (batch_ && batch_->inUsed + n > batch_->inCapacity) Submit(std::move(batch_));
    if (!batch_) batch_ = NewJob(std::max(kBatch, n));
    Piece p;
    p.at = batch_->inUsed;
    p.length = ReadUpTo(source, sourcePath, 0, batch_->in.get() + p.at, n);
    p.first = p.last = true;
    batch_->inUsed += p.length;
    batch_->pieces.push_back(p);
    if (batch_->inUsed >= kBatch) Submit(std::move(batch_));
}

void ZipWriter::Close() {
    if (closed_) return;
    RaiseIfUnusable();
    try {
        if (batch_) Submit(std::move(batch_));
        while (!queue_.empty()) WriteFront(true);
        StopWorkers();
        spare_.clear();

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
    } catch (...) {
        failed_ = true;
        throw;
    }
    closed_ = true;
}
