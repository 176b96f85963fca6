#include "jobs/JobListFile.h"
#include "jobs/JobChecks.h"
#include "jobs/JobName.h"
#include "support/ProgramFolderSetup.h"

namespace {
using Jobs = std::vector<std::shared_ptr<clsBackup>>;

// Written by hand from the file format: two jobs, the second one remote and
// protected; entry numbers run on from the first job.
const std::string kTwoJobs = "[Backups]\r\nDaily\r\nRemote\r\n\r\n"
                             "[Daily]\r\nStorage=LOC\r\nDestination=/backup/daily\r\nType=FULL\r\n"
                             "Compress=NOT\r\nIMSK=*.doc;*.txt\r\nEMSK=*.tmp\r\nStatus=1\r\n"
                             "Protected=\r\nOKLast=200503012130\r\nArchived=yes\r\nSplit=0\r\n"
                             "Schedule=2,200503010800,068,2130\r\nDir0001=/home/ann/Docs/\r\n"
                             "File0001=/home/ann/notes, draft.txt,5000000000\r\n\r\n"
                             "[Remote]\r\nStorage=FTP\r\nHostname=ftp.example.org\r\nPort=21\r\n"
                             "User=ann\r\nPass=53,11,7\r\nPav=PASV\r\nDestination=/backups\r\n"
                             "Type=INCR\r\nCompress=ZIP\r\nIMSK=\r\nEMSK=\r\nStatus=0\r\n"
                             "Protected=53,11,7\r\nOKLast=189912300000\r\nArchived=no\r\n"
                             "Split=650000\r\nSchedule=1,200503010800,030\r\n"
                             "File0002=/etc/hosts,0\r\nDir0002=/srv/www\r\n\r\n";

class JobListFile : public ::testing::Test {
protected:
    void SetUp() override { LoadMessageCatalogue(""); }
    std::string Ini() const { return home.File("backups.ini"); }
    Jobs Load(const std::string& text) {
        home.Write("backups.ini", text);
        Jobs jobs;
        std::string error;
        EXPECT_TRUE(LoadBackups(Ini(), jobs, error)) << error;
        return jobs;
    }
    TempHome home;
};

std::string Section(const std::string& name, const std::string& body) {
    return "[Backups]\n" + name + "\n[" + name + "]\nStorage=LOC\n" + body;
}

// Hand-written: LF line ends, a comment, keys in odd case and order.
const std::string kByHand = "[Backups]\nDocs\nPhotos\n\n"
                            "[Docs]\n; nightly, keep the masks\nstatus=0\nDestination=/b/docs\n"
                            "IMSK=*.odt\n\n"
                            "[Photos]\nDestination=/b/photos\nStatus=1\nOKLast=202401020304\n";

class JobListSync : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        SetJobListSaving(JobListSaving::ResultsOnly);
        home.Write("backups.ini", kByHand);
        std::string error;
        ASSERT_TRUE(LoadBackups(error)) << error;
    }
    void TearDown() override { SetJobListSaving(JobListSaving::Whole), RunFixture::TearDown(); }
    // What a run of Docs leaves in memory.
    void DocsRan() {
        gBackups[0]->enumStatus = kStatusFinished;
        gBackups[0]->lastOK = *DateTime::FromParts(2026, 5, 4, 21, 30, 12);
    }
    std::string Edited(const std::string& from, const std::string& to) const {
        std::string text = home.Read("backups.ini");
        return text.replace(text.find(from), from.size(), to);
    }
};

} // namespace

TEST_F(JobListFile, JobsBuiltInMemoryWriteTheHandWrittenTextAndReadBackFromIt) {
    const DateTime mar1 = *DateTime::FromParts(2005, 3, 1, 8, 0);
    // clang-format off
    const auto daily = std::make_shared<clsBackup>(clsBackup{
        .IncludeMask = "*.doc;*.txt", .ExcludeMask = "*.tmp", .sName = "Daily",
        .sDestinationDir = "/backup/daily",
        .Files = {{.sPath = "/home/ann/Docs/", .bForD = 1},
                  {.sPath = "/home/ann/notes, draft.txt", .bForD = 0, .dSize = 5e9},
                  {.sPath = "/dev/ignored", .bForD = 7}}, // neither file nor folder
        .splitSize = -5, // below 1: no split
        .archived = true, .enumStatus = 1, .lastOK = *DateTime::FromParts(2005, 3, 1, 21, 30, 41),
        .Schedule = clsSchedule{.start = mar1, .enabled = true, .Data = 64 + 4 /* Mon, Fri */,
                                .Tip = kScheduleDaily,
                                .StartHour = *DateTime::FromParts(1899, 12, 30, 21, 30)}});
    const auto remote = std::make_shared<clsBackup>(clsBackup{
        .sName = "Remote", .bZipped = true, .sDestinationDir = "/backups", .bIncremental = true,
        .Files = {{.sPath = "/etc/hosts", .bForD = 0}, {.sPath = "/srv/www", .bForD = 1}},
        .objDestination = clsTidevault{.hostname = "ftp.example.org", .port = 21,
                                       .username = "ann", .password = "abc", .bPassiveMode = true},
        .splitSize = 650000, .destFTP = true,
        .Schedule = clsSchedule{.start = mar1, .enabled = true, .Data = 30, .Tip = kScheduleHourly},
        .password = "abc", .Protected = true});
    // clang-format on
    EXPECT_EQ(SerializeBackups({daily, remote}), kTwoJobs);
    // Read back and written again the text is the same: every written field is read into place.
    std::string lfOnly = kTwoJobs;
    std::erase(lfOnly, '\r');
    for (const std::string& text : {kTwoJobs, lfOnly}) {
        const Jobs jobs = Load(text);
        ASSERT_EQ(jobs.size(), 2u);
        EXPECT_EQ(SerializeBackups(jobs), kTwoJobs);
        EXPECT_TRUE(jobs[0]->Schedule->enabled);
        EXPECT_EQ(jobs[0]->Files[1].Index, 1);
    }
    // Any password comes back whole: longer than the 22-byte key, not ASCII, with
    // blanks, commas and "="; codes outside a byte are refused.
    const std::string secret = "pässwörd with blanks, commas = and more than twenty-two bytes";
    std::string decoded;
    ASSERT_TRUE(DecodeCharCodes(EncodeCharCodes(TransformPassword(secret)), decoded));
    EXPECT_EQ(TransformPassword(decoded), secret);
    EXPECT_FALSE(DecodeCharCodes("97,300", decoded));
    // Saving keeps the previous file as .bak, both private.
    home.Write("backups.ini.bak", "stale");
    ASSERT_TRUE(SaveBackups(Ini(), {Load(kTwoJobs).front()}));
    EXPECT_EQ(home.Read("backups.ini.bak"), kTwoJobs);
    EXPECT_EQ(home.Read("backups.ini").find("Remote"), std::string::npos);
    for (const char* name : {"backups.ini", "backups.ini.bak"}) {
        struct stat st {};
        ASSERT_EQ(::stat(home.File(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
    // Nothing else is left behind by the atomic replace.
    EXPECT_EQ(ListFileNames(home.Path()).size(), 2u);
}

TEST_F(JobListFile, ValuesLoadLenientlyOrStopTheLoadNamingWhatIsDamaged) {
    // Only exactly FULL is full and NOT uncompressed; a file entry without a
    // number after its last comma is all path.
    Jobs jobs =
        Load(Section("J", "Type=full\nCompress=no\nArchived=YeS\nStatus=2x\nDAT=2004/11/05 09:07\n"
                          "Destination=/d=e\nColour=blue\n; a comment\nSchedule=0\n"
                          "File0001=/a/b.txt\nFile0002=/a/b,c.txt\nFile0003=/a/d.txt,\n"
                          "File0004=/a/e,f.txt, 5 \n"));
    ASSERT_EQ(jobs.size(), 1u);
    clsBackup& job = *jobs[0];
    EXPECT_TRUE(job.bIncremental && job.bZipped && job.archived && !job.Schedule);
    EXPECT_EQ(job.enumStatus, 2);
    EXPECT_EQ(job.sDestinationDir, "/d=e");
    EXPECT_EQ(job.CreationDate, *DateTime::FromParts(2004, 11, 5, 9, 7));
    EXPECT_EQ(job.GetTotalSize(), 5);
    // Removing an entry matches its path trimmed and without regard to case.
    job.RemoveFile("  /A/B.TXT ");
    ASSERT_EQ(job.Files.size(), 3u);
    EXPECT_EQ(job.Files[0].sPath + job.Files[1].sPath + job.Files[2].sPath,
              "/a/b,c.txt/a/d.txt/a/e,f.txt");
    EXPECT_EQ(job.Files[2].Index, 3);
    // A damaged value or a name the list cannot hold stops the load and is named.
    // clang-format off
    // Texts not starting with "[" are the values of one job "J".
    const struct { std::string text; const char* named; } cases[] = {
        {"Split=lots\n", "Split=lots"}, {"Split=12abc\n", "Split=12abc"},
        {"OKLast=200502291200\n", "OKLast"}, {"OKLast=yesterday\n", "OKLast"},
        {"Hostname=ftp.example.org\n", "Hostname"},
        {"Schedule=2,2005x3010800,068,2130\n", "Schedule"},
        {"Schedule=2,200513010800,068,2130\n", "Schedule"},
        {"Schedule=2,200503010800,068\n", "Schedule"}, {"Protected=1,2,x\n", "Protected"},
        {"[Backups]\nA\nB\n[A]\nSplit=0\n[B]\nSplit=\n", "[B]"},
        {"[Backups]\nbackups\n", "Backup \"backups\" in the job list: A backup cannot be named"},
        {"[Backups]\nDaily\nDAILY\n", "\"DAILY\" in the job list: Backup name already exists!"}};
    // clang-format on
    for (const auto& c : cases) {
        const std::string text = c.text[0] == '[' ? c.text : Section("J", c.text);
        home.Write("backups.ini", text);
        Jobs jobs;
        std::string error;
        EXPECT_FALSE(LoadBackups(Ini(), jobs, error)) << text;
        EXPECT_TRUE(jobs.empty());
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(home.Read("backups.ini"), text);
    }
    // Why the list cannot hold a name, as the editor is told.
    // clang-format off
    const std::pair<const char*, std::vector<std::string>> names[] = {
        {"", {"Daily", "Photos 2024 (all), 50% ü", "Backups2", "Da;ly", std::string(200, 'x')}},
        {"strMsgNameTooLong", {std::string(kMaxJobNameBytes + 1, 'x')}},
        {"strMsgNameEmpty", {""}}, // also "---" once the editor has removed its hyphens
        {"strMsgNameReserved", {"Backups", "bAcKuPs"}}, {"strMsgNameBlanks", {" Daily", "Daily\t"}},
        {"strMsgNameSemicolon", {";Daily"}}, {"strMsgNameBrackets", {"[Daily", "Da]ly"}},
        {"strMsgNameSlash", {"home/ann"}}, {"strMsgNameControl", {"Da\x01ly"}}};
    // clang-format on
    for (const auto& [problem, each] : names)
        for (const std::string& name : each)
            EXPECT_EQ(JobNameProblem(name), problem) << name;
}

TEST_F(JobListSync, ARunWritesBackOnlyItsResultsIntoTheFileAsItIsNow) {
    // Edited by hand after the load: a new job, another job's destination.
    const std::string edited =
        Edited("Photos\n\n", "Photos\nMusic\n\n") + "Destination=/b/photos2\n[Music]\nSplit=0\n";
    home.Write("backups.ini", edited);
    DocsRan();
    ASSERT_TRUE(SaveBackups());
    std::string expected = edited;
    expected.replace(expected.find("status=0\n"), 9, "Status=1\n");
    expected.replace(expected.find("IMSK=*.odt\n"), 11, "IMSK=*.odt\nOKLast=202605042130\n");
    EXPECT_EQ(home.Read("backups.ini"), expected);
    EXPECT_EQ(home.Read("backups.ini.bak"), edited);
    // Nothing changed since: the file is not written again.
    home.Write("backups.ini.bak", "untouched");
    ASSERT_TRUE(SaveBackups());
    EXPECT_EQ(home.Read("backups.ini.bak"), "untouched");
    // The job has left the file meanwhile: its next result is reported, not
    // written anywhere.
    home.Write("backups.ini", "[Backups]\nPhotos\n[Photos]\nStatus=1\n");
    gBackups[0]->enumStatus = kStatusFailed;
    EXPECT_TRUE(SaveBackups());
    EXPECT_EQ(home.Read("backups.ini"), "[Backups]\nPhotos\n[Photos]\nStatus=1\n");
    EXPECT_EQ(host.activity.size(), 1u);
    EXPECT_TRUE(host.Logged("The result of Docs could not be written to the job list!"));
}

TEST_F(JobListSync, AChangedFileIsLoadedOnceAndADamagedOneLeftAsItIs) {
    std::string error;
    EXPECT_EQ(ReloadBackupsIfChanged(error), JobListReload::Unchanged);
    // The program's own writes are not changes.
    DocsRan();
    ASSERT_TRUE(SaveBackups());
    EXPECT_EQ(ReloadBackupsIfChanged(error), JobListReload::Unchanged);
    const std::string damaged = Edited("Photos\n", "Photos\nhome/ann\n");
    home.Write("backups.ini", damaged);
    EXPECT_EQ(ReloadBackupsIfChanged(error), JobListReload::Damaged);
    EXPECT_NE(error.find("home/ann"), std::string::npos) << error;
    EXPECT_EQ(gBackups.size(), 2u);
    EXPECT_EQ(ReloadBackupsIfChanged(error), JobListReload::Unchanged);
    EXPECT_EQ(home.Read("backups.ini"), damaged);
    // An edit just before a save (the run saw none of it) is still loaded after.
    home.Write("backups.ini", "[Backups]\nDocs\nMusic\n[Docs]\n[Music]\nStatus=3\n");
    gBackups[0]->enumStatus = kStatusAborted;
    ASSERT_TRUE(SaveBackups());
    EXPECT_EQ(ReloadBackupsIfChanged(error), JobListReload::Loaded);
    ASSERT_EQ(gBackups.size(), 2u);
    EXPECT_EQ(gBackups[0]->enumStatus, kStatusAborted);
    EXPECT_EQ(gBackups[1]->enumStatus, kStatusAborted);
}

TEST(DestinationInsideSource, ComparesWholeComponentsOfResolvedPaths) {
    TempHome real; // "@" below: a real folder holding "src" and a link "link" -> "src"
    real.Write("src/x", "x");
    ASSERT_EQ(::symlink(real.File("src").c_str(), real.File("link").c_str()), 0);
    // clang-format off
    const struct { std::string source, destination; bool inside; } pairs[] = {
        {"/data/docs", "/data/docs/backups", true}, {"/data/docs", "/data/docs", true},
        {"/data/docs", "/data/docs/", true}, {"/data/docs", "/data/docs2", false},
        {"/data/docs", "/data/other/../docsx", false}, {"/data/docs", "/data/docs/../other", false},
        {"/", "/anywhere", true}, {"@/src", "@/link/backups", true},
        {"@/link", "@/src/backups", true}, {"@/src", "@/srcx", false}};
    // clang-format on
    for (auto [source, destination, inside] : pairs) {
        for (std::string* path : {&source, &destination})
            if (path->starts_with("@"))
                path->replace(0, 1, real.Path());
        SCOPED_TRACE(source + " <- " + destination);
        clsBackup job;
        job.AddFile({.sPath = "/elsewhere", .bForD = 1});
        job.AddFile({.sPath = source, .bForD = 1});
        job.sDestinationDir = destination;
        EXPECT_EQ(DestinationInsideSource(job), inside ? source : "");
        job.Files[1].bForD = 0; // a single file holds no folder
        EXPECT_EQ(DestinationInsideSource(job), "");
        job.Files[1].bForD = 1, job.destFTP = true;
        EXPECT_EQ(DestinationInsideSource(job), "");
    }
}
