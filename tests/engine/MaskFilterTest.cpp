#include "core/Registry.h"
#include "engine/SourceFiles.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

const Names kMixed{"a.doc", "b.xls", "c.tmp", "d.DOC", "e.txt", "f.doc.tmp"};
const Names kBak{"keep.txt", "old.bak", "OLD2.BAK", "x.Bak", "bakery.txt", "bak"};

struct MaskCase {
    const char* why;
    Names names;
    const char* include;
    const char* exclude;
    Names kept;
};

const MaskCase kMaskCases[] = {
    {"include decides alone", kMixed, "*.doc;*.xls", "*.tmp", {"a.doc", "b.xls", "d.DOC"}},
    {"include ignores exclude", kMixed, "*.doc;*.xls", "*.doc", {"a.doc", "b.xls", "d.DOC"}},
    {"all files, then exclude", kBak, "*.*", "*.bak", {"keep.txt", "bakery.txt"}},
    {"empty include, exclude", kBak, "", "*.bak", {"keep.txt", "bakery.txt"}},
    {"blanks and case", kBak, "  *.*  ", "*.BAK", {"keep.txt", "bakery.txt"}},
    // "*.txt" reduces to "txt": any name ending so, dot or not.
    {"name ends",
     {"notes.txt", "notes.atxt", "txt", "notes.tx", "t.txt.gz"},
     "*.txt",
     "",
     {"notes.txt", "notes.atxt", "txt"}},
    // "*.tar.gz" reduces to "targz", which a name ending ".tar.gz" does not.
    {"dots dropped",
     {"a.tar.gz", "a.targz", "xtargz", "a.gz"},
     "*.tar.gz",
     "",
     {"a.targz", "xtargz"}},
    {"blanks around includes", kMixed, "  *.doc ;   *.xls  ", "", {"a.doc", "b.xls", "d.DOC"}},
    {"blanks around excludes", kMixed, "", " *.tmp ; ", {"a.doc", "b.xls", "d.DOC", "e.txt"}},
    {"star excludes nothing", kMixed, "", "*", kMixed},
    {"all files excludes nothing", kMixed, "", "*.*", kMixed},
    {"empty masks exclude nothing", kMixed, "", "*;*.*; ;", kMixed},
    // Says more than "*.*" yet matches nothing: keeps nothing, as it always has.
    {"star alone as include", kMixed, "*", "", {}},
    {"all files beside a mask", kMixed, "*.*;*.xls", "", {"b.xls"}},
    {"no masks", kMixed, "", "", kMixed},
    {"blank masks", kMixed, " ", "  ", kMixed},
    {"all files alone", kMixed, "*.*", "", kMixed},
    {"empty list", {}, "*.doc", "*.tmp", {}},
};

} // namespace

TEST(MaskFilter, KeepsWhatTheMasksSelect) {
    for (const MaskCase& c : kMaskCases) {
        FileList list;
        for (const std::string& name : c.names)
            list.push_back({.filename = name, .path = "/data/"});
        ApplyMaskFilter(list, c.include, c.exclude);
        Names kept;
        for (const clsDskFile& f : list)
            kept.push_back(f.filename);
        EXPECT_EQ(kept, c.kept) << c.why;
    }
}

TEST(MaskFilter, KeptFilesStayInOrderWithTheirRecords) {
    FileList list;
    for (int i = 0; i < 1000; ++i)
        list.push_back({.filename = i % 3 == 0 ? "x.log" : "x.dat",
                        .path = "/p" + std::to_string(i) + "/",
                        .dSize = i});
    ApplyMaskFilter(list, "", "*.log");
    ASSERT_EQ(list.size(), 666u);
    for (std::size_t k = 0; k < list.size(); ++k) {
        // Survivors are i = 1, 2, 4, 5, 7, ...: every i not divisible by 3.
        const std::int64_t i = static_cast<std::int64_t>(k + k / 2 + 1);
        EXPECT_EQ(list[k].dSize, i);
        EXPECT_EQ(list[k].path, "/p" + std::to_string(i) + "/");
    }
}

TEST(MaskHistory, AllFilesComesFirstThenTheStoredMasksInNumberOrder) {
    TempHome home;
    SetProgramFolder(home.Path());
    EXPECT_EQ(MaskHistory(1), Names{"*.*"});
    SaveRegSetting("Backup", "masks", "imask03", "*.xls");
    SaveRegSetting("Backup", "masks", "imask01", "*.doc");
    SaveRegSetting("Backup", "masks", "imask10", "*.ppt");
    SaveRegSetting("Backup", "masks", "imask11", "*.never");
    SaveRegSetting("Backup", "masks", "emask02", "*.tmp");
    SaveRegSetting("Backup", "General Settings", "emask01", "*.elsewhere");
    EXPECT_EQ(MaskHistory(1), (Names{"*.*", "*.doc", "*.xls", "*.ppt"}));
    EXPECT_EQ(MaskHistory(2), (Names{"*.*", "*.tmp"}));
    EXPECT_TRUE(MaskHistory(0).empty());
    EXPECT_TRUE(MaskHistory(3).empty());
    SetProgramFolder("");
}
