#include "engine/BackupRun.h"

#include <gtest/gtest.h>
#include <random>

namespace {

clsDskFile File(const std::string& folder, const std::string& name, std::uint32_t low) {
    clsDskFile f;
    f.path = folder;
    f.filename = name;
    f.tLastWriteTimeSet(30000000, low);
    return f;
}

clsRestoreFileData Record(const std::string& fname, std::uint32_t low) {
    clsRestoreFileData r;
    r.fname = fname;
    r.tLastWriteTimeSet(30000000, low);
    return r;
}

// The selection as first described: for each record, walk the list from the
// start; the first file of that name with the same write time goes.
FileList NestedWalk(FileList list, const std::vector<clsRestoreFileData>& records) {
    for (const clsRestoreFileData& r : records) {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->path + it->filename == r.fname &&
                it->tLastWriteTimeGet() == r.tLastWriteTimeGet()) {
                list.erase(it);
                break;
            }
        }
    }
    return list;
}

std::vector<std::string> Names(const FileList& list) {
    std::vector<std::string> names;
    for (const clsDskFile& f : list)
        names.push_back(f.FullName() + "@" + std::to_string(f.tLastWriteTimeGet().low));
    return names;
}

} // namespace

TEST(IncrementalSelection, KeepsNewAndRewrittenFilesOnly) {
    FileList list{File("/d/", "same.txt", 1), File("/d/", "changed.txt", 2),
                  File("/d/", "new.txt", 3), File("/D/", "same.txt", 1), File("/d/", "back", 5)};
    // "back" was changed back to a time an earlier session recorded.
    const std::vector<clsRestoreFileData> records{
        Record("/d/same.txt", 1), Record("/d/changed.txt", 1), Record("/d/gone.txt", 4),
        Record("/d/back", 5), Record("/d/back", 9)};
    DropUnchangedFiles(list, records);
    // Names compare case-sensitively: /D/same.txt is another file.
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"/d/changed.txt@2", "/d/new.txt@3", "/D/same.txt@1"}));
}

TEST(IncrementalSelection, HashLookupAgreesWithTheNestedWalkOnRandomLists) {
    std::mt19937 rnd(42);
    for (int round = 0; round < 200; ++round) {
        FileList list;
        std::vector<clsRestoreFileData> records;
        const int files = 1 + static_cast<int>(rnd() % 40);
        for (int i = 0; i < files; ++i)
            list.push_back(File("/f" + std::to_string(rnd() % 3) + "/",
                                "n" + std::to_string(rnd() % 8), rnd() % 3));
        const int count = static_cast<int>(rnd() % 50);
        for (int i = 0; i < count; ++i)
            records.push_back(Record(
                "/f" + std::to_string(rnd() % 3) + "/n" + std::to_string(rnd() % 8), rnd() % 3));
        FileList fast = list;
        DropUnchangedFiles(fast, records);
        EXPECT_EQ(Names(fast), Names(NestedWalk(list, records))) << "round " << round;
    }
}
