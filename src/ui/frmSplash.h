#pragma once
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace Ui {
class frmSplash;
}

// Shown while the program starts; one second after it appears its timer
// reports finished() (the main window takes over) and it closes.
class frmSplash : public QWidget {
    Q_OBJECT

public:
    static constexpr int kShowMs = 1000;

    explicit frmSplash(QWidget* parent = nullptr);
    ~frmSplash() override;

    // How long it stays once shown.
    void SetInterval(int milliseconds) { Timer1.setInterval(milliseconds); }

signals:
    void finished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ApplyTexts();

    std::unique_ptr<Ui::frmSplash> ui_;
    QTimer Timer1;
    QString designedCaption_;
    bool started_ = false;
};
