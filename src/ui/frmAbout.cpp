#include "ui/frmAbout.h"

#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/WebSite.h"
#include "ui_frmAbout.h"

#include <QIcon>

frmAbout::frmAbout(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::frmAbout>()) {
    InitUiResources();
    ui_->setupUi(this);
    designedVersion_ = ui_->lblVersion->text();
    ui_->picLogo->setPixmap(QIcon(QStringLiteral(":/icons/tidevault.svg")).pixmap(64));
    connect(ui_->cmdOk, &QPushButton::clicked, this, &frmAbout::accept);
    connect(ui_->cmdWeb, &QPushButton::clicked, this, [] { OpenMakerWebSite(); });
    ApplyTexts();
}

frmAbout::~frmAbout() = default;

void frmAbout::showEvent(QShowEvent* event) {
    ApplyTexts();
    QDialog::showEvent(event);
}

void frmAbout::ApplyTexts() {
    // Back to the designed line first, so a language file without it still gets "%v" to fill.
    ui_->lblVersion->setText(designedVersion_);
    ApplyLanguage(this);
    ui_->lblVersion->setText(
        ui_->lblVersion->text().replace(QLatin1String("%v"), ProgramVersion()));
}
