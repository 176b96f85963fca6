#include "archive/GzipVolume.h"
#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr std::size_t kWindow = 32 * 1024;
constexpr int kLevel = 9;
// Header: magic, deflate, no flags, no time, "best compression", Unix.
constexpr char kHeader[10] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 2, 3};
// An empty fixed-code block with the final bit: ends the deflate stream.
constexpr char kLastBlock[2] = {3, 0};

// More than deflate can make of n bytes, its sync flush marker included.
std::int64_t DeflateBound(std::int64_t n) {
    return n + (n + 7) / 8 + (n + 63) / 64 + 5 + 16;
}

void PutLittleEndian(std::string& out, unsigned long value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

} // namespace

struct GzipVolumeWriter::Chunk {
    std::int64_t start = 0; // uncompressed position in the member
    std::string dict;       // the stream's last bytes before `start`
    std::string data;
    // The worker's result, valid once `done`.
    std::string out;
    unsigned long crc = 0;
    bool done = false;
    bool failed = false;
    // Where the chunk went, set when it is written (or when the member ended
    // right before it).
    std::int64_t fileOffset = -1;
    unsigned long crcBefore = 0;
};

// Threads that deflate chunks in the order given; results are picked up by
// the writer in its own order.
class GzipVolumeWriter::Pool {
public:
    explicit Pool(unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this] { Work(); });
    }
    ~Pool() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            queue_.clear(); // nobody waits for these any more
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }
    void Add(std::shared_ptr<Chunk> chunk) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(chunk));
        }
        wake_.notify_one();
    }
    // Waits for `chunk` when asked; tells whether it is done.
    bool Done(const Chunk& chunk, bool wait) {
        std::unique_lock lock(mutex_);
        if (wait)
            done_.wait(lock, [&] { return chunk.done; });
        return chunk.done;
    }

private:
    void Work() {
        z_stream zs{};
        const bool ready =
            deflateInit2(&zs, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        for (;;) {
            std::shared_ptr<Chunk> chunk;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
                if (queue_.empty())
                    break;
                chunk = std::move(queue_.front());
                queue_.pop_front();
            }
            const bool ok = ready && Deflate(zs, *chunk);
            {
                std::lock_guard lock(mutex_);
                chunk->failed = !ok;
                chunk->done = true;
            }
            done_.notify_all();
        }
        if (ready)
            deflateEnd(&zs);
    }

    static bool Deflate(z_stream& zs, Chunk& chunk) {
        if (deflateReset(&zs) != Z_OK)
            return false;
        if (!chunk.dict.empty() &&
            deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(chunk.dict.data()),
                                 static_cast<uInt>(chunk.dict.size())) != Z_OK)
            return false;
        const auto n = static_cast<std::int64_t>(chunk.data.size());
        chunk.out.resize(static_cast<std::size_t>(DeflateBound(n)));
        zs.next_in = reinterpret_cast<Bytef*>(chunk.data.data());
        zs.avail_in = static_cast<uInt>(n);
        std::size_t made = 0;
        do {
            if (made == chunk.out.size())
                chunk.out.resize(chunk.out.size() * 2);
            zs.next_out = reinterpret_cast<Bytef*>(chunk.out.data() + made);
            zs.avail_out = static_cast<uInt>(chunk.out.size() - made);
            if (deflate(&zs, Z_SYNC_FLUSH) == Z_STREAM_ERROR)
                return false;
            made = chunk.out.size() - zs.avail_out;
        } while (zs.avail_out == 0);
        chunk.out.resize(made);
        chunk.crc =
            crc32(0, reinterpret_cast<const Bytef*>(chunk.data.data()), static_cast<uInt>(n));
        return true;
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<std::shared_ptr<Chunk>> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

GzipVolumeWriter::GzipVolumeWriter(unsigned workers)
    : workers_(workers != 0 ? workers : std::max(1u, std::thread::hardware_concurrency())) {}

GzipVolumeWriter::~GzipVolumeWriter() {
    Abandon();
}

bool GzipVolumeWriter::Open(const std::string& path) {
    Abandon();
    if (!pool_)
        pool_ = std::make_unique<Pool>(workers_);
    err_ = 0;
    ++member_;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        Fail(errno, 0);
    else if (!S_ISREG(st.st_mode))
        Fail(EINVAL, 0);
    if (err_ != 0) {
        Abandon();
        return false;
    }
    path_ = path;
    fileEnd_ = static_cast<std::int64_t>(st.st_size);
    written_ = underwayBytes_ = 0;
    crc_ = 0;
    open_ = std::make_shared<Chunk>();
    Put(std::string(kHeader, sizeof kHeader));
    return err_ == 0;
}

std::int64_t GzipVolumeWriter::Position() const {
    return open_ ? open_->start + static_cast<std::int64_t>(open_->data.size()) : 0;
}

bool GzipVolumeWriter::Write(std::string_view data) {
    while (!data.empty() && open_) {
        const std::size_t room = static_cast<std::size_t>(kChunk) - open_->data.size();
        const std::size_t n = std::min(room, data.size());
        open_->data.append(data.data(), n);
        data.remove_prefix(n);
        if (open_->data.size() == static_cast<std::size_t>(kChunk))
            Submit();
    }
    return open_ && err_ == 0;
}

// Hands the chunk being filled to the workers and starts the next one, primed
// with the stream's last 32 KiB.
void GzipVolumeWriter::Submit() {
    if (!open_ || open_->data.empty())
        return;
    auto next = std::make_shared<Chunk>();
    next->start = Position();
    const std::string& data = open_->data;
    if (data.size() >= kWindow) {
        next->dict.assign(data, data.size() - kWindow, kWindow);
    } else {
        const std::size_t keep = std::min(open_->dict.size(), kWindow - data.size());
        next->dict = open_->dict.substr(open_->dict.size() - keep) + data;
    }
    underwayBytes_ += static_cast<std::int64_t>(data.size());
    underway_.push_back(open_);
    pool_->Add(open_);
    open_ = std::move(next);
    Land(false);
    // A bounded number under way keeps memory small and the file close behind.
    while (underway_.size() > 2 * workers_)
        Land(true);
}

// Writes the chunks that are done, in order; with `wait`, at least the first.
void GzipVolumeWriter::Land(bool wait) {
    while (!underway_.empty() && pool_->Done(*underway_.front(), wait)) {
        wait = false;
        Chunk& chunk = *underway_.front();
        chunk.fileOffset = fileEnd_;
        chunk.crcBefore = crc_;
        if (chunk.failed)
            Fail(ENOMEM, fileEnd_);
        Put(chunk.out);
        const auto n = static_cast<std::int64_t>(chunk.data.size());
        crc_ = crc32_combine(crc_, chunk.crc, static_cast<z_off_t>(n));
        written_ += n;
        underwayBytes_ -= n;
        std::string().swap(chunk.out);
        underway_.pop_front();
    }
}

void GzipVolumeWriter::Drain() {
    while (!underway_.empty())
        Land(true);
}

// Appends compressed bytes; after a failure only the count goes on, so the
// offsets kept for rolling back stay true.
void GzipVolumeWriter::Put(const std::string& bytes) {
    if (err_ == 0 && !WriteAllAt(fd_, bytes.data(), bytes.size(), fileEnd_))
        Fail(errno, fileEnd_);
    fileEnd_ += static_cast<std::int64_t>(bytes.size());
}

// Keeps the first failure: what follows it is not in the file either.
void GzipVolumeWriter::Fail(int err, std::int64_t at) {
    if (err_ != 0)
        return;
    err_ = err != 0 ? err : EIO;
    errAt_ = at;
    errMember_ = member_;
}

GzipVolumeWriter::Mark GzipVolumeWriter::MarkHere() const {
    return Mark{path_, member_, open_, open_ ? static_cast<std::int64_t>(open_->data.size()) : 0};
}

bool GzipVolumeWriter::RollBack(const Mark& mark) {
    if (!mark.chunk)
        return false;
    if (IsOpen() && member_ == mark.member && open_ == mark.chunk) {
        // Nothing after the mark has left memory, so a failed write lost
        // bytes before it.
        open_->data.resize(static_cast<std::size_t>(mark.offset));
        return err_ == 0;
    }
    if (IsOpen() && member_ == mark.member)
        Drain();
    else
        Abandon();
    Chunk& at = *mark.chunk;
    if (!IsOpen()) {
        if (err_ != 0 && errMember_ != mark.member)
            err_ = 0; // that failure was in a volume the caller removes
        member_ = mark.member;
        fd_ = ::open(mark.path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) {
            Fail(errno, 0);
            return false;
        }
        path_ = mark.path;
    }
    if (at.fileOffset < 0 || (err_ != 0 && errAt_ < at.fileOffset))
        return false;
    if (::ftruncate(fd_, static_cast<off_t>(at.fileOffset)) != 0) {
        const int err = errno;
        err_ = 0;
        Fail(err, 0);
        return false;
    }
    err_ = 0;
    fileEnd_ = at.fileOffset;
    crc_ = at.crcBefore;
    written_ = at.start;
    underwayBytes_ = 0;
    open_ = std::make_shared<Chunk>();
    open_->start = at.start;
    open_->dict = at.dict;
    open_->data.assign(at.data, 0, static_cast<std::size_t>(mark.offset));
    return true;
}

std::int64_t GzipVolumeWriter::Estimate(std::int64_t more) const {
    const auto pending = underwayBytes_ + static_cast<std::int64_t>(open_->data.size()) + more;
    // Chunks under way, the one being filled and one the bytes may open.
    const auto chunks = static_cast<std::int64_t>(underway_.size()) + 2;
    return fileEnd_ + DeflateBound(pending) + 32 * chunks +
           static_cast<std::int64_t>(sizeof kLastBlock) + 8;
}

bool GzipVolumeWriter::Fits(std::int64_t limit, std::int64_t more) {
    if (!open_)
        return false;
    if (Estimate(more) <= limit)
        return true;
    Submit();
    Drain();
    return Estimate(more) <= limit;
}

bool GzipVolumeWriter::Finish() {
    if (!IsOpen())
        return false;
    Submit();
    Drain();
    // A mark at the very end comes back to here.
    open_->fileOffset = fileEnd_;
    open_->crcBefore = crc_;
    std::string tail(kLastBlock, sizeof kLastBlock);
    PutLittleEndian(tail, crc_);
    PutLittleEndian(tail, static_cast<unsigned long>(written_ & 0xffffffff));
    Put(tail);
    if (::close(fd_) != 0 && err_ == 0 && errno != EINTR)
        err_ = errno;
    fd_ = -1;
    open_.reset();
    return err_ == 0;
}

void GzipVolumeWriter::Abandon() {
    underway_.clear();
    underwayBytes_ = 0;
    open_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
