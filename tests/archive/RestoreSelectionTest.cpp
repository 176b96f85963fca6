#include "engine/RestoreEngine.h"

#include <gtest/gtest.h>

namespace {

DateTime Session(int hour) {
    return *DateTime::FromParts(2024, 3, 1, hour, 0, 0);
}

clsRestoreFileData Rec(const std::string& fname, int hour, const std::string& arcStart = "Daily",
                       const std::string& arcEnd = "Daily") {
    clsRestoreFileData r;
    r.fname = fname;
    r.dSession = Session(hour);
    r.arcStart = arcStart;
    r.arcEnd = arcEnd;
    r.size = 700;
    r.recsize = 512;
    r.soffs = 0;
    r.dendoffset = 1536;
    r.crc = "0A1b2C3d";
    r.tLastWriteTimeSet(31000000, 1);
    return r;
}

std::vector<std::string> Names(const RestoreSelection& s) {
    std::vector<std::string> names;
    for (const auto& r : s.records)
        names.push_back(r.fname + "@" + std::to_string(r.dSession.Hour()));
    return names;
}

using Strings = std::vector<std::string>;

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
    for (const char* bad :
         {"/home/../../etc/passwd", "..", "home/ann/a.txt", "", "/home/ann/", "/home/./a.txt"}) {
        std::string why;
        EXPECT_EQ(RestorePathFor(Rec(bad, 8), chosen, &why), "") << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

TEST(RestoreSelection, VolumeRunsFollowTheWritersNamesEvenWithDashesInJobNames) {
    auto chain = [](const std::string& start, const std::string& end) {
        return VolumeChain(Rec("/f", 8, start, end));
    };
    EXPECT_EQ(chain("Daily", "Daily"), Strings{"Daily"});
    EXPECT_EQ(chain("Daily", "Daily-002"), (Strings{"Daily", "Daily-001", "Daily-002"}));
    EXPECT_EQ(chain("My-Job-001", "My-Job-002"), (Strings{"My-Job-001", "My-Job-002"}));
    EXPECT_EQ(chain("Back-001", "Back-001-001"), (Strings{"Back-001", "Back-001-001"}));
    for (const auto& [start, end] :
         std::vector<std::pair<std::string, std::string>>{{"Daily-002", "Daily-001"},
                                                          {"Daily", "Other-001"},
                                                          {"Daily", "Daily-0001"},
                                                          {"../x", "../x"},
                                                          {"", ""},
                                                          {"Daily", "Daily-001x"}})
        EXPECT_TRUE(chain(start, end).empty()) << start << " .. " << end;
}

TEST(RestoreSelection, RecordsWithImpossibleNumbersAreCalledDamaged) {
    EXPECT_EQ(RecordDamage(Rec("/f", 8)), "");
    auto damaged = [](auto change) {
        clsRestoreFileData r = Rec("/f", 8);
        change(r);
        return !RecordDamage(r).empty();
    };
    EXPECT_TRUE(damaged([](auto& r) { r.recsize = 0; }));
    EXPECT_TRUE(damaged([](auto& r) { r.recsize = 1LL << 40; })); // memory is bounded by it
    EXPECT_TRUE(damaged([](auto& r) { r.size = -1; }));
    EXPECT_TRUE(damaged([](auto& r) { r.size = 1200; })); // three blocks need dEndOffset 2048
    EXPECT_TRUE(damaged([](auto& r) { r.crc = "0A1B2C3"; }));
    EXPECT_TRUE(damaged([](auto& r) { r.crc = "0A1B2C3G"; }));
    EXPECT_TRUE(damaged([](auto& r) { r.tLastWriteTimeSet(0, 0); }));
    EXPECT_TRUE(damaged([](auto& r) { r.arcEnd = "Daily-900"; })); // more volumes than blocks
    EXPECT_TRUE(damaged([](auto& r) { r.soffs = std::int64_t{1} << 62; }));
}
