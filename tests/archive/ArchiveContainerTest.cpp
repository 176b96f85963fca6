#include "archive/ArchiveTestSupport.h"

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <utime.h>

using namespace archive_test;

namespace {

// Makes the kernel refuse writes past a file size, the way a full disk does,
// until the result is let go.
std::shared_ptr<void> LimitFileSize(rlim_t bytes) {
    static rlimit old;
    ::getrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    return std::shared_ptr<void>(nullptr, [](void*) { ::setrlimit(RLIMIT_FSIZE, &old); });
}
class ArchiveContainer : public RestoreFixture {
protected:
    void SetUp() override {
        RestoreFixture::SetUp();
        SetClockOverride(DateTime::FromParts(2024, 3, 1, 22, 15, 0));
    }
    std::string Source(const std::string& name, const std::string& content) {
        source.Write(name, content);
        sources[source.File(name)] = content;
        return source.File(name);
    }
    void Open(clsArchive& archive, bool zipped = false, bool deleteTemp = true, int split = 0) {
        archive.dSessionDate = *DateTime::FromParts(2024, 3, 1, 22, 15, 0);
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
    // The staged index, every line of it usable.
    std::vector<clsRestoreFileData> Index() const {
        std::vector<clsRestoreFileData> records;
        IndexReport report;
        EXPECT_TRUE(LoadIndexRecords(Staging("Daily.fs"), records, &report));
        EXPECT_EQ(report.damagedLines, 0u) << report.firstDamage;
        return records;
    }
    // Every indexed file comes back, byte for byte, through a restore that
    // reads the staging folder as its destination.
    void ExpectEveryFileRestorable(bool zipped) {
        clsBackup job;
        job.sDestinationDir = home.File("temp");
        job.bZipped = zipped;
        host.boxes.clear();
        EXPECT_TRUE(RestoreFiles(job, Index(), {chosen.Path()}).AllRestored())
            << host.boxes[0].text;
        for (const clsRestoreFileData& rec : Index())
            EXPECT_TRUE(ReadTestFile(chosen.Path() + rec.fname) == sources.at(rec.fname))
                << rec.fname;
        host.boxes.clear();
    }
    std::map<std::string, std::string> sources;
};

} // namespace

TEST_F(ArchiveContainer, TrailersAndIndexLinesMatchWhatIsWrittenByHandAlsoUnderGzip) {
    const std::string empty = Source("empty", ""), path = Source("abc.txt", "abc");
    // The trailer keeps 255 bytes of a longer path; the index all of it.
    const std::string longPath = Source(std::string(250, 'd') + "/f.txt", "x");
    FileList files = {DskFileFor(empty), DskFileFor(path), DskFileFor(longPath),
                      DskFileFor(Source("text", std::string(300000, 't')))};
    files[1].dAttrib = 2175008800u;
    files[1].tCreationTimeSet(29600000, static_cast<std::uint32_t>(-1500000000));
    files[1].tLastAccessTimeSet(29610000, 12345678);
    files[1].tLastWriteTimeSet(29600001, 200000000);
    clsArchive archive;
    Open(archive);
    for (const clsDskFile& f : files)
        ASSERT_EQ(archive.AddFileToArchive(f, false), 1);
    ASSERT_TRUE(archive.CloseArchive());
    // A zero-byte file is its trailer alone.
    const std::string volume = ReadTestFile(Staging("Daily.darc"));
    EXPECT_EQ(volume.substr(0, empty.size() + 62), empty + "000000000000" + "00000000" +
                                                       "00000000000000" + "00000000000512" +
                                                       "20240301221500");
    EXPECT_EQ(volume.substr(512, 512), std::string("abc") + std::string(509, '\0'));
    std::string trailer = path + "000000000003" + "61626300" + "00000000000512" + "00000000001536" +
                          "20240301221500" + "0002175008800";
    trailer.resize(512, '\0');
    EXPECT_TRUE(volume.substr(1024, 512) == trailer);
    EXPECT_EQ(volume.substr(2048, 255 + 12), longPath.substr(0, 255) + "000000000001");
    const std::string index = ReadTestFile(Staging("Daily.fs"));
    const std::size_t second = index.find("\r\n") + 2;
    EXPECT_EQ(index.substr(second, index.find("\r\n", second) + 2 - second),
              "dSession=20240301221500|RecSize=512|arcStart=Daily|sOffs=512|arcEnd=Daily"
              "|dEndOffset=1536|fname=" +
                  path +
                  "|size=3|crc=61626300|Attrib=2175008800|dCT=29600000/-1500000000"
                  "|dLAt=29610000/12345678|dLWt=29600001/200000000\r\n");
    EXPECT_EQ(Index()[2].fname, longPath);
    EXPECT_EQ(archive.currSize(), 300004);
    ExpectEveryFileRestorable(false);
    // Compressed, the volume unzips with zcat to the same bytes, and the index is the same.
    clsArchive zipped;
    Open(zipped, true);
    for (const clsDskFile& f : files)
        ASSERT_EQ(zipped.AddFileToArchive(f, false), 1);
    ASSERT_TRUE(zipped.CloseArchive());
    EXPECT_TRUE(Zcat(Staging("Daily.darc")) == volume);
    EXPECT_TRUE(ReadTestFile(Staging("Daily.fs")) == index);
    EXPECT_LT(FileSize(Staging("Daily.darc")), 100000);
    ExpectEveryFileRestorable(true);
}

TEST_F(ArchiveContainer, DuplicatesUnstorableNamesAndAClosedArchiveWriteNothing) {
    const std::string path = Source("twice", "data");
    clsArchive archive;
    EXPECT_EQ(Add(archive, path), 2); // not opened yet
    EXPECT_TRUE(host.Logged("archive is closed after an earlier failure: " + path));
    Open(archive);
    ASSERT_EQ(::mkfifo(source.File("pipe").c_str(), 0600), 0);
    // Names with "|" or a line break would come back from the index as other
    // files; a pipe is refused at once rather than waiting for a writer.
    EXPECT_EQ(
        (std::vector<int>{Add(archive, path), Add(archive, path), Add(archive, path, true),
                          Add(archive, source.File("gone")), Add(archive, source.File("pipe")),
                          Add(archive, Source("a|fname=b", "x")),
                          Add(archive, Source("line\nbreak", "x"))}),
        (std::vector<int>{1, 12, 13, 14, 14, 14, 14}));
    EXPECT_TRUE(host.Logged("ERROR:clsFile.fOpen()->2---" + source.File("gone")));
    archive.CloseArchive();
    EXPECT_EQ(ReadTestFile(Staging("Daily.darc")).size() * 10 + Index().size(), 10241u);
    EXPECT_EQ(Add(archive, path), 2);
    clsArchive blocked; // the volume cannot be created
    Open(blocked);
    ASSERT_TRUE(CreateFolderPath(Staging("Daily.darc")));
    EXPECT_EQ(Add(blocked, path), 14);
    EXPECT_TRUE(blocked.Volumes.empty());
    EXPECT_FALSE(FileExists(Staging("Daily.fs")));
}
// Volumes are split on their size on disk; an entry, or its trailer alone,
// may run on into the next one. `placed` lists each entry as
// "start@offset..end@endOffset" (end offset left out for gzip, where it
// depends on the compression). A compressed volume never exceeds the limit
// and ends less than one compression chunk short of it.
TEST_F(ArchiveContainer, SplitsNameVolumesInOrderAndEntriesSpanThem) {
    const auto expectSplit = [&](bool zipped, std::int64_t limit, bool split,
                                 const std::vector<std::pair<const char*, std::string>>& files,
                                 const std::string& placed,
                                 const std::vector<std::int64_t>& sizes) {
        clsArchive archive;
        Open(archive, zipped, true, static_cast<int>(limit));
        archive.bSplit = split;
        for (const auto& [name, content] : files)
            ASSERT_EQ(Add(archive, Source(name, content)), 1);
        ASSERT_TRUE(archive.CloseArchive());
        std::string found;
        for (const clsRestoreFileData& r : Index())
            found += r.arcStart + "@" + std::to_string(r.soffs) + ".." + r.arcEnd +
                     (zipped ? " " : "@" + std::to_string(r.dendoffset) + " ");
        EXPECT_EQ(found.substr(0, placed.size()), placed);
        for (std::size_t v = 0; v < sizes.size(); ++v)
            EXPECT_EQ(FileSize(Staging(VolumeFileName(VolumeName("Daily", v)))), sizes[v]);
        EXPECT_EQ(archive.Volumes.size(),
                  zipped ? std::max<std::size_t>(2, archive.Volumes.size()) : sizes.size());
        for (std::size_t v = 0; zipped && v < archive.Volumes.size(); ++v) {
            const std::int64_t size = FileSize(archive.Volumes[v].FullName());
            EXPECT_LE(size, limit) << v;
            if (v + 1 < archive.Volumes.size())
                EXPECT_GT(size, limit - GzipVolumeWriter::kChunk) << v;
        }
        EXPECT_EQ(host.Logged("Splitting file ...Daily-001"), split);
        ExpectEveryFileRestorable(zipped);
        host.activity.clear();
    };
    // 62 blocks of 16384 reach the limit; the other 30 and the trailer go on.
    expectSplit(false, 1000000, true, {{"big", PseudoRandomBytes(1500000, 2)}},
                "Daily@0..Daily-001@507904 ", {62 * 16384, 31 * 16384});
    // The trailer alone opens the next volume; an exact fit starts the next at 0.
    expectSplit(
        false, 10240, true,
        {{"fills", std::string(10240, 'f')}, {"small", std::string(9216, 's')}, {"n", "n"}},
        "Daily@0..Daily-001@512 Daily-001@512..Daily-001@10240 Daily-002@0..Daily-002@1024 ",
        {10240, 10240, 1024});
    // Compressed: split before the block that might not fit.
    expectSplit(true, 1000000, true, {{"big", PseudoRandomBytes(1500000, 4)}},
                "Daily@0..Daily-001 ", {});
    std::string words;
    for (std::uint32_t i = 0; words.size() < 2000000; ++i)
        words += std::to_string(i * 2654435761u % 99991) + (i % 13 ? " " : "\n");
    expectSplit(true, 150000, true,
                {{"words", words},
                 {"mixed", PseudoRandomBytes(300000, 7) + words.substr(0, 90000)},
                 {"s1", "a"},
                 {"s2", std::string(3000, 'b')}},
                "Daily@0..Daily-0", {});
}
// A file that cannot be finished (skip, cancel, full disk) is cut away again:
// the volumes and the index end up as if it had never been there, also when
// it ran on into a volume of its own or filled compression chunks.
TEST_F(ArchiveContainer, AnEntryThatFailsLeavesTheVolumesAsIfItNeverWas) {
    std::shared_ptr<void> limit;
    const std::string first = Source("first", PseudoRandomBytes(6000, 5));
    // Long enough that the writer cannot keep all of it in memory.
    const std::size_t chunks = 2 * std::max(1u, std::thread::hardware_concurrency()) + 2;
    const std::string failing =
        Source("failing", PseudoRandomBytes(chunks * GzipVolumeWriter::kChunk, 6));
    const std::string next = Source("next", "next");
    // Access times later than the changes: reading the files moves them no more.
    const utimbuf times{2000000000, 1700000000};
    for (const std::string& f : {first, failing, next})
        ASSERT_EQ(::utime(f.c_str(), &times), 0);
    const auto staged = [&] {
        std::string all;
        for (const std::string& name : ListFileNames(home.File("temp")))
            all += name + ":" + ReadTestFile(Staging(name)) + "\n";
        return all;
    };
    const auto expectRollBack = [&](bool zipped, int split, int result, int err, auto arm) {
        clsArchive reference;
        Open(reference, zipped, true, split);
        ASSERT_EQ(Add(reference, first) + Add(reference, next), 2);
        ASSERT_TRUE(reference.CloseArchive());
        const std::string expected = staged();
        clsArchive archive;
        Open(archive, zipped, true, split);
        ASSERT_EQ(Add(archive, first), 1);
        arm(archive);
        EXPECT_EQ(Add(archive, failing), result);
        host.onYield = nullptr;
        limit.reset();
        EXPECT_EQ(archive.LastErrno(), err);
        EXPECT_EQ(host.Logged("Archiving stopped at " + Staging("Daily.darc") + ": " +
                              (err != 0 ? std::strerror(err) : "")),
                  err != 0);
        EXPECT_FALSE(gSkipRequest);
        gAbort = false;
        EXPECT_EQ(archive.Volumes.size(), 1u); // a volume begun for it is gone
        ASSERT_EQ(Add(archive, next), 1);
        ASSERT_TRUE(archive.CloseArchive());
        EXPECT_TRUE(staged() == expected) << zipped << split;
        ExpectEveryFileRestorable(zipped);
        host.activity.clear();
    };
    expectRollBack(false, 0, 10, 0, [&](clsArchive&) {
        host.onYield = [n = 0]() mutable { gSkipRequest = ++n == 5; };
    });
    expectRollBack(true, 0, 10, 0, [&](clsArchive&) {
        host.onYield = [n = 0]() mutable { gAbort = ++n == 120; }; // chunks are under way
    });
    for (const bool zipped : {false, true})
        expectRollBack(zipped, zipped ? 100000 : 10240, 10, 0, [&](clsArchive& archive) {
            host.onYield = [&] { gSkipRequest = archive.Index() == 1; }; // after the split
        });
    for (const bool zipped : {false, true})
        expectRollBack(zipped, 0, 2, EFBIG, [&](clsArchive&) {
            limit = LimitFileSize(FileSize(Staging("Daily.darc")) + 5000);
        });
    // Index lines go out in batches: lines an incremental run's index cannot
    // take fail the run on staging, with the earlier lines kept whole.
    const std::string earlier = std::string(400000, 'x') + "\r\n";
    for (const int files : {1, 300}) { // 300 lines fill more than one batch
        home.Write("temp/Daily.fs", earlier);
        clsArchive archive;
        Open(archive, false, false);
        limit = LimitFileSize(earlier.size() + 20);
        int stored = 0;
        for (int i = 0; i < files; ++i)
            stored += Add(archive, Source("f" + std::to_string(i), "data")) == 1;
        const bool closed = archive.CloseArchive();
        limit.reset();
        EXPECT_FALSE(closed);
        EXPECT_TRUE(archive.StagingFailed());
        EXPECT_EQ(archive.LastErrno(), EFBIG);
        // A batch that fails on the way drops the entry that found out.
        EXPECT_EQ(stored, files == 1 ? 1 : files - 1);
        EXPECT_TRUE(ReadTestFile(Staging("Daily.fs")) == earlier) << files;
    }
}

TEST_F(ArchiveContainer, AFileThatChangesWhileStoredIsStoredAsRead) {
    const std::string changes = Source("changes", std::string(600000, 'a'));
    const std::string grows = Source("grows", std::string(3000, 'b'));
    clsArchive archive;
    Open(archive);
    // Cut just past the first read-ahead run while it is read (the next read
    // comes back short), restored after it: what is stored ends at the cut.
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
    ASSERT_TRUE(archive.CloseArchive());
    ASSERT_EQ(Index().size(), 2u);
    EXPECT_EQ(Index()[0].size, cutAt);
    EXPECT_EQ(Index()[1].size, 3000); // as big as when it was opened
    sources[changes] = std::string(cutAt, 'a');
    ExpectEveryFileRestorable(false);
}

TEST_F(ArchiveContainer, StagingIsPreparedForThisJobAloneAndAskedAboutWhenUnusable) {
    for (const bool zipped : {false, true}) {
        home.Write("temp/Daily.darc", std::string(70000, 'J'));
        clsArchive archive;
        Open(archive, zipped, false);
        ASSERT_EQ(Add(archive, Source("f", "fresh")), 1);
        EXPECT_EQ(Add(archive, source.File("gone")), 14); // the run goes on, and may close
        ASSERT_TRUE(archive.CloseArchive());
        const std::string volume = Staging("Daily.darc");
        EXPECT_EQ((zipped ? Zcat(volume) : ReadTestFile(volume)).size(), 1024u) << zipped;
        ExpectEveryFileRestorable(zipped);
        RemoveFile(Staging("Daily.fs"));
    }
    for (const char* name : {"Daily.darc", "Daily-001.darc", "Daily.fs", "Other.fs"})
        home.Write(std::string("temp/") + name, "old");
    clsArchive full;
    Open(full, false, true);
    EXPECT_EQ(ListFileNames(home.File("temp")), std::vector<std::string>{"Other.fs"});
    EXPECT_EQ(full.sTempPath, home.File("temp/"));
    // A file where the staging folder belongs: asked after five tries.
    std::filesystem::remove_all(home.File("temp"));
    home.Write("temp", "a file where the folder should be");
    host.answers = {MsgAnswer::Retry, MsgAnswer::Ignore};
    clsArchive archive;
    archive.NewArchive("Daily", true);
    EXPECT_FALSE(archive.IsOpened);
    EXPECT_FALSE(gAbort);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, "Cannot delete files from temporary directory!\nYou have to "
                                  "release the files of this dir manually the press OK!");
    EXPECT_TRUE(host.boxes[0].buttons == MsgButtons::AbortRetryIgnore &&
                host.boxes[0].icon == MsgIcon::Critical);
    host.answers = {MsgAnswer::Abort};
    archive.NewArchive("Daily", true);
    EXPECT_TRUE(gAbort);
}
