// "Load &Left", "Load &Right" and "Save": picture files through the common dialog CD1.
#include "common_dialog.h"
#include "form1.h"
#include "picture_file.h"
#include "picture_surface.h"

#include <QDir>
#include <QMessageBox>

namespace {

const QString kOpenFilter = QStringLiteral("Supported Files|*.bmp;*.jpg;*.gif");
const QString kSaveFilter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");

// The sources are hidden, so a failed load would otherwise go unnoticed until "&Go!" combined
// the old picture; a failed save would lose the user's work without a word.
void tellUser(QWidget *form, const QString &what, const QString &fileName, const QString &why) {
    QMessageBox::warning(form, Form1::tr("Error"),
                         what.arg(QDir::toNativeSeparators(fileName)) + QLatin1Char('\n') + why);
}

// A cancelled dialog leaves the name empty, which loads an empty picture: the source is cleared.
// A file that cannot be loaded leaves the old picture in place.
void loadSource(QWidget *form, CommonDialog &dialog, PictureSurface &source) {
    dialog.Filter = kOpenFilter;
    dialog.ShowOpen();
    // Only the part of the picture inside the surface is ever shown or scanned.
    const duoptica::PictureLoad load =
        duoptica::LoadPicture(dialog.FileName, {.visibleArea = source.size()});
    if (load.error.isEmpty())
        source.setPicture(load.picture);
    else
        tellUser(form, Form1::tr("Cannot load \"%1\":"), dialog.FileName, load.error);
    dialog.FileName.clear();
}

} // namespace

void Form1::Command2_Click() {
    loadSource(this, *CD1, *Picture1);
}

void Form1::Command3_Click() {
    loadSource(this, *CD1, *Picture2);
}

void Form1::Command5_Click() {
    CD1->Filter = kSaveFilter;
    CD1->ShowSave();
    // A cancelled dialog writes nothing and says nothing.
    if (!CD1->FileName.isEmpty()) {
        const QString why = duoptica::SavePicture(Picture3->Image(), CD1->FileName);
        if (!why.isEmpty())
            tellUser(this, tr("Cannot save \"%1\":"), CD1->FileName, why);
    }
    CD1->FileName.clear();
}
