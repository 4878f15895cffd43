// Start-up: make the window, show it and run the event loop until the window has closed.
#include "display_guard.h"
#include "form1.h"
#include "picture_file.h"

#include <QApplication>
#include <QImageReader>

int main(int argc, char *argv[]) {
    duoptica::beginDisplayGuard("duoptica");
    QApplication app(argc, argv);
    duoptica::endDisplayGuard();
    QImageReader::setAllocationLimit(duoptica::kImageAllocationLimitMiB);

    Form1 form;
    form.show();
    return app.exec();
}
