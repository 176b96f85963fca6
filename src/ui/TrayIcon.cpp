#include "ui/TrayIcon.h"

#include "ui/WebSite.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {

QString ProgramLine(bool withV) {
    const QString version = ProgramVersion().section(u'.', 0, 1);
    return QStringLiteral("Tidevault ") + (withV ? QStringLiteral("v") : QString()) + version;
}

QIcon Picture(bool paused) {
    return QIcon(paused ? QStringLiteral(":/icons/tidevault-paused.svg")
                        : QStringLiteral(":/icons/tidevault.svg"));
}

} // namespace

TrayIcon::TrayIcon(QMenu* menu, QObject* parent)
    : QObject(parent), icon_(new QSystemTrayIcon(Picture(false), this)) {
    icon_->setContextMenu(menu);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit RestoreRequested();
            });
}

TrayIcon::~TrayIcon() {
    Remove();
}

QString TrayIcon::FirstTip() {
    return ProgramLine(true) + QLatin1Char('\n') + QString::fromLatin1(kReady);
}

QString TrayIcon::TipFor(const std::string& status) {
    QString text = QString::fromStdString(status);
    if (static_cast<std::size_t>(text.size()) > kLongestStatus)
        text = QString::fromLatin1(kTooLong);
    return (ProgramLine(false) + QLatin1Char('\n') + text).left(kTipField - 1);
}

bool TrayIcon::DesktopHasTray() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::Shown() const {
    return icon_->isVisible();
}

void TrayIcon::Add() {
    tip_ = FirstTip();
    icon_->setToolTip(tip_);
    if (DesktopHasTray())
        icon_->show();
}

void TrayIcon::Remove() {
    icon_->hide();
}

void TrayIcon::SetTip(const std::string& status) {
    tip_ = TipFor(status);
    icon_->setToolTip(tip_);
}

void TrayIcon::ShowPaused(bool paused) {
    if (paused == paused_)
        return;
    paused_ = paused;
    icon_->setIcon(Picture(paused));
}

void TrayIcon::Notify(const QString& title, const QString& text) {
    lastNotice_ = text;
    if (Shown())
        icon_->showMessage(title, text, QSystemTrayIcon::Critical);
}
