#include "support/RunFixture.h"

#include "engine/BackupRun.h"
#include "support/ProgramFolderSetup.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

void RunFixture::SetUp() {
    PrepareProgramFolder(home);
    SetClockOverride(At(10, 0));
}

void RunFixture::TearDown() {
    ReleaseProgramFolder();
}

DateTime RunFixture::At(int hour, int minute, int second) {
    return *DateTime::FromParts(2026, 12, 5, hour, minute, second);
}

void RunFixture::SetWriteTime(const std::string& path, std::int64_t unixSeconds) {
    const struct timespec times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

void RunFixture::PutSourceFiles() {
    PutSource("docs/a.txt", "alpha");
    PutSource("docs/sub/b.txt", std::string(300000, 'b'));
    PutSource("docs/empty.dat", "");
    PutSource("notes.txt", "single file source");
}

void RunFixture::PutSource(const std::string& relative, const std::string& content,
                           std::int64_t writeTime) {
    source.Write(relative, content);
    SetWriteTime(source.File(relative), writeTime);
}

std::shared_ptr<clsBackup> RunFixture::AddJob(const std::string& name, const JobOptions& options) {
    auto job = std::make_shared<clsBackup>();
    job->sName = name;
    job->sDestinationDir = destination.Path();
    job->archived = options.archived;
    job->bIncremental = options.incremental;
    job->bZipped = options.zipped;
    job->splitSize = options.split;
    job->Protected = !options.password.empty();
    job->password = options.password;
    for (const std::string& entry : options.sources) {
        const bool folder = entry.back() == '/';
        const std::string path = source.File(folder ? entry.substr(0, entry.size() - 1) : entry);
        struct stat st {};
        const double size = ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
        job->AddFile({.sPath = path, .bForD = folder ? 1 : 0, .dSize = size});
    }
    gBackups.push_back(job);
    return job;
}

std::shared_ptr<clsBackup> RunFixture::Run(const std::string& name) {
    RunBackup(name);
    return FindBackup(name);
}

bool RunFixture::Logged(const std::string& text) const {
    return std::any_of(host.activity.begin(), host.activity.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

bool RunFixture::ShowedProgress(const std::string& text) const {
    return std::any_of(host.progress.begin(), host.progress.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

std::vector<clsRestoreFileData> RunFixture::DestinationIndex(const std::string& name) const {
    std::vector<clsRestoreFileData> records;
    EXPECT_TRUE(LoadIndexRecords(destination.File(name + ".fs"), records)) << name;
    return records;
}

std::vector<std::string> RunFixture::SessionStamps(const std::string& name) const {
    std::vector<std::string> stamps;
    for (const clsRestoreFileData& r : DestinationIndex(name)) {
        const std::string stamp = r.dSession.Format("yyyyMMddHHmmss");
        if (std::find(stamps.begin(), stamps.end(), stamp) == stamps.end())
            stamps.push_back(stamp);
    }
    return stamps;
}
