#pragma once
#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class frmAbout;
}

// The about box: the program, its version, its maker, and the maker's web site.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);
    ~frmAbout() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ApplyTexts();

    std::unique_ptr<Ui::frmAbout> ui_;
    // The version line as designed, "%v" where the version goes.
    QString designedVersion_;
};
