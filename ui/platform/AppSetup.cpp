#include "ui/platform/AppSetup.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#ifndef RYV_VERSION
#error "RYV_VERSION must come from the build"
#endif

namespace Platform {

const char *Version() { return RYV_VERSION; }

void SetUpApplication(QApplication &app)
{
    QCoreApplication::setApplicationName(QStringLiteral("RYV_demo"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(Version()));
    QCoreApplication::setOrganizationName(QStringLiteral("RYV_demo"));
    QGuiApplication::setDesktopFileName(QStringLiteral("ryv_demo"));

    QIcon icon;
    for (const char *size : {"32", "64", "256"})
        icon.addFile(QStringLiteral(":/ryv_demo/icons/ryv_demo_%1.png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);

    // Qt's catalogue of its standard texts (button captions, file and print
    // dialogs) when the user's interface language is Russian, the language
    // of the program's own texts. Under any other language Qt's captions
    // stay as they are, so that no window mixes three languages.
    const QLocale language(QLocale().uiLanguages().value(0));
    if (language.language() != QLocale::Russian)
        return;
    auto *translator = new QTranslator(&app);
    if (translator->load(language, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace Platform
