// "Backup now" in the desktop program against `tidevault-cli run` of the same
// job, in the same run. A temporary program folder holds a tree of 20,000
// small files and one job per kind (plain copy, archived, archived and
// compressed). For each kind the command-line run is timed as a child
// process, and the desktop run in this process: main window shown
// (offscreen), the job's row selected, the backup-now command clicked, timed
// until the click returns, with the progress window seen open during the
// run. Runs alternate, the destination emptied before each; best of three.
// Every run must have stored every file, or the figure is not printed.
//
//   build/bench_desktop [--files 20000] [--repeat 3] [--kind copy|arch|zip]
//                       [--work FOLDER] [--keep]
#include "archive/ArchiveIndex.h"
#include "core/Globals.h"
#include "core/host.h"
#include "engine/Startup.h"
#include "jobs/clsBackup.h"
#include "platform/ProgramFolder.h"
#include "ui/DesktopHost.h"
#include "ui/frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr double kTarget = 1.15;

struct Kind {
    const char* name;
    bool archived;
    bool zipped;
};
constexpr Kind kKinds[] = {{"copy", false, false}, {"arch", true, false}, {"zip", true, true}};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_desktop: %s\n", what.c_str());
    std::exit(1);
}

// Folder of this executable: the build folder, a complete program folder.
fs::path BuildFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

// Small files of varied sizes in 40 folders of 10 subfolders each, text and
// random bytes mixed; returns the total size.
std::uintmax_t MakeTree(const fs::path& root, int files) {
    static const int kSizes[] = {0, 60, 300, 700, 1500, 3000, 6000, 12000};
    static const char kWords[] = "backup restore archive volume index session folder ";
    std::mt19937 random(1234);
    std::uintmax_t total = 0;
    std::string bytes;
    for (int i = 0; i < files; ++i) {
        const fs::path folder =
            root / ("d" + std::to_string(i % 40)) / ("s" + std::to_string(i / 40 % 10));
        if (i < 400)
            fs::create_directories(folder);
        const int size = kSizes[random() % std::size(kSizes)];
        bytes.resize(size);
        for (int b = 0; b < size; ++b)
            bytes[b] = i % 2 ? kWords[(b + i) % (sizeof kWords - 1)] : static_cast<char>(random());
        std::ofstream(folder / ("f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin")),
                      std::ios::binary)
            .write(bytes.data(), size);
        total += size;
    }
    return total;
}

// A program folder as the build folder has one (languages, encryption tool)
// and the jobs, each with its own destination below `work`.
void MakeProgramFolder(const fs::path& home, const fs::path& tree, const fs::path& work) {
    const fs::path build = BuildFolder();
    fs::create_directories(home / "bin");
    fs::copy(build / "Languages", home / "Languages", fs::copy_options::recursive);
    fs::copy_file(build / "bin" / "bfish", home / "bin" / "bfish");
    std::ofstream ini(home / "backups.ini", std::ios::binary);
    ini << "[Backups]\n";
    for (const Kind& kind : kKinds)
        ini << kind.name << "\n";
    for (const Kind& kind : kKinds)
        ini << "[" << kind.name << "]\nStorage=LOC\nDestination=" << (work / kind.name).string()
            << "\nType=FULL\nCompress=" << (kind.zipped ? "ZIP" : "NOT")
            << "\nStatus=0\nArchived=" << (kind.archived ? "yes" : "no")
            << "\nSplit=0\nSchedule=0\nDir0001=" << tree.string() << "\n";
}

void EmptyFolder(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    ::sync(); // the previous run's writes are not left to slow this one
}

// Files stored by a run: the index's records for an archived job, the
// regular files below the destination for a plain copy.
std::size_t StoredFiles(const Kind& kind, const fs::path& destination) {
    if (kind.archived) {
        std::vector<clsRestoreFileData> records;
        if (!LoadIndexRecords((destination / (std::string(kind.name) + ".fs")).string(), records))
            return 0;
        return records.size();
    }
    std::size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(destination))
        count += entry.is_regular_file();
    return count;
}

double TimeCli(const fs::path& home, const Kind& kind) {
    const std::string cli = (BuildFolder() / "tidevault-cli").string();
    const std::string homeText = home.string();
    const char* argv[] = {cli.c_str(), "--home", homeText.c_str(), "run", kind.name, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, const_cast<char**>(argv), environ) != 0)
        Fail("cannot start " + cli);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = Seconds(start);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail(std::string("tidevault-cli run ") + kind.name + " failed");
    return seconds;
}

// The desktop program's main window on the engine, in this process.
class Desktop {
public:
    explicit Desktop(const fs::path& home) {
        SetHost(&host_);
        SetProgramFolder(home.string());
        LoadLanguageAndSettings();
        // Every box is answered as a user would: yes, OK. Only the run's
        // "finished" note is expected; anything else is reported.
        host_.answerer = [this](const std::string& text, MsgButtons buttons, MsgIcon icon) {
            if (icon != MsgIcon::Information)
                boxes_ += text + "\n";
            return DefaultAnswer(buttons);
        };
        std::string problem;
        if (!StartUpWithoutWindow(problem))
            Fail("start-up failed: " + problem);
        window_ = std::make_unique<frmMain>(host_);
        window_->SetStyle(gStyle);
        window_->show();
        QCoreApplication::processEvents();
    }
    ~Desktop() {
        window_.reset();
        SetHost(nullptr);
    }

    double Time(const Kind& kind) {
        auto* list = window_->findChild<QTreeWidget*>(QStringLiteral("ListView1"));
        if (list == nullptr)
            Fail("no ListView1");
        const auto rows = list->findItems(QString::fromLatin1(kind.name), Qt::MatchExactly, 0);
        if (rows.size() != 1)
            Fail(std::string("no row for ") + kind.name);
        list->setCurrentItem(rows.front());
        rows.front()->setSelected(true);
        QAbstractButton* command = Command();
        progressSeen_ = false;
        boxes_.clear();
        // Each value the progress window paints (the first at once): it must
        // be open then, over the visible main window.
        const auto previous = host_.onProgressValue;
        host_.onProgressValue = [&](const std::string& caption, double percent) {
            const QWidget* progress = host_.ProgressWindow();
            progressSeen_ |= progress != nullptr && progress->isVisible() && window_->isVisible();
            if (previous)
                previous(caption, percent);
        };
        const auto start = std::chrono::steady_clock::now();
        command->click();
        const double seconds = Seconds(start);
        host_.onProgressValue = previous;
        if (!progressSeen_)
            Fail(std::string("no progress window seen for ") + kind.name);
        if (!boxes_.empty())
            Fail(std::string("run of ") + kind.name + " said: " + boxes_);
        const auto job = FindBackup(kind.name);
        if (job == nullptr || job->enumStatus != kStatusFinished)
            Fail(std::string("run of ") + kind.name + " did not finish");
        return seconds;
    }

private:
    // The toolbar's backup-now command in the toolbar style, the button otherwise.
    QAbstractButton* Command() const {
        for (const char* name : {"keyBackup", "cmdBackup"}) {
            auto* button = window_->findChild<QAbstractButton*>(QString::fromLatin1(name));
            if (button != nullptr && button->isVisible())
                return button;
        }
        Fail("no visible backup-now command");
    }

    DesktopHost host_;
    std::unique_ptr<frmMain> window_;
    bool progressSeen_ = false;
    std::string boxes_;
};

} // namespace

int main(int argc, char* argv[]) {
    int files = 20000;
    int repeat = 3;
    bool keep = false;
    std::string only;
    std::string under = "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--files" && i + 1 < argc)
            files = std::atoi(argv[++i]);
        else if (arg == "--repeat" && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else if (arg == "--kind" && i + 1 < argc)
            only = argv[++i];
        else if (arg == "--work" && i + 1 < argc)
            under = argv[++i];
        else if (arg == "--keep")
            keep = true;
        else
            Fail("usage: bench_desktop [--files N] [--repeat N] [--kind copy|arch|zip] "
                 "[--work FOLDER] [--keep]");
    }
    if (files < 1 || repeat < 1)
        Fail("--files and --repeat take a positive number");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tidevault"));

    std::string pattern = under + "/tidevault-desktop-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        Fail("cannot make a temporary folder in " + under);
    const fs::path work = pattern;
    const fs::path home = work / "home";
    const fs::path tree = work / "tree";
    const std::uintmax_t bytes = MakeTree(tree, files);
    MakeProgramFolder(home, tree, work);
    std::printf("tree: %d files, %.1f MiB; best of %d alternating runs\n", files,
                static_cast<double>(bytes) / 1048576.0, repeat);

    bool allHold = true;
    {
        Desktop desktop(home);
        for (const Kind& kind : kKinds) {
            if (!only.empty() && only != kind.name)
                continue;
            const fs::path destination = work / kind.name;
            std::vector<double> cli;
            std::vector<double> window;
            for (int round = 0; round < repeat; ++round) {
                // Alternating which side goes first, so neither always meets
                // a cache the other warmed.
                for (int side = 0; side < 2; ++side) {
                    EmptyFolder(destination);
                    const bool cliTurn = (side == 0) == (round % 2 == 0);
                    const double t = cliTurn ? TimeCli(home, kind) : desktop.Time(kind);
                    const std::size_t stored = StoredFiles(kind, destination);
                    if (stored != static_cast<std::size_t>(files))
                        Fail(std::string(cliTurn ? "tidevault-cli" : "desktop") + " run of " +
                             kind.name + " stored " + std::to_string(stored) + " of " +
                             std::to_string(files) + " files");
                    (cliTurn ? cli : window).push_back(t);
                }
            }
            const double bestCli = *std::min_element(cli.begin(), cli.end());
            const double bestWindow = *std::min_element(window.begin(), window.end());
            const double ratio = bestWindow / bestCli;
            // The two runs of a round met the same load on a shared machine.
            std::vector<double> paired;
            for (int round = 0; round < repeat; ++round)
                paired.push_back(window[round] / cli[round]);
            std::sort(paired.begin(), paired.end());
            allHold &= ratio <= kTarget;
            std::printf("%-5s tidevault-cli run %6.2f s   desktop Backup now %6.2f s   "
                        "ratio %.3f (paired median %.3f)  target <= %.2f: %s\n",
                        kind.name, bestCli, bestWindow, ratio, paired[paired.size() / 2], kTarget,
                        ratio <= kTarget ? "holds" : "MISSED");
            std::fflush(stdout);
        }
    }
    if (!keep)
        fs::remove_all(work);
    else
        std::printf("kept: %s\n", work.c_str());
    return allHold ? 0 : 2;
}
