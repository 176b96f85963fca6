#include "archive/ArchiveTestSupport.h"
#include "engine/Encryption.h"

#include <fstream>
#include <regex>
#include <sys/resource.h>

using namespace archive_test;

namespace {

clsRestoreFileData Rec(const std::string& fname, int hour) {
    return ParseIndexRecord("dSession=20240301" + Padded(hour, 2) + "0000|fname=" + fname);
}
using Strings = std::vector<std::string>;
Strings Names(const std::vector<clsRestoreFileData>& records) {
    Strings names;
    for (const auto& r : records)
        names.push_back(r.fname + "@" + std::to_string(r.dSession.Hour()));
    return names;
}
std::string PreadAt(const std::string& path, std::int64_t offset, std::size_t length) {
    std::ifstream in(path, std::ios::binary);
    std::string out(length, '\0');
    out.resize(static_cast<std::size_t>(in.seekg(offset).read(out.data(), length).gcount()));
    return out;
}
// The file's bytes, permissions and write time.
void ExpectFile(const std::string& path, const std::string& data, mode_t mode, std::int64_t mtime) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(ReadTestFile(path) == data) << path;
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
    EXPECT_EQ(st.st_mtim.tv_sec, mtime) << path;
}
void ExpectNoTemporaryFile(const std::string& root) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        EXPECT_NE(entry.path().filename().string().rfind(".tvrestore-", 0), 0u) << entry.path();
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
        std::string text;
        for (int i = 0; i < 4000; ++i)
            text += "line " + std::to_string(i) + " of a text that compresses well\n";
        original = {"alpha", PseudoRandomBytes(230000, 7) + std::string(70000, '\0'), "", text};
        for (int i = 0; i < 4; ++i) {
            PutSource(kFiles[i].first, original[i], 1700000000 + i);
            ASSERT_EQ(::chmod(source.File(kFiles[i].first).c_str(), kFiles[i].second), 0);
        }
    }
    // Every source file below `root` as it was, and no temporary file beside it.
    void ExpectRestored(const std::string& root) {
        for (int i = 0; i < 4; ++i)
            ExpectFile(root + source.File(kFiles[i].first), original[i], kFiles[i].second,
                       1700000000 + i);
        ExpectNoTemporaryFile(root + source.Path());
    }
    std::vector<std::string> original;
};

} // namespace

TEST_F(RestoreRun, EveryArchiveKindRestoresByteForByteBelowAChosenFolderOrInPlace) {
    // Compressed and split volumes alone are read in ArchiveContainer and Mutation.
    for (const auto& [name, zipped, split, protect] : {std::tuple{"Plain", false, 0, false},
                                                       {"Split-Zipped", true, 60000, false},
                                                       {"Safe", true, 100000, true}}) {
        SCOPED_TRACE(name);
        auto job = AddJob(name, zipped, split, {"docs/"});
        job->Protected = protect;
        job->password = "correct horse";
        RunBackup(name);
        const std::string below = chosen.File(name);
        const RestoreResult result = LoadAndRestore(name, {below});
        EXPECT_TRUE(result.AllRestored() && result.selected == 4);
        ExpectRestored(below);
        EXPECT_EQ(host.boxes.back().text, "4/4 files restored to " + below + "!");
        EXPECT_EQ(host.boxes.back().icon, MsgIcon::Information);
        EXPECT_EQ(std::any_of(gRestoreList.begin(), gRestoreList.end(),
                              [](const auto& r) { return r.arcStart != r.arcEnd; }),
                  split > 0)
            << "the split jobs must really span volumes";
        EXPECT_FALSE(gBackupRunning || gRestoreHoldsStaging);
    }
    // In place: longer, shorter and missing targets all come back exactly.
    source.Write(kFiles[0].first, std::string(100000, 'X'));
    source.Write(kFiles[3].first, "short");
    std::filesystem::remove_all(source.File("docs/sub"));
    EXPECT_TRUE(LoadAndRestore("Safe", RestoreTarget{}).AllRestored());
    ExpectRestored("");
    EXPECT_EQ(host.boxes.back().text, "4/4 files restored to !");
}
// A restore and a backup run never share the staging folder.
TEST_F(RestoreRun, RestoresSayWhyTheyCannotBeginAndHoldStagingWhileTheyWork) {
    std::string why;
    auto job = AddJob("Docs", false, 0, {"docs/"});
    EXPECT_FALSE(LoadRestoreList("Docs", &why));
    EXPECT_EQ(why, destination.File("Docs.fs") + " does not exist");
    job->Protected = true; // decrypting and reading both let the scheduler tick
    job->password = "right";
    RunBackup("Docs");
    job->password = "wrong";
    EXPECT_FALSE(LoadRestoreList("Docs", &why));
    EXPECT_EQ(why, destination.File("Docs.fs") +
                       " cannot be decrypted: the password is wrong or the file is damaged");
    EXPECT_FALSE(FileExists(home.File("temp/Docs.fs"))); // nothing stale for a later look
    job->password = "right";
    ASSERT_TRUE(LoadRestoreList("Docs"));
    const std::vector<clsRestoreFileData> list = gRestoreList;
    // A running job's staged index and volume stay exactly as they are.
    home.Write("temp/Docs.fs", "being written");
    home.Write("temp/Docs.darc", "being written");
    gBackupRunning = true;
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
    int yields = 0;
    host.onYield = [&] { EXPECT_TRUE(gRestoreHoldsStaging && ++yields > 0); };
    ASSERT_TRUE(LoadRestoreList("Docs"));
    EXPECT_TRUE(RestoreFiles(*job, gRestoreList, {chosen.Path()}).AllRestored());
    EXPECT_GT(yields, 0);
    {
        RestoreStagingClaim window; // the restore window's claim outlives the restore's
        RestoreFiles(*job, gRestoreList, {chosen.File("again")});
        EXPECT_TRUE(gRestoreHoldsStaging);
    }
    EXPECT_FALSE(gRestoreHoldsStaging);
    AddJob("Remote", false, 0, {"docs/"})->destFTP = true;
    host.boxes.clear();
    EXPECT_FALSE(LoadRestoreList("Remote", &why));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Files were not stored locally. Proceed to download!");
    EXPECT_EQ(why, "Can't connect to ftp server!");
}

TEST_F(RestoreRun, CancelAndTheQuestionsBeforeARestoreLeaveNothingHalfDone) {
    AddJob("Docs", false, 0, {"docs/"});
    RunBackup("Docs");
    host.onYield = [&] { gAbort = gAbort || host.progress.size() > 1; }; // after the first blocks
    const RestoreResult cancelled = LoadAndRestore("Docs", {chosen.File("c")});
    host.onYield = nullptr;
    EXPECT_TRUE(cancelled.aborted && cancelled.restored < 4);
    EXPECT_TRUE(host.Logged("Restore of files aborted by user!") && !gBackupRunning);
    ExpectNoTemporaryFile(chosen.Path());
    host.boxes.clear();
    host.answers = {MsgAnswer::No};
    host.folderToPick = chosen.File("picked");
    EXPECT_TRUE(RestoreFiles(gRestoreList).AllRestored());
    ExpectRestored(chosen.File("picked"));
    EXPECT_EQ(host.boxes[0].text, "Do you want to restore files to original folder?");
    // No folder picked, and no wish to pick one: nothing happens.
    host.boxes.clear();
    host.answers = {MsgAnswer::No, MsgAnswer::No};
    host.folderToPick.clear();
    const RestoreResult given = RestoreFiles(gRestoreList);
    EXPECT_TRUE(given.aborted && given.restored == 0);
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
    // Another version of a.bin listed first: the one chosen last is kept.
    const HandEntry old = MakeEntry("/data/a.bin", "old", 32, "My-Job", 2048, "My-Job", 3072);
    destination.Write("My-Job.darc", a.blocks + a.trailer + e.trailer + old.blocks + old.trailer);
    destination.Write("My-Job-001.darc", s.blocks.substr(0, 512));
    destination.Write("My-Job-002.darc", s.blocks.substr(512) + s.trailer);
    destination.Write("My-Job.fs", old.line + a.line + e.line + s.line);
    AddJob("My-Job", false, 0, {});
    const RestoreResult result = LoadAndRestore("My-Job", {chosen.Path()});
    EXPECT_EQ(result.selected * 10 + result.restored, 43); // the earlier one is not counted
    EXPECT_TRUE(host.Logged("FAIL: Restore of /data/a.bin failed! (the version of session "
                            "20240301221500 is left out: a later one was chosen as well)"));
    // Permissions from the high half, else from the read-only bit.
    ExpectFile(chosen.File("data/a.bin"), data700, 0640, 1700000000);
    ExpectFile(chosen.File("data/empty"), "", 0444, 1700000000);
    ExpectFile(chosen.File("data/deep/span.bin"), data600, 0644, 1700000000);
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
    EXPECT_EQ(result.selected * 10 + result.restored, 41); // three lines were left out
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
    EXPECT_TRUE(host.Logged("FAIL: Restore of " + source.File("docs/sub/big.bin") +
                            " failed! (Can't find"));
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
// 4 GiB and a little more, mostly a hole: source, volume and restored file
// stay sparse, so it takes no room where the file system keeps holes.
TEST_F(RestoreRun, AFileBeyondFourGigabytesIsStoredAndRestoredWithBoundedMemory) {
    const std::int64_t size = 4294968296LL; // 2^32 + 1000
    const std::string head = PseudoRandomBytes(5000, 11), tail = PseudoRandomBytes(1000, 12);
    const std::string big = source.File("big.img");
    source.Write("big.img", head);
    ASSERT_EQ(::truncate(big.c_str(), size - 1000), 0);
    struct stat st {};
    if (::stat(big.c_str(), &st) != 0 || st.st_blocks > 8192)
        GTEST_SKIP() << "this file system keeps no holes: the test would need 14 GiB";
    std::ofstream(big, std::ios::app | std::ios::binary) << tail;
    source.Write("after.txt", "after");
    AddJob("Big", false, 0, {"big.img", "after.txt"});
    RunBackup("Big");
    // 149797 blocks of 28672 bytes, then the trailer block. Head and tail fall
    // on the checksum bytes in order: 2^32 is a multiple of 4.
    const std::int64_t trailerAt = 149797LL * 28672;
    const std::string crc = HexString(XorBlockChecksum(tail, NaiveChecksum(head)));
    const std::vector<clsRestoreFileData> index = DestinationIndex("Big");
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].size, size);
    EXPECT_EQ(index[0].recsize, 28672);
    EXPECT_EQ(index[1].soffs, trailerAt + 28672);
    EXPECT_EQ(PreadAt(destination.File("Big.darc"), trailerAt, big.size() + 62),
              big + "004294968296" + crc + "00000000000000" + "00004295008256" + "20261205100000");
    struct rusage peak[2] = {};
    ::getrusage(RUSAGE_SELF, &peak[0]);
    EXPECT_TRUE(LoadAndRestore("Big", {chosen.Path()}).AllRestored());
    ::getrusage(RUSAGE_SELF, &peak[1]);
    EXPECT_LT(peak[1].ru_maxrss - peak[0].ru_maxrss, 64 * 1024) << "kilobytes added by the restore";
    const std::string restored = chosen.Path() + big;
    EXPECT_EQ(FileSize(restored), size);
    EXPECT_TRUE(PreadAt(restored, 0, head.size()) == head);
    EXPECT_EQ(PreadAt(restored, 3000000000LL, 4096), std::string(4096, '\0'));
    EXPECT_TRUE(PreadAt(restored, size - 1000, 2000) == tail);
}

// Each link keeps its own write time; the regular files are kFiles.
const std::pair<const char*, const char*> kLinks[] = {{"docs/to-file", "a.txt"},
                                                      {"docs/to-folder", "sub"},
                                                      {"docs/sub/up", ".."},
                                                      {"docs/dangling", "/nowhere/at all"}};
constexpr std::int64_t kLinkWord = 0120777LL << 16;

void PutLink(const std::string& path, const std::string& text) {
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink(text.c_str(), path.c_str()), 0) << path;
    const struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}
void ExpectLink(const std::string& path, const std::string& text) {
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << path;
    EXPECT_EQ(std::filesystem::read_symlink(path).string(), text);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000) << path;
}

TEST_F(RestoreRun, LinksComeBackAsLinksFromPlainCopiesAndEveryArchiveKind) {
    for (const auto& [name, text] : kLinks)
        PutLink(source.File(name), text);
    for (const auto& [name, archived, zipped, protect] : {std::tuple{"Copy", false, false, false},
                                                          {"Plain", true, false, false},
                                                          {"Zipped", true, true, false},
                                                          {"Safe", true, true, true}}) {
        SCOPED_TRACE(name);
        auto job = AddJob(name, zipped, 0, {"docs/"});
        job->archived = archived;
        job->Protected = protect;
        job->password = "pw";
        RunBackup(name);
        EXPECT_EQ(job->enumStatus, kStatusFinished);
        std::string root = destination.Path(); // a plain copy mirrors the source tree
        if (archived) {
            root = chosen.File(name);
            EXPECT_EQ(LoadAndRestore(name, {root}).restored, 8);
        }
        ExpectRestored(root);
        for (const auto& [link, text] : kLinks)
            ExpectLink(root + source.File(link), text);
    }
    // Encrypted, a link can only travel as a small file of its target text.
    auto safe = AddJob("SafeCopy", false, 0, {"docs/"});
    safe->archived = false;
    safe->Protected = true;
    safe->password = "pw";
    safe->sDestinationDir = chosen.File("safe");
    RunBackup("SafeCopy");
    const std::string sealed = chosen.File("safe") + source.File("docs/to-folder");
    EXPECT_TRUE(DecryptFile(sealed, "pw") && ReadTestFile(sealed) == "sub");
    // Links already at the target are replaced, folder links included.
    EXPECT_EQ(LoadAndRestore("Zipped", {chosen.File("Plain")}).restored, 8);
    ExpectLink(chosen.File("Plain") + source.File("docs/to-folder"), "sub");
    // A reader that ignores the high half restores a small file of the target text.
    const std::string index = destination.Read("Plain.fs");
    destination.Write(
        "Plain.fs",
        std::regex_replace(index, std::regex("Attrib=" + std::to_string(kLinkWord)), "Attrib=0"));
    EXPECT_EQ(LoadAndRestore("Plain", {chosen.File("old")}).restored, 8);
    EXPECT_EQ(ReadTestFile(chosen.File("old") + source.File("docs/dangling")), "/nowhere/at all");
}

// A link's time says nothing when it was copied with its time kept.
TEST_F(RestoreRun, AnIncrementalRunStoresALinkWhoseTargetTextChanged) {
    PutLink(source.File("docs/to-file"), "a.txt");
    AddJob("Inc", false, 0, {"docs/"})->bIncremental = true;
    RunBackup("Inc");
    PutLink(source.File("docs/to-file"), "t.txt");
    SetClockOverride(At(11, 0));
    RunBackup("Inc");
    const std::vector<clsRestoreFileData> index = DestinationIndex("Inc");
    ASSERT_EQ(index.size(), 6u);
    EXPECT_EQ(index[5].fname + " " + std::to_string(index[5].size),
              source.File("docs/to-file") + " 5");
}

// A hostile index: a link to a folder outside the target, then a file behind
// it, and a link behind a link that replaced one the user had.
TEST_F(RestoreRun, LinksFromAHostileArchiveLeadNothingOutsideTheTarget) {
    const std::string outside = home.File("outside"), target = chosen.File("R");
    ASSERT_TRUE(CreateFolderPath(outside) && CreateFolderPath(target + "/mine") &&
                CreateFolderPath(target + "/data/b"));
    ASSERT_EQ(::symlink((target + "/mine").c_str(), (target + "/data/b/l1").c_str()), 0);
    const struct {
        std::string fname, data;
        std::int64_t attrib;
    } records[] = {{"/data/a/link", outside, kLinkWord},
                   {"/data/a/link/passwd", "owned", 32},
                   {"/data/b/l1", outside, kLinkWord},
                   {"/data/b/l1/l2", "x", kLinkWord},
                   {"/data/zero", std::string("a\0b", 3), kLinkWord}};
    std::string volume, index;
    for (const auto& r : records) {
        const auto at = static_cast<std::int64_t>(volume.size());
        const HandEntry e = MakeEntry(r.fname, r.data, r.attrib, "Evil", at, "Evil", at + 1024);
        volume += e.blocks + e.trailer;
        index += e.line;
    }
    destination.Write("Evil.darc", volume);
    destination.Write("Evil.fs", index);
    AddJob("Evil", false, 0, {});
    EXPECT_EQ(LoadAndRestore("Evil", {target}).restored, 2);
    EXPECT_TRUE(std::filesystem::is_empty(outside) && std::filesystem::is_empty(target + "/mine"));
    EXPECT_EQ(ReadTestFile(target + "/data/a/link/passwd"), "owned");
    EXPECT_EQ(std::filesystem::read_symlink(target + "/data/b/l1"), outside);
    EXPECT_TRUE(
        BoxSays("Cannot open " + target + "/data/a/link file to restore! (Is a directory)"));
    EXPECT_TRUE(BoxSays("FAIL: Restore of /data/b/l1/l2 failed! (its folder lies behind the link " +
                        target + "/data/b/l1 that this restore made)"));
    EXPECT_TRUE(BoxSays("FAIL: Restore of /data/zero failed! (its link target is empty, too long "
                        "or holds a zero byte)"));
}

TEST(RestoreSelection, NewestVersionAtOrBeforeASessionNarrowedByPathsKeptBelowTheTarget) {
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
    // Targets stay below the chosen folder or are refused.
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
