#include "ui/frmPassword.h"

#include "engine/JobPassword.h"
#include "ui/ApplyLanguage.h"
#include "ui_frmPassword.h"

frmPassword::frmPassword(std::string expected, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmPassword>()), expected_(std::move(expected)) {
    ui_->setupUi(this);
    connect(ui_->cmdOk, &QPushButton::clicked, this, &frmPassword::accept);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmPassword::reject);
    ApplyLanguage(this);
}

frmPassword::~frmPassword() = default;

bool frmPassword::Ask(const std::string& expected, QWidget* parent) {
    frmPassword prompt(expected, parent);
    prompt.exec();
    return prompt.Result();
}

void frmPassword::accept() {
    // Taken as it is: blanks at either end are part of a password.
    typed_ = ui_->Text1->text().toStdString();
    result_ = PasswordMatches(expected_, typed_);
    QDialog::accept();
}

void frmPassword::reject() {
    typed_.clear();
    result_ = false;
    QDialog::reject();
}

void frmPassword::showEvent(QShowEvent* event) {
    ApplyLanguage(this);
    ui_->Text1->setFocus();
    QDialog::showEvent(event);
}
