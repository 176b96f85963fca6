#include "core/Registry.h"
#include "engine/SourceFiles.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

FileList Files(const std::vector<std::string>& names) {
    FileList list;
    for (const std::string& name : names) {
        clsDskFile f;
        f.path = "/data/";
        f.filename = name;
        list.push_back(f);
    }
    return list;
}

std::vector<std::string> Filtered(const std::vector<std::string>& names, const std::string& include,
                                  const std::string& exclude) {
    FileList list = Files(names);
    ApplyMaskFilter(list, include, exclude);
    std::vector<std::string> kept;
    for (const clsDskFile& f : list)
        kept.push_back(f.filename);
    return kept;
}

using Names = std::vector<std::string>;

const Names kMixed{"a.doc", "b.xls", "c.tmp", "d.DOC", "e.txt", "f.doc.tmp"};

} // namespace

TEST(MaskFilter, IncludeMasksDecideAloneAndIgnoreTheExcludeList) {
    EXPECT_EQ(Filtered(kMixed, "*.doc;*.xls", "*.tmp"), (Names{"a.doc", "b.xls", "d.DOC"}));
    EXPECT_EQ(Filtered(kMixed, "*.doc;*.xls", "*.doc"), (Names{"a.doc", "b.xls", "d.DOC"}));
}

TEST(MaskFilter, AllFilesIncludeLetsTheExcludeListRemoveCaseInsensitively) {
    const Names names{"keep.txt", "old.bak", "OLD2.BAK", "x.Bak", "bakery.txt", "bak"};
    const Names expected{"keep.txt", "bakery.txt"};
    EXPECT_EQ(Filtered(names, "*.*", "*.bak"), expected);
    EXPECT_EQ(Filtered(names, "", "*.bak"), expected);
    EXPECT_EQ(Filtered(names, "  *.*  ", "*.BAK"), expected);
}

TEST(MaskFilter, MasksMatchTheEndOfTheNameWithoutDotsOrStars) {
    // "*.txt" reduces to "txt": any name ending so, dot or not.
    EXPECT_EQ(Filtered({"notes.txt", "notes.atxt", "txt", "notes.tx", "t.txt.gz"}, "*.txt", ""),
              (Names{"notes.txt", "notes.atxt", "txt"}));
    // "*.tar.gz" reduces to "targz", which a name ending ".tar.gz" does not.
    EXPECT_EQ(Filtered({"a.tar.gz", "a.targz", "xtargz", "a.gz"}, "*.tar.gz", ""),
              (Names{"a.targz", "xtargz"}));
}

TEST(MaskFilter, BlanksAroundMasksAreIgnored) {
    EXPECT_EQ(Filtered(kMixed, "  *.doc ;   *.xls  ", ""), (Names{"a.doc", "b.xls", "d.DOC"}));
    EXPECT_EQ(Filtered(kMixed, "", " *.tmp ; "), (Names{"a.doc", "b.xls", "d.DOC", "e.txt"}));
}

TEST(MaskFilter, StarAloneNeverMatches) {
    EXPECT_EQ(Filtered(kMixed, "", "*"), kMixed);
    EXPECT_EQ(Filtered(kMixed, "", "*.*"), kMixed);
    EXPECT_EQ(Filtered(kMixed, "", "*;*.*; ;"), kMixed);
    // An include list of only "*" says more than "*.*" yet matches nothing,
    // so it keeps nothing (kept as the program has always behaved).
    EXPECT_EQ(Filtered(kMixed, "*", ""), Names{});
    // "*.*" next to a real mask does not widen it.
    EXPECT_EQ(Filtered(kMixed, "*.*;*.xls", ""), Names{"b.xls"});
}

TEST(MaskFilter, EmptyMasksLeaveTheListUntouched) {
    EXPECT_EQ(Filtered(kMixed, "", ""), kMixed);
    EXPECT_EQ(Filtered(kMixed, " ", "  "), kMixed);
    EXPECT_EQ(Filtered(kMixed, "*.*", ""), kMixed);
    EXPECT_EQ(Filtered({}, "*.doc", "*.tmp"), Names{});
}

TEST(MaskFilter, KeptFilesStayInOrderWithTheirRecords) {
    FileList list;
    for (int i = 0; i < 1000; ++i) {
        clsDskFile f;
        f.path = "/p" + std::to_string(i) + "/";
        f.filename = i % 3 == 0 ? "x.log" : "x.dat";
        f.dSize = i;
        list.push_back(f);
    }
    ApplyMaskFilter(list, "", "*.log");
    ASSERT_EQ(list.size(), 666u);
    for (std::size_t k = 0; k < list.size(); ++k) {
        // Survivors are i = 1, 2, 4, 5, 7, ...: every i not divisible by 3.
        const std::int64_t i = static_cast<std::int64_t>(k + k / 2 + 1);
        EXPECT_EQ(list[k].dSize, i);
        EXPECT_EQ(list[k].path, "/p" + std::to_string(i) + "/");
    }
}

namespace {

class MaskHistoryStore : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(home.Path()); }
    void TearDown() override { SetProgramFolder(""); }
    TempHome home;
};

} // namespace

TEST_F(MaskHistoryStore, AllFilesComesFirstThenTheStoredMasksInNumberOrder) {
    SaveRegSetting("Backup", "masks", "imask03", "*.xls");
    SaveRegSetting("Backup", "masks", "imask01", "*.doc");
    SaveRegSetting("Backup", "masks", "imask10", "*.ppt");
    SaveRegSetting("Backup", "masks", "imask11", "*.never");
    SaveRegSetting("Backup", "masks", "emask02", "*.tmp");
    SaveRegSetting("Backup", "General Settings", "emask01", "*.elsewhere");

    EXPECT_EQ(MaskHistory(1), (std::vector<std::string>{"*.*", "*.doc", "*.xls", "*.ppt"}));
    EXPECT_EQ(MaskHistory(2), (std::vector<std::string>{"*.*", "*.tmp"}));
}

TEST_F(MaskHistoryStore, NothingStoredGivesAllFilesAloneAndAnUnknownListNothing) {
    EXPECT_EQ(MaskHistory(1), std::vector<std::string>{"*.*"});
    EXPECT_EQ(MaskHistory(2), std::vector<std::string>{"*.*"});
    EXPECT_TRUE(MaskHistory(0).empty());
    EXPECT_TRUE(MaskHistory(3).empty());
}
