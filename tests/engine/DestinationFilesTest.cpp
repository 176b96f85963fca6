#include "engine/DestinationFiles.h"
#include "support/ProgramFolderSetup.h"

#include <filesystem>

using DestinationFetch = RunFixture;

// What a restore fetches: volumes read where they lie when they need no
// decryption, otherwise a decrypted copy in staging; a missing one said so.
TEST_F(DestinationFetch, VolumesComeBackReadableFromWhereTheyLie) {
    clsBackup job;
    job.sDestinationDir = destination.Path();
    job.archived = true;
    destination.Write("Plain.darc", "plain bytes");
    DestinationFiles files(job);
    const auto inPlace = files.Fetch("Plain.darc", DestinationFiles::Placement::InPlaceIfPlain);
    EXPECT_EQ(inPlace.outcome, DestinationFiles::Fetched::Done);
    EXPECT_EQ(inPlace.path, destination.File("Plain.darc"));
    const auto staged = files.Fetch("Plain.darc");
    EXPECT_EQ(staged.path, home.File("temp/Plain.darc"));
    EXPECT_EQ(ReadTestFile(staged.path), "plain bytes");
    const auto missing = files.Fetch("Gone.darc");
    EXPECT_EQ(missing.outcome, DestinationFiles::Fetched::Missing);
    EXPECT_EQ(missing.reason, destination.File("Gone.darc") + " does not exist");

    job.Protected = true;
    job.password = "pw";
    home.Write("temp/Safe.darc", "secret bytes");
    ASSERT_TRUE(files.Store({.filename = "Safe.darc", .path = home.File("temp/")}).done);
    EXPECT_NE(destination.Read("Safe.darc"), "secret bytes");
    const auto decrypted = files.Fetch("Safe.darc", DestinationFiles::Placement::InPlaceIfPlain);
    EXPECT_EQ(decrypted.path, home.File("temp/Safe.darc"));
    EXPECT_EQ(ReadTestFile(decrypted.path), "secret bytes");
    job.password = "changed";
    EXPECT_EQ(files.Fetch("Safe.darc").outcome, DestinationFiles::Fetched::Unreadable);
    EXPECT_FALSE(FileExists(home.File("temp/Safe.darc"))); // no encrypted bytes left for a reader
}

// A plain copy's folder that goes away between two of its files is made again.
TEST_F(DestinationFetch, APlainCopysFolderRemovedMeanwhileIsMadeAgain) {
    clsBackup job;
    job.sDestinationDir = destination.Path();
    source.Write("a/one", "1");
    source.Write("a/two", "2");
    DestinationFiles files(job);
    ASSERT_TRUE(files.Store({.filename = "one", .path = source.File("a/")}).done);
    const std::string folder = destination.Path() + StripDrivePrefix(source.File("a"));
    ASSERT_EQ(ReadTestFile(folder + "/one"), "1");
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(files.Store({.filename = "two", .path = source.File("a/")}).done);
    EXPECT_EQ(ReadTestFile(folder + "/two"), "2");
}
