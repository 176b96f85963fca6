#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Getting what a run wrote onto the disk while the run goes on.

// Asks the kernel to start writing a file's dirty pages to disk, on a thread
// of its own: the page walk and block allocation then run on another core
// while the caller goes on, and a closing flush has less left to do. Only a
// hint; whoever needs the data on disk still syncs.
void StartWritebackSoon(int fd);

// Puts a folder's file system on the disk: while a run stores files there it
// flushes every 50 ms on a thread of its own (or after as long as the last
// flush took, if that was longer), so the disk writes while the run copies,
// and the flush that ends the run has only the rest to do.
class DiskFlusher {
public:
    DiskFlusher() = default;
    ~DiskFlusher();
    DiskFlusher(const DiskFlusher&) = delete;
    DiskFlusher& operator=(const DiskFlusher&) = delete;

    // Starts flushing the file system of `folder` in the background, once.
    void Start(const std::string& folder);
    // Stops the background flushes and flushes a last time, waiting for it;
    // 0, or the errno of a write error the file system reported meanwhile.
    int Finish();

private:
    void Work();

    int fd_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_;
};
