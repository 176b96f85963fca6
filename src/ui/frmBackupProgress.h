#pragma once
#include <QDialog>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class frmBackupProgress;
}

// lblFile holds at most this many characters.
inline constexpr int kFileTextBudget = 50;

// Beginning, "..." and end of a text longer than the budget, `budget`
// characters in all; a shorter text as it is.
QString ShortenToBudget(const QString& text, int budget = kFileTextBudget);

// Milliseconds on the coarse monotonic clock: asked per block of a run, and
// its few milliseconds of resolution are plenty against the repaint pace.
std::int64_t CoarseClockMs();

// A percentage 0-100 as the bars' labels show it: 45 -> "45.00%".
QString PercentText(double value);

// The window of a long operation: what it is doing, two bars, and the
// pause, skip and cancel commands. The commands go to the run through
// RunControl; the run sees them at its next polling point.
class frmBackupProgress : public QDialog {
    Q_OBJECT

public:
    // The engine reports per block; repainting more often than this only
    // slows the run down.
    static constexpr int kRepaintIntervalMs = 100;

    explicit frmBackupProgress(QWidget* parent = nullptr);
    ~frmBackupProgress() override;

    // Both bars back to 0, the caption set when one is given.
    void Restart(const QString& caption);
    // Takes the newest state; it is painted at once when the last paint is
    // older than the repaint interval, otherwise when the interval is over.
    void UpdateProgress(const QString& caption, const QString& text, double firstValue,
                        double secondValue);
    // The same in the engine's strings, turned into Qt's only when painted:
    // most states of a run are replaced before their turn comes.
    void UpdateProgress(const std::string& caption, const std::string& text, double firstValue,
                        double secondValue);
    // Paints a state still waiting for its turn.
    void ShowPending();

    // Told each painted second value, for the main window's status picture
    // and the tray tip, which follow the window's pace.
    std::function<void(const QString& caption, double secondValue)> onSecondValueShown;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Escape and the close box mean the same as the cancel command.
    void reject() override;

private:
    void TogglePause();
    void Skip();
    void Cancel();
    void ShowPauseState();
    void ApplyTexts();
    void Paint();

    std::unique_ptr<Ui::frmBackupProgress> ui_;
    struct State {
        std::string caption;
        std::string text;
        std::optional<double> first;
        std::optional<double> second;
    };
    State pending_;
    bool hasPending_ = false;
    std::int64_t paintedAt_ = INT64_MIN / 2; // coarse clock
    QTimer repaintTimer_;
};
