#include "engine/RestoreEngine.h"
#include "core/Globals.h"
#include "engine/BackupRun.h"
#include "i18n/Catalogue.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/ProgramFolderSetup.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archive_test;

namespace {

std::string Padded(std::int64_t value, std::size_t width) {
    std::string digits = std::to_string(value);
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

// Write time 1700000000 (2023-11-14 22:13:20 UTC) as the index writes it:
// 100 ns ticks since 1601 in two signed 32-bit halves.
std::string TimePair(std::int64_t unixSeconds) {
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(unixSeconds) * 10000000ULL + 116444736000000000ULL;
    return std::to_string(static_cast<std::int32_t>(ticks >> 32)) + "/" +
           std::to_string(static_cast<std::int32_t>(ticks & 0xFFFFFFFFu));
}

// One stored file laid out by hand: its blocks filled up with 0x00 and the
// trailer block, and the index line that finds it.
struct HandEntry {
    std::string blocks;
    std::string trailer;
    std::string line;
};

HandEntry MakeEntry(const std::string& fname, const std::string& data, std::int64_t attrib,
                    const std::string& arcStart, std::int64_t start, const std::string& arcEnd,
                    std::int64_t end) {
    const std::size_t rec = 512;
    HandEntry e;
    e.blocks = data;
    e.blocks.resize((data.size() + rec - 1) / rec * rec, '\0');
    const std::string crc = Hex(NaiveChecksum(e.blocks));
    e.trailer = fname + Padded(static_cast<std::int64_t>(data.size()), 12) + crc +
                Padded(start, 14) + Padded(end, 14) + "20240301221500" + Padded(attrib, 13);
    e.trailer.resize(rec, '\0');
    e.line = "dSession=20240301221500|RecSize=512|arcStart=" + arcStart +
             "|sOffs=" + std::to_string(start) + "|arcEnd=" + arcEnd +
             "|dEndOffset=" + std::to_string(end) + "|fname=" + fname +
             "|size=" + std::to_string(data.size()) + "|crc=" + crc +
             "|Attrib=" + std::to_string(attrib) + "|dCT=0/0|dLAt=" + TimePair(1700000000) +
             "|dLWt=" + TimePair(1700000000) + "\r\n";
    return e;
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    const std::size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

bool BoxSays(const TestHost& host, const std::string& text) {
    return std::any_of(host.boxes.begin(), host.boxes.end(), [&](const TestHost::Box& b) {
        return b.text.find(text) != std::string::npos;
    });
}

class RestoreDamage : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareProgramFolder(home);
        SetClockOverride(DateTime::FromParts(2026, 12, 5, 10, 0, 0));
        source.Write("a.txt", "alpha");
        source.Write("big.bin", PseudoRandomBytes(300000, 3));
        source.Write("z.txt", "last one");
    }
    void TearDown() override {
        gBackups.clear();
        gRestoreJob.reset();
        gRestoreList.clear();
        SetClockOverride(std::nullopt);
        SetProgramFolder("");
    }

    std::shared_ptr<clsBackup> AddJob(const std::string& name, bool zipped, int split) {
        auto job = std::make_shared<clsBackup>();
        job->sName = name;
        job->sDestinationDir = destination.Path();
        job->archived = true;
        job->bZipped = zipped;
        job->splitSize = split;
        for (const char* f : {"a.txt", "big.bin", "z.txt"})
            job->AddFile({.sPath = source.File(f), .bForD = 0});
        gBackups.push_back(job);
        return job;
    }

    RestoreResult Restore(const std::string& name, const std::string& below) {
        host.boxes.clear();
        EXPECT_TRUE(LoadRestoreList(name));
        return gRestoreJob ? RestoreFiles(*gRestoreJob, gRestoreList, RestoreTarget{below})
                           : RestoreResult{};
    }

    std::string Below(const std::string& root, const std::string& file) {
        return root + source.File(file);
    }

    TempHome home;
    TempHome source;
    TempHome destination;
    TempHome chosen;
    TestHost host;
};

} // namespace

// The volumes here are written by hand from the format, so the reader is
// checked against the format itself and not against our own writer. The job
// name holds a "-" like the volume numbers do.
TEST_F(RestoreDamage, HandMadeVolumesAreCutIntoFilesAcrossVolumeBoundaries) {
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
    AddJob("My-Job", false, 0);

    const RestoreResult result = Restore("My-Job", chosen.Path());
    EXPECT_EQ(result.restored, 3);
    EXPECT_TRUE(ReadBytes(chosen.File("data/a.bin")) == data700);
    EXPECT_EQ(ReadBytes(chosen.File("data/empty")), "");
    EXPECT_TRUE(ReadBytes(chosen.File("data/deep/span.bin")) == data600);
    struct stat st {};
    ASSERT_EQ(::stat(chosen.File("data/a.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u); // the high half's permission bits
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    ASSERT_EQ(::stat(chosen.File("data/empty").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u); // no mode recorded: the read-only bit decides
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
    ASSERT_EQ(::stat(chosen.File("data/deep/span.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(RestoreDamage, DamagedOrEscapingIndexLinesAreRefusedAndTheRestRestored) {
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
    AddJob("Daily", false, 0);
    const std::string target = chosen.File("R");
    WriteTestFile(target + "/data/a.bin", "precious");

    const RestoreResult result = Restore("Daily", target);
    EXPECT_EQ(result.selected, 6);
    EXPECT_EQ(result.restored, 1);
    EXPECT_TRUE(FileExists(target + "/data/empty"));
    EXPECT_EQ(ReadBytes(target + "/data/a.bin"), "precious");
    EXPECT_FALSE(FileExists(chosen.File("escape.bin")));
    EXPECT_FALSE(FileExists(target + "/data/relative.bin"));
    EXPECT_TRUE(BoxSays(host, "Error retrieving backup data! (the index of Daily ends inside a "
                              "line: the file it describes is left out)"));
    EXPECT_TRUE(BoxSays(host, "is not 8 hex digits"));
    EXPECT_TRUE(BoxSays(host, "/data/../../escape.bin failed! (index entry refused: its name "
                              "holds a \".\" or \"..\" component)"));
    EXPECT_TRUE(BoxSays(host, "its name is not a full path"));
    EXPECT_TRUE(BoxSays(host, "the volume holds another file where the index places this one"));
    EXPECT_EQ(host.boxes.back().text, "1/6 files restored to " + target + "!");
    EXPECT_EQ(host.boxes.back().icon, MsgIcon::Exclamation);
    EXPECT_NE(home.Read("logs/tidevault.log").find("FAIL: Restore of data/relative.bin failed!"),
              std::string::npos);
}

TEST_F(RestoreDamage, MissingTruncatedOrAlteredVolumesCostOnlyTheirFiles) {
    // Split: big.bin runs from Split into Split-001 and later volumes.
    AddJob("Split", false, 100000);
    RunBackup("Split");
    ASSERT_TRUE(LoadRestoreList("Split"));
    int untouched = 0;
    for (const clsRestoreFileData& rec : gRestoreList) {
        const std::vector<std::string> chain = VolumeChain(rec);
        untouched += std::count(chain.begin(), chain.end(), "Split-002") == 0;
    }
    ASSERT_EQ(untouched, 2) << "big.bin alone should run through Split-002";
    ASSERT_TRUE(RemoveFile(destination.File("Split-002.darc")));
    RestoreResult result = Restore("Split", chosen.File("split"));
    EXPECT_EQ(result.restored, 2);
    EXPECT_TRUE(FileExists(Below(chosen.File("split"), "a.txt")));
    EXPECT_FALSE(FileExists(Below(chosen.File("split"), "big.bin")));
    EXPECT_TRUE(BoxSays(host, "Can't find archive Split-002.darc!"));

    for (const bool zipped : {false, true}) {
        SCOPED_TRACE(zipped ? "compressed" : "plain");
        const std::string name = zipped ? "FlatZip" : "Flat";
        AddJob(name, zipped, 0);
        RunBackup(name);
        const std::string below = chosen.File(name);
        WriteTestFile(Below(below, "big.bin"), "precious");
        const std::string volume = destination.File(name + ".darc");
        const std::string whole = ReadBytes(volume);
        WriteTestFile(volume, whole.substr(0, whole.size() / 2));
        result = Restore(name, below);
        EXPECT_EQ(result.restored, 1); // a.txt lies before the cut
        EXPECT_EQ(ReadBytes(Below(below, "a.txt")), "alpha");
        EXPECT_EQ(ReadBytes(Below(below, "big.bin")), "precious");
        EXPECT_TRUE(BoxSays(host, "short read"));
    }

    // One flipped bit inside big.bin's data: caught by the checksum.
    RunBackup("Flat");
    std::string volume = ReadBytes(destination.File("Flat.darc"));
    volume[200000] = static_cast<char>(volume[200000] ^ 0x10);
    WriteTestFile(destination.File("Flat.darc"), volume);
    result = Restore("Flat", chosen.File("Flat"));
    EXPECT_EQ(result.restored, 2);
    EXPECT_EQ(ReadBytes(Below(chosen.File("Flat"), "big.bin")), "precious");
    EXPECT_TRUE(BoxSays(host, "big.bin failed! (checksum mismatch: the volume gives "));
}

TEST_F(RestoreDamage, TargetsThatCannotBeWrittenAreReportedAndLoseNothing) {
    AddJob("Docs", false, 0);
    RunBackup("Docs");

    // The chosen folder lies below a plain file.
    chosen.Write("file", "not a folder");
    RestoreResult result = Restore("Docs", chosen.File("file/R"));
    EXPECT_EQ(result.restored, 0);
    EXPECT_TRUE(BoxSays(host, "Cannot open " + chosen.File("file/R") + " file to restore!"));
    EXPECT_EQ(host.boxes.back().icon, MsgIcon::Critical);

    // A folder stands where a file goes: it stays, the other files come back.
    CreateFolderPath(Below(chosen.File("R"), "big.bin") + "/inside");
    result = Restore("Docs", chosen.File("R"));
    EXPECT_EQ(result.restored, 2);
    EXPECT_TRUE(FolderExists(Below(chosen.File("R"), "big.bin") + "/inside"));
    EXPECT_TRUE(BoxSays(host, "Cannot open " + Below(chosen.File("R"), "big.bin")));

    // A restore waits for a running backup to finish.
    gBackupRunning = true;
    result = Restore("Docs", chosen.File("later"));
    gBackupRunning = false;
    EXPECT_EQ(result.restored, 0);
    EXPECT_TRUE(BoxSays(host, "Backup process pending!"));
    EXPECT_FALSE(FolderExists(chosen.File("later")));

    // A read-only file system: the file already there stays as it was.
    TempHome ro;
    if (::mount("tmpfs", ro.Path().c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a file system here";
    WriteTestFile(Below(ro.Path(), "a.txt"), "precious");
    const bool remounted =
        ::mount("tmpfs", ro.Path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    if (remounted) {
        result = Restore("Docs", ro.Path());
        EXPECT_EQ(result.restored, 0);
        EXPECT_EQ(ReadBytes(Below(ro.Path(), "a.txt")), "precious");
        EXPECT_TRUE(BoxSays(host, "Read-only file system"));
    }
    ::umount(ro.Path().c_str());
    if (!remounted)
        GTEST_SKIP() << "cannot make a file system read-only here";
}
