#include "engine/RestoreRun.h"
#include "engine/BackupRun.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include "archive/ArchiveTestSupport.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace archive_test;

namespace {

DateTime At(int h, int mi) {
    return *DateTime::FromParts(2026, 12, 5, h, mi, 0);
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    return text.replace(text.find(what), what.size(), with);
}

// A read-only file, an executable, an empty one, text and incompressible data
// that ends in zeros (not written, but they must still count).
struct SourceFile {
    const char* name;
    mode_t mode;
};
const SourceFile kFiles[] = {{"docs/a.txt", 0640},
                             {"docs/sub/big.bin", 0755},
                             {"docs/empty.dat", 0444},
                             {"docs/text.txt", 0600}};

bool AnyPartFileBelow(const std::string& root) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->path().filename().string().rfind(".tvrestore-", 0) == 0)
            return true;
    return false;
}

class RestoreRun : public RestoreFixture {
protected:
    void SetUp() override {
        RestoreFixture::SetUp();
        SetClockOverride(At(10, 0));
        std::string text;
        for (int i = 0; i < 4000; ++i)
            text += "line " + std::to_string(i) + " of a text that compresses well\n";
        original = {"alpha", PseudoRandomBytes(230000, 7) + std::string(70000, '\0'), "", text};
        for (std::size_t i = 0; i < 4; ++i)
            Put(i, original[i], 1700000000 + static_cast<std::int64_t>(i));
    }

    void Put(std::size_t i, const std::string& content, std::int64_t mtime) {
        const std::string path = source.File(kFiles[i].name);
        ::chmod(path.c_str(), 0600);
        source.Write(kFiles[i].name, content);
        ASSERT_EQ(::chmod(path.c_str(), kFiles[i].mode), 0);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        mtimes[i] = mtime;
    }

    // Every source file below `root` with its bytes, permissions and write time.
    void ExpectRestored(const std::string& root, const std::vector<std::string>& contents,
                        const std::vector<std::int64_t>& writeTimes) {
        for (std::size_t i = 0; i < 4; ++i) {
            SCOPED_TRACE(kFiles[i].name);
            const std::string path = root + source.File(kFiles[i].name);
            EXPECT_TRUE(ReadTestFile(path) == contents[i]);
            struct stat st {};
            ASSERT_EQ(::stat(path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, kFiles[i].mode);
            EXPECT_EQ(st.st_mtim.tv_sec, writeTimes[i]);
        }
        EXPECT_FALSE(AnyPartFileBelow(root.empty() ? source.Path() : root));
    }

    std::vector<std::string> original;
    std::vector<std::int64_t> mtimes = std::vector<std::int64_t>(4);
};

} // namespace

TEST_F(RestoreRun, EveryArchiveKindRestoresByteForByteBelowAChosenFolder) {
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
        ASSERT_EQ(job->enumStatus, kStatusFinished);
        const std::string below = chosen.File(kind.name);
        const RestoreResult result = LoadAndRestore(kind.name, RestoreTarget{below});
        EXPECT_EQ(result.selected, 4);
        EXPECT_EQ(result.restored, 4);
        ExpectRestored(below, original, mtimes);
        EXPECT_EQ(host.boxes.back().text, "4/4 files restored to " + below + "!");
        EXPECT_EQ(host.boxes.back().icon, MsgIcon::Information);
        const bool spans = std::any_of(gRestoreList.begin(), gRestoreList.end(),
                                       [](const auto& r) { return r.arcStart != r.arcEnd; });
        EXPECT_EQ(spans, kind.split > 0) << "the split jobs must really span volumes";
        EXPECT_FALSE(gBackupRunning);
        EXPECT_FALSE(gRestoreHoldsStaging);
    }
}

TEST_F(RestoreRun, OriginalFoldersGetTheirFilesBackReplacingWhatChanged) {
    AddJob("Docs", false, 0, {"docs/"});
    RunBackup("Docs");
    const std::vector<std::int64_t> before = mtimes;
    // Longer, shorter and missing targets must all come back exactly.
    Put(0, std::string(100000, 'X'), 1800000000);
    Put(3, "short", 1800000000);
    ASSERT_TRUE(RemoveFile(source.File("docs/sub/big.bin")));
    ASSERT_EQ(::rmdir(source.File("docs/sub").c_str()), 0);
    EXPECT_TRUE(LoadAndRestore("Docs", RestoreTarget{}).AllRestored());
    ExpectRestored("", original, before);
    EXPECT_EQ(host.boxes.back().text, "4/4 files restored to !");
}

TEST_F(RestoreRun, IncrementalChainGivesTheNewestVersionOrTheOneOfAnEarlierSession) {
    AddJob("Inc", true, 100000, {"docs/"})->bIncremental = true;
    RunBackup("Inc");
    const std::string first = original[0];
    SetClockOverride(At(11, 0));
    Put(0, "alpha, second edition", 1700000500);
    RunBackup("Inc");
    ASSERT_TRUE(LoadRestoreList("Inc"));
    ASSERT_EQ(gRestoreList.size(), 5u);

    const RestoreSelection newest = SelectNewestVersions(gRestoreList, std::nullopt, {});
    ASSERT_EQ(newest.records.size(), 4u);
    EXPECT_TRUE(RestoreFiles(*gRestoreJob, newest.records, {chosen.File("new")}).AllRestored());
    std::vector<std::string> expected = original;
    expected[0] = "alpha, second edition";
    ExpectRestored(chosen.File("new"), expected, mtimes);

    const RestoreSelection earlier = SelectNewestVersions(gRestoreList, At(10, 30), {});
    EXPECT_TRUE(RestoreFiles(*gRestoreJob, earlier.records, {chosen.File("old")}).AllRestored());
    EXPECT_EQ(ReadTestFile(chosen.File("old") + source.File("docs/a.txt")), first);

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
    EXPECT_NE(why.find("the password is wrong"), std::string::npos) << why;
    EXPECT_TRUE(gRestoreList.empty());
    EXPECT_FALSE(FileExists(home.File("temp/Safe.fs"))); // nothing stale for a later look

    AddJob("Remote", false, 0, {"docs/"})->destFTP = true;
    host.boxes.clear();
    EXPECT_FALSE(LoadRestoreList("Remote", &why));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Files were not stored locally. Proceed to download!");
    EXPECT_TRUE(Logged("Can't connect to ftp server!"));
}

// A restore and a backup run never share the staging folder.
TEST_F(RestoreRun, RestoresRefuseWhileARunGoesAndHoldStagingWhileTheyWork) {
    auto safe = AddJob("Docs", false, 0, {"docs/"});
    safe->Protected = true;
    safe->password = "pw";
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
    EXPECT_EQ(RestoreFiles(*safe, list, {chosen.Path()}).restored, 0);
    EXPECT_TRUE(BoxSays(why));
    EXPECT_FALSE(gRestoreHoldsStaging);
    gBackupRunning = false;
    EXPECT_EQ(home.Read("temp/Docs.fs"), "being written");
    EXPECT_EQ(home.Read("temp/Docs.darc"), "being written");
    EXPECT_TRUE(std::filesystem::is_empty(chosen.Path()));

    // Both hold the staging folder while they fetch and decrypt, and let go.
    int yieldsHeld = 0;
    int yields = 0;
    host.onYield = [&] {
        ++yields;
        yieldsHeld += gRestoreHoldsStaging ? 1 : 0;
    };
    ASSERT_TRUE(LoadRestoreList("Docs"));
    EXPECT_TRUE(RestoreFiles(*safe, gRestoreList, {chosen.Path()}).AllRestored());
    host.onYield = nullptr;
    EXPECT_GT(yields, 0);
    EXPECT_EQ(yieldsHeld, yields);
    EXPECT_FALSE(gRestoreHoldsStaging);
    {
        // The restore window's own claim outlives the restore's.
        RestoreStagingClaim window;
        RestoreFiles(*safe, gRestoreList, {chosen.File("again")});
        EXPECT_TRUE(gRestoreHoldsStaging);
    }
    EXPECT_FALSE(gRestoreHoldsStaging);
}

TEST_F(RestoreRun, CancelStopsTheRestoreWithoutAHalfWrittenFile) {
    AddJob("Docs", false, 0, {"docs/"});
    RunBackup("Docs");
    host.onYield = [&] {
        gAbort = gAbort || std::any_of(host.progress.begin(), host.progress.end(), [](auto& p) {
                     return p.find("update:Restoring from [Docs vol: 0 ]") == 0;
                 });
    };
    const RestoreResult result = LoadAndRestore("Docs", RestoreTarget{chosen.Path()});
    EXPECT_TRUE(result.aborted);
    EXPECT_LT(result.restored, 4);
    EXPECT_FALSE(AnyPartFileBelow(chosen.Path()));
    EXPECT_TRUE(Logged("Restore of files aborted by user!"));
    EXPECT_FALSE(gBackupRunning);
}

TEST_F(RestoreRun, TheQuestionsChooseTheTargetAndGivingUpRestoresNothing) {
    AddJob("Docs", false, 0, {"docs/"});
    RunBackup("Docs");
    ASSERT_TRUE(LoadRestoreList("Docs"));
    host.answers = {MsgAnswer::No};
    host.folderToPick = chosen.Path();
    EXPECT_TRUE(RestoreFiles(gRestoreList).AllRestored());
    ExpectRestored(chosen.Path(), original, mtimes);
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
    host.boxes.clear();
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
    EXPECT_TRUE(ReadTestFile(chosen.File("data/a.bin")) == data700);
    EXPECT_EQ(ReadTestFile(chosen.File("data/empty")), "");
    EXPECT_TRUE(ReadTestFile(chosen.File("data/deep/span.bin")) == data600);
    const std::pair<const char*, mode_t> modes[] = {
        {"data/a.bin", 0640},          // the high half's permission bits
        {"data/empty", 0444},          // none recorded: the read-only bit decides
        {"data/deep/span.bin", 0644}}; // neither
    for (const auto& [file, mode] : modes) {
        struct stat st {};
        ASSERT_EQ(::stat(chosen.File(file).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << file;
        EXPECT_EQ(st.st_mtim.tv_sec, 1700000000) << file;
    }
}

TEST_F(RestoreRun, DamagedOrEscapingIndexLinesAreRefusedAndTheRestRestored) {
    const std::string data = PseudoRandomBytes(700, 4);
    const HandEntry a = MakeEntry("/data/a.bin", data, 32, "Daily", 0, "Daily", 1536);
    const HandEntry e = MakeEntry("/data/empty", "", 32, "Daily", 1536, "Daily", 2048);
    destination.Write("Daily.darc", a.blocks + a.trailer + e.trailer);
    const std::string cut = a.line.substr(0, a.line.find("|crc=") + 7) + "\r\n";
    const std::string garbled = Replaced(a.line, "|crc=", "|crc=ZZ");
    const std::string escape = Replaced(a.line, "/data/a.bin", "/data/../../escape.bin");
    const std::string relative = Replaced(a.line, "/data/a.bin", "data/relative.bin");
    // Plausible numbers, wrong place: the empty file's trailer is found there.
    const std::string shifted =
        Replaced(Replaced(a.line, "sOffs=0", "sOffs=512"), "dEndOffset=1536", "dEndOffset=2048");
    // The last line lost its end, as when a copy of the index was cut short.
    destination.Write("Daily.fs",
                      cut + garbled + escape + relative + shifted + e.line + a.line.substr(0, 60));
    AddJob("Daily", false, 0, {});
    const std::string target = chosen.File("R");
    WriteTestFile(target + "/data/a.bin", "precious");

    const RestoreResult result = LoadAndRestore("Daily", {target});
    EXPECT_EQ(result.selected, 4); // three lines were left out of the list
    EXPECT_EQ(result.restored, 1);
    EXPECT_TRUE(FileExists(target + "/data/empty"));
    EXPECT_EQ(ReadTestFile(target + "/data/a.bin"), "precious");
    EXPECT_FALSE(FileExists(chosen.File("escape.bin")));
    EXPECT_FALSE(FileExists(target + "/data/relative.bin"));
    const std::string twoDigits = a.line.substr(a.line.find("|crc=") + 5, 2);
    EXPECT_EQ(host.boxes[0].text, "The index of Daily is damaged: 3 line(s) cannot be used and are "
                                  "left out (line 1: its checksum \"" +
                                      twoDigits + "\" is not 8 hex digits).");
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

TEST_F(RestoreRun, MissingTruncatedOrAlteredVolumesCostOnlyTheirFiles) {
    // big.bin alone runs from Split into Split-002 and later volumes.
    AddJob("Split", false, 100000, {"docs/a.txt", "docs/sub/big.bin", "docs/text.txt"});
    RunBackup("Split");
    ASSERT_TRUE(LoadRestoreList("Split"));
    int untouched = 0;
    for (const clsRestoreFileData& rec : gRestoreList) {
        const std::vector<std::string> chain = VolumeChain(rec);
        untouched += std::count(chain.begin(), chain.end(), "Split-002") == 0;
    }
    ASSERT_EQ(untouched, 2);
    ASSERT_TRUE(RemoveFile(destination.File("Split-002.darc")));
    RestoreResult result = LoadAndRestore("Split", {chosen.File("split")});
    EXPECT_EQ(result.restored, 2);
    EXPECT_FALSE(FileExists(chosen.File("split") + source.File("docs/sub/big.bin")));
    EXPECT_TRUE(BoxSays("Can't find archive Split-002.darc!"));

    for (const bool zipped : {false, true}) {
        SCOPED_TRACE(zipped ? "compressed" : "plain");
        const std::string name = zipped ? "FlatZip" : "Flat";
        AddJob(name, zipped, 0, {"docs/a.txt", "docs/sub/big.bin", "docs/text.txt"});
        RunBackup(name);
        const std::string big = chosen.File(name) + source.File("docs/sub/big.bin");
        WriteTestFile(big, "precious");
        const std::string volume = destination.File(name + ".darc");
        std::string bytes = ReadTestFile(volume);
        if (zipped) {
            WriteTestFile(volume, bytes.substr(0, bytes.size() / 2));
        } else { // one flipped bit inside big.bin's data: caught by the checksum
            bytes[200000] = static_cast<char>(bytes[200000] ^ 0x10);
            WriteTestFile(volume, bytes);
        }
        result = LoadAndRestore(name, {chosen.File(name)});
        EXPECT_EQ(result.restored, zipped ? 1 : 2); // a.txt lies before the cut
        EXPECT_EQ(ReadTestFile(chosen.File(name) + source.File("docs/a.txt")), "alpha");
        EXPECT_EQ(ReadTestFile(big), "precious");
        EXPECT_TRUE(BoxSays(zipped ? "short read"
                                   : "big.bin failed! (checksum mismatch: the volume gives "));
    }
}

TEST_F(RestoreRun, TargetsThatCannotBeWrittenAreReportedAndLoseNothing) {
    AddJob("Docs", false, 0, {"docs/"});
    RunBackup("Docs");
    // The chosen folder lies below a plain file.
    chosen.Write("file", "not a folder");
    EXPECT_EQ(LoadAndRestore("Docs", {chosen.File("file/R")}).restored, 0);
    EXPECT_TRUE(BoxSays("Cannot open " + chosen.File("file/R") + " file to restore!"));
    EXPECT_EQ(host.boxes.back().icon, MsgIcon::Critical);

    // A folder stands where a file goes: it stays, the other files come back.
    const std::string big = chosen.File("R") + source.File("docs/sub/big.bin");
    CreateFolderPath(big + "/inside");
    EXPECT_EQ(LoadAndRestore("Docs", {chosen.File("R")}).restored, 3);
    EXPECT_TRUE(FolderExists(big + "/inside"));
    EXPECT_TRUE(BoxSays("Cannot open " + big));

    // A read-only file system: the file already there stays as it was.
    TempHome ro;
    if (::mount("tmpfs", ro.Path().c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a file system here";
    const std::string a = ro.Path() + source.File("docs/a.txt");
    WriteTestFile(a, "precious");
    const bool remounted =
        ::mount("tmpfs", ro.Path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (remounted) {
        EXPECT_EQ(LoadAndRestore("Docs", {ro.Path()}).restored, 0);
        EXPECT_EQ(ReadTestFile(a), "precious");
        EXPECT_TRUE(BoxSays("Read-only file system"));
    }
    ::umount(ro.Path().c_str());
    if (!remounted)
        GTEST_SKIP() << "cannot make a file system read-only here";
}
