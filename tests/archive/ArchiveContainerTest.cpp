#include "archive/clsArchive.h"
#include "core/Globals.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include "archive/ArchiveTestSupport.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace archive_test;

namespace {

const DateTime kSession = *DateTime::FromParts(2024, 3, 1, 22, 15, 0);

// Makes the kernel refuse writes past a file size, the way a full disk does,
// for as long as the object lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

class ArchiveContainer : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        SetClockOverride(kSession);
        gAbort = false;
        gSkipRequest = false;
        gPaused = false;
    }
    void TearDown() override {
        gAbort = false;
        gSkipRequest = false;
        SetClockOverride(std::nullopt);
        SetProgramFolder("");
    }

    std::string Source(const std::string& name, const std::string& content) {
        const std::string path = home.File("src/" + name);
        WriteTestFile(path, content);
        sources[path] = content;
        return path;
    }
    void Open(clsArchive& archive, bool zipped = false, bool deleteTemp = true) {
        archive.dSessionDate = kSession;
        archive.sArcfName = "Daily";
        archive.NewArchive("Daily", deleteTemp, zipped, 0);
        ASSERT_TRUE(archive.IsOpened);
    }
    static int Add(clsArchive& archive, const std::string& path, bool flag = false) {
        return archive.AddFileToArchive(DskFileFor(path), flag);
    }
    std::string Staging(const std::string& name) const { return home.File("temp/" + name); }
    std::vector<Fields> Index() const { return ReadIndex(Staging("Daily.fs")); }

    // Every indexed file comes back, byte for byte, through the test's own reader.
    void ExpectEveryFileRestorable(bool zipped) {
        for (const Fields& line : Index()) {
            const Extracted e = ExtractFile(home.File("temp"), line, zipped);
            EXPECT_EQ(e.error, "") << line.at("fname");
            EXPECT_TRUE(e.data == sources[line.at("fname")]) << line.at("fname");
        }
    }
    bool Logged(const std::string& text) const {
        for (const std::string& line : host.activity)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    TempHome home;
    TestHost host;
    std::map<std::string, std::string> sources;
};

} // namespace

TEST(ArchiveBlockSize, ChangesAtEachThreshold) {
    const std::pair<std::int64_t, std::int64_t> expected[] = {
        {0, 512},         {102399, 512},     {102400, 1024},    {255999, 1024},
        {256000, 2048},   {511999, 2048},    {512000, 4096},    {1048575, 4096},
        {1048576, 16384}, {10485759, 16384}, {10485760, 28672}, {5LL << 32, 28672}};
    for (const auto& [size, block] : expected)
        EXPECT_EQ(clsArchive::BlockSizeFor(size), block) << size;
}

TEST_F(ArchiveContainer, ZeroByteFileIsOneTrailerBlock) {
    const std::string path = Source("empty", "");
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, path), 1);
    const std::string volume = ReadBytes(Staging("Daily.darc"));
    ASSERT_EQ(volume.size(), 512u);
    EXPECT_EQ(volume.substr(0, path.size() + 12 + 8 + 28),
              path + "000000000000" + "00000000" + "00000000000000" + "00000000000512");
    const std::vector<Fields> index = Index();
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(index[0].at("sOffs"), "0");
    EXPECT_EQ(index[0].at("dEndOffset"), "512");
    EXPECT_EQ(archive.currOffset, 512);
    ASSERT_EQ(archive.Volumes.size(), 1u);
    EXPECT_EQ(archive.Volumes[0].filename, "Daily.darc");
    EXPECT_EQ(archive.Volumes[0].path, home.File("temp/"));
}

TEST_F(ArchiveContainer, TrailerAndIndexLineMatchWhatIsWrittenByHand) {
    Source("first", "12345");
    const std::string path = Source("abc.txt", "abc");
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, home.File("src/first")), 1);
    clsDskFile file = DskFileFor(path);
    file.dAttrib = 2175008800u;
    file.tCreationTimeSet(29600000, static_cast<std::uint32_t>(-1500000000));
    file.tLastAccessTimeSet(29610000, 12345678);
    file.tLastWriteTimeSet(29600001, 200000000);
    ASSERT_EQ(archive.AddFileToArchive(file, false), 1);

    const std::string volume = ReadBytes(Staging("Daily.darc"));
    ASSERT_EQ(volume.size(), 2048u);
    EXPECT_EQ(volume.substr(1024, 512), std::string("abc") + std::string(509, '\0'));
    std::string trailer = path + "000000000003" + "61626300" + "00000000001024" + "00000000002048" +
                          "20240301221500" + "0002175008800";
    trailer.resize(512, '\0');
    EXPECT_TRUE(volume.substr(1536) == trailer);

    const std::string lines = ReadBytes(Staging("Daily.fs"));
    const std::string second = lines.substr(lines.find("\r\n") + 2);
    EXPECT_EQ(second, "dSession=20240301221500|RecSize=512|arcStart=Daily|sOffs=1024|arcEnd=Daily"
                      "|dEndOffset=2048|fname=" +
                          path +
                          "|size=3|crc=61626300|Attrib=2175008800|dCT=29600000/-1500000000"
                          "|dLAt=29610000/12345678|dLWt=29600001/200000000\r\n");
    EXPECT_EQ(archive.currSize(), 8);
    EXPECT_EQ(archive.Files().size(), 2u);
}

TEST_F(ArchiveContainer, BlockCountsAndFillingAroundTheFirstThreshold) {
    const std::string exact = Source("exact", PseudoRandomBytes(102400, 1));
    const std::string below = Source("below", std::string(102398, 'b') + "\x7F");
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, exact), 1);
    ASSERT_EQ(Add(archive, below), 1);
    const std::vector<Fields> index = Index();
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].at("RecSize"), "1024");
    EXPECT_EQ(index[0].at("dEndOffset"), "103424"); // 100 blocks + trailer
    EXPECT_EQ(index[1].at("RecSize"), "512");
    EXPECT_EQ(index[1].at("sOffs"), "103424");
    EXPECT_EQ(index[1].at("dEndOffset"), std::to_string(103424 + 200 * 512 + 512));
    const std::string volume = ReadBytes(Staging("Daily.darc"));
    EXPECT_EQ(volume[103424 + 102398], '\x7F');
    EXPECT_EQ(volume[103424 + 102399], '\0');                           // the one byte of filling
    EXPECT_EQ(volume.compare(103424 + 102400, below.size(), below), 0); // trailer starts
    EXPECT_EQ(static_cast<std::int64_t>(volume.size()), archive.currOffset);
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, LongPathIsCutTo255BytesInTheTrailer) {
    const std::string folder = std::string(120, 'd') + "/" + std::string(120, 'e') + "/";
    const std::string path = Source(folder + "f.txt", "x");
    ASSERT_GT(path.size(), 255u);
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, path), 1);
    const std::string volume = ReadBytes(Staging("Daily.darc"));
    EXPECT_EQ(volume.substr(512, 255 + 12), path.substr(0, 255) + "000000000001");
    EXPECT_EQ(Index()[0].at("fname"), path);
}

TEST_F(ArchiveContainer, SameFullPathTwiceWritesNothing) {
    const std::string path = Source("twice", "data");
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, path), 1);
    EXPECT_EQ(Add(archive, path), 12);
    EXPECT_EQ(Add(archive, path, true), 13);
    EXPECT_EQ(ReadBytes(Staging("Daily.darc")).size(), 1024u);
    EXPECT_EQ(Index().size(), 1u);
    EXPECT_EQ(archive.currOffset, 1024);
}

TEST_F(ArchiveContainer, FilesThatCannotBeStoredAre14AndLeaveNothingBehind) {
    clsArchive archive;
    Open(archive);
    const std::string missing = home.File("src/gone.txt");
    EXPECT_EQ(Add(archive, missing), 14);
    EXPECT_TRUE(Logged("ERROR:clsFile.fOpen()->2---" + missing));

    // A name with "|" would come back from the index as another file.
    EXPECT_EQ(Add(archive, Source("a|fname=b", "x")), 14);
    EXPECT_EQ(Add(archive, Source("line\nbreak", "x")), 14);

    // The volume cannot be created.
    ASSERT_TRUE(CreateFolderPath(Staging("Daily.darc")));
    EXPECT_EQ(Add(archive, Source("ok", "x")), 14);

    EXPECT_TRUE(archive.Volumes.empty());
    EXPECT_TRUE(archive.Files().empty());
    EXPECT_FALSE(FileExists(Staging("Daily.fs")));
    EXPECT_EQ(archive.currOffset, 0);
}

TEST_F(ArchiveContainer, ClosedArchiveRefusesWithALogLine) {
    const std::string path = Source("f", "x");
    clsArchive archive;
    EXPECT_EQ(Add(archive, path), 2);
    Open(archive);
    archive.CloseArchive();
    EXPECT_FALSE(archive.IsOpened);
    EXPECT_EQ(Add(archive, path), 2);
    EXPECT_TRUE(Logged("Archive closed for operations!"));
}

TEST_F(ArchiveContainer, ProgressNamesTheFileAndReachesAHundredPercent) {
    const std::string path = Source("p", std::string(1500, 'p'));
    clsArchive archive;
    Open(archive, true);
    ASSERT_EQ(Add(archive, path), 1);
    ASSERT_EQ(host.progress.size(), 3u); // one update per block
    EXPECT_EQ(host.progress[0].rfind("update:Archiving (Zipping)|" + path + "|", 0), 0u);
    EXPECT_NE(host.progress[2].find("|100.000000|"), std::string::npos);
}

TEST_F(ArchiveContainer, SplitVolumesAreNamedInOrderAndAnEntryMaySpanThem) {
    const std::string big = Source("big", PseudoRandomBytes(1500000, 2));
    clsArchive archive;
    Open(archive);
    archive.bSplit = true;
    archive.splitSize = 1000000;
    ASSERT_EQ(Add(archive, big), 1);

    ASSERT_EQ(archive.Volumes.size(), 2u);
    EXPECT_EQ(archive.Volumes[0].filename, "Daily.darc");
    EXPECT_EQ(archive.Volumes[1].filename, "Daily-001.darc");
    EXPECT_EQ(archive.Index(), 1);
    EXPECT_EQ(archive.sArcfName, "Daily-001");
    // 62 blocks of 16384 reach the limit; the other 30 and the trailer go on.
    EXPECT_EQ(FileSize(Staging("Daily.darc")), 62 * 16384);
    EXPECT_EQ(FileSize(Staging("Daily-001.darc")), 31 * 16384);
    const Fields line = Index().at(0);
    EXPECT_EQ(line.at("arcStart"), "Daily");
    EXPECT_EQ(line.at("sOffs"), "0");
    EXPECT_EQ(line.at("arcEnd"), "Daily-001");
    EXPECT_EQ(line.at("dEndOffset"), std::to_string(31 * 16384));
    EXPECT_TRUE(Logged("Splitting file ...Daily-001"));
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, AnEntryOrItsTrailerAloneMayStartAtTheNextVolume) {
    const std::string fills = Source("fills", std::string(10240, 'f')); // 20 blocks = limit
    const std::string small = Source("small", std::string(9216, 's'));  // 18 blocks + trailer
    const std::string next = Source("next", "n");
    clsArchive archive;
    Open(archive);
    archive.bSplit = true;
    archive.splitSize = 10240;
    ASSERT_EQ(Add(archive, fills), 1);
    ASSERT_EQ(Add(archive, small), 1);
    ASSERT_EQ(Add(archive, next), 1);
    const std::vector<Fields> index = Index();
    ASSERT_EQ(index.size(), 3u);
    // The data filled Daily, so the trailer alone opens Daily-001.
    EXPECT_EQ(index[0].at("arcStart"), "Daily");
    EXPECT_EQ(index[0].at("arcEnd"), "Daily-001");
    EXPECT_EQ(index[0].at("dEndOffset"), "512");
    EXPECT_EQ(index[1].at("arcStart"), "Daily-001");
    EXPECT_EQ(index[1].at("sOffs"), "512");
    // "small" ends Daily-001 exactly at the limit: "next" starts at 0 of Daily-002.
    EXPECT_EQ(index[2].at("arcStart"), "Daily-002");
    EXPECT_EQ(index[2].at("sOffs"), "0");
    EXPECT_EQ(index[2].at("dEndOffset"), "1024");
    ASSERT_EQ(archive.Volumes.size(), 3u);
    EXPECT_EQ(archive.Volumes[2].filename, "Daily-002.darc");
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, WithoutSplitSwitchTheLimitIsIgnored) {
    const std::string path = Source("big", std::string(300000, 'x'));
    clsArchive archive;
    Open(archive);
    archive.bSplit = false;
    archive.splitSize = 1000;
    ASSERT_EQ(Add(archive, path), 1);
    EXPECT_EQ(archive.Volumes.size(), 1u);
}

TEST_F(ArchiveContainer, CompressedVolumeUnzipsToThePlainVolume) {
    FileList files;
    for (const std::string& p : {Source("empty", ""), Source("random", PseudoRandomBytes(50001, 3)),
                                 Source("text", std::string(300000, 't')), Source("last", "end")})
        files.push_back(DskFileFor(p)); // once: reading changes the access times
    clsArchive plain;
    Open(plain);
    for (const clsDskFile& f : files)
        ASSERT_EQ(plain.AddFileToArchive(f, false), 1);
    const std::string plainVolume = ReadBytes(Staging("Daily.darc"));
    const std::string plainIndex = ReadBytes(Staging("Daily.fs"));

    clsArchive zipped;
    Open(zipped, true);
    for (const clsDskFile& f : files)
        ASSERT_EQ(zipped.AddFileToArchive(f, false), 1);
    const std::string volume = Staging("Daily.darc");
    EXPECT_LT(FileSize(volume), static_cast<std::int64_t>(plainVolume.size()));
    EXPECT_TRUE(Zcat(volume) == plainVolume);
    EXPECT_EQ(CountGzipMembers(volume), 4); // one per stored file
    EXPECT_EQ(ReadBytes(Staging("Daily.fs")), plainIndex);
    ExpectEveryFileRestorable(true);
}

TEST_F(ArchiveContainer, CompressedVolumesSplitOnTheirSizeOnDisk) {
    const std::string big = Source("big", PseudoRandomBytes(1500000, 4));
    clsArchive archive;
    Open(archive, true);
    archive.bSplit = true;
    archive.splitSize = 1000000;
    ASSERT_EQ(Add(archive, big), 1);
    ASSERT_EQ(archive.Volumes.size(), 2u);
    const std::int64_t first = FileSize(Staging("Daily.darc"));
    EXPECT_GE(first, 1000000);
    EXPECT_LT(first, 1000000 + 2 * 16384); // left at the next block
    ExpectEveryFileRestorable(true);
}

TEST_F(ArchiveContainer, SkipMidFileCutsTheVolumeBackAndTheNextFileFollowsOn) {
    const std::string before = Source("before", "kept");
    const std::string skipped = Source("skipped", std::string(5000, 's'));
    const std::string after = Source("after", "after");
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, before), 1);
    int yields = 0;
    host.onYield = [&] {
        if (++yields == 5)
            gSkipRequest = true;
    };
    EXPECT_EQ(Add(archive, skipped), 10);
    host.onYield = nullptr;
    EXPECT_FALSE(gSkipRequest);
    EXPECT_EQ(FileSize(Staging("Daily.darc")), 1024);
    EXPECT_EQ(archive.currOffset, 1024);
    ASSERT_EQ(Add(archive, after), 1);
    const std::vector<Fields> index = Index();
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[1].at("fname"), after);
    EXPECT_EQ(index[1].at("sOffs"), "1024");
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, AbortInACompressedVolumeDropsTheEntrysMembers) {
    const std::string before = Source("before", PseudoRandomBytes(3000, 5));
    const std::string aborted = Source("aborted", PseudoRandomBytes(50000, 6));
    const std::string after = Source("after", "after");
    clsArchive archive;
    Open(archive, true);
    ASSERT_EQ(Add(archive, before), 1);
    const std::string volumeBefore = ReadBytes(Staging("Daily.darc"));
    host.onYield = [&] { gAbort = true; };
    EXPECT_EQ(Add(archive, aborted), 10);
    host.onYield = nullptr;
    EXPECT_TRUE(gAbort); // the run decides what an abort means
    EXPECT_TRUE(ReadBytes(Staging("Daily.darc")) == volumeBefore);
    gAbort = false;
    ASSERT_EQ(Add(archive, after), 1);
    const std::vector<Fields> index = Index();
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[1].at("sOffs"), index[0].at("dEndOffset"));
    EXPECT_EQ(std::to_string(Gunzip(Staging("Daily.darc")).size()), index[1].at("dEndOffset"));
    ExpectEveryFileRestorable(true);
}

TEST_F(ArchiveContainer, StopAfterASplitRemovesTheNewVolumeAndResumesInTheOldOne) {
    const std::string first = Source("first", std::string(6000, '1'));
    const std::string spans = Source("spans", std::string(8000, '2'));
    const std::string last = Source("last", "3");
    clsArchive archive;
    Open(archive);
    archive.bSplit = true;
    archive.splitSize = 10240;
    ASSERT_EQ(Add(archive, first), 1); // 12 blocks + trailer = 6656
    host.onYield = [&] {
        if (archive.Index() == 1)
            gSkipRequest = true;
    };
    EXPECT_EQ(Add(archive, spans), 10);
    host.onYield = nullptr;
    EXPECT_FALSE(FileExists(Staging("Daily-001.darc")));
    EXPECT_EQ(archive.Volumes.size(), 1u);
    EXPECT_EQ(archive.sArcfName, "Daily");
    EXPECT_EQ(FileSize(Staging("Daily.darc")), 6656);
    ASSERT_EQ(Add(archive, last), 1);
    EXPECT_EQ(Index().at(1).at("arcStart"), "Daily");
    EXPECT_EQ(Index().at(1).at("sOffs"), "6656");
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, AFullDiskFailsTheEntryCutsItAwayAndTellsWhy) {
    for (const bool zipped : {false, true}) {
        SCOPED_TRACE(zipped ? "gzip" : "plain");
        const std::string first = Source("first", PseudoRandomBytes(2000, 7));
        const std::string big = Source("big", PseudoRandomBytes(40000, 8));
        const std::string next = Source("next", "next");
        clsArchive archive;
        Open(archive, zipped);
        ASSERT_EQ(Add(archive, first), 1);
        const std::string volumeBefore = ReadBytes(Staging("Daily.darc"));
        int result;
        {
            FileSizeLimit limit(volumeBefore.size() + 5000);
            result = Add(archive, big);
        }
        EXPECT_EQ(result, 2);
        EXPECT_EQ(archive.LastErrno(), EFBIG);
        EXPECT_TRUE(Logged("ERROR:clsArchive.AddFileToArchive()->" + std::to_string(EFBIG) + "---" +
                           Staging("Daily.darc")));
        EXPECT_TRUE(ReadBytes(Staging("Daily.darc")) == volumeBefore);
        ASSERT_EQ(Add(archive, next), 1);
        ASSERT_EQ(Index().size(), 2u);
        EXPECT_EQ(Index()[1].at("sOffs"), Index()[0].at("dEndOffset"));
        ExpectEveryFileRestorable(zipped);
    }
}

TEST_F(ArchiveContainer, AnIndexLineThatDoesNotFitIsCutBackWithTheEntry) {
    // An incremental run continues the index of earlier sessions.
    const std::string earlier = std::string(60000, 'x') + "\r\n";
    home.Write("temp/Daily.fs", earlier);
    const std::string path = Source("f", "data");
    clsArchive archive;
    Open(archive, false, false);
    int result;
    {
        FileSizeLimit limit(earlier.size() + 20);
        result = Add(archive, path);
    }
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(ReadBytes(Staging("Daily.fs")) == earlier);
    EXPECT_FALSE(FileExists(Staging("Daily.darc")));
    EXPECT_TRUE(archive.Volumes.empty());
    EXPECT_TRUE(archive.Files().empty());
    EXPECT_EQ(Add(archive, path), 1); // not taken for a duplicate
}

TEST_F(ArchiveContainer, AFileThatChangesWhileStoredIsStoredAsRead) {
    const std::string changes = Source("changes", std::string(600000, 'a'));
    const std::string grows = Source("grows", std::string(3000, 'b'));
    clsArchive archive;
    Open(archive);
    // Cut just past the first read-ahead run while it is read, so the next
    // read comes back short; restored right after that short read. What is
    // stored must end at the short read: nothing may follow its filling.
    const std::int64_t cutAt = clsArchive::kIoRun + 100;
    std::size_t progressSeen = 0;
    int yields = 0;
    host.onYield = [&] {
        const bool readYield = host.progress.size() == progressSeen; // no block written since
        progressSeen = host.progress.size();
        if (++yields == 1)
            ASSERT_EQ(::truncate(changes.c_str(), cutAt), 0);
        else if (readYield)
            WriteTestFile(changes, std::string(600000, 'a'));
    };
    ASSERT_EQ(Add(archive, changes), 1);
    host.onYield = [&] { WriteTestFile(grows, std::string(9000, 'b')); };
    ASSERT_EQ(Add(archive, grows), 1);
    host.onYield = nullptr;

    const std::vector<Fields> index = Index();
    EXPECT_EQ(index[0].at("size"), std::to_string(cutAt));
    EXPECT_EQ(index[1].at("size"), "3000"); // as big as when it was opened
    sources[changes] = std::string(cutAt, 'a');
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, LeftoversOfAnEarlierRunUnderTheSameNameAreNotBuiltOn) {
    for (const bool zipped : {false, true}) {
        SCOPED_TRACE(zipped ? "gzip" : "plain");
        home.Write("temp/Daily.darc", std::string(70000, 'J'));
        const std::string path = Source("f", "fresh");
        clsArchive archive;
        Open(archive, zipped, false);
        ASSERT_EQ(Add(archive, path), 1);
        const std::string stream =
            zipped ? Gunzip(Staging("Daily.darc")) : ReadBytes(Staging("Daily.darc"));
        EXPECT_EQ(stream.size(), 1024u);
        EXPECT_EQ(stream.substr(0, 5), "fresh");
        RemoveFile(Staging("Daily.fs"));
    }
}

TEST_F(ArchiveContainer, NewArchiveRemovesOnlyThisJobsStagingFiles) {
    for (const char* name : {"Daily.darc", "Daily-001.darc", "Daily.fs", "Other.fs"})
        home.Write(std::string("temp/") + name, "old");
    clsArchive keep;
    Open(keep, false, false);
    EXPECT_EQ(ListFileNames(home.File("temp")).size(), 4u);
    clsArchive full;
    Open(full, false, true);
    EXPECT_EQ(ListFileNames(home.File("temp")), std::vector<std::string>{"Other.fs"});
    EXPECT_EQ(full.sTempPath, home.File("temp/"));
}

TEST_F(ArchiveContainer, UnusableStagingFolderAsksAbortRetryIgnore) {
    home.Write("temp", "a file where the folder should be");
    host.answers = {MsgAnswer::Retry, MsgAnswer::Ignore};
    clsArchive archive;
    archive.NewArchive("Daily", true);
    EXPECT_FALSE(archive.IsOpened);
    EXPECT_FALSE(gAbort);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text,
              "Cannot delete files from temporary directory!\n"
              "You have to release the files of this dir manually the press OK!");
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::AbortRetryIgnore);
    EXPECT_EQ(host.boxes[0].icon, MsgIcon::Critical);

    host.answers = {MsgAnswer::Abort};
    archive.NewArchive("Daily", true);
    EXPECT_FALSE(archive.IsOpened);
    EXPECT_TRUE(gAbort);
}
