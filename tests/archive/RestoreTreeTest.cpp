#include "archive/RestoreTree.h"

#include <gtest/gtest.h>

namespace {

clsRestoreFileData Rec(const std::string& fname, int hour) {
    clsRestoreFileData r;
    r.fname = fname;
    r.dSession = *DateTime::FromParts(2024, 3, 1, hour, 0, 0);
    return r;
}

std::vector<std::string> ChildNames(const RestoreTree& tree, const RestoreTreeNode& node) {
    std::vector<std::string> names;
    for (const std::int32_t child : node.children)
        names.push_back(tree.Node(child).name);
    return names;
}

} // namespace

TEST(RestoreTree, SessionsHoldTheirFoldersAndFilesKeyedWithTheirLetterCase) {
    const std::vector<clsRestoreFileData> records = {
        Rec("/home/ann/Docs/a.txt", 8), Rec("/home/ann/docs/a.txt", 8), Rec("/home/ann/b.txt", 8),
        Rec("/home/ann/Docs/a.txt", 9), Rec("relative/c", 9),           Rec("/home/ann/b.txt", 8)};
    const RestoreTree tree(records);
    ASSERT_EQ(tree.Roots().size(), 2u);
    const RestoreTreeNode& first = tree.Node(tree.Roots()[0]);
    EXPECT_EQ(first.key, "ses_20240301080000");
    EXPECT_EQ(first.name, "20240301080000");
    EXPECT_EQ(ChildNames(tree, first), std::vector<std::string>{"home"}); // no node for ""

    const RestoreTreeNode* ann = tree.Find("SES_20240301080000/home/ann");
    ASSERT_NE(ann, nullptr);
    EXPECT_EQ(ChildNames(tree, *ann), (std::vector<std::string>{"Docs", "docs", "b.txt"}));
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
}

TEST(RestoreTree, AHundredThousandRecordsMakeOneNodeEach) {
    std::vector<clsRestoreFileData> records;
    for (int i = 0; i < 100000; ++i)
        records.push_back(Rec("/data/d" + std::to_string(i / 1000) + "/f" + std::to_string(i), 8));
    const RestoreTree tree(records);
    // The session, "data", 100 folders and the files.
    EXPECT_EQ(tree.Nodes().size(), 1u + 1u + 100u + 100000u);
    EXPECT_EQ(tree.Find("SES_20240301080000/data/d99/f99999")->record, 99999);
    EXPECT_EQ(tree.Find("SES_20240301080000/data/d42")->children.size(), 1000u);
}
