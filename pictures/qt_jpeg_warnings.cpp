#include "qt_jpeg_warnings.h"

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <mutex>

namespace duoptica {

namespace {

thread_local QtJpegWarnings *listening = nullptr;
QtMessageHandler previousHandler = nullptr;

} // namespace

struct QtJpegWarningsHandler {
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message) {
        if (listening && context.category &&
            QByteArrayView(context.category) == QByteArrayView("qt.gui.imageio.jpeg")) {
            if (message.contains(QStringLiteral("premature end"), Qt::CaseInsensitive))
                listening->prematureEnd_ = true;
            else
                listening->other_ = true;
            return;
        }
        if (previousHandler)
            previousHandler(type, context, message);
    }
};

QtJpegWarnings::QtJpegWarnings()
    : outer_(listening) {
    // Installed once for the process and chained to the handler before it; it only acts on the
    // threads that listen.
    static std::once_flag installed;
    std::call_once(installed,
                   [] { previousHandler = qInstallMessageHandler(QtJpegWarningsHandler::handle); });
    listening = this;
}

QtJpegWarnings::~QtJpegWarnings() {
    listening = outer_;
}

} // namespace duoptica
