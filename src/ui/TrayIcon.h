#pragma once
#include <QObject>
#include <QString>

#include <string>

class QMenu;
class QSystemTrayIcon;

// The notification-area icon: its tip names the program and the status, its
// picture turns to the paused one while a run waits, its menu is the main
// window's `mniTray`. Where the desktop has no tray it stays absent, and the
// program goes on without it.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    // A status longer than this is replaced by kTooLong: the tip is short.
    static constexpr std::size_t kLongestStatus = 50;
    static constexpr int kTipField = 64;
    static constexpr const char* kTooLong = "Message too long! Check the message list";
    // The status while no run is going on.
    static constexpr const char* kReady = "Ready ...";

    TrayIcon(QMenu* menu, QObject* parent);
    ~TrayIcon() override;

    // "Tidevault v1.0", a line break and "Ready ...": the tip when added.
    static QString FirstTip();
    // "Tidevault 1.0", a line break and the status, cut to the tip's field.
    static QString TipFor(const std::string& status);

    // False on a desktop without a notification area.
    static bool DesktopHasTray();
    bool Shown() const;

    void Add();
    void Remove();
    void SetTip(const std::string& status);
    QString Tip() const { return tip_; }
    // The paused picture, or the program's own.
    void ShowPaused(bool paused);
    bool ShowsPaused() const { return paused_; }
    // A balloon beside the icon; nothing where there is no tray.
    void Notify(const QString& title, const QString& text);
    // The text of the last notice, shown or not.
    QString LastNotice() const { return lastNotice_; }

signals:
    // A double click on the icon: the window comes back.
    void RestoreRequested();

private:
    QSystemTrayIcon* icon_;
    QString tip_;
    QString lastNotice_;
    bool paused_ = false;
};
