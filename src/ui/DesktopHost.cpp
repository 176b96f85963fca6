#include "ui/DesktopHost.h"

#include "ui/frmBackupProgress.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <iterator>
#include <utility>

static void InitIconsResource() {
    // Outside any namespace, as the resource initialiser requires.
    Q_INIT_RESOURCE(icons);
}

void InitUiResources() {
    static const bool once = (InitIconsResource(), true);
    (void)once;
}

namespace {

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ToQtButtons(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::AbortRetryIgnore:
        return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case MsgButtons::RetryCancel:
        return QMessageBox::Retry | QMessageBox::Cancel;
    default:
        return QMessageBox::Ok;
    }
}

MsgAnswer FromQtButton(int button, MsgButtons buttons) {
    switch (button) {
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Abort:
        return MsgAnswer::Abort;
    case QMessageBox::Retry:
        return MsgAnswer::Retry;
    case QMessageBox::Ignore:
        return MsgAnswer::Ignore;
    default:
        // The box was closed without a button: its escape answer.
        return buttons == MsgButtons::YesNo              ? MsgAnswer::No
               : buttons == MsgButtons::AbortRetryIgnore ? MsgAnswer::Abort
               : buttons == MsgButtons::Ok               ? MsgAnswer::Ok
                                                         : MsgAnswer::Cancel;
    }
}

void Forward(const std::function<void(const std::string&)>& to, const std::string& text) {
    if (to)
        to(text);
}

} // namespace

DesktopHost::DesktopHost() {
    InitUiResources();
    textTimer_.setSingleShot(true);
    QObject::connect(&textTimer_, &QTimer::timeout, [this] { ShowPendingTexts(); });
}

DesktopHost::~DesktopHost() {
    delete progress_.data();
}

void DesktopHost::Yield() {
    if (CoarseClockMs() - eventsAt_ < kYieldIntervalMs)
        return;
    QCoreApplication::processEvents();
    // A progress window closed by its own command goes now that its handler
    // has returned.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // Counted from here, so a slow turn of the loop still leaves the run its share.
    eventsAt_ = CoarseClockMs();
}

MsgAnswer DesktopHost::MessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) {
    // What led to the question is in the activity list when it is asked.
    ShowPendingTexts();
    if (answerer)
        return answerer(text, buttons, icon);
    QMessageBox box(ToQtIcon(icon), QApplication::applicationDisplayName(),
                    QString::fromStdString(text), ToQtButtons(buttons), mainWindow);
    return FromQtButton(box.exec(), buttons);
}

bool DesktopHost::IsMainWindowVisible() {
    return mainWindowVisible && mainWindowVisible();
}

void DesktopHost::SetStatusText(const std::string& text) {
    Forward(onStatusText, text);
}

void DesktopHost::SetLastLogLine(const std::string& text) {
    pendingLastLine_ = text;
    hasPendingLastLine_ = true;
    if (TextsDueNow())
        ShowPendingTexts();
}

void DesktopHost::AddActivityLine(const std::string& line) {
    pendingLines_.push_back(line);
    if (pendingLines_.size() > kActivityBatchLimit)
        pendingLines_.pop_front();
    if (TextsDueNow())
        ShowPendingTexts();
}

bool DesktopHost::TextsDueNow() {
    // Outside a run lines are few: each as it comes.
    if (progress_ == nullptr)
        return true;
    const std::int64_t since = CoarseClockMs() - textsAt_;
    if (since >= kTextIntervalMs)
        return true;
    if (!textTimer_.isActive())
        textTimer_.start(static_cast<int>(kTextIntervalMs - since));
    return false;
}

void DesktopHost::ShowPendingTexts() {
    textTimer_.stop();
    textsAt_ = CoarseClockMs();
    if (!pendingLines_.empty()) {
        std::vector<std::string> lines(std::make_move_iterator(pendingLines_.begin()),
                                       std::make_move_iterator(pendingLines_.end()));
        pendingLines_.clear();
        if (onActivityLines)
            onActivityLines(lines);
        else
            for (const std::string& line : lines)
                Forward(onActivityLine, line);
    }
    if (hasPendingLastLine_) {
        hasPendingLastLine_ = false;
        Forward(onLastLogLine, std::exchange(pendingLastLine_, std::string()));
    }
}

void DesktopHost::ShowProgress(const std::string& caption) {
    if (progress_ == nullptr) {
        progress_ = new frmBackupProgress(mainWindow);
        progress_->onSecondValueShown = [this](const QString& caption, double percent) {
            if (onProgressValue)
                onProgressValue(caption.toStdString(), percent);
        };
    }
    progress_->Restart(QString::fromStdString(caption));
    // Nobody looks at it while the main window is hidden (tray, service).
    if (IsMainWindowVisible())
        progress_->show();
}

void DesktopHost::UpdateProgress(const std::string& caption, const std::string& text,
                                 double firstValue, double secondValue) {
    if (progress_ != nullptr)
        progress_->UpdateProgress(caption, text, firstValue, secondValue);
}

void DesktopHost::CloseProgress() {
    if (progress_ == nullptr)
        return;
    // May be the window's own cancel handler asking: delete it once that has returned.
    progress_->hide();
    progress_->deleteLater();
    progress_ = nullptr;
    ShowPendingTexts();
}

void DesktopHost::SetCaptionSuffix(const std::string& suffix) {
    Forward(onCaptionSuffix, suffix);
}

void DesktopHost::SetTrayTip(const std::string& tip) {
    Forward(onTrayTip, tip);
}

std::string DesktopHost::PickFolder(const std::string& prompt) {
    return QFileDialog::getExistingDirectory(mainWindow, QString::fromStdString(prompt))
        .toStdString();
}

void DesktopHost::SetSchedulerTimer(bool enabled) {
    if (onSchedulerTimer)
        onSchedulerTimer(enabled);
}
