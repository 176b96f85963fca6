#pragma once
#include <QDialog>

#include <memory>

namespace Ui {
class frmSettings;
}

// The program settings a user may change: the language, the background
// service, the hidden start and the scheduler block. OK stores them, Cancel
// leaves everything as it was.
class frmSettings : public QDialog {
    Q_OBJECT

public:
    explicit frmSettings(QWidget* parent = nullptr);
    ~frmSettings() override;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Load();
    void FillLanguages();

    std::unique_ptr<Ui::frmSettings> ui_;
};
