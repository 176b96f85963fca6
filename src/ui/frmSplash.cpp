#include "ui/frmSplash.h"

#include "ui/ApplyLanguage.h"
#include "ui/DesktopHost.h"
#include "ui/WebSite.h"
#include "ui_frmSplash.h"

#include <QIcon>

frmSplash::frmSplash(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::frmSplash>()) {
    InitUiResources();
    ui_->setupUi(this);
    designedCaption_ = ui_->lblCaption->text();
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    ui_->picLogo->setPixmap(QIcon(QStringLiteral(":/icons/tidevault.svg")).pixmap(64));
    Timer1.setSingleShot(true);
    Timer1.setInterval(kShowMs);
    connect(&Timer1, &QTimer::timeout, this, [this] {
        emit finished();
        close();
    });
    ApplyTexts();
}

frmSplash::~frmSplash() = default;

void frmSplash::showEvent(QShowEvent* event) {
    ApplyTexts();
    QWidget::showEvent(event);
    // Only the first showing hands over.
    if (!started_) {
        started_ = true;
        Timer1.start();
    }
}

void frmSplash::ApplyTexts() {
    // The caption line is its text, a blank and the revision.
    ui_->lblCaption->setText(designedCaption_);
    ApplyLanguage(this);
    ui_->lblCaption->setText(ui_->lblCaption->text() + QLatin1Char(' ') + ProgramRevision());
}
