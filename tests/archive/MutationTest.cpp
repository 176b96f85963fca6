// Damaged files from a disk or a server never crash a reader: each damaged
// input reads back to something valid or is reported. Seeded: the same every run.

#include "archive/ArchiveTestSupport.h"
#include "jobs/JobListFile.h"

#include <functional>
#include <sstream>

using namespace archive_test;

namespace {

// splitmix64: the same numbers on every machine and library.
class Damage {
public:
    explicit Damage(std::uint64_t seed) : state_(seed) {}
    std::size_t Below(std::size_t n) {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return n == 0 ? 0 : static_cast<std::size_t>((z ^ (z >> 31)) % n);
    }
    // Changes of the kind a bad disk, a cut transfer or a careless edit makes:
    // a flipped bit, a byte overwritten, cut short, bytes lost, bytes
    // inserted, a range repeated; for text also a number made impossible, a
    // separator exchanged, a line broken in two.
    std::string Damaged(std::string s, bool text, std::size_t count) {
        static const char* numbers[] = {"0", "-1", "", "4294967296", "99999999999999999999", "3"};
        static const std::string separators = "|=\r\n,[];/";
        const std::function<void(std::size_t)> changes[] = {
            [&](std::size_t at) { s[at] = static_cast<char>(s[at] ^ (1 << Below(8))); },
            [&](std::size_t at) { s[at] = static_cast<char>(Below(256)); },
            [&](std::size_t at) { s.resize(at); },
            [&](std::size_t at) { s.erase(at, 1 + Below(64)); },
            [&](std::size_t at) { s.insert(at, PseudoRandomBytes(1 + Below(16), Below(999))); },
            [&](std::size_t at) { s.insert(at, s.substr(Below(s.size()), 1 + Below(600))); },
            [&](std::size_t at) {
                if ((at = s.find_first_of("0123456789", at)) != std::string::npos)
                    s.replace(at, s.find_first_not_of("0123456789", at) - at, numbers[Below(6)]);
            },
            [&](std::size_t at) {
                if ((at = s.find_first_of(separators, at)) != std::string::npos)
                    s[at] = separators[Below(separators.size())];
            },
            [&](std::size_t at) { s.insert(at, Below(2) == 0 ? "\n" : "\r\n"); }};
        while (count-- > 0 && !s.empty()) {
            const std::size_t at = Below(s.size());
            changes[Below(text ? 9 : 6)](at);
        }
        return s;
    }

private:
    std::uint64_t state_;
};
using Mutation = RestoreFixture;

} // namespace

TEST_F(Mutation, DamagedIndexesNeverReachAReaderAsImpossibleRecords) {
    std::string index;
    std::int64_t at = 0;
    for (const char* name : {"/a/b.txt", "/a/c d.txt", "/x/y/z", "/e", "/a/Deep/f.bin"}) {
        const std::string data = PseudoRandomBytes(static_cast<std::size_t>(at / 2), 1);
        const std::int64_t end =
            at + static_cast<std::int64_t>(data.size() + 511) / 512 * 512 + 512;
        index += MakeEntry(name, data, 32, "Job", at, "Job", end).line;
        at = end;
    }
    index += MakeEntry("/s/span", std::string(2000, 's'), 32, "Job-001", 512, "Job-003", 1024).line;
    Damage damage(20240301);
    int reported = 0;
    for (int round = 0; round < 400; ++round) {
        const std::string text = damage.Damaged(index, true, 1 + damage.Below(3));
        SCOPED_TRACE("round " + std::to_string(round) + ": " + text);
        destination.Write("Job.fs", text);
        std::vector<clsRestoreFileData> records;
        IndexReport report;
        const bool read = LoadIndexRecords(destination.File("Job.fs"), records, &report);
        // Every line that is not blank is either a record or reported.
        std::size_t lines = 0;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines += !line.empty() &&
                     line.find_first_not_of(" \t") < line.size() - (line.back() == '\r');
        EXPECT_EQ(records.size() + report.damagedLines, lines);
        EXPECT_EQ(read, !records.empty() || report.damagedLines == 0);
        EXPECT_EQ(report.damagedLines > 0, !report.firstDamage.empty());
        reported += report.damagedLines > 0;
        // What every reader does with the records: sessions, the tree, the selection.
        for (const clsRestoreFileData& rec : records) {
            ASSERT_EQ(RecordDamage(rec), "") << rec.fname;
            EXPECT_FALSE(VolumeChain(rec).empty()) << rec.arcStart << " .. " << rec.arcEnd;
        }
        const RestoreTree tree(records);
        for (const RestoreTreeNode& node : tree.Nodes())
            EXPECT_LT(node.record, static_cast<std::int64_t>(records.size()));
        EXPECT_LE(SelectNewestVersions(records, std::nullopt, {}).records.size(), records.size());
    }
    EXPECT_GT(reported, 150) << "most damage should be of the kind a reader must catch";
}

TEST_F(Mutation, DamagedVolumesAreRestoredExactlyOrReported) {
    const std::map<std::string, std::string> files = {
        {"a.txt", "alpha"},
        {"b.bin", PseudoRandomBytes(3000, 1)},
        {"c.txt", std::string(40000, 'c') + PseudoRandomBytes(2000, 2)},
        {"d.dat", ""}};
    for (const auto& [name, content] : files)
        source.Write("in/" + name, content);
    for (const char* name : {"Plain", "Zip"})
        RunBackup(AddJob(name, name[0] == 'Z', 0, {"in/"})->sName);
    const std::string pristine[2] = {destination.Read("Plain.darc"), destination.Read("Zip.darc")};
    Damage damage(19991231);
    int failed = 0;
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const bool zipped = round % 2 == 1;
        destination.Write(zipped ? "Zip.darc" : "Plain.darc",
                          damage.Damaged(pristine[zipped], false, 1));
        const std::string target = chosen.File(std::to_string(round));
        const std::string kept = target + source.File("in/a.txt");
        WriteTestFile(kept, "precious");
        host.activity.clear();
        ASSERT_TRUE(LoadRestoreList(zipped ? "Zip" : "Plain"));
        const RestoreResult result = RestoreFiles(*gRestoreJob, gRestoreList, {target});
        int intact = 0;
        for (const auto& [name, content] : files) {
            const std::string restored = target + source.File("in/" + name);
            const bool present = std::filesystem::exists(restored);
            const std::string got = present ? ReadTestFile(restored) : std::string();
            // Nothing wrong is ever written; what was there stays unless replaced.
            intact += present && got == content;
            EXPECT_TRUE(!present || got == content || (restored == kept && got == "precious"))
                << name;
            EXPECT_TRUE((present && got == content) || host.Logged(source.File("in/" + name)))
                << name << ": no reason given";
        }
        EXPECT_EQ(result.restored, intact);
        failed += result.restored < result.selected;
        std::filesystem::remove_all(target);
    }
    EXPECT_GT(failed, 200) << "most damage should be of the kind a reader must catch";
}

TEST_F(Mutation, DamagedJobListsLoadToJobsThatSaveTheSameOrSayWhy) {
    const std::string jobList =
        "[Backups]\r\nDaily\r\nRemote\r\n\r\n[Daily]\r\nStorage=LOC\r\nDestination=/backup\r\n"
        "Type=FULL\r\nCompress=NOT\r\nIMSK=*.doc;*.txt\r\nEMSK=*.tmp\r\nStatus=1\r\nProtected=\r\n"
        "OKLast=200503012130\r\nArchived=yes\r\nSplit=0\r\nSchedule=2,200503010800,068,2130\r\n"
        "Dir0001=/home/ann/Docs/\r\nFile0001=/home/ann/notes, draft.txt,1234\r\n\r\n[Remote]\r\n"
        "Storage=FTP\r\nHostname=ftp.example.org\r\nPort=21\r\nUser=ann\r\nPass=53,11,7\r\n"
        "Pav=PASV\r\nDestination=/backups\r\nType=INCR\r\nCompress=ZIP\r\nStatus=0\r\n"
        "Protected=53,11,7\r\nOKLast=189912300000\r\nArchived=no\r\nSplit=650000\r\n"
        "Schedule=1,200503010800,030\r\nFile0002=/etc/hosts,0\r\n";
    Damage damage(4711);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string text = damage.Damaged(jobList, true, 1 + damage.Below(3));
        SCOPED_TRACE("round " + std::to_string(round) + ":\n" + text);
        home.Write("backups.ini", text);
        std::vector<std::shared_ptr<clsBackup>> jobs = {std::make_shared<clsBackup>()};
        std::string error;
        if (!LoadBackups(home.File("backups.ini"), jobs, error)) {
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(jobs.size(), 1u); // left as it was
            ++refused;
            continue;
        }
        // What was loaded is a job list: saved and loaded again, it is the same.
        jobs.erase(jobs.begin());
        home.Write("again.ini", SerializeBackups(jobs));
        std::vector<std::shared_ptr<clsBackup>> again;
        ASSERT_TRUE(LoadBackups(home.File("again.ini"), again, error)) << error;
        EXPECT_EQ(SerializeBackups(again), SerializeBackups(jobs));
    }
    EXPECT_GT(refused, 30);
}
