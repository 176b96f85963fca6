#include "jobs/JobListFile.h"
#include "platform/FileSystem.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using Jobs = std::vector<std::shared_ptr<clsBackup>>;

// Written by hand from the file format: two jobs, the second one remote and
// protected; entry numbers run on from the first job.
const std::string kTwoJobs = "[Backups]\r\n"
                             "Daily\r\n"
                             "Remote\r\n"
                             "\r\n"
                             "[Daily]\r\n"
                             "Storage=LOC\r\n"
                             "Destination=/backup/daily\r\n"
                             "Type=FULL\r\n"
                             "Compress=NOT\r\n"
                             "IMSK=*.doc;*.txt\r\n"
                             "EMSK=*.tmp\r\n"
                             "Status=1\r\n"
                             "Protected=\r\n"
                             "OKLast=200503012130\r\n"
                             "Archived=yes\r\n"
                             "Split=0\r\n"
                             "Schedule=2,200503010800,068,2130\r\n"
                             "Dir0001=/home/ann/Docs/\r\n"
                             "File0001=/home/ann/notes.txt,1234\r\n"
                             "\r\n"
                             "[Remote]\r\n"
                             "Storage=FTP\r\n"
                             "Hostname=ftp.example.org\r\n"
                             "Port=21\r\n"
                             "User=ann\r\n"
                             "Pass=53,11,7\r\n"
                             "Pav=PASV\r\n"
                             "Destination=/backups\r\n"
                             "Type=INCR\r\n"
                             "Compress=ZIP\r\n"
                             "IMSK=\r\n"
                             "EMSK=\r\n"
                             "Status=0\r\n"
                             "Protected=53,11,7\r\n"
                             "OKLast=189912300000\r\n"
                             "Archived=no\r\n"
                             "Split=650000\r\n"
                             "Schedule=1,200503010800,030\r\n"
                             "File0002=/etc/hosts,0\r\n"
                             "Dir0002=/srv/www\r\n"
                             "\r\n";

std::string WithLfOnly(std::string text) {
    std::string out;
    for (char c : text) {
        if (c != '\r')
            out += c;
    }
    return out;
}

class JobListFile : public ::testing::Test {
protected:
    std::string Ini() const { return home.File("backups.ini"); }
    Jobs Load(const std::string& text) {
        home.Write("backups.ini", text);
        Jobs jobs;
        std::string error;
        EXPECT_TRUE(LoadBackups(Ini(), jobs, error)) << error;
        return jobs;
    }
    bool LoadFails(const std::string& text, std::string& error) {
        home.Write("backups.ini", text);
        Jobs jobs;
        const bool ok = LoadBackups(Ini(), jobs, error);
        EXPECT_TRUE(jobs.empty());
        return !ok;
    }
    TempHome home;
};

std::string Section(const std::string& name, const std::string& body) {
    return "[Backups]\n" + name + "\n[" + name + "]\nStorage=LOC\n" + body;
}

} // namespace

TEST_F(JobListFile, LoadsEveryFieldOfAHandWrittenFile) {
    for (const std::string& text : {kTwoJobs, WithLfOnly(kTwoJobs)}) {
        const Jobs jobs = Load(text);
        ASSERT_EQ(jobs.size(), 2u);
        const clsBackup& daily = *jobs[0];
        EXPECT_EQ(daily.sName, "Daily");
        EXPECT_FALSE(daily.destFTP);
        EXPECT_FALSE(daily.objDestination.has_value());
        EXPECT_EQ(daily.sDestinationDir, "/backup/daily");
        EXPECT_FALSE(daily.bIncremental);
        EXPECT_FALSE(daily.bZipped);
        EXPECT_EQ(daily.IncludeMask, "*.doc;*.txt");
        EXPECT_EQ(daily.ExcludeMask, "*.tmp");
        EXPECT_EQ(daily.enumStatus, 1);
        EXPECT_FALSE(daily.Protected);
        EXPECT_EQ(daily.lastOK, *DateTime::FromParts(2005, 3, 1, 21, 30));
        EXPECT_TRUE(daily.archived);
        EXPECT_EQ(daily.splitSize, 0);
        ASSERT_TRUE(daily.Schedule.has_value());
        EXPECT_EQ(daily.Schedule->Tip, 2);
        EXPECT_TRUE(daily.Schedule->enabled);
        EXPECT_EQ(daily.Schedule->Data, 68);
        EXPECT_EQ(daily.Schedule->start, *DateTime::FromParts(2005, 3, 1, 8, 0));
        EXPECT_EQ(daily.Schedule->StartHour.Format("HH:mm"), "21:30");
        ASSERT_EQ(daily.Files.size(), 2u);
        EXPECT_EQ(daily.Files[0].sPath, "/home/ann/Docs/");
        EXPECT_EQ(daily.Files[0].bForD, 1);
        EXPECT_EQ(daily.Files[1].sPath, "/home/ann/notes.txt");
        EXPECT_EQ(daily.Files[1].bForD, 0);
        EXPECT_EQ(daily.Files[1].dSize, 1234);
        EXPECT_EQ(daily.Files[1].Index, 1);

        const clsBackup& remote = *jobs[1];
        ASSERT_TRUE(remote.destFTP);
        ASSERT_TRUE(remote.objDestination.has_value());
        EXPECT_EQ(remote.objDestination->hostname, "ftp.example.org");
        EXPECT_EQ(remote.objDestination->port, 21);
        EXPECT_EQ(remote.objDestination->username, "ann");
        EXPECT_EQ(remote.objDestination->password, "abc");
        EXPECT_EQ(remote.objDestination->bPassiveMode, true);
        EXPECT_TRUE(remote.bIncremental);
        EXPECT_TRUE(remote.bZipped);
        EXPECT_TRUE(remote.Protected);
        EXPECT_EQ(remote.password, "abc");
        EXPECT_EQ(remote.lastOK, DateTime::ZeroDate());
        EXPECT_EQ(remote.splitSize, 650000);
        ASSERT_TRUE(remote.Schedule.has_value());
        EXPECT_EQ(remote.Schedule->Tip, 1);
        EXPECT_EQ(remote.Schedule->Data, 30);
    }
}

TEST_F(JobListFile, SaveWritesExactlyTheLayoutAndRoundTripsBytes) {
    const Jobs jobs = Load(kTwoJobs);
    EXPECT_EQ(SerializeBackups(jobs), kTwoJobs);
    ASSERT_TRUE(SaveBackups(Ini(), jobs));
    const std::string first = home.Read("backups.ini");
    EXPECT_EQ(first, kTwoJobs);
    Jobs again;
    std::string error;
    ASSERT_TRUE(LoadBackups(Ini(), again, error));
    ASSERT_TRUE(SaveBackups(Ini(), again));
    EXPECT_EQ(home.Read("backups.ini"), first);
}

TEST_F(JobListFile, JobsBuiltInMemorySerializeToTheSameText) {
    auto daily = std::make_shared<clsBackup>();
    daily->sName = "Daily";
    daily->sDestinationDir = "/backup/daily";
    daily->IncludeMask = "*.doc;*.txt";
    daily->ExcludeMask = "*.tmp";
    daily->enumStatus = 1;
    daily->lastOK = *DateTime::FromParts(2005, 3, 1, 21, 30, 41);
    daily->archived = true;
    daily->splitSize = -5; // below 1: no split
    clsSchedule s;
    s.Tip = kScheduleDaily;
    s.enabled = true;
    s.Data = 64 + 4; // Monday and Friday
    s.start = *DateTime::FromParts(2005, 3, 1, 8, 0);
    s.StartHour = *DateTime::FromParts(1899, 12, 30, 21, 30);
    daily->Schedule = s;
    daily->AddFile({.sPath = "/home/ann/Docs/", .bForD = 1});
    daily->AddFile({.sPath = "/home/ann/notes.txt", .bForD = 0, .dSize = 1234});
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
    clsSchedule h;
    h.Tip = kScheduleHourly;
    h.enabled = true;
    h.Data = 30;
    h.start = *DateTime::FromParts(2005, 3, 1, 8, 0);
    remote->Schedule = h;
    remote->AddFile({.sPath = "/etc/hosts", .bForD = 0});
    remote->AddFile({.sPath = "/srv/www", .bForD = 1});

    EXPECT_EQ(SerializeBackups({daily, remote}), kTwoJobs);
}

TEST_F(JobListFile, PasswordFieldsAreByteCodesOfTheKeyedTransformation) {
    // 'a'^'T' = 53, 'b'^'i' = 11, 'c'^'d' = 7.
    EXPECT_EQ(EncodeCharCodes(TransformPassword("abc")), "53,11,7");
    EXPECT_EQ(EncodeCharCodes("abc"), "97,98,99");
    EXPECT_EQ(EncodeCharCodes(""), "");
    std::string decoded;
    ASSERT_TRUE(DecodeCharCodes("97,98,99", decoded));
    EXPECT_EQ(decoded, "abc");
    EXPECT_FALSE(DecodeCharCodes("97,x", decoded));
    EXPECT_FALSE(DecodeCharCodes("300", decoded));
    // Long and non-ASCII passwords wrap around the 22-byte key and come back whole.
    const std::string secret = "pässwörd with blanks, commas = and more than twenty-two bytes";
    ASSERT_TRUE(DecodeCharCodes(EncodeCharCodes(TransformPassword(secret)), decoded));
    EXPECT_EQ(TransformPassword(decoded), secret);
}

TEST_F(JobListFile, SaveKeepsThePreviousFileAsBakWithPrivateModes) {
    home.Write("backups.ini", kTwoJobs);
    home.Write("backups.ini.bak", "stale");
    Jobs jobs = Load(kTwoJobs);
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

TEST_F(JobListFile, MissingFileMeansNoJobsAndFirstSaveCreatesIt) {
    Jobs jobs;
    std::string error;
    ASSERT_TRUE(LoadBackups(Ini(), jobs, error));
    EXPECT_TRUE(jobs.empty());
    ASSERT_TRUE(SaveBackups(Ini(), jobs));
    EXPECT_EQ(home.Read("backups.ini"), "[Backups]\r\n\r\n");
    EXPECT_FALSE(FileExists(Ini() + ".bak"));
}

TEST_F(JobListFile, LenientValuesLoadTheWayTheyAlwaysHave) {
    const Jobs jobs = Load(Section("J", "Type=full\nCompress=no\nArchived=YeS\nStatus=2x\n"
                                        "File0001=/a/b.txt\nDestination=/d=e\n"
                                        "Colour=blue\n; a comment\nSchedule=0\n"));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0]->bIncremental); // only exactly FULL is full
    EXPECT_TRUE(jobs[0]->bZipped);      // only exactly NOT is uncompressed
    EXPECT_TRUE(jobs[0]->archived);
    EXPECT_EQ(jobs[0]->enumStatus, 2);
    EXPECT_EQ(jobs[0]->sDestinationDir, "/d=e");
    ASSERT_EQ(jobs[0]->Files.size(), 1u);
    EXPECT_EQ(jobs[0]->Files[0].dSize, 0);
    EXPECT_FALSE(jobs[0]->Schedule.has_value());
}

TEST_F(JobListFile, OlderFilesCarryACreationDate) {
    const Jobs jobs = Load(Section("Old", "DAT=2004/11/05 09:07\n"));
    EXPECT_EQ(jobs[0]->CreationDate, *DateTime::FromParts(2004, 11, 5, 9, 7));
}

TEST_F(JobListFile, DamagedValuesStopTheLoadAndNameTheLine) {
    std::string error;
    EXPECT_TRUE(LoadFails(Section("J", "Split=lots\n"), error));
    EXPECT_NE(error.find("Split=lots"), std::string::npos) << error;
    EXPECT_TRUE(LoadFails(Section("J", "Hostname=ftp.example.org\n"), error));
    EXPECT_NE(error.find("Hostname"), std::string::npos) << error;
    EXPECT_TRUE(LoadFails(Section("J", "Schedule=2,2005x3010800,068,2130\n"), error));
    EXPECT_TRUE(LoadFails(Section("J", "Schedule=2,200513010800,068,2130\n"), error));
    EXPECT_TRUE(LoadFails(Section("J", "Schedule=2,200503010800,068\n"), error));
    EXPECT_TRUE(LoadFails(Section("J", "OKLast=yesterday\n"), error));
    EXPECT_TRUE(LoadFails(Section("J", "Protected=1,2,x\n"), error));
    EXPECT_TRUE(LoadFails("[Backups]\nA\nB\n[A]\nSplit=0\n[B]\nSplit=\n", error));
}

TEST_F(JobListFile, HundredsOfJobsWithLongNamesLoadWhole) {
    Jobs jobs;
    for (int i = 0; i < 400; ++i) {
        auto job = std::make_shared<clsBackup>();
        job->sName = "A job with a long descriptive name, number " + std::to_string(i) +
                     std::string(100, 'x');
        for (int f = 0; f < 20; ++f)
            job->AddFile({.sPath = "/data/project-" + std::to_string(f) + "/" +
                                   std::string(150, 'p') + "/file.bin",
                          .bForD = 0,
                          .dSize = 5000000000.0 + f});
        jobs.push_back(job);
    }
    ASSERT_TRUE(SaveBackups(Ini(), jobs));
    Jobs loaded;
    std::string error;
    ASSERT_TRUE(LoadBackups(Ini(), loaded, error)) << error;
    ASSERT_EQ(loaded.size(), 400u);
    EXPECT_EQ(loaded.back()->sName, jobs.back()->sName);
    ASSERT_EQ(loaded.back()->Files.size(), 20u);
    EXPECT_EQ(loaded.back()->Files.back().dSize, 5000000019.0);
    EXPECT_NE(home.Read("backups.ini").find("File8000="), std::string::npos);
}

TEST(JobModel, NewJobHasTheDefaults) {
    const clsBackup job;
    EXPECT_TRUE(job.Files.empty());
    EXPECT_FALSE(job.Schedule.has_value());
    EXPECT_EQ(job.enumStatus, 0);
    EXPECT_FALSE(job.destFTP || job.bIncremental || job.bZipped || job.Protected);
    EXPECT_EQ(job.splitSize, 0);
    EXPECT_EQ(job.GetTotalSize(), 0);
    EXPECT_EQ(job.lastOK, DateTime::ZeroDate());
}

TEST(JobModel, AddFileNumbersAndRemoveFileMatchesTrimmedIgnoringCase) {
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
