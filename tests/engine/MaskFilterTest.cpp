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
    {"include wins, blanks", kMixed, "  *.doc ; *.xls ", "*.doc", {"a.doc", "b.xls", "d.DOC"}},
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
    {"blanks around excludes", kMixed, "", " *.tmp ; ", {"a.doc", "b.xls", "d.DOC", "e.txt"}},
    {"star and empty masks exclude nothing", kMixed, "", "*;*.*; ;", kMixed},
    // Says more than "*.*" yet matches nothing: keeps nothing, as it always has.
    {"star alone as include", kMixed, "*", "", {}},
    {"all files beside a mask", kMixed, "*.*;*.xls", "", {"b.xls"}},
    {"blank masks", kMixed, " ", "  ", kMixed},
    {"all files alone", kMixed, "*.*", "", kMixed},
    {"empty list", {}, "*.doc", "*.tmp", {}},
};

} // namespace

TEST(MaskFilter, KeepsWhatTheMasksSelect) {
    for (const MaskCase& c : kMaskCases) {
        FileList list;
        for (std::size_t i = 0; i < c.names.size(); ++i)
            list.push_back({.filename = c.names[i], .path = "/" + c.names[i], .dSize = int(i)});
        ApplyMaskFilter(list, c.include, c.exclude);
        Names kept;
        for (const clsDskFile& f : list) { // the whole record travels with its name
            kept.push_back(f.filename);
            const std::string& name = c.names.at(static_cast<std::size_t>(f.dSize));
            EXPECT_EQ(f.path + f.filename, "/" + name + name) << c.why;
        }
        EXPECT_EQ(kept, c.kept) << c.why;
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
