#include "display_guard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace duoptica {

namespace {

const char *guardedProgram = "duoptica";
QtMessageHandler previousHandler = nullptr;
// Qt's own start-up complaints are held back until we know whether the display opened.
QStringList heldMessages;

[[noreturn]] void failWithoutDisplay() {
    std::fprintf(stderr,
                 "%s: no display could be opened (DISPLAY=\"%s\"); start it on a desktop, or on a "
                 "virtual one with: xvfb-run -a %s\n",
                 guardedProgram, qgetenv("DISPLAY").constData(), guardedProgram);
    std::_Exit(1);
}

void startupMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtFatalMsg)
        failWithoutDisplay();
    heldMessages.append(message);
}

} // namespace

void beginDisplayGuard(const char *programName) {
    guardedProgram = programName;
    const bool platformChosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    const bool displayNamed =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!platformChosen && !displayNamed)
        failWithoutDisplay();
    previousHandler = qInstallMessageHandler(startupMessageHandler);
}

void endDisplayGuard() {
    qInstallMessageHandler(previousHandler);
    for (const QString &message : std::as_const(heldMessages))
        std::fprintf(stderr, "%s\n", qPrintable(message));
    heldMessages.clear();
}

} // namespace duoptica
