#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/ArchiveIndex.h"

// Whether an index record can be used at all, and which volumes it occupies.
// An index comes from a disk or a server and may be damaged: nothing may
// divide by its block size or list its volumes before this check passed.

// The volumes of one entry: a base name and a range of numbers, 0 standing
// for the unnumbered first volume.
struct VolumeRun {
    std::string base;
    std::int64_t first = 0;
    std::int64_t last = 0;

    std::string Name(std::int64_t number) const { return VolumeName(base, number); }
    std::int64_t Count() const { return last - first + 1; }
};

// What makes a record unusable (impossible numbers, a broken checksum text,
// volume names that are no names or do not follow each other, no time or
// session), as a catalogue text; empty when the record can be used.
std::string RecordDamage(const clsRestoreFileData& rec);

// The volumes of a usable record; nothing for a damaged one. Job names may
// hold "-" themselves, so the base is found by matching the start and end
// names against each other rather than at the first "-".
std::optional<VolumeRun> VolumeRunOf(const clsRestoreFileData& rec);

// The same as names, first to last ("Daily", "Daily-001", ...); empty for a
// damaged record and for a run too long to spell out.
std::vector<std::string> VolumeChain(const clsRestoreFileData& rec);
