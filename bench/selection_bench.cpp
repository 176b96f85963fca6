// Incremental selection at scale: 100,000 listed files against an index of
// 100,000 records, read from a real index file. Prints the time of reading
// the index plus the hash selection, and the nested walk on a tenth of the
// size for comparison (it grows with the square of the size).
#include "archive/ArchiveIndex.h"
#include "engine/BackupRun.h"
#include "platform/FileSystem.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

FileList MakeList(int n) {
    FileList list;
    for (int i = 0; i < n; ++i) {
        clsDskFile f;
        f.path = "/home/ann/project" + std::to_string(i % 500) + "/";
        f.filename = "file" + std::to_string(i) + ".txt";
        f.tLastWriteTimeSet(30000000, static_cast<std::uint32_t>(i));
        list.push_back(f);
    }
    return list;
}

std::string IndexText(const FileList& list) {
    std::string text;
    for (const clsDskFile& f : list) {
        text += "dSession=20261205100000|RecSize=512|arcStart=Inc|sOffs=0|arcEnd=Inc|"
                "dEndOffset=512|fname=" +
                f.FullName() +
                "|size=10|crc=00000000|Attrib=32|dCT=30000000/0|dLAt=30000000/0|"
                "dLWt=30000000/" +
                std::to_string(f.tLastWriteTimeGet().low) + "\r\n";
    }
    return text;
}

double TimeNested(int n) {
    FileList list = MakeList(n);
    std::vector<clsRestoreFileData> records;
    LoadIndexRecords("/dev/null", records);
    const std::string text = IndexText(list);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        records.push_back(ParseIndexRecord(std::string_view(text).substr(pos, end - pos)));
        pos = end + 2;
    }
    const auto start = std::chrono::steady_clock::now();
    for (const clsRestoreFileData& r : records) {
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (it->FullName() == r.fname && it->tLastWriteTimeGet() == r.tLastWriteTimeGet()) {
                list.erase(it);
                break;
            }
        }
    }
    return Seconds(start);
}

} // namespace

int main() {
    const int n = 100000;
    char dir[] = "/tmp/tidevault-selection-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return 1;
    const std::string index = std::string(dir) + "/Inc.fs";
    FileList list = MakeList(n);
    WriteFileAtomically(index, IndexText(list));

    const auto start = std::chrono::steady_clock::now();
    std::vector<clsRestoreFileData> records;
    LoadIndexRecords(index, records);
    const double loaded = Seconds(start);
    DropUnchangedFiles(list, records);
    const double total = Seconds(start);
    std::printf("%d files against %zu records: index read %.3f s, selection %.3f s, "
                "left %zu\n",
                n, records.size(), loaded, total - loaded, list.size());
    const double nested = TimeNested(n / 10);
    std::printf("nested walk on %d files: %.3f s (the hash selection on 10x the files: %.3f s)\n",
                n / 10, nested, total - loaded);
    RemoveFile(index);
    ::rmdir(dir);
    return list.empty() ? 0 : 1;
}
