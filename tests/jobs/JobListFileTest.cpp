#include "jobs/JobListFile.h"
#include "i18n/Catalogue.h"
#include "jobs/JobName.h"
#include "platform/FileSystem.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Jobs = std::vector<std::shared_ptr<clsBackup>>;

// Written by hand from the file format: two jobs, the second one remote and
// protected; entry numbers run on from the first job.
const std::string kTwoJobs = "[Backups]\r\nDaily\r\nRemote\r\n\r\n"
                             "[Daily]\r\nStorage=LOC\r\nDestination=/backup/daily\r\nType=FULL\r\n"
                             "Compress=NOT\r\nIMSK=*.doc;*.txt\r\nEMSK=*.tmp\r\nStatus=1\r\n"
                             "Protected=\r\nOKLast=200503012130\r\nArchived=yes\r\nSplit=0\r\n"
                             "Schedule=2,200503010800,068,2130\r\nDir0001=/home/ann/Docs/\r\n"
                             "File0001=/home/ann/notes, draft.txt,1234\r\n\r\n"
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

} // namespace

TEST_F(JobListFile, JobsBuiltInMemorySerializeToTheHandWrittenText) {
    auto daily = std::make_shared<clsBackup>();
    daily->sName = "Daily";
    daily->sDestinationDir = "/backup/daily";
    daily->IncludeMask = "*.doc;*.txt";
    daily->ExcludeMask = "*.tmp";
    daily->enumStatus = 1;
    daily->lastOK = *DateTime::FromParts(2005, 3, 1, 21, 30, 41);
    daily->archived = true;
    daily->splitSize = -5; // below 1: no split
    daily->Schedule = clsSchedule{.start = *DateTime::FromParts(2005, 3, 1, 8, 0),
                                  .enabled = true,
                                  .Data = 64 + 4, // Monday and Friday
                                  .Tip = kScheduleDaily,
                                  .StartHour = *DateTime::FromParts(1899, 12, 30, 21, 30)};
    daily->AddFile({.sPath = "/home/ann/Docs/", .bForD = 1});
    daily->AddFile({.sPath = "/home/ann/notes, draft.txt", .bForD = 0, .dSize = 1234});
    daily->AddFile({.sPath = "/dev/ignored", .bForD = 7}); // not a file, not a folder

    auto remote = std::make_shared<clsBackup>();
    remote->sName = "Remote";
    remote->destFTP = true;
    remote->objDestination = clsTidevault{.hostname = "ftp.example.org",
                                          .port = 21,
                                          .username = "ann",
                                          .password = "abc",
                                          .bPassiveMode = true};
    remote->sDestinationDir = "/backups";
    remote->bIncremental = true;
    remote->bZipped = true;
    remote->Protected = true;
    remote->password = "abc";
    remote->splitSize = 650000;
    remote->Schedule = clsSchedule{.start = *DateTime::FromParts(2005, 3, 1, 8, 0),
                                   .enabled = true,
                                   .Data = 30,
                                   .Tip = kScheduleHourly};
    remote->AddFile({.sPath = "/etc/hosts", .bForD = 0});
    remote->AddFile({.sPath = "/srv/www", .bForD = 1});

    EXPECT_EQ(SerializeBackups({daily, remote}), kTwoJobs);
}

// The writer is pinned above; reading the same text and writing it again
// gives it back, so every field the writer writes is read into its place.
TEST_F(JobListFile, ReadingTheTextBackGivesEveryFieldBack) {
    std::string lfOnly;
    for (const char c : kTwoJobs)
        lfOnly += c == '\r' ? "" : std::string(1, c);
    for (const std::string& text : {kTwoJobs, lfOnly}) {
        const Jobs jobs = Load(text);
        ASSERT_EQ(jobs.size(), 2u);
        EXPECT_EQ(SerializeBackups(jobs), kTwoJobs);
        EXPECT_TRUE(jobs[0]->Schedule->enabled);
        EXPECT_EQ(jobs[0]->Files[1].sPath, "/home/ann/notes, draft.txt");
        EXPECT_EQ(jobs[0]->Files[1].Index, 1);
        EXPECT_EQ(jobs[1]->objDestination->password, "abc");
        EXPECT_EQ(jobs[1]->password, "abc");
    }
    ASSERT_TRUE(SaveBackups(Ini(), Load(kTwoJobs)));
    EXPECT_EQ(home.Read("backups.ini"), kTwoJobs);
}

TEST_F(JobListFile, PasswordFieldsAreByteCodesOfTheKeyedTransformation) {
    // 'a'^'T' = 53, 'b'^'i' = 11, 'c'^'d' = 7.
    EXPECT_EQ(EncodeCharCodes(TransformPassword("abc")), "53,11,7");
    EXPECT_EQ(EncodeCharCodes(""), "");
    std::string decoded;
    EXPECT_FALSE(DecodeCharCodes("97,x", decoded));
    EXPECT_FALSE(DecodeCharCodes("300", decoded));
    // Long and non-ASCII passwords wrap around the 22-byte key and come back whole.
    const std::string secret = "pässwörd with blanks, commas = and more than twenty-two bytes";
    ASSERT_TRUE(DecodeCharCodes(EncodeCharCodes(TransformPassword(secret)), decoded));
    EXPECT_EQ(TransformPassword(decoded), secret);
}

TEST_F(JobListFile, SaveKeepsThePreviousFileAsBakWithPrivateModes) {
    Jobs jobs;
    std::string error;
    ASSERT_TRUE(LoadBackups(Ini(), jobs, error)); // a missing file: no jobs
    ASSERT_TRUE(SaveBackups(Ini(), jobs));
    EXPECT_EQ(home.Read("backups.ini"), "[Backups]\r\n\r\n");
    EXPECT_FALSE(FileExists(Ini() + ".bak"));

    home.Write("backups.ini", kTwoJobs);
    home.Write("backups.ini.bak", "stale");
    jobs = Load(kTwoJobs);
    jobs.pop_back();
    ASSERT_TRUE(SaveBackups(Ini(), jobs));
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

TEST_F(JobListFile, LenientValuesLoadTheWayTheyAlwaysHave) {
    const Jobs jobs =
        Load(Section("J", "Type=full\nCompress=no\nArchived=YeS\nStatus=2x\nFile0001=/a/b.txt\n"
                          "File0002=/a/b,c.txt\nFile0003=/a/d.txt,\nDestination=/d=e\n"
                          "Colour=blue\n; a comment\nSchedule=0\nDAT=2004/11/05 09:07\n"));
    ASSERT_EQ(jobs.size(), 1u);
    const clsBackup& job = *jobs[0];
    EXPECT_TRUE(job.bIncremental); // only exactly FULL is full
    EXPECT_TRUE(job.bZipped);      // only exactly NOT is uncompressed
    EXPECT_TRUE(job.archived);
    EXPECT_EQ(job.enumStatus, 2);
    EXPECT_EQ(job.sDestinationDir, "/d=e");
    EXPECT_FALSE(job.Schedule.has_value());
    EXPECT_EQ(job.CreationDate, *DateTime::FromParts(2004, 11, 5, 9, 7));
    ASSERT_EQ(job.Files.size(), 3u);
    // No size, a comma without a number after it, an empty size.
    EXPECT_EQ(job.Files[0].sPath, "/a/b.txt");
    EXPECT_EQ(job.Files[1].sPath, "/a/b,c.txt");
    EXPECT_EQ(job.Files[2].sPath, "/a/d.txt");
    for (const clsBackupFile& f : job.Files)
        EXPECT_EQ(f.dSize, 0);
}

TEST_F(JobListFile, ADamagedValueOrANameTheListCannotHoldStopsTheLoadAndNamesIt) {
    const struct {
        std::string text;
        const char* named;
    } cases[] = {
        {Section("J", "Split=lots\n"), "Split=lots"},
        {Section("J", "Hostname=ftp.example.org\n"), "Hostname"},
        {Section("J", "Schedule=2,2005x3010800,068,2130\n"), "Schedule"},
        {Section("J", "Schedule=2,200513010800,068,2130\n"), "Schedule"},
        {Section("J", "Schedule=2,200503010800,068\n"), "Schedule"},
        {Section("J", "OKLast=yesterday\n"), "OKLast"},
        {Section("J", "Protected=1,2,x\n"), "Protected"},
        {"[Backups]\nA\nB\n[A]\nSplit=0\n[B]\nSplit=\n", "[B]"},
        {"[Backups]\nbackups\n", "Backup \"backups\" in the job list: A backup cannot be named"},
        {"[Backups]\nA[1]\n", "\"A[1]\" in the job list: A backup name cannot hold \"[\""},
        {"[Backups]\nDaily\nDAILY\n", "\"DAILY\" in the job list: Backup name already exists!"},
        {"[Backups]\nhome/ann\n", "\"home/ann\" in the job list: A backup name cannot hold \"/\""},
        {"[Backups]\n" + std::string(201, 'x') + "\n", "longer than 200 bytes"},
    };
    for (const auto& c : cases) {
        home.Write("backups.ini", c.text);
        Jobs jobs;
        std::string error;
        EXPECT_FALSE(LoadBackups(Ini(), jobs, error)) << c.text;
        EXPECT_TRUE(jobs.empty());
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(home.Read("backups.ini"), c.text);
    }
}

TEST(JobNames, TheValidatorNamesWhyTheListCannotHoldAName) {
    const struct {
        std::string name;
        const char* problem;
    } cases[] = {
        {"Daily", ""},
        {"Photos 2024 (all), 50% ü", ""},
        {std::string(kMaxJobNameBytes, 'x'), ""},
        {std::string(kMaxJobNameBytes + 1, 'x'), "strMsgNameTooLong"},
        {"", "strMsgNameEmpty"}, // also "---" once the editor has removed its hyphens
        {"Backups", "strMsgNameReserved"},
        {"bAcKuPs", "strMsgNameReserved"},
        {"Backups2", ""},
        {" Daily", "strMsgNameBlanks"},
        {"Daily\t", "strMsgNameBlanks"},
        {";Daily", "strMsgNameSemicolon"},
        {"Da;ly", ""},
        {"[Daily", "strMsgNameBrackets"},
        {"Da]ly", "strMsgNameBrackets"},
        {"home/ann", "strMsgNameSlash"},
        {"Da\x01ly", "strMsgNameControl"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JobNameProblem(c.name), c.problem) << c.name;
}

TEST_F(JobListFile, HundredsOfJobsWithLongNamesLoadWhole) {
    Jobs jobs;
    for (int i = 0; i < 200; ++i) {
        auto job = std::make_shared<clsBackup>();
        job->sName = "A job with a long descriptive name, number " + std::to_string(i) +
                     std::string(100, 'x');
        for (int f = 0; f < 10; ++f)
            job->AddFile({.sPath = "/data/" + std::string(150, 'p') + "/" + std::to_string(f),
                          .bForD = 0,
                          .dSize = 5000000000.0 + f});
        jobs.push_back(job);
    }
    ASSERT_TRUE(SaveBackups(Ini(), jobs));
    Jobs loaded;
    std::string error;
    ASSERT_TRUE(LoadBackups(Ini(), loaded, error)) << error;
    ASSERT_EQ(loaded.size(), 200u);
    EXPECT_EQ(loaded.back()->sName, jobs.back()->sName);
    ASSERT_EQ(loaded.back()->Files.size(), 10u);
    EXPECT_EQ(loaded.back()->Files.back().dSize, 5000000009.0);
    EXPECT_NE(home.Read("backups.ini").find("File2000="), std::string::npos);
}

TEST(JobModel, RemoveFileMatchesTrimmedIgnoringCase) {
    clsBackup job;
    job.AddFile({.sPath = "/Data/A.txt", .dSize = 10});
    job.AddFile({.sPath = "/data/b.txt", .dSize = 5});
    job.AddFile({.sPath = "/Data/Sub", .bForD = 1});
    EXPECT_EQ(job.Files[2].Index, 2);
    EXPECT_EQ(job.GetTotalSize(), 15);
    job.RemoveFile("  /DATA/a.TXT ");
    ASSERT_EQ(job.Files.size(), 2u);
    EXPECT_EQ(job.Files[0].sPath, "/data/b.txt");
}
