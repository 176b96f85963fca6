#include "engine/EarlierIndex.h"
#include "support/ProgramFolderSetup.h"

using EarlierIndex = RunFixture;

TEST(ChangeNeedsNewSet, OnlyChangesThatLoseTheIndex) {
    const auto job = [](const char* name, bool isProtected, const char* password) {
        clsBackup j;
        j.sName = name, j.Protected = isProtected, j.password = password;
        return j;
    };
    struct {
        clsBackup one, other; // either way round
        bool newSet;
    } cases[] = {{job("Docs", false, ""), job("Papers", false, ""), true},
                 {job("Docs", false, ""), job("docs", false, ""), true},
                 {job("Docs", false, ""), job("Docs", true, "pw"), true},
                 {job("Docs", true, "old"), job("Docs", true, "new"), true},
                 // an unprotected job's archives do not depend on the password field
                 {job("Docs", false, ""), job("Docs", false, "pw"), false},
                 {job("Docs", true, "pw"), job("Docs", true, "pw"), false}};
    for (auto& c : cases) {
        c.other.bZipped = true, c.other.sDestinationDir = "/elsewhere";
        EXPECT_EQ(ChangeNeedsNewSet(c.one, c.other), c.newSet) << c.other.sName;
        EXPECT_EQ(ChangeNeedsNewSet(c.other, c.one), c.newSet) << c.other.sName;
    }
}

// Kept under the minute's name, byte for byte, and never over another file.
TEST_F(EarlierIndex, IsKeptLocallyUnderAFreeNameAndNothingIsOverwritten) {
    auto job = AddJob("Docs");
    std::string kept, why;
    EXPECT_FALSE(HasBackups(*job));
    EXPECT_TRUE(KeepEarlierIndex(*job, kept, why));
    EXPECT_EQ(kept + why, ""); // no index, nothing to keep

    std::string first(256, '\0'); // every byte value, line ends and NULs among them
    for (int b = 0; b < 256; ++b)
        first[b] = static_cast<char>(b);
    const std::string second = first + "second";
    destination.Write("Docs.fs", first);
    EXPECT_TRUE(HasBackups(*job));
    ASSERT_TRUE(KeepEarlierIndex(*job, kept, why)) << why;
    EXPECT_EQ(kept, "Docs-until-202612051000.fs");
    EXPECT_TRUE(host.Logged("The earlier index Docs.fs is kept as Docs-until-202612051000.fs."));
    EXPECT_FALSE(HasBackups(*job));
    destination.Write("Docs.fs", second); // a second change in the same minute
    ASSERT_TRUE(KeepEarlierIndex(*job, kept, why)) << why;
    EXPECT_EQ(kept, "Docs-until-202612051000-2.fs");
    EXPECT_EQ(destination.Read("Docs-until-202612051000.fs"), first);
    EXPECT_EQ(destination.Read("Docs-until-202612051000-2.fs"), second);

    destination.Write("Docs.fs", "third");
    for (int n = 3; n <= 100; ++n)
        destination.Write("Docs-until-202612051000-" + std::to_string(n) + ".fs", "taken");
    EXPECT_FALSE(KeepEarlierIndex(*job, kept, why));
    EXPECT_EQ(kept, "");
    EXPECT_EQ(why, "The earlier index " + destination.File("Docs.fs") +
                       " could not be kept: File exists!");
    EXPECT_EQ(destination.Read("Docs.fs"), "third");
    EXPECT_EQ(destination.Read("Docs-until-202612051000-100.fs"), "taken");
}

// Without keeping it, the old index stops the run, and stays as it was.
TEST_F(EarlierIndex, ANewPasswordRunsAFullSetOnceTheOldIndexIsKept) {
    PutSource("docs/a.txt", "a");
    auto job = AddJob("Safe");
    job->Protected = job->bIncremental = true;
    job->password = "old";
    ASSERT_EQ(Run("Safe")->enumStatus, kStatusFinished);
    SetClockOverride(At(10, 30)); // the encrypted index still drives the next run
    EXPECT_EQ(Run("Safe")->enumStatus, kStatusFinished);
    EXPECT_TRUE(host.Logged("No files were found for backup!"));
    const std::string oldIndex = destination.Read("Safe.fs");
    EXPECT_EQ(oldIndex.find("fname="), std::string::npos);
    clsBackup before = *job;
    job->password = "new";
    ASSERT_TRUE(ChangeNeedsNewSet(before, *job) && HasBackups(before));
    host.activity.clear();
    EXPECT_EQ(Run("Safe")->enumStatus, kStatusFailed);
    EXPECT_TRUE(host.Logged("The index of the earlier backups cannot be read"));
    EXPECT_TRUE(host.Logged("cannot be decrypted"));
    EXPECT_EQ(destination.Read("Safe.fs"), oldIndex);
    EXPECT_EQ(ListFileNames(destination.Path()).size(), 2u);
    std::string kept, why;
    ASSERT_TRUE(KeepEarlierIndex(before, kept, why)) << why;
    SetClockOverride(At(11, 0));
    EXPECT_EQ(Run("Safe")->enumStatus, kStatusFinished);
    EXPECT_EQ(destination.Read(kept), oldIndex);
    EXPECT_NE(destination.Read("Safe.fs"), oldIndex);
}
