#include "engine/BackupRun.h"
#include "platform/Clock.h"

#include "archive/ArchiveTestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>

using namespace archive_test;

namespace {

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    return text.replace(text.find(what), what.size(), with);
}

// A read-only file, an executable, an empty one, and data that ends in zeros
// (never written, but they must still count); text that compresses well.
const std::pair<const char*, mode_t> kFiles[] = {{"docs/a.txt", 0640},
                                                 {"docs/sub/big.bin", 0755},
                                                 {"docs/empty.dat", 0444},
                                                 {"docs/t.txt", 0600}};

class RestoreRun : public RestoreFixture {
protected:
    void SetUp() override {
        RestoreFixture::SetUp();
        SetClockOverride(DateTime::FromParts(2026, 12, 5, 10, 0, 0));
        std::string text;
        for (int i = 0; i < 4000; ++i)
            text += "line " + std::to_string(i) + " of a text that compresses well\n";
        original = {"alpha", PseudoRandomBytes(230000, 7) + std::string(70000, '\0'), "", text};
        for (std::size_t i = 0; i < 4; ++i)
            Put(i, original[i], 1700000000 + static_cast<std::int64_t>(i));
    }
    void Put(std::size_t i, const std::string& content, std::int64_t mtime) {
        const std::string path = source.File(kFiles[i].first);
        ::chmod(path.c_str(), 0600);
        WriteTestFile(path, content);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::chmod(path.c_str(), kFiles[i].second) |
                      ::utimensat(AT_FDCWD, path.c_str(), times, 0),
                  0);
        mtimes[i] = mtime;
    }
    // Every source file below `root`, with its bytes, permissions and write
    // time, and no temporary file left beside it.
    void ExpectRestored(const std::string& root, const std::vector<std::string>& contents) {
        for (std::size_t i = 0; i < 4; ++i) {
            const std::string path = root + source.File(kFiles[i].first);
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
            EXPECT_TRUE(ReadTestFile(path) == contents[i]) << path;
            EXPECT_EQ(st.st_mode & 07777, kFiles[i].second) << path;
            EXPECT_EQ(st.st_mtim.tv_sec, mtimes[i]) << path;
        }
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(root + source.Path()))
            EXPECT_NE(entry.path().filename().string().rfind(".tvrestore-", 0), 0u) << entry.path();
    }

    std::vector<std::string> original;
    std::vector<std::int64_t> mtimes = std::vector<std::int64_t>(4);
};

} // namespace

TEST_F(RestoreRun, EveryArchiveKindRestoresByteForByteBelowAChosenFolderOrInPlace) {
    struct Kind {
        const char* name;
        bool zipped;
        int split;
        bool protect;
    };
    for (const Kind& kind :
         {Kind{"Plain", false, 0, false}, Kind{"Zipped", true, 0, false},
          Kind{"Split", false, 100000, false}, Kind{"Split-Zipped", true, 60000, false},
          Kind{"Safe", true, 100000, true}}) {
        SCOPED_TRACE(kind.name);
        auto job = AddJob(kind.name, kind.zipped, kind.split, {"docs/"});
        job->Protected = kind.protect;
        job->password = "correct horse";
        RunBackup(kind.name);
        const std::string below = chosen.File(kind.name);
        const RestoreResult result = LoadAndRestore(kind.name, {below});
        EXPECT_EQ(result.selected, 4);
        EXPECT_EQ(result.restored, 4);
        ExpectRestored(below, original);
        EXPECT_EQ(host.boxes.back().text, "4/4 files restored to " + below + "!");
        EXPECT_EQ(host.boxes.back().icon, MsgIcon::Information);
        EXPECT_EQ(std::any_of(gRestoreList.begin(), gRestoreList.end(),
                              [](const auto& r) { return r.arcStart != r.arcEnd; }),
                  kind.split > 0)
            << "the split jobs must really span volumes";
        EXPECT_FALSE(gBackupRunning || gRestoreHoldsStaging);
    }
    // In place: longer, shorter and missing targets all come back exactly.
    const std::vector<std::int64_t> before = mtimes;
    Put(0, std::string(100000, 'X'), 1800000000);
    Put(3, "short", 1800000000);
    std::filesystem::remove_all(source.File("docs/sub"));
    mtimes = before;
    EXPECT_TRUE(LoadAndRestore("Safe", RestoreTarget{}).AllRestored());
    ExpectRestored("", original);
    EXPECT_EQ(host.boxes.back().text, "4/4 files restored to !");
}

TEST_F(RestoreRun, IncrementalChainGivesTheNewestVersionOrTheOneOfAnEarlierSession) {
    AddJob("Inc", true, 100000, {"docs/"})->bIncremental = true;
    RunBackup("Inc");
    SetClockOverride(DateTime::FromParts(2026, 12, 5, 11, 0, 0));
    Put(0, "alpha, second edition", 1700000500);
    RunBackup("Inc");
    ASSERT_TRUE(LoadRestoreList("Inc"));
    ASSERT_EQ(gRestoreList.size(), 5u);
    const RestoreSelection newest = SelectNewestVersions(gRestoreList, std::nullopt, {});
    EXPECT_TRUE(RestoreFiles(*gRestoreJob, newest.records, {chosen.File("new")}).AllRestored());
    ExpectRestored(chosen.File("new"), {"alpha, second edition", original[1], "", original[3]});
    const RestoreSelection earlier =
        SelectNewestVersions(gRestoreList, DateTime::FromParts(2026, 12, 5, 10, 30, 0), {});
    EXPECT_TRUE(RestoreFiles(*gRestoreJob, earlier.records, {chosen.File("old")}).AllRestored());
    EXPECT_EQ(ReadTestFile(chosen.File("old") + source.File("docs/a.txt")), "alpha");
    // Both versions of one file chosen: the one chosen last wins, the other is not counted.
    const RestoreResult both = RestoreFiles(*gRestoreJob, gRestoreList, {chosen.File("both")});
    EXPECT_EQ(both.restored, 4);
    EXPECT_EQ(both.selected, 5);
    EXPECT_EQ(ReadTestFile(chosen.File("both") + source.File("docs/a.txt")),
              "alpha, second edition");
}

TEST_F(RestoreRun, LoadRestoreListSaysWhyAnIndexCannotBeHad) {
    std::string why;
    EXPECT_FALSE(LoadRestoreList("Nobody", &why));
    EXPECT_EQ(why, "there is no job named \"Nobody\"");
    AddJob("Never", false, 0, {"docs/"});
    EXPECT_FALSE(LoadRestoreList("Never", &why));
    EXPECT_EQ(why, destination.File("Never.fs") + " cannot be copied: No such file or directory");
    auto safe = AddJob("Safe", false, 0, {"docs/"});
    safe->Protected = true;
    safe->password = "right";
    RunBackup("Safe");
    safe->password = "wrong";
    EXPECT_FALSE(LoadRestoreList("Safe", &why));
    EXPECT_EQ(why, destination.File("Safe.fs") +
                       " cannot be decrypted: the password is wrong or the file is damaged");
    EXPECT_TRUE(gRestoreList.empty());
    EXPECT_FALSE(FileExists(home.File("temp/Safe.fs"))); // nothing stale for a later look
    AddJob("Remote", false, 0, {"docs/"})->destFTP = true;
    host.boxes.clear();
    EXPECT_FALSE(LoadRestoreList("Remote", &why));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Files were not stored locally. Proceed to download!");
    EXPECT_EQ(why, "Can't connect to ftp server!");
}

// A restore and a backup run never share the staging folder.
TEST_F(RestoreRun, RestoresRefuseWhileARunGoesAndHoldStagingWhileTheyWork) {
    auto job = AddJob("Docs", false, 0, {"docs/"});
    job->Protected = true; // decrypting and reading both let the scheduler tick
    job->password = "pw";
    RunBackup("Docs");
    ASSERT_TRUE(LoadRestoreList("Docs"));
    const std::vector<clsRestoreFileData> list = gRestoreList;

    // A running job's staged index and volume stay exactly as they are.
    home.Write("temp/Docs.fs", "being written");
    home.Write("temp/Docs.darc", "being written");
    gBackupRunning = true;
    std::string why;
    EXPECT_FALSE(LoadRestoreList("Docs", &why));
    EXPECT_EQ(why,
              "A backup is running and uses the staging folder: restore when it has finished.");
    EXPECT_TRUE(gRestoreList.empty());
    EXPECT_EQ(RestoreFiles(*job, list, {chosen.Path()}).restored, 0);
    EXPECT_TRUE(BoxSays(why));
    gBackupRunning = false;
    EXPECT_EQ(home.Read("temp/Docs.fs") + home.Read("temp/Docs.darc"),
              "being writtenbeing written");
    EXPECT_TRUE(std::filesystem::is_empty(chosen.Path()));

    int yields = 0, held = 0;
    host.onYield = [&] {
        ++yields;
        held += gRestoreHoldsStaging ? 1 : 0;
    };
    ASSERT_TRUE(LoadRestoreList("Docs"));
    EXPECT_TRUE(RestoreFiles(*job, gRestoreList, {chosen.Path()}).AllRestored());
    EXPECT_GT(yields, 0);
    EXPECT_EQ(held, yields);
    EXPECT_FALSE(gRestoreHoldsStaging);
    {
        RestoreStagingClaim window; // the restore window's claim outlives the restore's
        RestoreFiles(*job, gRestoreList, {chosen.File("again")});
        EXPECT_TRUE(gRestoreHoldsStaging);
    }
    EXPECT_FALSE(gRestoreHoldsStaging);
}

TEST_F(RestoreRun, CancelAndTheQuestionsBeforeARestoreLeaveNothingHalfDone) {
    AddJob("Docs", false, 0, {"docs/"});
    RunBackup("Docs");
    host.onYield = [&] {
        gAbort =
            gAbort || (!host.progress.empty() &&
                       host.progress.back().rfind("update:Restoring from [Docs vol: 0 ]", 0) == 0);
    };
    const RestoreResult cancelled = LoadAndRestore("Docs", {chosen.File("c")});
    host.onYield = nullptr;
    EXPECT_TRUE(cancelled.aborted);
    EXPECT_LT(cancelled.restored, 4);
    EXPECT_TRUE(Logged("Restore of files aborted by user!"));
    EXPECT_FALSE(gBackupRunning);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(chosen.Path()))
        EXPECT_NE(entry.path().filename().string().rfind(".tvrestore-", 0), 0u) << entry.path();

    host.boxes.clear();
    host.answers = {MsgAnswer::No};
    host.folderToPick = chosen.File("picked");
    EXPECT_TRUE(RestoreFiles(gRestoreList).AllRestored());
    ExpectRestored(chosen.File("picked"), original);
    EXPECT_EQ(host.boxes[0].text, "Do you want to restore files to original folder?");
    // No folder picked, and no wish to pick one: nothing happens.
    host.boxes.clear();
    host.answers = {MsgAnswer::No, MsgAnswer::No};
    host.folderToPick.clear();
    const RestoreResult given = RestoreFiles(gRestoreList);
    EXPECT_TRUE(given.aborted);
    EXPECT_EQ(given.restored, 0);
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[2].text, "Restore of files aborted by user!");
    // A host that always says Yes to picking again is not asked forever.
    host.answers.clear();
    EXPECT_TRUE(PickRestoreFolder() == std::nullopt);
    EXPECT_EQ(host.boxes.back().text, "Restore of files aborted by user!");
}

// The volumes here are written by hand from the format, so the reader is
// checked against the format itself and not against our own writer. The job
// name holds a "-" like the volume numbers do.
TEST_F(RestoreRun, HandMadeVolumesAreCutIntoFilesAcrossVolumeBoundaries) {
    const std::string data700 = PseudoRandomBytes(700, 1);
    const std::string data600 = PseudoRandomBytes(600, 2);
    // 700 bytes in two 512-byte blocks; an empty file is its trailer alone.
    const HandEntry a =
        MakeEntry("/data/a.bin", data700, (0100640LL << 16) | 32, "My-Job", 0, "My-Job", 1536);
    const HandEntry e = MakeEntry("/data/empty", "", 1 | 32, "My-Job", 1536, "My-Job", 2048);
    // Starts in My-Job-001, continues at position 0 of My-Job-002.
    const HandEntry s =
        MakeEntry("/data/deep/span.bin", data600, 32, "My-Job-001", 0, "My-Job-002", 1024);
    destination.Write("My-Job.darc", a.blocks + a.trailer + e.trailer);
    destination.Write("My-Job-001.darc", s.blocks.substr(0, 512));
    destination.Write("My-Job-002.darc", s.blocks.substr(512) + s.trailer);
    destination.Write("My-Job.fs", a.line + e.line + s.line);
    AddJob("My-Job", false, 0, {});
    EXPECT_EQ(LoadAndRestore("My-Job", {chosen.Path()}).restored, 3);
    // Permissions from the high half, else from the read-only bit.
    const std::tuple<const char*, std::string, mode_t> files[] = {
        {"data/a.bin", data700, 0640},
        {"data/empty", "", 0444},
        {"data/deep/span.bin", data600, 0644}};
    for (const auto& [file, data, mode] : files) {
        struct stat st {};
        ASSERT_EQ(::stat(chosen.File(file).c_str(), &st), 0) << file;
        EXPECT_TRUE(ReadTestFile(chosen.File(file)) == data) << file;
        EXPECT_EQ(st.st_mode & 07777, mode) << file;
        EXPECT_EQ(st.st_mtim.tv_sec, 1700000000) << file;
    }
}

TEST_F(RestoreRun, DamagedOrEscapingIndexLinesAreRefusedAndTheRestRestored) {
    const HandEntry a =
        MakeEntry("/data/a.bin", PseudoRandomBytes(700, 4), 32, "Daily", 0, "Daily", 1536);
    const HandEntry e = MakeEntry("/data/empty", "", 32, "Daily", 1536, "Daily", 2048);
    destination.Write("Daily.darc", a.blocks + a.trailer + e.trailer);
    const std::string cut = a.line.substr(0, a.line.find("|crc=") + 7) + "\r\n";
    const std::string escape = Replaced(a.line, "/data/a.bin", "/data/../../escape.bin");
    const std::string relative = Replaced(a.line, "/data/a.bin", "data/relative.bin");
    // Plausible numbers, wrong place: the empty file's trailer is found there.
    const std::string shifted =
        Replaced(Replaced(a.line, "sOffs=0", "sOffs=512"), "dEndOffset=1536", "dEndOffset=2048");
    // The last line lost its end, as when a copy of the index was cut short.
    destination.Write("Daily.fs", cut + Replaced(a.line, "|crc=", "|crc=ZZ") + escape + relative +
                                      shifted + e.line + a.line.substr(0, 60));
    AddJob("Daily", false, 0, {});
    const std::string target = chosen.File("R");
    WriteTestFile(target + "/data/a.bin", "precious");

    const RestoreResult result = LoadAndRestore("Daily", {target});
    EXPECT_EQ(result.selected, 4); // three lines were left out of the list
    EXPECT_EQ(result.restored, 1);
    EXPECT_TRUE(FileExists(target + "/data/empty"));
    EXPECT_EQ(ReadTestFile(target + "/data/a.bin"), "precious");
    EXPECT_FALSE(FileExists(chosen.File("escape.bin")) ||
                 FileExists(target + "/data/relative.bin"));
    EXPECT_EQ(host.boxes[0].text, "The index of Daily is damaged: 3 line(s) cannot be used and are "
                                  "left out (line 1: its checksum \"" +
                                      cut.substr(cut.find("|crc=") + 5, 2) +
                                      "\" is not 8 hex digits).");
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(BoxSays("FAIL: Restore of /data/../../escape.bin failed! (index entry refused: "
                        "its name holds a \".\" or \"..\" component)"));
    EXPECT_TRUE(BoxSays("its name is not a full path"));
    EXPECT_TRUE(BoxSays("the volume holds another file where the index places this one"));
    EXPECT_EQ(host.boxes.back().text, "1/4 files restored to " + target + "!");
    EXPECT_EQ(host.boxes.back().icon, MsgIcon::Exclamation);
    EXPECT_NE(home.Read("logs/tidevault.log").find("FAIL: Restore of data/relative.bin failed!"),
              std::string::npos);
}

TEST_F(RestoreRun, MissingVolumesAndUnwritableTargetsCostOnlyTheirFiles) {
    // big.bin alone runs from Split into Split-002 and on.
    AddJob("Split", false, 100000, {"docs/a.txt", "docs/sub/big.bin", "docs/t.txt"});
    RunBackup("Split");
    ASSERT_TRUE(RemoveFile(destination.File("Split-002.darc")));
    EXPECT_EQ(LoadAndRestore("Split", {chosen.File("split")}).restored, 2);
    EXPECT_FALSE(FileExists(chosen.File("split") + source.File("docs/sub/big.bin")));
    EXPECT_TRUE(BoxSays("Can't find archive Split-002.darc!"));
    EXPECT_TRUE(
        Logged("FAIL: Restore of " + source.File("docs/sub/big.bin") + " failed! (Can't find"));

    // The chosen folder lies below a plain file.
    chosen.Write("file", "not a folder");
    EXPECT_EQ(LoadAndRestore("Split", {chosen.File("file/R")}).restored, 0);
    EXPECT_TRUE(BoxSays("Cannot open " + chosen.File("file/R") + " file to restore!"));
    EXPECT_EQ(host.boxes.back().icon, MsgIcon::Critical);
    // A folder stands where a file goes: it stays, the other files come back.
    const std::string a = chosen.File("R") + source.File("docs/a.txt");
    CreateFolderPath(a + "/inside");
    EXPECT_EQ(LoadAndRestore("Split", {chosen.File("R")}).restored, 1);
    EXPECT_TRUE(FolderExists(a + "/inside"));
    EXPECT_TRUE(BoxSays("Cannot open " + a + " file to restore! (Is a directory)"));
}
