#include "archive/RecordCheck.h"

#include "i18n/Catalogue.h"

#include <string_view>

namespace {

// The writer's largest block is 28672 bytes; anything far beyond that is a
// damaged number, and a reader's memory must stay bounded by the block size.
constexpr std::int64_t kMaxRecSize = 1 << 20;
// Sizes and positions beyond this are damage, and arithmetic on them cannot
// overflow.
constexpr std::int64_t kMaxPosition = std::int64_t{1} << 60;

enum class Damage {
    None,
    NoName,
    BlockSize,
    Size,
    Positions,
    Checksum,
    Volumes,
    Fit,
    NoTime,
    NoSession
};

bool IsVolumeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

std::optional<VolumeRun> NamedRun(const clsRestoreFileData& rec) {
    if (!IsVolumeName(rec.arcStart) || !IsVolumeName(rec.arcEnd))
        return std::nullopt;
    VolumeRun run;
    if (rec.arcStart == rec.arcEnd) {
        // Numbered only for the progress caption; the name stays exact.
        if (!SplitVolumeNumber(rec.arcStart, run.base, run.first)) {
            run.base = rec.arcStart;
            run.first = 0;
        }
        run.last = run.first;
        return run;
    }
    std::string endBase;
    if (!SplitVolumeNumber(rec.arcEnd, endBase, run.last))
        return std::nullopt;
    if (endBase == rec.arcStart) {
        run.base = endBase; // "Daily" on to "Daily-002"
        run.first = 0;
    } else if (!SplitVolumeNumber(rec.arcStart, run.base, run.first) || run.base != endBase) {
        return std::nullopt;
    }
    if (run.last <= run.first)
        return std::nullopt;
    return run;
}

// Every volume of an entry holds at least one of its blocks, and the entry
// ends with its trailer where the index says.
bool PositionsFit(const clsRestoreFileData& rec, const VolumeRun& run) {
    const std::int64_t blocks = DataBlockCount(rec.size, rec.recsize);
    if (run.Count() == 1)
        return rec.soffs + (blocks + 1) * rec.recsize == rec.dendoffset;
    return rec.dendoffset % rec.recsize == 0 && rec.dendoffset / rec.recsize - 1 <= blocks &&
           run.Count() <= blocks + 1;
}

Damage Check(const clsRestoreFileData& rec, std::optional<VolumeRun>& run) {
    if (rec.fname.empty())
        return Damage::NoName;
    if (rec.recsize < 4 || rec.recsize > kMaxRecSize || rec.recsize % 4 != 0)
        return Damage::BlockSize;
    if (rec.size < 0 || rec.size > kMaxPosition)
        return Damage::Size;
    if (rec.soffs < 0 || rec.soffs > kMaxPosition || rec.dendoffset <= 0 ||
        rec.dendoffset > kMaxPosition)
        return Damage::Positions;
    std::string checksum;
    if (!ParseChecksumText(rec.crc, checksum))
        return Damage::Checksum;
    run = NamedRun(rec);
    if (!run)
        return Damage::Volumes;
    if (!PositionsFit(rec, *run))
        return Damage::Fit;
    if (rec.tLastWriteTimeGet().Value() == 0)
        return Damage::NoTime;
    if (rec.dSession == DateTime::ZeroDate())
        return Damage::NoSession;
    return Damage::None;
}

} // namespace

std::string RecordDamage(const clsRestoreFileData& rec) {
    std::optional<VolumeRun> run;
    switch (Check(rec, run)) {
    case Damage::None:
        return std::string();
    case Damage::NoName:
        return GetMsg("strMsgRecNoName");
    case Damage::BlockSize:
        return GetMsg("strMsgRecBlockSize", "%n", std::to_string(rec.recsize));
    case Damage::Size:
        return GetMsg("strMsgRecSize", "%n", std::to_string(rec.size));
    case Damage::Positions:
        return GetMsg("strMsgRecPositions");
    case Damage::Checksum:
        return GetMsg("strMsgRecChecksum", "%c", rec.crc);
    case Damage::Volumes:
        return GetMsg("strMsgRecVolumes", {{"%d", rec.arcStart}, {"%v", rec.arcEnd}});
    case Damage::Fit:
        return GetMsg("strMsgRecFit");
    case Damage::NoTime:
        return GetMsg("strMsgRecNoTime");
    case Damage::NoSession:
        return GetMsg("strMsgRecNoSession");
    }
    return GetMsg("strMsgRecFit");
}

std::optional<VolumeRun> VolumeRunOf(const clsRestoreFileData& rec) {
    std::optional<VolumeRun> run;
    if (Check(rec, run) != Damage::None)
        return std::nullopt;
    return run;
}

std::vector<std::string> VolumeChain(const clsRestoreFileData& rec) {
    // A damaged index may name a billion volumes that do fit a huge size;
    // such a run is not spelt out.
    constexpr std::int64_t kMaxListed = 10000;
    std::vector<std::string> names;
    const std::optional<VolumeRun> run = VolumeRunOf(rec);
    if (run && run->Count() <= kMaxListed) {
        for (std::int64_t n = run->first; n <= run->last; ++n)
            names.push_back(run->Name(n));
    }
    return names;
}
