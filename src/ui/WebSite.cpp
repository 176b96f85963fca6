#include "ui/WebSite.h"

#include "platform/ProgramFolder.h"

#include <QDesktopServices>
#include <QString>

QUrl MakerWebSiteUrl() {
    const QUrl site(QString::fromLatin1(kMakerWebSite));
    if (!site.isRelative())
        return site;
    return QUrl::fromLocalFile(QString::fromStdString(ProgramFolder()) + QLatin1Char('/') +
                               site.path());
}

bool OpenMakerWebSite() {
    return QDesktopServices::openUrl(MakerWebSiteUrl());
}

QString ProgramVersion() {
    return QStringLiteral(TIDEVAULT_VERSION);
}

QString ProgramRevision() {
    return QStringLiteral(TIDEVAULT_REVISION);
}
