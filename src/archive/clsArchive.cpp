#include "archive/clsArchive.h"

#include "archive/ArchiveFormat.h"
#include "archive/ArchiveIndex.h"
#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "core/Progress.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// A failed read or write names the file and the system's reason.
void LogArchiveError(int err, const std::string& key, const std::string& what) {
    WriteLog(GetMsg(key, {{"%d", what}, {"%e", std::strerror(err != 0 ? err : EIO)}}));
}

} // namespace

// Everything one AddFileToArchive call works with, including what the
// archive looked like before it began, so a failed entry can be undone.
struct clsArchive::Entry {
    Entry(clsFile& currentVolume, GzipVolumeWriter* zipped) : volume(currentVolume), gz(zipped) {}

    std::string fullPath;
    clsArchiveFileData rec;
    clsFile source;
    clsFile& volume;             // the archive's: a plain volume stays open between files
    GzipVolumeWriter* gz;        // the archive's compressed volume, null for plain ones
    GzipVolumeWriter::Mark mark; // where the entry began in it

    int startIndex = 0;
    std::string startArcfName;
    std::int64_t startOffset = 0;
    std::size_t startVolumeCount = 0;
    bool startWasRegistered = false;

    std::int64_t localPos = 0;  // where the next block goes in the current volume
    std::int64_t volumeEnd = 0; // bytes of the current volume, holes included
    std::int64_t readPos = 0;   // next byte of the source
    std::int64_t blocksWritten = 0;
    BlockChecksum checksum;
    std::string_view block; // the block just read: in readAhead, or in `padded`
    std::string padded;     // a last block shorter than RecSize, filled up
    std::string progressCaption;

    // Blocks are read ahead and written behind in larger runs, so a small
    // block size does not cost two system calls per 512 bytes.
    std::string readAhead;
    std::int64_t readAheadPos = 0;
    std::string pending;
    std::int64_t pendingPos = 0;

    // Up to `want` bytes at readPos as `block`, filled up to `recSize`;
    // never reads past `limit` bytes of the source. -1 on a read error.
    std::int64_t ReadBlock(std::int64_t want, std::int64_t limit, std::int64_t recSize) {
        std::int64_t at = readPos - readAheadPos;
        if (at < 0 || at + want > static_cast<std::int64_t>(readAhead.size())) {
            const std::int64_t chunk = std::max(want, std::min(kIoRun, limit - readPos));
            source.fRead(readAhead, chunk, readPos);
            if (source.LastErrno() != 0)
                return -1;
            readAheadPos = readPos;
            at = 0;
        }
        const std::int64_t n = std::min(want, static_cast<std::int64_t>(readAhead.size()) - at);
        block = std::string_view(readAhead).substr(static_cast<std::size_t>(at),
                                                   static_cast<std::size_t>(n));
        if (n < recSize) {
            padded.assign(block);
            PadBlock(padded, recSize);
            block = padded;
        }
        return n;
    }

    // Queues a block for localPos; false when a write failed.
    bool Stage(std::string_view data) {
        if (pending.empty())
            pendingPos = localPos;
        pending += data;
        return static_cast<std::int64_t>(pending.size()) < kIoRun || Flush();
    }

    bool Flush() {
        if (pending.empty())
            return true;
        const auto size = static_cast<std::int64_t>(pending.size());
        const bool ok =
            gz != nullptr ? gz->Write(pending) : volume.fWrite(pending, size, pendingPos) == size;
        pending.clear();
        return ok;
    }
};

std::string clsArchive::GetStagingFolder() {
    const std::string folder = TempFolder();
    if (!FolderExists(folder) && !CreateFolderPath(folder))
        return std::string();
    return folder + "/";
}

std::string clsArchive::VolumePath() const {
    return sTempPath + VolumeFileName(sArcfName);
}

std::string clsArchive::IndexPath() const {
    return sTempPath + IndexFileName(sName_);
}

void clsArchive::NewArchive(const std::string& name, bool bDeleteTemp, bool zipped,
                            std::int64_t total) {
    // A new run may delete the index this object still has open.
    indexFile_.fClose();
    heldLines_.clear();
    heldBytes_ = 0;
    auto prepare = [&]() {
        sName_ = name;
        files_.clear();
        storedNames_.clear();
        sTempPath = GetStagingFolder();
        if (sTempPath.empty())
            return false;
        if (bDeleteTemp) {
            // Old volumes and the old index of this job.
            bool removed = true;
            for (const std::string& file : ListFileNames(sTempPath)) {
                if (file.compare(0, sName_.size(), sName_) == 0 && !RemoveFile(sTempPath + file))
                    removed = false;
            }
            if (!removed)
                return false;
        }
        IsOpened = true;
        zipped_ = zipped;
        totalSize = total;
        if (sArcfName.empty())
            sArcfName = sName_;
        return true;
    };

    int attempts = 0;
    for (;;) {
        ++attempts;
        if (prepare())
            return;
        if (attempts <= 5)
            continue;
        const MsgAnswer answer =
            CurrentHost().MessageBox(GetMsg("strMsgCantDeleteFilesFromTemp1") + "\n" +
                                         GetMsg("strMsgCantDeleteFilesFromTemp2"),
                                     MsgButtons::AbortRetryIgnore, MsgIcon::Critical);
        if (answer == MsgAnswer::Abort) {
            gAbort = true;
            return;
        }
        if (answer != MsgAnswer::Retry)
            return;
        attempts = 0;
    }
}

// A plain volume that is not split stays open from file to file: nothing
// needs its size on disk, and reopening it for each of thousands of small
// files costs more than writing them.
bool clsArchive::KeepVolumeOpen() const {
    return !zipped_ && !(bSplit && splitSize > 0);
}

bool clsArchive::CloseArchive() {
    bool ok = true;
    if (IsOpened) {
        // The last volume's end, then the lines that waited for it.
        if (gz_.IsOpen() && !gz_.Finish()) {
            ok = false;
            lastErrno_ = gz_.LastErrno();
        } else if (!ReleaseIndexLines(true)) {
            ok = false;
            lastErrno_ = indexFile_.LastErrno();
        }
        stagingFailed_ = !ok;
    }
    gz_.Abandon();
    heldLines_.clear();
    heldBytes_ = 0;
    volume_.fClose();
    indexFile_.fClose();
    files_.clear();
    storedNames_.clear();
    sTempPath.clear();
    IsOpened = false;
    return ok;
}

bool clsArchive::IsRegistered(const std::string& name) const {
    const std::string file = VolumeFileName(name);
    return std::any_of(Volumes.begin(), Volumes.end(),
                       [&](const clsDskFile& v) { return v.filename == file; });
}

void clsArchive::RegisterVolume(const std::string& name, const std::string& path) {
    if (IsRegistered(name))
        return;
    clsDskFile volume;
    volume.filename = VolumeFileName(name);
    volume.path = path;
    Volumes.push_back(volume);
}

bool clsArchive::CheckVolumeSplit(clsFile& volume) {
    if (!bSplit || splitSize <= 0)
        return false;
    if (zipped_) {
        // Whether the next block could take the finished volume past the
        // limit. One never split while empty: a limit below a block cannot loop.
        if (gz_.Position() == 0 || gz_.Fits(splitSize, RecSize))
            return false;
    } else if (volume.DiskSize() < splitSize) {
        return false;
    }
    if (index_ == 0)
        baseArcfName_ = sArcfName;
    ++index_;
    sArcfName = VolumeName(baseArcfName_, index_);
    WriteLog(GetMsg("strMsgSplittingFile") + sArcfName);
    return true;
}

int clsArchive::AddFileToArchive(const clsDskFile& file, bool flag) {
    lastErrno_ = 0;
    stagingFailed_ = false;
    const std::string fullPath = file.path + file.filename;
    if (!IsOpened) {
        WriteLog(GetMsg("strMsgArchiveClosed", "%d", fullPath));
        return kAddFailed;
    }
    if (storedNames_.count(fullPath) != 0)
        return flag ? kAddDuplicateFlagged : kAddDuplicate;
    if (!FitsInIndexLine(fullPath)) {
        // Stored under such a name it would come back as another file.
        WriteLog(GetMsg("strMsgNameNotStorable", "%d", fullPath));
        return kAddCannotOpen;
    }
    if (!FitsInIndexLine(sArcfName)) {
        WriteLog(GetMsg("strMsgVolumeNameNotStorable", "%d", sArcfName));
        return kAddFailed;
    }

    Entry entry(volume_, zipped_ ? &gz_ : nullptr);
    entry.fullPath = fullPath;
    if (const int rc = OpenEntry(file, entry); rc != kAddStored)
        return rc;
    if (const int rc = WriteBlocks(entry); rc != kAddStored)
        return rc;
    if (const int rc = WriteTrailer(entry); rc != kAddStored)
        return rc;
    if (const int rc = AppendIndexLine(entry); rc != kAddStored)
        return rc;
    Commit(entry);
    return kAddStored;
}

int clsArchive::OpenEntry(const clsDskFile& file, Entry& entry) {
    // A link's content is its target text as listed; nothing is opened.
    const bool link = IsLinkAttribute(file.dAttrib);
    entry.source.gzipMode = false;
    if (link) {
        entry.readAhead = file.linkTarget;
    } else if (entry.source.fOpen(entry.fullPath, clsFile::kRead) != 1) {
        lastErrno_ = entry.source.LastErrno();
        return kAddCannotOpen;
    }

    entry.startIndex = index_;
    entry.startArcfName = sArcfName;
    entry.startOffset = currOffset;
    entry.startVolumeCount = Volumes.size();
    entry.startWasRegistered = IsRegistered(sArcfName);
    if (OpenVolume(entry) != kAddStored) {
        entry.source.fClose();
        stagingFailed_ = true;
        return kAddCannotOpen;
    }

    clsArchiveFileData& rec = entry.rec;
    rec.sFileName = entry.fullPath;
    rec.dAttributes = file.dAttrib;
    const FileTimeHalves& ct = file.tCreationTimeGet();
    const FileTimeHalves& at = file.tLastAccessTimeGet();
    const FileTimeHalves& wt = file.tLastWriteTimeGet();
    rec.tCreationTimeSet(ct.high, ct.low);
    rec.tLastAccessTimeSet(at.high, at.low);
    rec.tLastWriteTimeSet(wt.high, wt.low);
    rec.dStartOffset = currOffset;
    rec.AddDate = ClockNow();
    rec.sArchiveStart = sArcfName;
    rec.dSize = link ? static_cast<std::int64_t>(file.linkTarget.size()) : entry.source.filesize();
    RecSize = BlockSizeFor(rec.dSize);
    FilePercent = 0;
    entry.localPos = currOffset;
    entry.progressCaption = GetMsg("strMsgArchiving") + (zipped_ ? GetMsg("strMsgZipping") : "");
    return kAddStored;
}

// Opens the current volume for writing. A volume this archive has not
// written yet is started from nothing: a leftover of an earlier run under the
// same name would otherwise sit before (gzip) or under (plain) our blocks.
int clsArchive::OpenVolume(Entry& entry) {
    const std::string path = VolumePath();
    if (zipped_) {
        // A compressed volume stays open from file to file as one gzip member.
        if (!gz_.IsOpen() || gz_.Path() != path) {
            if (!IsRegistered(sArcfName))
                RemoveFile(path);
            if (!gz_.Open(path)) {
                lastErrno_ = gz_.LastErrno();
                return kAddCannotOpen;
            }
        }
        if (sArcfName == entry.startArcfName)
            entry.mark = gz_.MarkHere();
        return kAddStored;
    }
    if (entry.volume.IsOpen() && !(KeepVolumeOpen() && volumePath_ == path))
        entry.volume.fClose();
    if (!entry.volume.IsOpen()) {
        if (!IsRegistered(sArcfName))
            RemoveFile(path);
        entry.volume.gzipMode = zipped_;
        if (entry.volume.fOpen(path, clsFile::kWrite) != 1) {
            lastErrno_ = entry.volume.LastErrno();
            return kAddCannotOpen;
        }
        volumePath_ = path;
    }
    entry.volumeEnd = entry.volume.filesize();
    return kAddStored;
}

int clsArchive::WriteBlocks(Entry& entry) {
    clsArchiveFileData& rec = entry.rec;
    std::int64_t bytesRead = 0;
    bool sourceEnded = false;
    bool registered = false;
    const bool split = bSplit && splitSize > 0;
    for (;;) {
        if (gPaused)
            PauseRun();

        // The size on disk decides, so nothing may wait in memory.
        const std::string fullVolume = split ? VolumePath() : std::string();
        if (split && !entry.Flush())
            return Fail(entry, kAddFailed, VolumeErrno(), fullVolume);
        if (split && CheckVolumeSplit(entry.volume)) {
            registered = false;
            if (zipped_ ? !gz_.Finish() : !entry.volume.fClose())
                return Fail(entry, kAddFailed, VolumeErrno(), fullVolume);
            if (zipped_ && !ReleaseIndexLines(true))
                return Fail(entry, kAddFailed, indexFile_.LastErrno(), IndexPath());
            entry.localPos = 0;
            if (entry.blocksWritten == 0) {
                // Nothing of this file went to the full volume: it starts here.
                rec.dStartOffset = 0;
                rec.sArchiveStart = sArcfName;
            }
            if (OpenVolume(entry) != kAddStored) {
                WriteLog(GetMsg("strMsgSplitFailed"));
                return Fail(entry, kAddFailed, lastErrno_, VolumePath());
            }
        }
        if (!registered) {
            RegisterVolume(sArcfName, sTempPath);
            registered = true;
        }

        // Never more than the size seen at open: a file that grows meanwhile
        // is stored as it was, and a shorter read means it shrank.
        const std::int64_t want = sourceEnded ? 0 : std::min(RecSize, rec.dSize - bytesRead);
        std::int64_t n = 0;
        if (want > 0) {
            n = entry.ReadBlock(want, rec.dSize, RecSize);
            if (n < 0)
                return Fail(entry, kAddFailed, entry.source.LastErrno(), entry.fullPath);
            // Whatever the file does later, nothing may follow the filling.
            sourceEnded = n < want;
        }
        if (n == 0)
            break;
        entry.readPos += n;
        bytesRead += n;

        const bool allZero = entry.checksum.Add(entry.block);
        if (!zipped_ && entry.localPos >= entry.volumeEnd && allZero) {
            // Zeros past the end are left as a hole: the volume reads the same
            // and a sparse source costs no disk. The next write (the trailer
            // at the latest) extends the file; a split check needs it now.
            if (!entry.Flush() ||
                (split && !entry.volume.TruncateFile(entry.localPos + RecSize)))
                return Fail(entry, kAddFailed, VolumeErrno(), VolumePath());
        } else if (!entry.Stage(entry.block)) {
            return Fail(entry, kAddFailed, VolumeErrno(), VolumePath());
        }
        entry.volumeEnd = std::max(entry.volumeEnd, entry.localPos + RecSize);
        entry.localPos += RecSize;
        ++entry.blocksWritten;
        ReportProgress(entry);

        CurrentHost().Yield();
        if (gSkipRequest || gAbort) {
            gSkipRequest = false;
            RollBack(entry);
            return kAddStopped;
        }
    }
    // The index must tell the bytes really stored.
    rec.dSize = bytesRead;
    return kAddStored;
}

void clsArchive::ReportProgress(const Entry& entry) {
    const std::int64_t size = entry.rec.dSize;
    const std::int64_t done = std::min(entry.blocksWritten * RecSize, size);
    FilePercent = size > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(size) : 100.0;
    const double overall = std::min(100.0, 100.0 * static_cast<double>(currSize_ + done) /
                                               static_cast<double>(totalSize + 1));
    UpdateProgress(entry.progressCaption, entry.fullPath, FilePercent, overall);
}

int clsArchive::WriteTrailer(Entry& entry) {
    clsArchiveFileData& rec = entry.rec;
    rec.dEndOffset = entry.localPos + RecSize;
    rec.sArchiveEnd = sArcfName;
    rec.crc32 = entry.checksum.Bytes();
    std::string trailer = TrailerRecord(rec);
    PadBlock(trailer, RecSize);
    if (!entry.Stage(trailer) || !entry.Flush())
        return Fail(entry, kAddFailed, VolumeErrno(), VolumePath());
    if (zipped_)
        return kAddStored; // the volume goes on; its index line waits for the bytes
    if (KeepVolumeOpen()) {
        // The next file continues right here; its opening size is our end.
        entry.volume.filesize(std::max(entry.volumeEnd, rec.dEndOffset));
        return kAddStored;
    }
    // Closing tells whether the last bytes reached the file.
    if (!entry.volume.fClose())
        return Fail(entry, kAddFailed, VolumeErrno(), VolumePath());
    return kAddStored;
}

// The index stays open from the first line to CloseArchive: a run of many
// small files would otherwise spend more time opening it than writing.
int clsArchive::AppendIndexLine(Entry& entry) {
    if (!indexFile_.IsOpen()) {
        if (indexFile_.fOpen(IndexPath(), clsFile::kWrite) != 1)
            return Fail(entry, kAddFailed, indexFile_.LastErrno(), IndexPath());
        indexSize_ = indexFile_.filesize();
    }
    std::string line = FormatIndexLine(entry.rec, dSessionDate, RecSize);
    heldBytes_ += line.size();
    heldLines_.emplace_back(entry.rec.dEndOffset, std::move(line));
    if (!ReleaseIndexLines(false))
        return Fail(entry, kAddFailed, indexFile_.LastErrno(), IndexPath());
    return kAddStored;
}

// Writes the held index lines whose entries are wholly in the volume (all of
// them once it is finished). A plain volume's entries are written when they
// are added, so its lines only wait to go out many at a time. A line that
// cannot be written drops them all: the run fails on the staging folder, and
// no line points at missing bytes; a torn line is cut off again.
bool clsArchive::ReleaseIndexLines(bool all) {
    if (!all && !zipped_ && heldBytes_ < kIndexBatch)
        return true;
    std::string lines;
    while (!heldLines_.empty() &&
           (all || !zipped_ || heldLines_.front().first <= gz_.Written())) {
        lines += heldLines_.front().second;
        heldLines_.pop_front();
    }
    heldBytes_ -= lines.size();
    const auto length = static_cast<std::int64_t>(lines.size());
    if (length == 0 || indexFile_.fWrite(lines, length, indexSize_) == length) {
        indexSize_ += length;
        return true;
    }
    indexFile_.TruncateFile(indexSize_);
    heldLines_.clear();
    heldBytes_ = 0;
    return false;
}

int clsArchive::VolumeErrno() const {
    return zipped_ ? gz_.LastErrno() : volume_.LastErrno();
}

void clsArchive::Commit(Entry& entry) {
    currOffset = entry.rec.dEndOffset;
    currSize_ += entry.rec.dSize;
    storedNames_.insert(entry.fullPath);
    files_.push_back(std::move(entry.rec));
}

int clsArchive::Fail(Entry& entry, int code, int err, const std::string& what) {
    lastErrno_ = err;
    // Everything but the source being read lives in the staging folder.
    stagingFailed_ = what != entry.fullPath;
    LogArchiveError(err, "strMsgArchiveIoError", what);
    RollBack(entry);
    return code;
}

// Puts the volumes back as they were before the entry: the volume it began
// in is cut to its old size (a compressed one goes back to the entry's start
// in its stream, reopened if it was finished), volumes begun for it are
// removed. If that cannot be done the archive is closed, so no later index
// line can point at wrong bytes.
bool clsArchive::RollBack(Entry& entry) {
    entry.pending.clear();
    if (!zipped_)
        entry.volume.fClose();
    bool ok = true;
    const std::string startFile = VolumeFileName(entry.startArcfName);
    for (std::size_t i = Volumes.size(); i-- > entry.startVolumeCount;) {
        const std::string path = Volumes[i].FullName();
        if (Volumes[i].filename != startFile && !RemoveFile(path) && FileExists(path))
            ok = false;
    }
    Volumes.resize(entry.startVolumeCount);

    const std::string startPath = sTempPath + startFile;
    if (!entry.startWasRegistered) {
        gz_.Abandon();
        RemoveFile(startPath); // held nothing of this run
    } else if (zipped_) {
        ok = gz_.RollBack(entry.mark) && ok;
    } else {
        clsFile cut;
        ok = cut.fOpen(startPath, clsFile::kWrite) == 1 && cut.TruncateFile(entry.startOffset) &&
             cut.fClose() && ok;
    }
    index_ = entry.startIndex;
    sArcfName = entry.startArcfName;
    currOffset = entry.startOffset;
    if (!ok) {
        IsOpened = false;
        LogArchiveError(lastErrno_, "strMsgVolumeNotCutBack", startPath);
    }
    return ok;
}
