#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

// Writes a compressed volume as one gzip member whose deflate data is made on
// every core. The uncompressed stream is cut into chunks; a worker deflates
// each chunk on its own, primed with the 32 KiB before it, and ends it on a
// byte boundary, so the chunks written one after the other behind a single
// header are one ordinary deflate stream. The caller's thread only copies
// bytes in and writes finished chunks out, in order.
//
// The caller can return to any earlier point of the member (the start of an
// entry that failed), also after the member was finished, and the file is
// then exactly what it would be had the bytes after that point never come.
class GzipVolumeWriter {
public:
    // Uncompressed bytes per chunk.
    static constexpr std::int64_t kChunk = 128 * 1024;

    struct Chunk;
    class Pool;

    // A point of the stream to come back to.
    struct Mark {
        std::string path;
        int member = 0;
        std::shared_ptr<Chunk> chunk; // the chunk the point lies in
        std::int64_t offset = 0;      // within that chunk
    };

    // `workers` deflate threads; 0 means one per core.
    explicit GzipVolumeWriter(unsigned workers = 0);
    ~GzipVolumeWriter();
    GzipVolumeWriter(const GzipVolumeWriter&) = delete;
    GzipVolumeWriter& operator=(const GzipVolumeWriter&) = delete;

    // Starts a member at the end of the file (created when missing).
    bool Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Adds uncompressed bytes. False once a write to the file has failed.
    bool Write(std::string_view data);

    Mark MarkHere() const;
    // Back to `mark`: the member it lies in is reopened when it was finished
    // (a later member's file is the caller's to remove). False when the file
    // could not be cut back or lost bytes before the mark.
    bool RollBack(const Mark& mark);

    // Whether `more` bytes can be added while the finished member surely stays
    // within `limit` bytes on disk. Near the limit it waits for the chunks
    // under way, so the answer is exact up to one chunk.
    bool Fits(std::int64_t limit, std::int64_t more);

    // Ends the member (last block, checksum, length) and closes the file.
    bool Finish();
    // Closes without ending the member; the file is left to the caller.
    void Abandon();

    // Uncompressed bytes of the member added so far / already in the file.
    std::int64_t Position() const;
    std::int64_t Written() const { return err_ == 0 ? written_ : 0; }
    int LastErrno() const { return err_; }

private:
    void Submit();
    void Land(bool wait);
    void Drain();
    void Put(const std::string& bytes);
    void Fail(int err, std::int64_t at);
    std::int64_t Estimate(std::int64_t more) const;

    unsigned workers_;
    std::unique_ptr<Pool> pool_;
    std::deque<std::shared_ptr<Chunk>> underway_; // submitted, not yet in the file
    std::shared_ptr<Chunk> open_;                 // being filled
    int fd_ = -1;
    std::string path_;
    int member_ = 0;
    std::int64_t fileEnd_ = 0; // where the next compressed byte goes
    std::int64_t written_ = 0; // uncompressed bytes in the file
    std::int64_t underwayBytes_ = 0;
    unsigned long crc_ = 0; // of the uncompressed bytes in the file
    int err_ = 0;
    std::int64_t errAt_ = 0; // file offset of the first failed write
    int errMember_ = 0;      // and the member it was in
};
