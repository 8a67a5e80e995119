#include "Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

QString qtTranslationFile(const QLocale& locale, const QString& directory) {
    QTranslator probe;
    if (probe.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), directory))
        return probe.filePath();
    const QString language = QLocale::languageToCode(locale.language());
    const QStringList sameLanguage = QDir(directory).entryList(
        {QStringLiteral("qtbase_%1_*.qm").arg(language)}, QDir::Files, QDir::Name);
    return sameLanguage.isEmpty() ? QString() : QDir(directory).filePath(sameLanguage.first());
}

bool installQtTranslations(QCoreApplication& application, const QLocale& locale) {
    const QString file =
        qtTranslationFile(locale, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (file.isEmpty())
        return false;
    auto* translator = new QTranslator(&application);
    if (!translator->load(file)) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
