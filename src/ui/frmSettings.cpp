#include "ui/frmSettings.h"

#include "core/Globals.h"
#include "core/Registry.h"
#include "engine/ServiceMode.h"
#include "engine/Startup.h"
#include "i18n/Catalogue.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "platform/TextConvert.h"
#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/QtTranslations.h"
#include "ui_frmSettings.h"

#include <QEvent>

#include <algorithm>

namespace {

std::string Setting(const char* name, const char* defaultValue) {
    return GetRegSetting(kAppName, kGeneralSettings, name, defaultValue);
}

void Store(const char* name, const std::string& text) {
    SaveRegSetting(kAppName, kGeneralSettings, name, text);
}

std::string BoxValue(const QCheckBox* box) {
    return box->isChecked() ? "1" : "0";
}

} // namespace

frmSettings::frmSettings(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmSettings>()) {
    InitUiResources();
    ui_->setupUi(this);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &frmSettings::accept);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &frmSettings::reject);
    Load();
}

frmSettings::~frmSettings() = default;

void frmSettings::Load() {
    ui_->Check1->setChecked(gBlockSchedule);
    ui_->chkHide->setChecked(LeadingNumber(Setting("HideWindowOnStart", "0")) != 0);
    ui_->chkService->setChecked(gRunAsService != 0);
    FillLanguages();
    const QString stored = QString::fromStdString(Setting("Language", "english")).toUpper();
    ui_->Combo1->setCurrentIndex(-1);
    for (int i = 0; i < ui_->Combo1->count(); ++i)
        if (ui_->Combo1->itemText(i).toUpper() == stored) {
            ui_->Combo1->setCurrentIndex(i);
            break;
        }
}

void frmSettings::FillLanguages() {
    std::vector<std::string> names = ListFileNames(LanguagesFolder());
    // Listed by name, so the order does not depend on the file system.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const QString file = QString::fromStdString(name);
        if (!file.endsWith(QLatin1String(".lng"), Qt::CaseInsensitive))
            continue;
        const QString language = file.chopped(4);
        ui_->Combo1->addItem(language.left(1).toUpper() + language.mid(1).toLower());
    }
}

void frmSettings::accept() {
    const bool wanted = ui_->chkService->isChecked();
    if (wanted != (gRunAsService != 0))
        ui_->chkService->setChecked(ChangeServiceMode(wanted));
    Store("blockSchedule", BoxValue(ui_->Check1));
    Store("HideWindowOnStart", BoxValue(ui_->chkHide));
    gBlockSchedule = LeadingNumber(Setting("blockSchedule", "1")) == 1;
    Store("RunAsService", BoxValue(ui_->chkService));
    const std::string language = ui_->Combo1->currentText().toStdString();
    Store("Language", language);
    gLanguageFile = LanguageFileFor(language);
    LoadMessageCatalogue(gLanguageFile);
    UseQtTranslations(); // message-box buttons, dialogs and dates follow at once
    gRunAsService = ui_->chkService->isChecked() ? 1 : 0;
    QDialog::accept();
}

void frmSettings::showEvent(QShowEvent* event) {
    ApplyLanguage(this);
    QDialog::showEvent(event);
}

void frmSettings::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        ApplyLanguage(this);
    QDialog::changeEvent(event);
}
