#pragma once
#include <cstdint>
#include <string>

// One open file for the archive code: positioned block reads and writes,
// either on the plain file or through a gzip stream, with the same calls.
//
// In gzip mode every write-mode open appends a new gzip member; a reader
// sees all members of a file as one continuous uncompressed stream.
class clsFile {
public:
    enum Mode : int { kRead = 1, kWrite = 2, kReadWrite = 3 };

    clsFile() = default;
    ~clsFile();
    clsFile(const clsFile&) = delete;
    clsFile& operator=(const clsFile&) = delete;

    // Set before fOpen: false = plain file, true = gzip stream.
    bool gzipMode = false;

    // 1 = opened, 2 = failed. A missing file is created in modes 2 and 3.
    int fOpen(const std::string& path, int mode);

    // Reads up to `length` bytes at `position` (in gzip mode: of the
    // uncompressed stream). `buffer` receives exactly the bytes read. Fewer
    // than asked means the end was reached or LastErrno() tells the error.
    std::int64_t fRead(std::string& buffer, std::int64_t length, std::int64_t position);

    // Writes `length` bytes: `buffer`, filled up with 0x00 bytes when it is
    // shorter. Plain mode writes at `position`; gzip mode at the end of the
    // stream. Returns the number of bytes written.
    std::int64_t fWrite(const std::string& buffer, std::int64_t length, std::int64_t position);

    // Plain mode only: cuts the file at `position`. False when it could not.
    bool TruncateFile(std::int64_t position);

    // Closes whatever is open. False when buffered gzip data could not be
    // written out (a full disk shows up here in gzip mode).
    bool fClose();

    // Size on disk when the file was opened.
    std::int64_t filesize() const { return filesize_; }
    void filesize(std::int64_t size) { filesize_ = size; }

    // Size on disk now. In gzip write mode the pending compressed data is
    // flushed first (without ending the member), so the number is exact.
    std::int64_t DiskSize();

    bool IsOpen() const { return fd_ >= 0; }
    // errno of the last failed operation, 0 when the last one succeeded.
    int LastErrno() const { return lastErrno_; }
    // zlib's text for the last gzip failure.
    const std::string& LastGzError() const { return gzError_; }

private:
    void RecordGzError();

    int fd_ = -1;
    void* gz_ = nullptr; // gzFile, kept opaque so callers need not see zlib
    bool gzWriting_ = false;
    std::int64_t filesize_ = 0;
    int lastErrno_ = 0;
    std::string gzError_;
};
