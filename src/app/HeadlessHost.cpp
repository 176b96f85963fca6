#include "app/HeadlessHost.h"

#include "core/ActivityLog.h"
#include "core/Globals.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

// A terminal cannot show more than a few updates a second anyway.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// The progress line stays within an 80-column terminal.
constexpr std::size_t kProgressLineWidth = 78;

extern "C" void OnStopSignal(int) {
    gStopSignal = 1;
    // Every wait of the engine (a transfer, a reply, a copy) polls it.
    gAbort = true;
}

std::string ShortenForLine(const std::string& text, std::size_t budget) {
    if (text.size() <= budget)
        return text;
    const std::size_t keep = (budget - 3) / 2;
    return text.substr(0, keep) + "..." + text.substr(text.size() - (budget - 3 - keep));
}

} // namespace

HeadlessHost::HeadlessHost() : progressOnTerminal_(::isatty(STDERR_FILENO) == 1) {}

HeadlessHost::~HeadlessHost() {
    ClearProgressLine();
}

void HeadlessHost::InstallSignalHandlers() {
    // Without SA_RESTART: a blocking call the signal interrupts returns at
    // once, and the code waiting in it sees gAbort.
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool HeadlessHost::StopRequested() {
    return gStopSignal != 0;
}

void HeadlessHost::Yield() {
    // Ctrl-C is the cancel command with the main window hidden: no question.
    // A run or restore clears gAbort as it starts, so it is raised again here.
    if (gStopSignal != 0)
        gAbort = true;
}

MsgAnswer HeadlessHost::MessageBox(const std::string& text, MsgButtons buttons, MsgIcon) {
    ClearProgressLine();
    std::fprintf(stderr, "%s\n", text.c_str());
    return DefaultAnswer(buttons);
}

void HeadlessHost::SetStatusText(const std::string& text) {
    // Status texts are few (a run's phases and its end): worth a line each.
    ClearProgressLine();
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

void HeadlessHost::AddActivityLine(const std::string& line) {
    ClearProgressLine();
    // stdout is line-buffered on a terminal; into a pipe or file, lines go out
    // in blocks rather than one write each.
    std::fprintf(stdout, "%s\n", line.c_str());
}

void HeadlessHost::ShowProgress(const std::string& caption) {
    progressShown_ = true;
    DrawProgressLine(caption);
}

void HeadlessHost::UpdateProgress(const std::string& caption, const std::string& text, double,
                                  double secondValue) {
    // Called for every block: decide cheaply before formatting anything.
    if (!progressShown_ || !progressOnTerminal_ ||
        std::chrono::steady_clock::now() - lastDraw_ < kRedrawInterval)
        return;
    char percent[32] = "";
    if (secondValue > 0 && secondValue <= 100)
        std::snprintf(percent, sizeof percent, " %6.2f%%", secondValue);
    DrawProgressLine(caption + percent + " " + text);
}

void HeadlessHost::CloseProgress() {
    ClearProgressLine();
    progressShown_ = false;
}

void HeadlessHost::DrawProgressLine(const std::string& text) {
    if (!progressOnTerminal_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    std::fprintf(stderr, "\r\033[K%s", ShortenForLine(text, kProgressLineWidth).c_str());
    std::fflush(stderr);
}

void HeadlessHost::ClearProgressLine() {
    if (progressOnTerminal_ && progressShown_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}
