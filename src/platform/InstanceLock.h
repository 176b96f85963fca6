#pragma once
#include <string>

// "Another instance is running": an exclusive lock on tidevault.lock in the
// program folder, held for as long as this object lives. The kernel drops it
// when the process ends, even after a crash.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False when another process holds the lock (Error() is EWOULDBLOCK) or
    // the lock file cannot be created (Error() says why: ENOENT when the
    // folder does not exist).
    bool Acquire(const std::string& programFolder);
    int Error() const { return error_; }
    bool Held() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
    int error_ = 0;
};
