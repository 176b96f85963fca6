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
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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
    void Open(clsArchive& archive, bool zipped = false, bool deleteTemp = true, int split = 0) {
        archive.dSessionDate = kSession;
        archive.sArcfName = "Daily";
        archive.NewArchive("Daily", deleteTemp, zipped, 0);
        archive.bSplit = split > 0;
        archive.splitSize = split;
        ASSERT_TRUE(archive.IsOpened);
    }
    static int Add(clsArchive& archive, const std::string& path, bool flag = false) {
        return archive.AddFileToArchive(DskFileFor(path), flag);
    }
    std::string Staging(const std::string& name) const { return home.File("temp/" + name); }
    std::vector<clsRestoreFileData> Index() const { return IndexLines(Staging("Daily.fs")); }

    // Every indexed file comes back, byte for byte, through the reader.
    void ExpectEveryFileRestorable(bool zipped) {
        for (const clsRestoreFileData& rec : Index()) {
            const ReadBack back = ReadStored(home.File("temp"), rec, zipped);
            EXPECT_EQ(back.result, EntryRead::Ok) << rec.fname << ": " << back.why;
            EXPECT_TRUE(back.data == sources.at(rec.fname)) << rec.fname;
        }
    }
    bool Logged(const std::string& text) const {
        return std::any_of(host.activity.begin(), host.activity.end(),
                           [&](const auto& l) { return l.find(text) != std::string::npos; });
    }

    TempHome home;
    TestHost host;
    std::map<std::string, std::string> sources;
};

} // namespace

TEST_F(ArchiveContainer, TrailersAndIndexLinesMatchWhatIsWrittenByHand) {
    const std::string empty = Source("empty", "");
    const std::string path = Source("abc.txt", "abc");
    clsArchive archive;
    Open(archive);
    ASSERT_EQ(Add(archive, empty), 1); // a zero-byte file is its trailer alone
    clsDskFile file = DskFileFor(path);
    file.dAttrib = 2175008800u;
    file.tCreationTimeSet(29600000, static_cast<std::uint32_t>(-1500000000));
    file.tLastAccessTimeSet(29610000, 12345678);
    file.tLastWriteTimeSet(29600001, 200000000);
    ASSERT_EQ(archive.AddFileToArchive(file, false), 1);

    const std::string volume = ReadTestFile(Staging("Daily.darc"));
    ASSERT_EQ(volume.size(), 1536u);
    EXPECT_EQ(volume.substr(0, empty.size() + 62), empty + "000000000000" + "00000000" +
                                                       "00000000000000" + "00000000000512" +
                                                       "20240301221500");
    EXPECT_EQ(volume.substr(512, 512), std::string("abc") + std::string(509, '\0'));
    std::string trailer = path + "000000000003" + "61626300" + "00000000000512" + "00000000001536" +
                          "20240301221500" + "0002175008800";
    trailer.resize(512, '\0');
    EXPECT_TRUE(volume.substr(1024) == trailer);

    const std::string lines = ReadTestFile(Staging("Daily.fs"));
    EXPECT_EQ(lines.substr(lines.find("\r\n") + 2),
              "dSession=20240301221500|RecSize=512|arcStart=Daily|sOffs=512|arcEnd=Daily"
              "|dEndOffset=1536|fname=" +
                  path +
                  "|size=3|crc=61626300|Attrib=2175008800|dCT=29600000/-1500000000"
                  "|dLAt=29610000/12345678|dLWt=29600001/200000000\r\n");
    EXPECT_EQ(archive.currSize(), 3);
    EXPECT_EQ(archive.currOffset, 1536);
    ASSERT_EQ(archive.Volumes.size(), 1u);
    EXPECT_EQ(archive.Volumes[0].filename, "Daily.darc");
    EXPECT_EQ(archive.Volumes[0].path, home.File("temp/"));
}

TEST_F(ArchiveContainer, BlockCountsFillingAndLongPathsAroundTheLimits) {
    const std::string exact = Source("exact", PseudoRandomBytes(102400, 1));
    const std::string below = Source("below", std::string(102398, 'b') + "\x7F");
    const std::string folder = std::string(120, 'd') + "/" + std::string(120, 'e') + "/";
    const std::string longPath = Source(folder + "f.txt", "x");
    clsArchive archive;
    Open(archive);
    for (const std::string& p : {exact, below, longPath})
        ASSERT_EQ(Add(archive, p), 1);
    const std::vector<clsRestoreFileData> index = Index();
    ASSERT_EQ(index.size(), 3u);
    EXPECT_EQ(index[0].recsize, 1024);
    EXPECT_EQ(index[0].dendoffset, 103424); // 100 blocks + trailer
    EXPECT_EQ(index[1].recsize, 512);
    EXPECT_EQ(index[1].soffs, 103424);
    EXPECT_EQ(index[1].dendoffset, 103424 + 200 * 512 + 512);
    const std::string volume = ReadTestFile(Staging("Daily.darc"));
    EXPECT_EQ(volume[103424 + 102398], '\x7F');
    EXPECT_EQ(volume[103424 + 102399], '\0');                           // the one byte of filling
    EXPECT_EQ(volume.compare(103424 + 102400, below.size(), below), 0); // trailer starts
    // The trailer keeps 255 bytes of a longer path; the index all of it.
    ASSERT_GT(longPath.size(), 255u);
    EXPECT_EQ(volume.substr(index[2].soffs + 512, 255 + 12),
              longPath.substr(0, 255) + "000000000001");
    EXPECT_EQ(index[2].fname, longPath);
    EXPECT_EQ(static_cast<std::int64_t>(volume.size()), archive.currOffset);
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, DuplicatesUnstorableNamesAndAClosedArchiveWriteNothing) {
    const std::string path = Source("twice", "data");
    clsArchive archive;
    EXPECT_EQ(Add(archive, path), 2); // not opened yet
    EXPECT_TRUE(Logged("Archive closed for operations!"));
    Open(archive);
    ASSERT_EQ(Add(archive, path), 1);
    EXPECT_EQ(Add(archive, path), 12);
    EXPECT_EQ(Add(archive, path, true), 13);
    const std::string missing = home.File("src/gone.txt");
    EXPECT_EQ(Add(archive, missing), 14);
    EXPECT_TRUE(Logged("ERROR:clsFile.fOpen()->2---" + missing));
    // A name with "|" or a line break would come back from the index as another file.
    EXPECT_EQ(Add(archive, Source("a|fname=b", "x")), 14);
    EXPECT_EQ(Add(archive, Source("line\nbreak", "x")), 14);
    EXPECT_EQ(ReadTestFile(Staging("Daily.darc")).size(), 1024u);
    EXPECT_EQ(Index().size(), 1u);
    EXPECT_EQ(archive.currOffset, 1024);
    archive.CloseArchive();
    EXPECT_EQ(Add(archive, path), 2);

    // The volume cannot be created.
    clsArchive blocked;
    Open(blocked);
    ASSERT_TRUE(CreateFolderPath(Staging("Daily.darc")));
    EXPECT_EQ(Add(blocked, Source("ok", "x")), 14);
    EXPECT_TRUE(blocked.Volumes.empty());
    EXPECT_TRUE(blocked.Files().empty());
    EXPECT_FALSE(FileExists(Staging("Daily.fs")));
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

// Volumes are split on their size on disk; an entry, or its trailer alone,
// may run on into the next one.
TEST_F(ArchiveContainer, SplitsNameVolumesInOrderAndEntriesSpanThem) {
    struct Placed {
        const char* arcStart;
        std::int64_t soffs;
        const char* arcEnd;
        std::int64_t dendoffset; // -1: depends on the compression
    };
    struct Case {
        const char* name;
        bool zipped;
        bool split;
        std::int64_t limit;
        std::vector<std::pair<const char*, std::string>> files;
        std::vector<Placed> lines;
        std::vector<std::int64_t> volumeSizes; // plain volumes only
    };
    const Case cases[] = {
        {"one file over two volumes: 62 blocks reach the limit",
         false,
         true,
         1000000,
         {{"big", PseudoRandomBytes(1500000, 2)}},
         {{"Daily", 0, "Daily-001", 31 * 16384}},
         {62 * 16384, 31 * 16384}},
        {"the trailer alone opens the next; an exact fit starts the next at 0",
         false,
         true,
         10240,
         {{"fills", std::string(10240, 'f')}, {"small", std::string(9216, 's')}, {"next", "n"}},
         {{"Daily", 0, "Daily-001", 512},
          {"Daily-001", 512, "Daily-001", 10240},
          {"Daily-002", 0, "Daily-002", 1024}},
         {10240, 10240, 1024}},
        {"without the split switch the limit is ignored",
         false,
         false,
         1000,
         {{"big", std::string(300000, 'x')}},
         {{"Daily", 0, "Daily", 148 * 2048}},
         {148 * 2048}},
        {"compressed volumes split on their size on disk",
         true,
         true,
         1000000,
         {{"big", PseudoRandomBytes(1500000, 4)}},
         {{"Daily", 0, "Daily-001", -1}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clsArchive archive;
        Open(archive, c.zipped, true, static_cast<int>(c.limit));
        archive.bSplit = c.split;
        for (const auto& [name, content] : c.files)
            ASSERT_EQ(Add(archive, Source(name, content)), 1);
        const std::vector<clsRestoreFileData> index = Index();
        ASSERT_EQ(index.size(), c.lines.size());
        for (std::size_t i = 0; i < index.size(); ++i) {
            EXPECT_EQ(index[i].arcStart, c.lines[i].arcStart) << i;
            EXPECT_EQ(index[i].soffs, c.lines[i].soffs) << i;
            EXPECT_EQ(index[i].arcEnd, c.lines[i].arcEnd) << i;
            if (c.lines[i].dendoffset >= 0) {
                EXPECT_EQ(index[i].dendoffset, c.lines[i].dendoffset) << i;
            }
        }
        for (std::size_t v = 0; v < c.volumeSizes.size(); ++v) {
            ASSERT_LT(v, archive.Volumes.size());
            EXPECT_EQ(archive.Volumes[v].filename, VolumeFileName(VolumeName("Daily", v)));
            EXPECT_EQ(FileSize(archive.Volumes[v].FullName()), c.volumeSizes[v]);
        }
        if (c.zipped) {
            ASSERT_EQ(archive.Volumes.size(), 2u);
            const std::int64_t first = FileSize(Staging("Daily.darc"));
            EXPECT_GE(first, c.limit);
            EXPECT_LT(first, c.limit + 2 * 16384); // left at the next block
        }
        EXPECT_EQ(Logged("Splitting file ...Daily-001"), c.split);
        ExpectEveryFileRestorable(c.zipped);
        host.activity.clear();
    }
}

TEST_F(ArchiveContainer, CompressedVolumeUnzipsToThePlainVolume) {
    FileList files;
    for (const std::string& p : {Source("empty", ""), Source("random", PseudoRandomBytes(50001, 3)),
                                 Source("text", std::string(300000, 't')), Source("last", "end")})
        files.push_back(DskFileFor(p)); // once: reading changes the access times
    std::string plain[2];
    for (const bool zipped : {false, true}) {
        clsArchive archive;
        Open(archive, zipped);
        for (const clsDskFile& f : files)
            ASSERT_EQ(archive.AddFileToArchive(f, false), 1);
        plain[zipped] = zipped ? Zcat(Staging("Daily.darc")) : ReadTestFile(Staging("Daily.darc"));
        if (zipped) {
            EXPECT_LT(FileSize(Staging("Daily.darc")), static_cast<std::int64_t>(plain[0].size()));
            EXPECT_EQ(CountGzipMembers(Staging("Daily.darc")), 4); // one per stored file
        }
        plain[zipped] += ReadTestFile(Staging("Daily.fs"));
    }
    EXPECT_TRUE(plain[0] == plain[1]); // volume and index alike
    ExpectEveryFileRestorable(true);
}

// A file that cannot be finished (skip, cancel, full disk) is cut away again:
// the volumes are as before it, and the next file follows on.
TEST_F(ArchiveContainer, AnEntryThatFailsIsRolledBackAndTheNextFollowsOn) {
    struct Case {
        const char* name;
        bool zipped;
        int split;
        std::function<void(clsArchive&)> arm; // makes the second add fail
        int result;
        int lastErrno;
    };
    clsArchive* current = nullptr;
    std::unique_ptr<FileSizeLimit> limit;
    const Case cases[] = {
        {"skip mid-file", false, 0,
         [&](clsArchive&) { host.onYield = [&, n = 0]() mutable { gSkipRequest = ++n == 5; }; }, 10,
         0},
        {"cancel in a compressed volume", true, 0,
         [&](clsArchive&) { host.onYield = [] { gAbort = true; }; }, 10, 0},
        {"skip after a split", false, 10240,
         [&](clsArchive&) { host.onYield = [&] { gSkipRequest = current->Index() == 1; }; }, 10, 0},
        {"full disk, plain", false, 0,
         [&](clsArchive&) {
             limit = std::make_unique<FileSizeLimit>(FileSize(Staging("Daily.darc")) + 5000);
         },
         2, EFBIG},
        {"full disk, compressed", true, 0,
         [&](clsArchive&) {
             limit = std::make_unique<FileSizeLimit>(FileSize(Staging("Daily.darc")) + 5000);
         },
         2, EFBIG},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string first = Source("first", PseudoRandomBytes(6000, 5));
        const std::string failing = Source("failing", PseudoRandomBytes(40000, 6));
        const std::string next = Source("next", "next");
        clsArchive archive;
        current = &archive;
        Open(archive, c.zipped, true, c.split);
        ASSERT_EQ(Add(archive, first), 1);
        const std::string before = ReadTestFile(Staging("Daily.darc"));
        c.arm(archive);
        EXPECT_EQ(Add(archive, failing), c.result);
        host.onYield = nullptr;
        limit.reset();
        EXPECT_EQ(archive.LastErrno(), c.lastErrno);
        if (c.lastErrno != 0) {
            EXPECT_TRUE(Logged("ERROR:clsArchive.AddFileToArchive()->" +
                               std::to_string(c.lastErrno) + "---" + Staging("Daily.darc")));
        }
        EXPECT_FALSE(gSkipRequest);
        EXPECT_EQ(gAbort, c.zipped && c.result == 10); // the run decides what a cancel means
        gAbort = false;
        EXPECT_TRUE(ReadTestFile(Staging("Daily.darc")) == before);
        EXPECT_FALSE(FileExists(Staging("Daily-001.darc")));
        EXPECT_EQ(archive.Volumes.size(), 1u);
        EXPECT_EQ(archive.sArcfName, "Daily");
        ASSERT_EQ(Add(archive, next), 1);
        const std::vector<clsRestoreFileData> index = Index();
        ASSERT_EQ(index.size(), 2u);
        EXPECT_EQ(index[1].arcStart, "Daily");
        EXPECT_EQ(index[1].soffs, index[0].dendoffset);
        ExpectEveryFileRestorable(c.zipped);
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
    EXPECT_TRUE(ReadTestFile(Staging("Daily.fs")) == earlier);
    EXPECT_FALSE(FileExists(Staging("Daily.darc")));
    EXPECT_TRUE(archive.Volumes.empty());
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
    const std::int64_t cutAt = kArchiveIoRun + 100;
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
    EXPECT_EQ(Index()[0].size, cutAt);
    EXPECT_EQ(Index()[1].size, 3000); // as big as when it was opened
    sources[changes] = std::string(cutAt, 'a');
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, StagingLeftoversAreNotBuiltOnAndOnlyThisJobsAreRemoved) {
    for (const bool zipped : {false, true}) {
        home.Write("temp/Daily.darc", std::string(70000, 'J'));
        clsArchive archive;
        Open(archive, zipped, false);
        ASSERT_EQ(Add(archive, Source("f", "fresh")), 1);
        const std::string stream =
            zipped ? Gunzip(Staging("Daily.darc")) : ReadTestFile(Staging("Daily.darc"));
        EXPECT_EQ(stream.size(), 1024u) << zipped;
        EXPECT_EQ(stream.substr(0, 5), "fresh") << zipped;
        RemoveFile(Staging("Daily.fs"));
    }
    for (const char* name : {"Daily.darc", "Daily-001.darc", "Daily.fs", "Other.fs"})
        home.Write(std::string("temp/") + name, "old");
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
