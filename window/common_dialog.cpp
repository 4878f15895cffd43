#include "common_dialog.h"

#include <QFileDialog>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

namespace {

// QFileDialog keeps its folder history, last folder and view in QSettings(UserScope,
// "QtProject"): it would write ~/.config/QtProject.conf and read it back at the next start, yet
// the program keeps no settings. Qt's settings of this process live in a folder of its own,
// removed when the program ends, so a dialog still remembers the one before it in a session.
void keepQtSettingsInTheSession() {
    static QTemporaryDir sessionFolder;
    static const bool redirected = [] {
        // Should no folder be made, nothing can be read or written below /dev/null either.
        const QString path =
            sessionFolder.isValid() ? sessionFolder.path() : QStringLiteral("/dev/null");
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
            for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
                QSettings::setPath(format, scope, path);
        return true;
    }();
    Q_UNUSED(redirected);
}

QString askWithFileDialog(QWidget *owner, CommonDialog::Kind kind, const QString &nameFilters,
                          const QString &fileName) {
    // No default suffix: the file gets exactly the name the user typed.
    if (kind == CommonDialog::Kind::Open)
        return QFileDialog::getOpenFileName(owner, QString(), fileName, nameFilters);
    return QFileDialog::getSaveFileName(owner, QString(), fileName, nameFilters);
}

} // namespace

CommonDialog::CommonDialog(QWidget *owner)
    : QObject(owner)
    , chooser_([owner](Kind kind, const QString &nameFilters, const QString &fileName) {
        return askWithFileDialog(owner, kind, nameFilters, fileName);
    }) {
    setObjectName(QStringLiteral("CD1"));
    keepQtSettingsInTheSession();
}

void CommonDialog::ShowOpen() {
    show(Kind::Open);
}

void CommonDialog::ShowSave() {
    show(Kind::Save);
}

void CommonDialog::show(Kind kind) {
    const QString chosen = chooser_(kind, nameFiltersFor(Filter), FileName);
    if (!chosen.isEmpty())
        FileName = chosen;
}

QString CommonDialog::nameFiltersFor(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns =
            QLatin1Char('(') +
            parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' ')) +
            QLatin1Char(')');
        // QFileDialog takes the patterns from the last brackets of each entry.
        entries << (description.endsWith(patterns) ? description
                                                   : description + QLatin1Char(' ') + patterns);
    }
    return entries.join(QStringLiteral(";;"));
}
