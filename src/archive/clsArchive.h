#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/ArchiveFormat.h"
#include "archive/GzipVolume.h"
#include "archive/clsArchiveFileData.h"
#include "archive/clsDskFile.h"
#include "archive/clsFile.h"
#include "platform/DateTime.h"

// Packs the files of one backup run into ".darc" volumes in the staging
// folder (laid out as ArchiveFormat.h says) and appends one index line per
// stored file to the job's ".fs".
class clsArchive {
public:
    // Results of AddFileToArchive.
    enum AddResult : int {
        kAddStored = 1,
        kAddFailed = 2,
        kAddStopped = 10, // gAbort or gSkipRequest
        kAddDuplicate = 12,
        kAddDuplicateFlagged = 13,
        kAddCannotOpen = 14,
    };

    std::int64_t RecSize = 0;    // block size of the file being added
    std::string sTempPath;       // staging folder, ends in "/"
    double FilePercent = 0;      // percent of the current file written
    std::int64_t currOffset = 0; // where the next entry's first block goes
    std::int64_t totalSize = 0;  // bytes of the whole run, for the overall percent
    std::int64_t splitSize = 0;  // volume size limit in bytes (0 = none)
    bool bSplit = false;         // splitting enabled at all
    FileList Volumes;            // every volume written, in order of creation
    DateTime dSessionDate;       // written into every index line
    std::string sArcfName;       // current volume without ".darc"; set before the first add
    bool IsOpened = false;       // between a successful NewArchive and CloseArchive

    // Prepares a run: staging folder, the old files of this job removed when
    // bDeleteTemp. Leaves IsOpened false when the user gives up.
    void NewArchive(const std::string& sName, bool bDeleteTemp, bool zipped = false,
                    std::int64_t totalSize = 0);
    // Stores one file; one of the AddResult codes.
    int AddFileToArchive(const clsDskFile& file, bool flag);
    // Ends the last volume and the index. False when they could not be
    // written out (LastErrno tells why).
    bool CloseArchive();

    const std::string& sName() const { return sName_; }
    const std::vector<clsArchiveFileData>& Files() const { return files_; }
    bool zipped() const { return zipped_; }
    // 0 for the first volume, 1 for "-001", ...
    int Index() const { return index_; }
    // Bytes of the files stored so far.
    std::int64_t currSize() const { return currSize_; }

    // errno of the last failed add (ENOSPC: the disk is full), 0 otherwise.
    int LastErrno() const { return lastErrno_; }
    // The last add failed on the staging folder (a volume or the index could
    // not be written), not on the file being stored.
    bool StagingFailed() const { return stagingFailed_; }

    static constexpr std::int64_t kIoRun = kArchiveIoRun;

private:
    struct Entry;

    bool CheckVolumeSplit(clsFile& volume);
    void RegisterVolume(const std::string& name, const std::string& path);
    bool IsRegistered(const std::string& name) const;
    std::string GetStagingFolder();
    std::string VolumePath() const;
    std::string IndexPath() const;

    int OpenEntry(const clsDskFile& file, Entry& entry);
    int OpenVolume(Entry& entry);
    int WriteBlocks(Entry& entry);
    int WriteTrailer(Entry& entry);
    int AppendIndexLine(Entry& entry);
    void ReportProgress(const Entry& entry);
    int Fail(Entry& entry, int code, int err, const std::string& what);
    bool RollBack(Entry& entry);
    void Commit(Entry& entry);
    int VolumeErrno() const;
    bool ReleaseIndexLines(bool all);

    std::string sName_;
    std::vector<clsArchiveFileData> files_;
    std::unordered_set<std::string> storedNames_;
    bool zipped_ = false;
    int index_ = 0;
    std::int64_t currSize_ = 0;
    std::string baseArcfName_; // sArcfName of volume 0; later volumes add "-001" ...
    clsFile indexFile_;
    clsFile volume_;
    GzipVolumeWriter gz_;
    // Index lines wait until their entry's last byte is in the volume (the
    // uncompressed end position in the current volume, the line), and are
    // written out in batches: one write per file would cost more than the
    // file's own bytes.
    std::deque<std::pair<std::int64_t, std::string>> heldLines_;
    std::size_t heldBytes_ = 0;
    static constexpr std::size_t kIndexBatch = 64 * 1024;
    std::string volumePath_;
    bool KeepVolumeOpen() const;
    std::int64_t indexSize_ = 0;
    int lastErrno_ = 0;
    bool stagingFailed_ = false;
};
