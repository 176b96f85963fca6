#include "ui/QtTranslations.h"

#include "core/Globals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace {

// Our language files are named after the language, Qt's after the locale:
// one row per language file we ship.
const char* LocaleOf(const QString& language) {
    static const struct {
        const char* language;
        const char* locale;
    } known[] = {{"german", "de"}};
    for (const auto& entry : known)
        if (language.compare(QLatin1String(entry.language), Qt::CaseInsensitive) == 0)
            return entry.locale;
    return nullptr;
}

} // namespace

void UseQtTranslations() {
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const char* locale =
        LocaleOf(QFileInfo(QString::fromStdString(gLanguageFile)).completeBaseName());
    if (locale == nullptr)
        return;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_") + QLatin1String(locale),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator.get());
        installed = std::move(translator);
    }
}
