#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/RecordCheck.h"
#include "archive/clsFile.h"

// Reading stored files back out of their volumes.

// One volume's stream (plain or gzip) read through a window of a few hundred
// kilobytes. Files lie one after another, so one window serves many small
// files, and a gzip stream is only ever read forward.
class VolumeReader {
public:
    bool Open(const std::string& path, bool zipped);

    // Up to `length` bytes at `position`; fewer where the stream ends or a
    // read fails (LastErrno tells which). Valid until the next call.
    std::string_view Read(std::int64_t position, std::int64_t length);

    int LastErrno() const { return file_.LastErrno(); }

private:
    std::int64_t Size() const { return static_cast<std::int64_t>(window_.size()); }

    clsFile file_;
    std::string window_;
    std::int64_t windowPos_ = 0;
    std::string chunk_;
};

// What the entry reader needs from its caller: the volumes, a place for the
// file's bytes, and a word between runs of blocks.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    // The reader for volume `number` of the run; nullptr when it cannot be
    // had, which the sink has then reported.
    virtual VolumeReader* OpenVolume(const VolumeRun& run, std::int64_t number) = 0;
    // The file's bytes at `position`; false when they could not be written,
    // which the sink has then reported.
    virtual bool Write(std::string_view data, std::int64_t position) = 0;
    // Before each run of blocks; false stops the entry (cancel).
    virtual bool KeepGoing() = 0;
    // After each run of blocks: `written` bytes of the file are out.
    virtual void Progress(const VolumeRun& run, std::int64_t volume, std::int64_t written) = 0;
};

enum class EntryRead {
    Ok,       // every byte written, and the entry checked out
    Failed,   // `why` tells what is wrong with the entry or its volumes
    Reported, // the sink could not open a volume or write; it has said so
    Stopped,  // KeepGoing said no
};

// Cuts a record's entry out of its volumes, following it into the next
// volume where one ends, and checks that it ends where the index says, under
// the trailer of this very file, with the recorded checksum. A damaged record
// is refused before anything is read. What was written before a failure is
// the sink's to throw away.
EntryRead ReadEntry(const clsRestoreFileData& rec, EntrySink& sink, std::string& why);
