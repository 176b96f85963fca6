#include "platform/Writeback.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

class WritebackThread {
public:
    ~WritebackThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable())
            thread_.join();
        for (int fd : queue_)
            ::close(fd);
    }

    void Post(int fd) {
        // A descriptor of its own, so the caller may close its file at once.
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!thread_.joinable())
                thread_ = std::thread([this] { Work(); });
            queue_.push_back(copy);
        }
        wake_.notify_one();
    }

private:
    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            const int fd = queue_.front();
            queue_.pop_front();
            lock.unlock();
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

WritebackThread& Writeback() {
    static WritebackThread writeback;
    return writeback;
}

} // namespace

void StartWritebackSoon(int fd) {
    Writeback().Post(fd);
}

DiskFlusher::~DiskFlusher() {
    Finish();
}

void DiskFlusher::Start(const std::string& folder) {
    if (fd_ >= 0)
        return;
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    stopping_ = false;
    error_ = 0;
    thread_ = std::thread([this] { Work(); });
}

void DiskFlusher::Work() {
    using Clock = std::chrono::steady_clock;
    // A disk that takes long to flush is left alone for longer: a USB stick
    // then spends most of the run writing data, not its allocation table.
    Clock::duration pause = std::chrono::milliseconds(50);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, pause, [this] { return stopping_; })) {
        lock.unlock();
        const Clock::time_point started = Clock::now();
        // A write error is told once per descriptor: kept for Finish.
        const int failure = ::syncfs(fd_) == 0 ? 0 : errno;
        pause = std::max<Clock::duration>(std::chrono::milliseconds(50),
                                          Clock::now() - started);
        lock.lock();
        if (error_ == 0)
            error_ = failure;
    }
}

int DiskFlusher::Finish() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    if (fd_ < 0)
        return 0;
    const int failure = ::syncfs(fd_) == 0 ? 0 : errno;
    ::close(fd_);
    fd_ = -1;
    const int first = error_ != 0 ? error_ : failure;
    error_ = 0;
    return first;
}
