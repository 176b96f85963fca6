#include "ui/frmBackupProgress.h"

#include "core/RunControl.h"
#include "core/host.h"
#include "i18n/Catalogue.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui_frmBackupProgress.h"

#include <QEvent>
#include <QIcon>

#include <ctime>

namespace {

// The two pictures of the pause button.
constexpr const char* kPicture1 = ":/icons/pause.svg";
constexpr const char* kPicture2 = ":/icons/continue.svg";

bool InBarRange(double value) {
    return value >= 0.0 && value <= 100.0; // NaN is outside too
}

void ShowValue(QProgressBar* bar, QLabel* label, double value) {
    bar->setValue(qRound(value));
    label->setText(PercentText(value));
}

} // namespace

QString ShortenToBudget(const QString& text, int budget) {
    if (text.size() <= budget)
        return text;
    const QString dots = QStringLiteral("...");
    const int kept = budget - static_cast<int>(dots.size());
    const int head = kept / 2;
    return text.left(head) + dots + text.right(kept - head);
}

std::int64_t CoarseClockMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

QString PercentText(double value) {
    return QString::number(value, 'f', 2) + QLatin1Char('%');
}

frmBackupProgress::frmBackupProgress(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmBackupProgress>()) {
    InitUiResources();
    ui_->setupUi(this);
    connect(ui_->dGraphicButton2, &QPushButton::clicked, this, &frmBackupProgress::TogglePause);
    connect(ui_->dGraphicButton1, &QPushButton::clicked, this, &frmBackupProgress::Skip);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmBackupProgress::Cancel);
    // Room for the widest value, so the bars do not jump while the numbers grow.
    for (QLabel* label : {ui_->lblPercent1, ui_->lblPercent2})
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(PercentText(100)));
    repaintTimer_.setSingleShot(true);
    connect(&repaintTimer_, &QTimer::timeout, this, &frmBackupProgress::ShowPending);
    ApplyTexts();
}

frmBackupProgress::~frmBackupProgress() = default;

void frmBackupProgress::Restart(const QString& caption) {
    repaintTimer_.stop();
    hasPending_ = false;
    pending_ = State{};
    ShowValue(ui_->ProgressBar1, ui_->lblPercent1, 0);
    ShowValue(ui_->ProgressBar2, ui_->lblPercent2, 0);
    if (!caption.isEmpty())
        setWindowTitle(caption);
}

void frmBackupProgress::UpdateProgress(const QString& caption, const QString& text,
                                       double firstValue, double secondValue) {
    UpdateProgress(caption.toStdString(), text.toStdString(), firstValue, secondValue);
}

void frmBackupProgress::UpdateProgress(const std::string& caption, const std::string& text,
                                       double firstValue, double secondValue) {
    pending_.caption = caption;
    pending_.text = text;
    if (InBarRange(firstValue))
        pending_.first = firstValue;
    if (InBarRange(secondValue))
        pending_.second = secondValue;
    hasPending_ = true;
    const std::int64_t since = CoarseClockMs() - paintedAt_;
    if (since >= kRepaintIntervalMs)
        Paint();
    else if (!repaintTimer_.isActive())
        repaintTimer_.start(static_cast<int>(kRepaintIntervalMs - since));
}

void frmBackupProgress::ShowPending() {
    if (hasPending_)
        Paint();
}

void frmBackupProgress::Paint() {
    repaintTimer_.stop();
    hasPending_ = false;
    paintedAt_ = CoarseClockMs();
    const QString caption = QString::fromStdString(pending_.caption);
    if (!caption.isEmpty())
        setWindowTitle(caption);
    ui_->lblFile->setText(ShortenToBudget(QString::fromStdString(pending_.text)));
    if (pending_.first)
        ShowValue(ui_->ProgressBar1, ui_->lblPercent1, *pending_.first);
    if (pending_.second) {
        ShowValue(ui_->ProgressBar2, ui_->lblPercent2, *pending_.second);
        if (onSecondValueShown)
            onSecondValueShown(caption, *pending_.second);
    }
    pending_.first.reset();
    pending_.second.reset();
}

void frmBackupProgress::showEvent(QShowEvent* event) {
    ApplyTexts();
    QDialog::showEvent(event);
}

void frmBackupProgress::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ApplyTexts();
    QDialog::changeEvent(event);
}

void frmBackupProgress::reject() {
    Cancel();
}

void frmBackupProgress::ApplyTexts() {
    ApplyLanguage(this);
    ShowPauseState(); // its text follows the run, not the language file
}

void frmBackupProgress::TogglePause() {
    if (IsRunPaused())
        RequestResume();
    else
        RequestPause();
    ShowPauseState();
}

void frmBackupProgress::ShowPauseState() {
    const bool paused = IsRunPaused();
    ui_->dGraphicButton2->setText(
        QString::fromStdString(GetMsg(paused ? "strMsgContinue" : "strMsgPause")));
    ui_->dGraphicButton2->setIcon(QIcon(QString::fromLatin1(paused ? kPicture2 : kPicture1)));
}

void frmBackupProgress::Skip() {
    RequestSkip();
}

void frmBackupProgress::Cancel() {
    Host& host = CurrentHost();
    // Nobody can be asked while the main window is hidden: cancel at once.
    if (!host.IsMainWindowVisible()) {
        RequestCancel();
        return;
    }
    if (host.MessageBox(GetMsg("strMsgRealyCancel"), MsgButtons::YesNo, MsgIcon::Question) !=
        MsgAnswer::Yes)
        return;
    RequestCancel();
    host.CloseProgress();
}
