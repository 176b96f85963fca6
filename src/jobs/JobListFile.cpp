#include "jobs/JobListFile.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "jobs/JobName.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace {

constexpr const char* kBackupsSection = "Backups";
constexpr const char* kPasswordKey = "Tidevault password key";
constexpr const char* kMinuteStamp = "yyyyMMddHHmm";
constexpr int kByteMax = 255;
// The job list holds passwords: private to its owner.
constexpr unsigned kPrivate = 0600;

// A damaged line stops the load with a message naming it.
struct LoadFailure {
    std::string message;
};

std::optional<int> Digits(const std::string& text, std::size_t from, std::size_t count) {
    // Positions are counted from 1, as the job list format describes them.
    if (from < 1 || text.size() < from - 1 + count)
        return std::nullopt;
    int value = 0;
    for (std::size_t i = from - 1; i < from - 1 + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::string ValueOf(const std::string& line) {
    const std::size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

DateTime ParseDate(const std::optional<int> y, const std::optional<int> mo,
                   const std::optional<int> d, const std::optional<int> h,
                   const std::optional<int> mi, const std::string& what) {
    if (!y || !mo || !d || !h || !mi)
        throw LoadFailure{what + " is not a date"};
    const std::optional<DateTime> date = DateTime::FromParts(*y, *mo, *d, *h, *mi, 0);
    if (!date)
        throw LoadFailure{what + " is not a valid date"};
    return *date;
}

std::string DecodePassword(const std::string& value) {
    std::string bytes;
    if (!DecodeCharCodes(value, bytes))
        throw LoadFailure{"the password field is not a list of byte values"};
    return TransformPassword(bytes);
}

std::optional<clsSchedule> ParseSchedule(const std::string& v) {
    const std::optional<int> kind = Digits(v, 1, 1);
    if (!kind)
        throw LoadFailure{"the schedule does not start with its kind"};
    if (*kind == 0)
        return std::nullopt;
    clsSchedule s;
    s.Tip = static_cast<std::uint8_t>(*kind);
    s.enabled = true;
    // "k,yyyyMMddHHmm,ddd[,HHmm]", positions counted from 1.
    s.start = ParseDate(Digits(v, 3, 4), Digits(v, 7, 2), Digits(v, 9, 2), Digits(v, 11, 2),
                        Digits(v, 13, 2), "the schedule start");
    const std::optional<int> data = Digits(v, 16, 3);
    if (!data || *data > kByteMax)
        throw LoadFailure{"the schedule data is not a number from 0 to 255"};
    s.Data = static_cast<std::uint8_t>(*data);
    if (*kind > 1) {
        s.StartHour =
            ParseDate(1899, 12, 30, Digits(v, 20, 2), Digits(v, 22, 2), "the schedule time of day");
    }
    return s;
}

// "path,size": the size follows the last comma, since a path may hold commas
// of its own. Without a number there, the whole value is the path.
clsBackupFile FileEntryOf(const std::string& value) {
    clsBackupFile entry;
    entry.bForD = 0;
    entry.sPath = value;
    const std::size_t comma = value.rfind(',');
    if (comma == std::string::npos)
        return entry;
    const std::string size = TrimBlanks(value.substr(comma + 1));
    const std::optional<double> number = StrictNumber(size);
    if (size.empty() || number) {
        entry.sPath = value.substr(0, comma);
        entry.dSize = number.value_or(0);
    }
    return entry;
}

clsTidevault& Destination(clsBackup& job, const std::string& key) {
    if (!job.objDestination)
        throw LoadFailure{key + " given for a job whose storage is not FTP"};
    return *job.objDestination;
}

void ApplyLine(clsBackup& job, const std::string& line) {
    const std::string prefix = ToUpperAscii(line.substr(0, 3));
    const std::string value = ValueOf(line);
    if (prefix == "STO") {
        job.destFTP = EndsWith(line, "FTP");
        if (job.destFTP)
            job.objDestination = clsTidevault{};
    } else if (prefix == "HOS") {
        Destination(job, "Hostname").hostname = value;
    } else if (prefix == "POR") {
        Destination(job, "Port").port = static_cast<std::int32_t>(LeadingNumber(value));
    } else if (prefix == "USE") {
        Destination(job, "User").username = value;
    } else if (prefix == "PAS") {
        Destination(job, "Pass").password = DecodePassword(value);
    } else if (prefix == "PAV") {
        Destination(job, "Pav").bPassiveMode = EndsWith(line, "PASV");
    } else if (prefix == "DES") {
        job.sDestinationDir = value;
    } else if (prefix == "TYP") {
        job.bIncremental = value != "FULL";
    } else if (prefix == "COM") {
        job.bZipped = value != "NOT";
    } else if (prefix == "IMS") {
        job.IncludeMask = value;
    } else if (prefix == "EMS") {
        job.ExcludeMask = value;
    } else if (prefix == "STA") {
        job.enumStatus = static_cast<std::int32_t>(LeadingNumber(value));
    } else if (prefix == "PRO") {
        job.Protected = !value.empty();
        job.password = job.Protected ? DecodePassword(value) : std::string();
    } else if (prefix == "OKL") {
        // A hand-written file may leave it empty: never completed.
        job.lastOK = TrimBlanks(value).empty()
                         ? DateTime::ZeroDate()
                         : ParseDate(Digits(value, 1, 4), Digits(value, 5, 2), Digits(value, 7, 2),
                                     Digits(value, 9, 2), Digits(value, 11, 2), "OKLast");
    } else if (prefix == "ARC") {
        job.archived = ToUpperAscii(value) == "YES";
    } else if (prefix == "SPL") {
        const std::optional<std::int64_t> split = StrictInteger(value);
        if (!split || *split < INT32_MIN || *split > INT32_MAX)
            throw LoadFailure{"Split is not a number"};
        job.splitSize = static_cast<std::int32_t>(*split);
    } else if (prefix == "SCH") {
        job.Schedule = ParseSchedule(value);
    } else if (prefix == "FIL") {
        job.AddFile(FileEntryOf(value));
    } else if (prefix == "DIR") {
        clsBackupFile entry;
        entry.bForD = 1;
        entry.sPath = value;
        job.AddFile(std::move(entry));
    } else if (prefix == "DAT") {
        job.CreationDate = ParseDate(Digits(value, 1, 4), Digits(value, 6, 2), Digits(value, 9, 2),
                                     Digits(value, 12, 2), Digits(value, 15, 2), "DAT");
    }
    // Anything else is a key this version does not know: ignored.
}

std::string JobNameOf(const std::string& line) {
    return line.substr(0, line.find('\xFF'));
}

std::string Number4(int n) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d", n);
    return buffer;
}

std::string ScheduleText(const std::optional<clsSchedule>& schedule) {
    if (!schedule)
        return "0";
    char data[8];
    std::snprintf(data, sizeof data, "%03u", static_cast<unsigned>(schedule->Data));
    std::string text =
        std::to_string(schedule->Tip) + "," + schedule->start.Format("yyyyMMddHHmm") + "," + data;
    if (schedule->Tip != kScheduleHourly)
        text += "," + schedule->StartHour.Format("HHmm");
    return text;
}

std::vector<std::string> JobSectionLines(const clsBackup& job, int& fileCounter, int& dirCounter) {
    std::vector<std::string> lines;
    const bool ftp = job.destFTP && job.objDestination.has_value();
    lines.push_back(std::string("Storage=") + (ftp ? "FTP" : "LOC"));
    if (ftp) {
        const clsTidevault& d = *job.objDestination;
        lines.push_back("Hostname=" + d.hostname);
        lines.push_back("Port=" + std::to_string(d.port));
        lines.push_back("User=" + d.username);
        lines.push_back("Pass=" + EncodeCharCodes(TransformPassword(d.password)));
        lines.push_back(std::string("Pav=") + (d.bPassiveMode.value_or(false) ? "PASV" : "PORT"));
    }
    lines.push_back("Destination=" + job.sDestinationDir);
    lines.push_back(std::string("Type=") + (job.bIncremental ? "INCR" : "FULL"));
    lines.push_back(std::string("Compress=") + (job.bZipped ? "ZIP" : "NOT"));
    lines.push_back("IMSK=" + job.IncludeMask);
    lines.push_back("EMSK=" + job.ExcludeMask);
    lines.push_back("Status=" + std::to_string(job.enumStatus));
    lines.push_back("Protected=" +
                    (job.Protected ? EncodeCharCodes(TransformPassword(job.password)) : ""));
    lines.push_back("OKLast=" + job.lastOK.Format(kMinuteStamp));
    lines.push_back(std::string("Archived=") + (job.archived ? "yes" : "no"));
    lines.push_back("Split=" + std::to_string(job.splitSize < 1 ? 0 : job.splitSize));
    lines.push_back("Schedule=" + ScheduleText(job.Schedule));
    for (const clsBackupFile& f : job.Files) {
        if (f.bForD == 0)
            lines.push_back("File" + Number4(++fileCounter) + "=" + f.sPath + "," +
                            ShortestDecimal(f.dSize));
        else if (f.bForD == 1)
            lines.push_back("Dir" + Number4(++dirCounter) + "=" + f.sPath);
    }
    return lines;
}

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// What this process last read from or wrote to the job list: a different
// stamp means someone else changed it.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return FileStamp{};
    return FileStamp{true, st.st_dev, st.st_ino, st.st_size,
                     st.st_mtim.tv_sec * kNanosecondsPerSecond + st.st_mtim.tv_nsec};
}

JobListSaving gSaving = JobListSaving::Whole;
FileStamp gKnownStamp;
JobResults gResultsInFile;

JobResults ResultsOf(const std::vector<std::shared_ptr<clsBackup>>& jobs) {
    JobResults results;
    for (const auto& job : jobs)
        results[job->sName] = JobResult{job->enumStatus, job->lastOK};
    return results;
}

// Replaces the last line the reader would take for this key (the last one
// wins when a key repeats), or adds the line after the section's last value.
void SetKeyLine(std::vector<std::string>& lines, const char* prefix, const std::string& line) {
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (ToUpperAscii(TrimBlanks(*it).substr(0, 3)) == prefix) {
            *it = line;
            return;
        }
    }
    auto at = lines.end();
    while (at != lines.begin() && TrimBlanks(*(at - 1)).empty())
        --at;
    lines.insert(at, line);
}

// The previous version survives as iniFile + ".bak" until the next save.
bool WriteKeepingBak(const std::string& iniFile, const std::string& text) {
    const std::string bak = iniFile + ".bak";
    if (FileExists(iniFile)) {
        if (FileExists(bak))
            RemoveFile(bak);
        std::string previous;
        if (!ReadWholeFile(iniFile, previous) || !WriteFileAtomically(bak, previous, kPrivate))
            return false;
    }
    return WriteFileAtomically(iniFile, text, kPrivate);
}

} // namespace

std::string EncodeCharCodes(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (!out.empty())
            out += ',';
        out += std::to_string(static_cast<unsigned char>(c));
    }
    return out;
}

bool DecodeCharCodes(const std::string& codes, std::string& text) {
    text.clear();
    if (codes.empty())
        return true;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = codes.find(',', pos);
        const std::optional<std::int64_t> code = StrictInteger(
            codes.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        if (!code || *code < 0 || *code > kByteMax)
            return false;
        text += static_cast<char>(*code);
        if (comma == std::string::npos)
            return true;
        pos = comma + 1;
    }
}

std::string TransformPassword(const std::string& text) {
    static const std::string key = kPasswordKey;
    std::string out = text;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(out[i] ^ key[i % key.size()]);
    return out;
}

bool LoadBackups(const std::string& iniFile, std::vector<std::shared_ptr<clsBackup>>& jobs,
                 std::string& error) {
    IniFile ini;
    if (!ini.Load(iniFile)) {
        error = iniFile + " cannot be read";
        return false;
    }
    std::vector<std::shared_ptr<clsBackup>> loaded;
    std::set<std::string> namesSeen;
    for (const std::string& line : ini.ReadSection(kBackupsSection)) {
        auto job = std::make_shared<clsBackup>();
        job->sName = JobNameOf(line);
        std::string problem = JobNameProblem(job->sName);
        // Sections are found without regard to case: two such jobs would share one.
        if (problem.empty() && !namesSeen.insert(ToUpperAscii(job->sName)).second)
            problem = "strMsgBackupNameExists";
        if (!problem.empty()) {
            error = GetMsg("strMsgJobListBadName", {{"%d", job->sName}, {"%s", GetMsg(problem)}});
            return false;
        }
        for (const std::string& keyLine : ini.ReadSection(job->sName)) {
            try {
                ApplyLine(*job, keyLine);
            } catch (const LoadFailure& failure) {
                error = "[" + job->sName + "] " + keyLine + ": " + failure.message;
                return false;
            }
        }
        loaded.push_back(std::move(job));
    }
    jobs.insert(jobs.end(), loaded.begin(), loaded.end());
    return true;
}

std::string SerializeBackups(const std::vector<std::shared_ptr<clsBackup>>& jobs) {
    IniFile ini;
    std::vector<std::string> names;
    for (const auto& job : jobs)
        names.push_back(job->sName);
    names.push_back(std::string());
    ini.WriteSection(kBackupsSection, names);
    int fileCounter = 0;
    int dirCounter = 0;
    for (const auto& job : jobs) {
        std::vector<std::string> lines = JobSectionLines(*job, fileCounter, dirCounter);
        lines.push_back(std::string()); // a blank line between sections, for the human reader
        ini.WriteSection(job->sName, lines);
    }
    return ini.Serialize("\r\n");
}

bool SaveBackups(const std::string& iniFile, const std::vector<std::shared_ptr<clsBackup>>& jobs) {
    gJobsDirty = false;
    return WriteKeepingBak(iniFile, SerializeBackups(jobs));
}

bool SaveJobResults(const std::string& iniFile, const std::vector<std::shared_ptr<clsBackup>>& jobs,
                    JobResults& written, std::vector<std::string>& notSaved) {
    std::string text;
    const bool readable = ReadWholeFile(iniFile, text) || errno == ENOENT;
    IniFile ini;
    ini.Parse(text);
    std::vector<std::string> changed;
    for (const auto& job : jobs) {
        const JobResult result{job->enumStatus, job->lastOK};
        const auto known = written.find(job->sName);
        if (known != written.end() && known->second == result)
            continue;
        written[job->sName] = result;
        std::vector<std::string>* lines = readable ? ini.Lines(job->sName) : nullptr;
        if (lines == nullptr) {
            notSaved.push_back(job->sName);
            continue;
        }
        SetKeyLine(*lines, "STA", "Status=" + std::to_string(result.status));
        SetKeyLine(*lines, "OKL", "OKLast=" + result.lastOK.Format(kMinuteStamp));
        changed.push_back(job->sName);
    }
    if (changed.empty())
        return readable;
    // A hand-written file keeps its own line ends.
    const bool crlf = text.empty() || text.find("\r\n") != std::string::npos;
    if (WriteKeepingBak(iniFile, ini.Serialize(crlf ? "\r\n" : "\n")))
        return true;
    notSaved.insert(notSaved.end(), changed.begin(), changed.end());
    return false;
}

void SetJobListSaving(JobListSaving how) {
    gSaving = how;
}

bool LoadBackups(std::string& error) {
    gKnownStamp = StampOf(gIniFile);
    if (!LoadBackups(gIniFile, gBackups, error))
        return false;
    gResultsInFile = ResultsOf(gBackups);
    return true;
}

bool SaveBackups() {
    // A change this process has not loaded yet must still be noticed after the write.
    const bool sawLatest = StampOf(gIniFile) == gKnownStamp;
    bool ok;
    if (gSaving == JobListSaving::Whole) {
        ok = SaveBackups(gIniFile, gBackups);
    } else {
        std::vector<std::string> notSaved;
        ok = SaveJobResults(gIniFile, gBackups, gResultsInFile, notSaved);
        for (const std::string& name : notSaved)
            WriteLog(GetMsg("strMsgResultNotSaved", "%d", name));
    }
    if (sawLatest)
        gKnownStamp = StampOf(gIniFile);
    return ok;
}

JobListReload ReloadBackupsIfChanged(std::string& error) {
    const FileStamp stamp = StampOf(gIniFile);
    if (stamp == gKnownStamp)
        return JobListReload::Unchanged;
    gKnownStamp = stamp;
    std::vector<std::shared_ptr<clsBackup>> fresh;
    if (!LoadBackups(gIniFile, fresh, error))
        return JobListReload::Damaged;
    gBackups = std::move(fresh);
    gResultsInFile = ResultsOf(gBackups);
    return JobListReload::Loaded;
}
