#include "engine/SourceFiles.h"
#include "core/RunControl.h"
#include "support/ProgramFolderSetup.h"

#include <cmath>
#include <cstring>
#include <map>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace {

std::vector<std::string> FullNames(const FileList& list) {
    std::vector<std::string> names;
    for (const clsDskFile& f : list)
        names.push_back(f.FullName());
    return names;
}
class SourceSearch : public RunFixture {
protected:
    static void MakeFolder(const std::string& path) {
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path << ": " << std::strerror(errno);
    }
    static void SetTimes(const std::string& path, timespec access, timespec write) {
        const timespec times[2] = {access, write};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
    }
    static void Link(const std::string& target, const std::string& link) {
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
    }
    FileList Search(const std::string& pattern) {
        FileList list;
        SearchFiles(pattern, list);
        return list;
    }
    std::map<std::string, clsDskFile> SearchRoot() {
        std::map<std::string, clsDskFile> files;
        for (const clsDskFile& f : Search(root + "/*.*"))
            files.emplace(f.FullName(), f);
        return files;
    }

    const std::string root = source.Path();
};

} // namespace

// Fifos, sockets and devices are passed over without blocking; links to
// them, and dangling ones, are listed as the links they are.
TEST_F(SourceSearch, NestedTreeWithEmptyFoldersYieldsTheRegularFilesAndLinks) {
    std::string deep = root + "/z";
    for (const char* folder : {"/empty", "/sub", "/sub/deeper", "/sub/deeper/emptier", "/z"})
        MakeFolder(root + folder);
    for (int level = 0; level < 400; ++level)
        MakeFolder(deep += "/d");
    WriteTestFile(root + "/a.txt", "alpha");
    WriteTestFile(root + "/sub/b.bin", "");
    WriteTestFile(root + "/sub/deeper/c.dat", std::string(1000, 'c'));
    WriteTestFile(root + "/.profile", "dot");
    WriteTestFile(deep + "/bottom.txt", "deep");
    ASSERT_EQ(::mkfifo((root + "/pipe").c_str(), 0644), 0);
    Link(root + "/pipe", root + "/pipe-link");
    Link(root + "/nowhere", root + "/dangling");
    Link("/dev/null", root + "/device-link");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX};
    (root + "/sock").copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(sock);

    const FileList list = Search(root + "/*.*");

    // Depth first, each level in the byte order of its names.
    EXPECT_EQ(FullNames(list), (std::vector<std::string>{
                                   root + "/.profile", root + "/a.txt", root + "/dangling",
                                   root + "/device-link", root + "/pipe-link", root + "/sub/b.bin",
                                   root + "/sub/deeper/c.dat", deep + "/bottom.txt"}));
    EXPECT_EQ(list[6].path + " " + list[6].filename + " " + std::to_string(list[6].dSize) + " " +
                  std::to_string(list[1].dSize),
              root + "/sub/deeper/ c.dat 1000 5");
    EXPECT_TRUE(host.ShowedProgress("update:Searching for files ...|c.dat < " + root +
                                    "/sub/deeper/|0.000000|0.000000"));
}

// A link inside a source is listed as itself, whatever it leads to, and a
// link to a folder is never entered; a source that is itself a link is followed.
TEST_F(SourceSearch, RecordsCarryAttributeWordAndFileTimesLinksTheirOwn) {
    const std::string plain = root + "/plain.txt";
    const std::string readOnly = root + "/locked.txt";
    const std::string target = home.File("outside/data.bin");
    WriteTestFile(plain, "p");
    WriteTestFile(readOnly, "r");
    WriteTestFile(root + "/.secret", "h");
    WriteTestFile(target, std::string(77, 'd'));
    ASSERT_EQ(::chmod(plain.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    SetTimes(plain, {1000000000, 5}, {1234567890, 123456789});
    MakeFolder(root + "/sub");
    const std::map<std::string, std::string> links = {{"/link.bin", target},
                                                      {"/link-to-link.bin", "link.bin"},
                                                      {"/sub/up", ".."},
                                                      {"/sub/self", root},
                                                      {"/outside", home.File("outside")}};
    for (const auto& [name, text] : links)
        Link(text, root + name);
    const timespec linkTimes[2] = {{1500000000, 0}, {1600000000, 700}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (root + "/link.bin").c_str(), linkTimes, AT_SYMLINK_NOFOLLOW),
              0);
    WriteTestFile(root + "/huge", ""); // sizes beyond 32 bits are exact
    ASSERT_EQ(::truncate((root + "/huge").c_str(), (std::int64_t{5} << 30) + 123), 0);

    const auto files = SearchRoot();

    ASSERT_EQ(files.size(), 9u); // a loop of links ends, and nothing outside is listed
    // Regular file 0640: mode 0100640 in the high half, archive bit only below.
    EXPECT_EQ(files.at(plain).dAttrib, (0100640u << 16) | 32u);
    EXPECT_EQ(files.at(readOnly).dAttrib, (0100444u << 16) | 32u | 1u);
    EXPECT_EQ(files.at(root + "/.secret").dAttrib & 0xFFFFu, 32u | 2u);
    // 1234567890 s and 123456789 ns after 1970, in 100 ns ticks since 1601:
    // 12345678900000000 + 1234567 + 116444736000000000.
    EXPECT_EQ(files.at(plain).tLastWriteTimeGet().Value(), 128790414901234567ull);
    EXPECT_EQ(files.at(plain).tLastAccessTimeGet(), FileTimeFromUnix(1000000000, 5));
    EXPECT_NE(files.at(plain).tCreationTimeGet().Value(), 0u);
    EXPECT_EQ(files.at(plain).linkTarget, "");
    for (const auto& [name, text] : links) {
        const clsDskFile& link = files.at(root + name);
        EXPECT_EQ(link.linkTarget + " " + std::to_string(link.dSize),
                  text + " " + std::to_string(text.size()));
        EXPECT_EQ(link.dAttrib, 0120777u << 16) << name; // no archive bit: no regular file
    }
    EXPECT_EQ(files.at(root + "/link.bin").tLastWriteTimeGet(), FileTimeFromUnix(1600000000, 700));
    EXPECT_EQ(files.at(root + "/huge").dSize, 5368709243);
    // The user chose a link as the source: what it leads to is listed below its name.
    const FileList chosen = Search(root + "/outside/*.*");
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].FullName() + " " + std::to_string(chosen[0].dSize),
              root + "/outside/data.bin 77");
    const clsDskFile single = SingleFileRecord({.sPath = root + "/link.bin"});
    EXPECT_EQ(single.filename + " " + std::to_string(single.dAttrib >> 16) + " " +
                  single.linkTarget,
              "link.bin " + std::to_string(0100644) + " ");
}

// Root reads every folder whatever its mode, so the search looks with the
// file-system identity of "nobody", which drops that power for this thread.
TEST_F(SourceSearch, UnreadableFoldersAddNothingAndTheSearchGoesOn) {
    for (const char* folder : {"/a", "/locked", "/listable", "/z"})
        MakeFolder(root + folder);
    WriteTestFile(root + "/a/first.txt", "1");
    WriteTestFile(root + "/locked/secret.txt", "s");
    WriteTestFile(root + "/listable/unstattable.txt", "u");
    WriteTestFile(root + "/z/last.txt", "2");
    ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((root + "/locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod((root + "/listable").c_str(), 0444), 0); // names, but no look-ups
    const int before = ::setfsuid(65534);
    const std::vector<std::string> names = FullNames(Search(root + "/*.*"));
    ::setfsuid(static_cast<uid_t>(before));
    ::chmod((root + "/locked").c_str(), 0755);
    ::chmod((root + "/listable").c_str(), 0755);
    EXPECT_EQ(names, (std::vector<std::string>{root + "/a/first.txt", root + "/z/last.txt"}));
}

TEST_F(SourceSearch, AbortAndQuitEndEveryLevelPauseHoldsItUntilResumed) {
    for (int i = 0; i < 40; ++i)
        WriteTestFile(root + "/d" + std::to_string(1 + i / 20) + "/f" + std::to_string(100 + i),
                      "x");
    host.onYield = [&] { gAbort = host.yields == 6; };
    FileList list = Search(root + "/*.*");
    // The sixth entry (d1 itself was the first) is the last one looked at.
    EXPECT_EQ(std::to_string(host.yields) + " " + std::to_string(list.size()) + " " +
                  list.back().path,
              "6 5 " + root + "/d1/");
    gAbort = false;
    host.yields = 0;
    host.onYield = [] { gQuitting = true; };
    EXPECT_LE(Search(root + "/*.*").size(), 1u);
    EXPECT_EQ(host.yields, 1);
    gQuitting = false;
    host.yields = 0;
    gBackupRunning = true; // pausing is for a run in progress
    int filesWhenPaused = -1;
    list.clear();
    host.onYield = [&] {
        if (host.yields == 2) {
            RequestPause();
        } else if (IsRunPaused() && host.yields == 6) {
            filesWhenPaused = static_cast<int>(list.size());
            RequestResume();
        }
    };
    SearchFiles(root + "/*.*", list);
    EXPECT_EQ(list.size(), 40u);
    // Yields 3 to 6 were the pause loop's: no file was added meanwhile.
    EXPECT_EQ(filesWhenPaused, 1);
    EXPECT_EQ(host.captionSuffixes, (std::vector<std::string>{"-Paused", ""}));
}

TEST_F(SourceSearch, PatternFormsAndMissingFoldersGiveClearResults) {
    WriteTestFile(root + "/a.txt", "a");
    WriteTestFile(root + "/b*.*", "star"); // "*" is a legal name character here
    for (const std::string& pattern :
         {root + "/a.txt/*.*", home.File("missing/*.*"), std::string(), std::string("*.*")})
        EXPECT_TRUE(Search(pattern).empty()) << pattern;
    // Appended to, never replaced; doubled separators collapse, so full names
    // stay comparable across runs.
    FileList list = {clsDskFile{.filename = "kept"}};
    SearchFiles(root + "//*.*", list);
    EXPECT_EQ(FullNames(list), (std::vector<std::string>{"kept", root + "/a.txt", root + "/b*.*"}));
}

// A single-file source: the folder's case and the stored size are kept; one
// that is missing or no regular file has no name, no times and a sane size.
TEST_F(SourceSearch, SingleFileRecords) {
    const std::string file = home.File("Data/Report.doc");
    WriteTestFile(file, "ten bytes!");
    SetTimes(file, {1400000000, 0}, {1300000000, 900});
    const clsDskFile record = SingleFileRecord({.sPath = file, .dSize = 4321});
    EXPECT_EQ(record.path + " " + record.filename + " " + std::to_string(record.dSize) + " " +
                  std::to_string(record.dAttrib & 0xFFFFu),
              home.Path() + "/Data/ Report.doc 4321 32");
    EXPECT_EQ(record.tLastWriteTimeGet(), FileTimeFromUnix(1300000000, 900));
    EXPECT_EQ(record.tLastAccessTimeGet(), FileTimeFromUnix(1400000000, 0));

    ASSERT_EQ(::mkfifo(home.File("pipe").c_str(), 0644), 0);
    MakeFolder(home.File("folder"));
    const struct {
        std::string path;
        double stored;
        std::int64_t size; // a damaged job list must not give a negative size
    } cases[] = {{home.File("Data/Gone.doc"), 99, 99},
                 {home.File("pipe"), -5, 0},
                 {home.File("folder"), 7, 7},
                 {home.Path() + "/", 1, 1},
                 {home.File("pipe"), std::nan(""), 0}};
    for (const auto& c : cases) {
        const clsDskFile record = SingleFileRecord({.sPath = c.path, .dSize = c.stored});
        EXPECT_EQ(record.filename + "|" + std::to_string(record.dSize),
                  "|" + std::to_string(c.size));
        EXPECT_EQ(record.dAttrib + record.tLastWriteTimeGet().Value() +
                      record.tCreationTimeGet().Value(),
                  0u)
            << c.path;
    }
    EXPECT_EQ(SingleFileRecord({.sPath = home.File("Data/Gone.doc")}).path, home.Path() + "/Data/");
}
