#include "jobs/JobListFile.h"

#include "core/Globals.h"
#include "i18n/Catalogue.h"
#include "jobs/JobName.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/TextConvert.h"
#include "platform/TextUtil.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <set>

namespace {

constexpr const char* kBackupsSection = "Backups";
constexpr const char* kPasswordKey = "Tidevault password key";

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
    s.start = ParseDate(Digits(v, 3, 4), Digits(v, 7, 2), Digits(v, 9, 2), Digits(v, 11, 2),
                        Digits(v, 13, 2), "the schedule start");
    const std::optional<int> data = Digits(v, 16, 3);
    if (!data || *data > 255)
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
    lines.push_back("OKLast=" + job.lastOK.Format("yyyyMMddHHmm"));
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
        if (!code || *code < 0 || *code > 255)
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
    const std::string bak = iniFile + ".bak";
    if (FileExists(iniFile)) {
        if (FileExists(bak))
            RemoveFile(bak);
        std::string previous;
        if (!ReadWholeFile(iniFile, previous) || !WriteFileAtomically(bak, previous, 0600))
            return false;
    }
    // The job list holds passwords: private to its owner.
    return WriteFileAtomically(iniFile, SerializeBackups(jobs), 0600);
}

bool LoadBackups(std::string& error) {
    return LoadBackups(gIniFile, gBackups, error);
}

bool SaveBackups() {
    return SaveBackups(gIniFile, gBackups);
}
