#include "engine/BackupRun.h"

#include <gtest/gtest.h>

// The earlier sessions' records each take away at most one file of the same
// name and write time; names compare case-sensitively.
TEST(IncrementalSelection, KeepsNewAndRewrittenFilesOnly) {
    // "name@low half of the write time"; "back" was changed back to a time an
    // earlier session recorded.
    const auto low = [](const std::string& entry) {
        return std::stoul(entry.substr(entry.find('@') + 1));
    };
    FileList list;
    for (const std::string entry :
         {"/d/same.txt@1", "/d/changed.txt@2", "/d/new.txt@3", "/D/same.txt@1", "/d/back@5",
          "/d/dup@7", "/d/dup@7", "/d/twice@8", "/d/twice@8"}) {
        const std::size_t slash = entry.rfind('/');
        list.push_back({.filename = entry.substr(slash + 1, entry.find('@') - slash - 1),
                        .path = entry.substr(0, slash + 1)});
        list.back().tLastWriteTimeSet(30000000, low(entry));
    }
    std::vector<clsRestoreFileData> records;
    for (const std::string entry :
         {"/d/same.txt@1", "/d/changed.txt@1", "/d/gone.txt@4", "/d/back@5", "/d/back@9",
          "/d/dup@7", "/d/twice@8", "/d/twice@8"}) {
        records.emplace_back().fname = entry.substr(0, entry.find('@'));
        records.back().tLastWriteTimeSet(30000000, low(entry));
    }
    DropUnchangedFiles(list, records);
    std::vector<std::string> kept;
    for (const clsDskFile& f : list)
        kept.push_back(f.FullName() + "@" + std::to_string(f.tLastWriteTimeGet().low));
    EXPECT_EQ(kept, (std::vector<std::string>{"/d/changed.txt@2", "/d/new.txt@3", "/D/same.txt@1",
                                              "/d/dup@7"}));
}
