#include "engine/RestoreSelection.h"

#include <gtest/gtest.h>

namespace {

DateTime Session(int hour) {
    return *DateTime::FromParts(2024, 3, 1, hour, 0, 0);
}

clsRestoreFileData Rec(const std::string& fname, int hour) {
    clsRestoreFileData r;
    r.fname = fname;
    r.dSession = Session(hour);
    return r;
}

using Strings = std::vector<std::string>;

Strings Names(const RestoreSelection& s) {
    Strings names;
    for (const auto& r : s.records)
        names.push_back(r.fname + "@" + std::to_string(r.dSession.Hour()));
    return names;
}

} // namespace

TEST(RestoreSelection, NewestVersionOfEachFileAtOrBeforeASessionNarrowedByPaths) {
    const std::vector<clsRestoreFileData> index = {
        Rec("/home/ann/a.txt", 8), Rec("/home/ann/docs/b.txt", 8), Rec("/home/annex/c.txt", 8),
        Rec("/home/ann/a.txt", 9), Rec("/home/ann/docs/b.txt", 10)};
    EXPECT_EQ(Names(SelectNewestVersions(index, std::nullopt, {})),
              (Strings{"/home/annex/c.txt@8", "/home/ann/a.txt@9", "/home/ann/docs/b.txt@10"}));
    EXPECT_EQ(Names(SelectNewestVersions(index, Session(9), {})),
              (Strings{"/home/ann/docs/b.txt@8", "/home/annex/c.txt@8", "/home/ann/a.txt@9"}));
    // A folder prefix takes whole names only: /home/ann is not /home/annex.
    const RestoreSelection some =
        SelectNewestVersions(index, std::nullopt, {"/home/ann/", "/home/annex/c.txt", "/nope"});
    EXPECT_EQ(Names(some),
              (Strings{"/home/annex/c.txt@8", "/home/ann/a.txt@9", "/home/ann/docs/b.txt@10"}));
    EXPECT_EQ(some.unmatchedPaths, Strings{"/nope"});
    // Stored only after the session asked for: nothing matches.
    EXPECT_EQ(SelectNewestVersions(index, Session(7), {"/home/ann/a.txt"}).unmatchedPaths,
              Strings{"/home/ann/a.txt"});
}

TEST(RestoreSelection, TargetsStayBelowTheChosenFolderOrAreRefused) {
    const RestoreTarget original;
    const RestoreTarget chosen{"/tmp/R/"};
    EXPECT_EQ(RestorePathFor(Rec("/home/ann/a.txt", 8), original), "/home/ann/a.txt");
    EXPECT_EQ(RestorePathFor(Rec("/home/ann/a.txt", 8), chosen), "/tmp/R/home/ann/a.txt");
    EXPECT_EQ(RestorePathFor(Rec("/a.txt", 8), RestoreTarget{"/"}), "/a.txt");
    for (const std::string& bad : Strings{"/home/../../etc/passwd", "..", "home/ann/a.txt", "",
                                          "/home/ann/", "/home/./a.txt", std::string("/a\0b", 4)}) {
        std::string why;
        EXPECT_EQ(RestorePathFor(Rec(bad, 8), chosen, &why), "") << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}
