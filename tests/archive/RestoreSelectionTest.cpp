#include "engine/RestoreSelection.h"
#include "archive/RestoreTree.h"

#include <gtest/gtest.h>

namespace {

clsRestoreFileData Rec(const std::string& fname, int hour) {
    clsRestoreFileData r;
    r.fname = fname;
    r.dSession = *DateTime::FromParts(2024, 3, 1, hour, 0, 0);
    return r;
}

using Strings = std::vector<std::string>;

Strings Names(const std::vector<clsRestoreFileData>& records) {
    Strings names;
    for (const auto& r : records)
        names.push_back(r.fname + "@" + std::to_string(r.dSession.Hour()));
    return names;
}

} // namespace

TEST(RestoreSelection, NewestVersionOfEachFileAtOrBeforeASessionNarrowedByPaths) {
    const std::vector<clsRestoreFileData> index = {
        Rec("/home/ann/a.txt", 8), Rec("/home/ann/docs/b.txt", 8), Rec("/home/annex/c.txt", 8),
        Rec("/home/ann/a.txt", 9), Rec("/home/ann/docs/b.txt", 10)};
    const Strings newest = {"/home/annex/c.txt@8", "/home/ann/a.txt@9", "/home/ann/docs/b.txt@10"};
    EXPECT_EQ(Names(SelectNewestVersions(index, std::nullopt, {}).records), newest);
    EXPECT_EQ(Names(SelectNewestVersions(index, Rec("", 9).dSession, {}).records),
              (Strings{"/home/ann/docs/b.txt@8", "/home/annex/c.txt@8", "/home/ann/a.txt@9"}));
    // A folder prefix takes whole names only: /home/ann is not /home/annex.
    const RestoreSelection some =
        SelectNewestVersions(index, std::nullopt, {"/home/ann/", "/home/annex/c.txt", "/nope"});
    EXPECT_EQ(Names(some.records), newest);
    EXPECT_EQ(some.unmatchedPaths, Strings{"/nope"});
    // Stored only after the session asked for: nothing matches.
    EXPECT_EQ(SelectNewestVersions(index, Rec("", 7).dSession, {"/home/ann/a.txt"}).unmatchedPaths,
              Strings{"/home/ann/a.txt"});
}

TEST(RestoreSelection, TargetsStayBelowTheChosenFolderOrAreRefused) {
    EXPECT_EQ(RestorePathFor(Rec("/home/a.txt", 8), {}), "/home/a.txt");
    EXPECT_EQ(RestorePathFor(Rec("/home/a.txt", 8), {"/tmp/R/"}), "/tmp/R/home/a.txt");
    EXPECT_EQ(RestorePathFor(Rec("/a.txt", 8), {"/"}), "/a.txt");
    for (const std::string& bad : Strings{"/home/../../etc/passwd", "..", "home/a.txt", "",
                                          "/home/ann/", "/home/./a.txt", std::string("/a\0b", 4)}) {
        std::string why;
        EXPECT_EQ(RestorePathFor(Rec(bad, 8), {"/tmp/R"}, &why), "") << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(RestoreTree, SessionsHoldTheirFoldersAndFilesKeyedWithTheirLetterCase) {
    const RestoreTree tree({Rec("/home/ann/Docs/a.txt", 8), Rec("/home/ann/docs/a.txt", 8),
                            Rec("/home/ann/b.txt", 8), Rec("/home/ann/Docs/a.txt", 9),
                            Rec("relative/c", 9), Rec("/home/ann/b.txt", 8)});
    ASSERT_EQ(tree.Roots().size(), 2u);
    const RestoreTreeNode& first = tree.Node(tree.Roots()[0]);
    EXPECT_EQ(first.key + " " + first.name, "ses_20240301080000 20240301080000");
    ASSERT_EQ(first.children.size(), 1u); // "home": no node for the leading ""
    const RestoreTreeNode* ann = tree.Find("SES_20240301080000/home/ann");
    ASSERT_NE(ann, nullptr);
    Strings names;
    for (const std::int32_t child : ann->children)
        names.push_back(tree.Node(child).name);
    EXPECT_EQ(names, (Strings{"Docs", "docs", "b.txt"}));
    EXPECT_FALSE(ann->IsFile());
    const RestoreTreeNode* lower = tree.Find("SES_20240301080000/home/ann/docs/a.txt");
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(lower->record, 1);
    EXPECT_EQ(tree.Node(lower->parent).key, "SES_20240301080000/home/ann/docs");
    // A name stored twice in a session: the later line, as a restore takes it.
    EXPECT_EQ(tree.Find("SES_20240301080000/home/ann/b.txt")->record, 5);
    EXPECT_EQ(tree.Find("SES_20240301090000/home/ann/Docs/a.txt")->record, 3);
    EXPECT_EQ(tree.Find("SES_20240301090000relative/c")->record, 4);
    EXPECT_EQ(tree.Find("ses_20240301080000/home"), nullptr); // keys are exact

    std::vector<clsRestoreFileData> many;
    for (int i = 0; i < 100000; ++i)
        many.push_back(Rec("/data/d" + std::to_string(i / 1000) + "/f" + std::to_string(i), 8));
    const RestoreTree big(many);
    EXPECT_EQ(big.Nodes().size(), 1u + 1u + 100u + 100000u); // session, "data", folders, files
    EXPECT_EQ(big.Find("SES_20240301080000/data/d42")->children.size(), 1000u);
}
