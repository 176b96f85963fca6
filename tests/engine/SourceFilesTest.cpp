#include "engine/SourceFiles.h"
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "platform/ProgramFolder.h"
#include "support/TempHome.h"
#include "support/TestHost.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void MakeFolder(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
}

void SetTimes(const std::string& path, timespec access, timespec write) {
    const timespec times[2] = {access, write};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void MakeSymlink(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

std::map<std::string, clsDskFile> ByFullName(const FileList& list) {
    std::map<std::string, clsDskFile> map;
    for (const clsDskFile& f : list)
        map.emplace(f.FullName(), f);
    return map;
}

std::vector<std::string> FullNames(const FileList& list) {
    std::vector<std::string> names;
    for (const clsDskFile& f : list)
        names.push_back(f.FullName());
    return names;
}

class SourceSearch : public ::testing::Test {
protected:
    void SetUp() override {
        SetProgramFolder(home.Path());
        LoadMessageCatalogue("");
        gAbort = false;
        gPaused = false;
        gQuitting = false;
        root = home.File("src");
        MakeFolder(root);
    }
    void TearDown() override {
        gAbort = false;
        gPaused = false;
        gQuitting = false;
        gBackupRunning = false;
        SetProgramFolder("");
    }

    FileList Search(const std::string& pattern) {
        FileList list;
        SearchFiles(pattern, list);
        return list;
    }
    FileList SearchRoot() { return Search(root + "/*.*"); }

    TempHome home;
    TestHost host;
    std::string root;
};

} // namespace

TEST_F(SourceSearch, NestedTreeWithEmptyFoldersYieldsOnlyTheFiles) {
    WriteTestFile(root + "/a.txt", "alpha");
    MakeFolder(root + "/empty");
    MakeFolder(root + "/sub");
    MakeFolder(root + "/sub/deeper");
    MakeFolder(root + "/sub/deeper/emptier");
    WriteTestFile(root + "/sub/b.bin", "");
    WriteTestFile(root + "/sub/deeper/c.dat", std::string(1000, 'c'));
    WriteTestFile(root + "/.profile", "dot");

    const FileList list = SearchRoot();

    const auto files = ByFullName(list);
    ASSERT_EQ(list.size(), 4u);
    ASSERT_EQ(files.size(), 4u);
    const clsDskFile& c = files.at(root + "/sub/deeper/c.dat");
    EXPECT_EQ(c.path, root + "/sub/deeper/");
    EXPECT_EQ(c.filename, "c.dat");
    EXPECT_EQ(c.dSize, 1000);
    EXPECT_EQ(files.at(root + "/a.txt").dSize, 5);
    EXPECT_EQ(files.at(root + "/sub/b.bin").dSize, 0);
    EXPECT_EQ(files.at(root + "/.profile").path, root + "/");
    for (const clsDskFile& f : list) {
        EXPECT_NE(f.filename, ".");
        EXPECT_NE(f.filename, "..");
        EXPECT_EQ(f.dAttrib & kAttrDirectory, 0u) << f.FullName();
    }
    const std::string progress =
        "update:Searching for files ...|c.dat < " + root + "/sub/deeper/|0.000000|0.000000";
    EXPECT_NE(std::find(host.progress.begin(), host.progress.end(), progress), host.progress.end());
}

TEST_F(SourceSearch, RecordsCarryAttributeWordAndFileTimes) {
    const std::string plain = root + "/plain.txt";
    const std::string readOnly = root + "/locked.txt";
    const std::string hidden = root + "/.secret";
    WriteTestFile(plain, "p");
    WriteTestFile(readOnly, "r");
    WriteTestFile(hidden, "h");
    ASSERT_EQ(::chmod(plain.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    SetTimes(plain, {1000000000, 5}, {1234567890, 123456789});

    const auto files = ByFullName(SearchRoot());

    ASSERT_EQ(files.size(), 3u);
    // Regular file 0640: mode 0100640 in the high half, archive bit only below.
    EXPECT_EQ(files.at(plain).dAttrib, (0100640u << 16) | 32u);
    EXPECT_EQ(files.at(readOnly).dAttrib, (0100444u << 16) | 32u | 1u);
    EXPECT_EQ(files.at(hidden).dAttrib & 0xFFFFu, 32u | 2u);
    // 1234567890 s and 123456789 ns after 1970, in 100 ns ticks since 1601:
    // 12345678900000000 + 1234567 + 116444736000000000.
    EXPECT_EQ(files.at(plain).tLastWriteTimeGet().Value(), 128790414901234567ull);
    EXPECT_EQ(files.at(plain).tLastWriteTimeGet(), FileTimeFromUnix(1234567890, 123456789));
    EXPECT_EQ(files.at(plain).tLastAccessTimeGet(), FileTimeFromUnix(1000000000, 5));
    EXPECT_NE(files.at(plain).tCreationTimeGet().Value(), 0u);
}

TEST_F(SourceSearch, LinkToAFileIsListedUnderTheLinkNameWithTheTargetsData) {
    MakeFolder(home.File("outside"));
    const std::string target = home.File("outside/data.bin");
    WriteTestFile(target, std::string(77, 'd'));
    SetTimes(target, {1500000000, 0}, {1600000000, 700});
    MakeSymlink(target, root + "/link.bin");
    MakeSymlink("link.bin", root + "/link-to-link.bin");

    const auto files = ByFullName(SearchRoot());

    ASSERT_EQ(files.size(), 2u);
    const clsDskFile& link = files.at(root + "/link.bin");
    EXPECT_EQ(link.filename, "link.bin");
    EXPECT_EQ(link.dSize, 77);
    EXPECT_EQ(link.tLastWriteTimeGet(), FileTimeFromUnix(1600000000, 700));
    EXPECT_EQ(link.dAttrib & kAttrArchive, kAttrArchive);
    EXPECT_EQ(files.at(root + "/link-to-link.bin").dSize, 77);
}

TEST_F(SourceSearch, LinksToFoldersAreNotFollowedSoALoopEnds) {
    MakeFolder(root + "/sub");
    WriteTestFile(root + "/sub/only.txt", "1");
    MakeSymlink("..", root + "/sub/up");
    MakeSymlink(root, root + "/sub/self");
    MakeFolder(home.File("elsewhere"));
    WriteTestFile(home.File("elsewhere/not-mine.txt"), "2");
    MakeSymlink(home.File("elsewhere"), root + "/elsewhere");

    const FileList list = SearchRoot();

    EXPECT_EQ(FullNames(list), std::vector<std::string>{root + "/sub/only.txt"});
}

TEST_F(SourceSearch, FifosSocketsAndBrokenLinksArePassedOverWithoutBlocking) {
    WriteTestFile(root + "/real.txt", "r");
    ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0644), 0);
    MakeSymlink(root + "/pipe", root + "/pipe-link");
    MakeSymlink(root + "/nowhere", root + "/dangling");
    MakeSymlink("/dev/null", root + "/device-link");

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = root + "/sock";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, socketPath.c_str());
    const bool bound = ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(sock);
    ASSERT_TRUE(bound);

    const FileList list = SearchRoot();

    EXPECT_EQ(FullNames(list), std::vector<std::string>{root + "/real.txt"});
}

// Root reads every folder whatever its mode, so there the search runs in a
// child that has given up root; its findings come back through a pipe.
TEST_F(SourceSearch, UnreadableFoldersAddNothingAndTheSearchGoesOn) {
    MakeFolder(root + "/a");
    WriteTestFile(root + "/a/first.txt", "1");
    MakeFolder(root + "/locked");
    WriteTestFile(root + "/locked/secret.txt", "s");
    MakeFolder(root + "/listable");
    WriteTestFile(root + "/listable/unstattable.txt", "u");
    MakeFolder(root + "/z");
    WriteTestFile(root + "/z/last.txt", "2");
    ASSERT_EQ(::chmod(home.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((root + "/locked").c_str(), 0), 0);
    // Names can be read but not looked up.
    ASSERT_EQ(::chmod((root + "/listable").c_str(), 0444), 0);

    std::vector<std::string> found;
    bool restricted = ::geteuid() != 0;
    if (restricted) {
        found = FullNames(SearchRoot());
    } else {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            const bool dropped =
                ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
            std::string out = dropped ? "dropped\n" : "root\n";
            FileList list;
            SearchFiles(root + "/*.*", list);
            for (const clsDskFile& f : list)
                out += f.FullName() + "\n";
            [[maybe_unused]] const ssize_t n = ::write(fds[1], out.data(), out.size());
            ::_exit(0);
        }
        ::close(fds[1]);
        std::string out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<std::size_t>(n));
        ::close(fds[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        std::size_t pos = out.find('\n');
        ASSERT_NE(pos, std::string::npos);
        restricted = out.substr(0, pos) == "dropped";
        while (++pos < out.size()) {
            const std::size_t end = out.find('\n', pos);
            found.push_back(out.substr(pos, end - pos));
            pos = end;
        }
    }
    ::chmod((root + "/locked").c_str(), 0755);
    ::chmod((root + "/listable").c_str(), 0755);

    if (restricted) {
        EXPECT_EQ(found, (std::vector<std::string>{root + "/a/first.txt", root + "/z/last.txt"}));
    } else {
        // Could not give up root: the folders were readable after all, and
        // the files around them must still be there.
        EXPECT_EQ(found.front(), root + "/a/first.txt");
        EXPECT_EQ(found.back(), root + "/z/last.txt");
    }
}

TEST_F(SourceSearch, AbortDuringTheSearchStopsEveryLevel) {
    for (const char* folder : {"/d1", "/d2"}) {
        MakeFolder(root + folder);
        for (int i = 0; i < 20; ++i)
            WriteTestFile(root + folder + "/f" + std::to_string(100 + i), "x");
    }
    host.onYield = [&] {
        if (host.yields == 6)
            gAbort = true;
    };

    const FileList list = SearchRoot();

    // The sixth entry (d1 itself was the first) is the last one looked at.
    EXPECT_EQ(host.yields, 6);
    ASSERT_FALSE(list.empty());
    EXPECT_LT(list.size(), 20u);
    for (const clsDskFile& f : list)
        EXPECT_EQ(f.path, root + "/d1/");
}

TEST_F(SourceSearch, QuittingEndsTheSearch) {
    for (int i = 0; i < 10; ++i)
        WriteTestFile(root + "/f" + std::to_string(i), "x");
    host.onYield = [] { gQuitting = true; };

    const FileList list = SearchRoot();

    EXPECT_EQ(host.yields, 1);
    EXPECT_LE(list.size(), 1u);
}

TEST_F(SourceSearch, PauseHoldsTheSearchUntilContinuedThenListsEverything) {
    for (int i = 0; i < 5; ++i)
        WriteTestFile(root + "/f" + std::to_string(i), "x");
    gBackupRunning = true;
    int filesWhenPaused = -1;
    FileList list;
    host.onYield = [&] {
        if (host.yields == 2) {
            gPaused = true;
        } else if (gPaused && host.yields == 6) {
            filesWhenPaused = static_cast<int>(list.size());
            gPaused = false;
        }
    };

    SearchFiles(root + "/*.*", list);

    EXPECT_EQ(list.size(), 5u);
    // Yields 3 to 6 were the pause loop's: no file was added meanwhile.
    EXPECT_EQ(filesWhenPaused, 2);
    EXPECT_NE(std::find(host.captionSuffixes.begin(), host.captionSuffixes.end(), "-Paused"),
              host.captionSuffixes.end());
}

TEST_F(SourceSearch, SizesBeyondFourGibibytesAreExact) {
    const std::int64_t big = (std::int64_t{5} << 30) + 123;
    const std::int64_t middle = (std::int64_t{3} << 30) + 1;
    for (const auto& [name, size] :
         {std::pair{"/big.img", big}, std::pair{"/middle.img", middle}}) {
        const int fd = ::open((root + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const int truncated = ::ftruncate(fd, size);
        ::close(fd);
        if (truncated != 0)
            GTEST_SKIP() << "the temporary folder cannot hold a sparse file of " << size;
    }

    const auto files = ByFullName(SearchRoot());

    EXPECT_EQ(files.at(root + "/big.img").dSize, 5368709243);
    EXPECT_EQ(files.at(root + "/middle.img").dSize, 3221225473);
}

TEST_F(SourceSearch, PatternFormsAndMissingFoldersGiveClearResults) {
    WriteTestFile(root + "/a.txt", "a");
    WriteTestFile(root + "/b*.*", "star"); // "*" is a legal name character here

    // Doubled separators collapse, so full names stay comparable across runs.
    EXPECT_EQ(FullNames(Search(root + "//*.*")),
              (std::vector<std::string>{root + "/a.txt", root + "/b*.*"}));
    EXPECT_EQ(Search(root + "/a.txt/*.*").size(), 0u);
    EXPECT_EQ(Search(home.File("missing/*.*")).size(), 0u);
    EXPECT_EQ(Search("").size(), 0u);
    EXPECT_EQ(Search("*.*").size(), 0u);

    // The list is appended to, never replaced.
    FileList list(1);
    list[0].filename = "kept";
    SearchFiles(root + "/*.*", list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].filename, "kept");
}

TEST_F(SourceSearch, DeepTreesAreWalkedToTheBottom) {
    std::string folder = root;
    for (int level = 0; level < 400; ++level) {
        folder += "/d";
        MakeFolder(folder);
    }
    WriteTestFile(folder + "/bottom.txt", "deep");

    const FileList list = SearchRoot();

    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, folder + "/");
    EXPECT_EQ(list[0].dSize, 4);
}

// Single-file sources.

TEST_F(SourceSearch, SingleFileKeepsTheFolderCaseAndTheStoredSize) {
    MakeFolder(home.File("Data"));
    const std::string file = home.File("Data/Report.doc");
    WriteTestFile(file, "ten bytes!");
    SetTimes(file, {1400000000, 0}, {1300000000, 900});
    clsBackupFile entry;
    entry.sPath = file;
    entry.dSize = 4321;

    const clsDskFile record = SingleFileRecord(entry);

    EXPECT_EQ(record.path, home.Path() + "/Data/");
    EXPECT_EQ(record.filename, "Report.doc");
    EXPECT_EQ(record.FullName(), file);
    EXPECT_EQ(record.dSize, 4321);
    EXPECT_EQ(record.dAttrib & 0xFFFFu, kAttrArchive);
    EXPECT_EQ(record.tLastWriteTimeGet(), FileTimeFromUnix(1300000000, 900));
    EXPECT_EQ(record.tLastAccessTimeGet(), FileTimeFromUnix(1400000000, 0));
}

TEST_F(SourceSearch, MissingSingleFileGivesAnEmptyNameAndZeroTimes) {
    clsBackupFile entry;
    entry.sPath = home.File("Data/Gone.doc");
    entry.dSize = 99;

    const clsDskFile record = SingleFileRecord(entry);

    EXPECT_EQ(record.filename, "");
    EXPECT_EQ(record.path, home.Path() + "/Data/");
    EXPECT_EQ(record.dSize, 99);
    EXPECT_EQ(record.dAttrib, 0u);
    EXPECT_EQ(record.tLastWriteTimeGet().Value(), 0u);
    EXPECT_EQ(record.tCreationTimeGet().Value(), 0u);
}

TEST_F(SourceSearch, SingleFileThatIsNoRegularFileCountsAsMissing) {
    ASSERT_EQ(::mkfifo(home.File("pipe").c_str(), 0644), 0);
    MakeFolder(home.File("folder"));
    for (const std::string& path : {home.File("pipe"), home.File("folder"), home.Path() + "/"}) {
        clsBackupFile entry;
        entry.sPath = path;
        entry.dSize = -5; // a damaged job list must not give a negative size
        const clsDskFile record = SingleFileRecord(entry);
        EXPECT_EQ(record.filename, "") << path;
        EXPECT_EQ(record.dSize, 0) << path;
    }
    clsBackupFile nan;
    nan.sPath = home.File("pipe");
    nan.dSize = std::nan("");
    EXPECT_EQ(SingleFileRecord(nan).dSize, 0);
}
