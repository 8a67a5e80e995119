#pragma once

#include <QLocale>
#include <QString>

class QCoreApplication;

// The Qt catalogue for `locale` in `directory`: the locale's own, or another
// country's catalogue of the same language (Debian ships Portuguese for Brazil
// only, and "Sim"/"Não" serve Portugal as well). Empty when there is none.
QString qtTranslationFile(const QLocale& locale, const QString& directory);

// Installs Qt's own translations for `locale` from Qt's translations
// directory, so that standard buttons speak the user's language. False when
// there is no catalogue for it.
bool installQtTranslations(QCoreApplication& application, const QLocale& locale);
