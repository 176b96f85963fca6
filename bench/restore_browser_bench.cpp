// The restore browser on a large index, offscreen: the time from the
// restore command to a painted window for 100,000 records over 10 sessions,
// and the time to check one session holding 100,000 files (an index of its
// own), each painted. Prints "name seconds" lines for
// bench/restore_browser_bench.py.
#include "core/Globals.h"
#include "engine/RestoreRun.h"
#include "i18n/Catalogue.h"
#include "jobs/clsBackup.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "ui/DesktopHost.h"
#include "ui/frmBrowseRestoreList.h"

#include <QApplication>
#include <QLineEdit>
#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// `files` records spread evenly over `sessions`, 100 files to a folder.
std::string IndexText(int files, int sessions) {
    std::string text;
    text.reserve(static_cast<std::size_t>(files) * 260);
    for (int i = 0; i < files; ++i) {
        const int session = i / (files / sessions);
        const std::string stamp = "202612" + std::to_string(10 + session) + "100000";
        const int size = 100 + i % 5000;
        const int end = ((size + 511) / 512 + 1) * 512; // the blocks and the trailer
        text += "dSession=" + stamp + "|RecSize=512|arcStart=Big" + stamp.substr(0, 12) +
                "|sOffs=0|arcEnd=Big" + stamp.substr(0, 12) + "|dEndOffset=" + std::to_string(end) +
                "|fname=/home/ann/projects/p" + std::to_string(i / 1000 % 100) + "/d" +
                std::to_string(i / 100 % 10) + "/file" + std::to_string(i) +
                ".txt|size=" + std::to_string(size) +
                "|crc=00000000|Attrib=32|dCT=30000000/0|dLAt=30000000/0|dLWt=30000000/" +
                std::to_string(i) + "\r\n";
    }
    return text;
}

void Paint() {
    QApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    char dir[] = "/tmp/tidevault-browser-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return 1;
    SetProgramFolder(dir);
    CreateFolderPath(std::string(dir) + "/temp");
    LoadMessageCatalogue("");
    DesktopHost host;
    host.answerer = [](const std::string& text, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return MsgAnswer::Yes;
    };
    SetHost(&host);
    auto job = std::make_shared<clsBackup>();
    job->sName = "Big";
    job->archived = true;
    job->enumStatus = kStatusFinished;
    job->sDestinationDir = dir;
    gBackups.push_back(job);

    // Open: 100,000 records over 10 sessions.
    WriteFileAtomically(std::string(dir) + "/Big.fs", IndexText(100000, 10));
    auto start = std::chrono::steady_clock::now();
    {
        frmBrowseRestoreList browser(job);
        if (!browser.LoadList())
            return 1;
        browser.show();
        Paint();
        std::printf("open 100000/10 %.3f\n", Seconds(start));
        // Find a file across all sessions.
        start = std::chrono::steady_clock::now();
        browser.findChild<QLineEdit*>("txtFilter")->setText("file4242");
        Paint();
        std::printf("filter 100000/10 %.3f\n", Seconds(start));
    }

    // Check: one session of 100,000 files.
    WriteFileAtomically(std::string(dir) + "/Big.fs", IndexText(100000, 1));
    frmBrowseRestoreList browser(job);
    start = std::chrono::steady_clock::now();
    if (!browser.LoadList())
        return 1;
    browser.show();
    Paint();
    std::printf("open 100000/1 %.3f\n", Seconds(start));
    QAbstractItemModel* tree = browser.findChild<QTreeView*>("tvTreeView")->model();
    start = std::chrono::steady_clock::now();
    tree->setData(tree->index(0, 0), Qt::Checked, Qt::CheckStateRole);
    Paint();
    const double check = Seconds(start);
    const bool all = tree->index(0, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    std::printf("check 100000 %.3f\n", check);
    browser.close();
    SetHost(nullptr);
    std::system(("rm -rf " + std::string(dir)).c_str());
    return all ? 0 : 1;
}
