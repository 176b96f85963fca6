#include "ui/QtTranslations.h"

#include "core/Globals.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
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
    // Dates and numbers the windows format themselves follow the chosen
    // language too; English keeps the system's own English variant.
    if (locale != nullptr)
        QLocale::setDefault(QLocale(QLatin1String(locale)));
    else if (QLocale::system().language() == QLocale::English)
        QLocale::setDefault(QLocale::system());
    else
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (locale == nullptr)
        return;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_") + QLatin1String(locale),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator.get());
        installed = std::move(translator);
    }
}
