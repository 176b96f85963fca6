#include "engine/BackupRun.h"

#include <gtest/gtest.h>

// The earlier sessions' records each take away at most one file of the same
// name and write time; names compare case-sensitively.
TEST(IncrementalSelection, KeepsNewAndRewrittenFilesOnly) {
    FileList list;
    for (const auto& [folder, name, low] : {std::tuple{"/d/", "same.txt", 1},
                                            {"/d/", "changed.txt", 2},
                                            {"/d/", "new.txt", 3},
                                            {"/D/", "same.txt", 1},
                                            {"/d/", "back", 5},
                                            {"/d/", "dup", 7},
                                            {"/d/", "dup", 7},
                                            {"/d/", "twice", 8},
                                            {"/d/", "twice", 8}}) {
        list.push_back({.filename = name, .path = folder});
        list.back().tLastWriteTimeSet(30000000, low);
    }
    // "back" was changed back to a time an earlier session recorded.
    std::vector<clsRestoreFileData> records;
    for (const auto& [fname, low] : {std::pair{"/d/same.txt", 1},
                                     {"/d/changed.txt", 1},
                                     {"/d/gone.txt", 4},
                                     {"/d/back", 5},
                                     {"/d/back", 9},
                                     {"/d/dup", 7},
                                     {"/d/twice", 8},
                                     {"/d/twice", 8}}) {
        records.emplace_back().fname = fname;
        records.back().tLastWriteTimeSet(30000000, low);
    }
    DropUnchangedFiles(list, records);
    std::vector<std::string> kept;
    for (const clsDskFile& f : list)
        kept.push_back(f.FullName() + "@" + std::to_string(f.tLastWriteTimeGet().low));
    EXPECT_EQ(kept, (std::vector<std::string>{"/d/changed.txt@2", "/d/new.txt@3", "/D/same.txt@1",
                                              "/d/dup@7"}));
}
