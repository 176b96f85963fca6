#include "archive/ArchiveIndex.h"

#include "archive/RecordCheck.h"
#include "i18n/Catalogue.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string HalvesText(const FileTimeHalves& t) {
    // Written as signed 32-bit numbers; the bit pattern is what counts.
    return std::to_string(static_cast<std::int32_t>(t.high)) + "/" +
           std::to_string(static_cast<std::int32_t>(t.low));
}

std::string_view TrimSpaces(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

// Decimal text to a number; text that is not a number gives 0.
std::int64_t ToNumber(std::string_view text) {
    text = TrimSpaces(text);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : 0;
}

// A half may be written signed or unsigned: either way the low 32 bits count.
std::int32_t ToHalf(std::string_view text) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(ToNumber(text)));
}

bool KeyIs(std::string_view key, std::string_view lowerName) {
    if (key.size() != lowerName.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        char c = key[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerName[i])
            return false;
    }
    return true;
}

struct TimeKeys {
    std::int32_t high = 0;
    std::int32_t low = 0;
};

void ApplyField(clsRestoreFileData& rec, std::string_view key, std::string_view value,
                TimeKeys& time) {
    auto setTime = [&](void (clsRestoreFileData::*set)(std::uint32_t, std::uint32_t)) {
        SplitTimePair(value, time.high, time.low);
        (rec.*set)(static_cast<std::uint32_t>(time.high), static_cast<std::uint32_t>(time.low));
    };
    if (KeyIs(key, "fname"))
        rec.fname = std::string(value);
    else if (KeyIs(key, "size"))
        rec.size = ToNumber(value);
    else if (KeyIs(key, "soffs"))
        rec.soffs = ToNumber(value);
    else if (KeyIs(key, "dendoffset"))
        rec.dendoffset = ToNumber(value);
    else if (KeyIs(key, "recsize"))
        rec.recsize = ToNumber(value);
    else if (KeyIs(key, "arcstart"))
        rec.arcStart = std::string(value);
    else if (KeyIs(key, "arcend"))
        rec.arcEnd = std::string(value);
    else if (KeyIs(key, "crc"))
        rec.crc = std::string(value);
    else if (KeyIs(key, "attrib"))
        rec.Attrib = ToNumber(value);
    else if (KeyIs(key, "dsession"))
        rec.dSession = ParseSessionDate(value);
    else if (KeyIs(key, "dct"))
        setTime(&clsRestoreFileData::tCreationTimeSet);
    else if (KeyIs(key, "dlat"))
        setTime(&clsRestoreFileData::tLastAccessTimeSet);
    else if (KeyIs(key, "dlwt"))
        setTime(&clsRestoreFileData::tLastWriteTimeSet);
}

// A line the writer finished: the last key it writes is there.
bool HasLastKey(std::string_view line) {
    const std::size_t bar = line.rfind('|');
    const std::string_view field = bar == std::string_view::npos ? line : line.substr(bar + 1);
    return KeyIs(field.substr(0, field.find('=')), "dlwt") &&
           field.find('=') != std::string_view::npos;
}

// The whole file in one buffer sized up front: an index of a long-lived job
// runs to many megabytes and is read at the start of every incremental run.
// 0, or the errno of the failure.
int ReadIndexFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st {};
    int err = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EISDIR;
    if (err == 0) {
        try {
            content.resize(static_cast<std::size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            err = ENOMEM;
        }
    }
    std::size_t got = 0;
    while (err == 0 && got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno != EINTR)
            err = errno;
        if (n == 0)
            break;
        if (n > 0)
            got += static_cast<std::size_t>(n);
    }
    content.resize(std::min(got, content.size()));
    ::close(fd);
    return err;
}

void NoteDamage(IndexReport* report, std::size_t line, const std::string& why) {
    if (report->damagedLines++ == 0) {
        report->firstDamagedLine = line;
        report->firstDamage = why;
    }
}

} // namespace

bool FitsInIndexLine(std::string_view text) {
    return text.find_first_of("|\r\n") == std::string_view::npos;
}

std::string FormatIndexLine(const clsArchiveFileData& rec, const DateTime& session,
                            std::int64_t recSize) {
    std::string line;
    line.reserve(256 + rec.sFileName.size());
    line += "dSession=" + session.Format("yyyyMMddHHmmss");
    line += "|RecSize=" + std::to_string(recSize);
    line += "|arcStart=" + rec.sArchiveStart;
    line += "|sOffs=" + std::to_string(rec.dStartOffset);
    line += "|arcEnd=" + rec.sArchiveEnd;
    line += "|dEndOffset=" + std::to_string(rec.dEndOffset);
    line += "|fname=" + rec.sFileName;
    line += "|size=" + std::to_string(rec.dSize);
    line += "|crc=" + HexString(rec.crc32);
    line += "|Attrib=" + std::to_string(rec.dAttributes);
    line += "|dCT=" + HalvesText(rec.tCreationTimeGet());
    line += "|dLAt=" + HalvesText(rec.tLastAccessTimeGet());
    line += "|dLWt=" + HalvesText(rec.tLastWriteTimeGet());
    line += "\r\n";
    return line;
}

clsRestoreFileData ParseIndexRecord(std::string_view line) {
    clsRestoreFileData rec;
    TimeKeys time;
    std::size_t pos = 0;
    for (;;) {
        const std::size_t bar = line.find('|', pos);
        const std::string_view field =
            line.substr(pos, bar == std::string_view::npos ? std::string_view::npos : bar - pos);
        // Only the first "=" separates: values may contain more of them.
        const std::size_t eq = field.find('=');
        if (eq != std::string_view::npos)
            ApplyField(rec, field.substr(0, eq), field.substr(eq + 1), time);
        if (bar == std::string_view::npos)
            break;
        pos = bar + 1;
    }
    return rec;
}

DateTime ParseSessionDate(std::string_view text) {
    if (text.size() != 14 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return DateTime::ZeroDate();
    auto num = [&](std::size_t at, std::size_t len) {
        int v = 0;
        for (std::size_t i = at; i < at + len; ++i)
            v = v * 10 + (text[i] - '0');
        return v;
    };
    const auto date =
        DateTime::FromParts(num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2));
    return date ? *date : DateTime::ZeroDate();
}

bool SplitTimePair(std::string_view text, std::int32_t& high, std::int32_t& low) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return false;
    high = ToHalf(text.substr(0, slash));
    low = ToHalf(text.substr(slash + 1));
    return true;
}

bool LoadIndexRecords(const std::string& path, std::vector<clsRestoreFileData>& records,
                      IndexReport* report) {
    records.clear();
    IndexReport local;
    if (report == nullptr)
        report = &local;
    *report = IndexReport{};
    std::string content;
    report->readError = ReadIndexFile(path, content);
    if (report->readError != 0)
        return false;
    const std::string_view all(content);
    records.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + 1);
    std::size_t pos = 0;
    std::size_t lineNumber = 0;
    while (pos < all.size()) {
        ++lineNumber;
        const std::size_t nl = all.find('\n', pos);
        const bool terminated = nl != std::string_view::npos;
        std::string_view line = all.substr(pos, terminated ? nl - pos : std::string_view::npos);
        pos = terminated ? nl + 1 : all.size();
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (TrimSpaces(line).empty())
            continue;
        // An unterminated last line that lacks the last key is an append that
        // was interrupted: its numbers may be cut short, so it is not a record.
        if (!terminated && !HasLastKey(line)) {
            NoteDamage(report, lineNumber, GetMsg("strMsgRecCutShort"));
            continue;
        }
        clsRestoreFileData rec = ParseIndexRecord(line);
        if (const std::string why = RecordDamage(rec); !why.empty()) {
            NoteDamage(report, lineNumber, why);
            continue;
        }
        records.push_back(std::move(rec));
    }
    return !records.empty() || report->damagedLines == 0;
}
