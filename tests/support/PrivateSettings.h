#pragma once
// Keeps the program's settings of a test in a folder of its own. The program opens them as
// QSettings("KARDO", "Q40-Programmer"), the native format, so both formats are redirected:
// otherwise tests read and write the user's own remembered port, and two tests running at
// once see each other's.

#include <QSettings>
#include <QString>
#include <string>

inline void KeepSettingsIn(const std::string& folder) {
    const QString path = QString::fromStdString(folder);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
}
