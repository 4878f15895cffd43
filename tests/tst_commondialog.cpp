// CD1, the common file dialog: the "description|patterns" filters as QFileDialog shows them, and
// FileName after a choice and after a cancel, with the real QFileDialog answered as a user would.
#include "common_dialog.h"
#include "modal_answerer.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

// Types the path into the dialog's name field and presses its accept button, as a user would.
void typeAndAccept(QFileDialog *dialog, const QString &path) {
    dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
    dialog->findChild<QDialogButtonBox *>()
        ->button(dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                 : QDialogButtonBox::Open)
        ->click();
}

} // namespace

class CommonDialogTest : public QObject {
    Q_OBJECT

private slots:
    void filtersBecomeQtNameFilters_data();
    void filtersBecomeQtNameFilters();
    void realOpenDialogShowsTheFilterAndReturnsTheChoice();
    void realSaveDialogAddsNoExtension();
    void cancelLeavesFileNameUnchanged_data();
    void cancelLeavesFileNameUnchanged();
    void cleanup();

private:
    QTemporaryDir dir_;
};

void CommonDialogTest::filtersBecomeQtNameFilters_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("nameFilters");
    const auto row = [](const char *name, const char *filter, const char *nameFilters) {
        QTest::newRow(name) << QString::fromLatin1(filter) << QString::fromLatin1(nameFilters);
    };
    row("one entry, several patterns", "Supported Files|*.bmp;*.jpg;*.gif",
        "Supported Files (*.bmp *.jpg *.gif)");
    row("description already lists its patterns", "Bitmaps (*.bmp)|*.bmp", "Bitmaps (*.bmp)");
    row("two entries", "Pictures|*.bmp;*.gif|All Files (*.*)|*.*",
        "Pictures (*.bmp *.gif);;All Files (*.*)");
    row("description lists other patterns", "Bitmaps (*.bmp)|*.bmp;*.dib",
        "Bitmaps (*.bmp) (*.bmp *.dib)");
    row("no filter", "", "");
}

void CommonDialogTest::filtersBecomeQtNameFilters() {
    QFETCH(QString, filter);
    QFETCH(QString, nameFilters);
    QCOMPARE(CommonDialog::nameFiltersFor(filter), nameFilters);
}

void CommonDialogTest::realOpenDialogShowsTheFilterAndReturnsTheChoice() {
    const QString path = dir_.filePath(QStringLiteral("left.bmp"));
    QFile(path).open(QIODevice::WriteOnly);
    QWidget owner;
    CommonDialog dialog(&owner);
    dialog.Filter = QStringLiteral("Supported Files|*.bmp;*.jpg;*.gif");
    QStringList shownFilters;
    QFileDialog::FileMode mode = QFileDialog::Directory;
    ModalAnswerer user([&](QWidget *modal) {
        auto *fileDialog = qobject_cast<QFileDialog *>(modal);
        shownFilters = fileDialog->nameFilters();
        mode = fileDialog->fileMode();
        typeAndAccept(fileDialog, path);
    });

    dialog.ShowOpen();

    QCOMPARE(user.answered(), 1);
    QCOMPARE(shownFilters, QStringList{QStringLiteral("Supported Files (*.bmp *.jpg *.gif)")});
    QCOMPARE(mode, QFileDialog::ExistingFile);
    QCOMPARE(dialog.FileName, path);
}

void CommonDialogTest::realSaveDialogAddsNoExtension() {
    const QString path = dir_.filePath(QStringLiteral("combined"));
    QWidget owner;
    CommonDialog dialog(&owner);
    dialog.Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    ModalAnswerer user([&](QWidget *modal) {
        auto *fileDialog = qobject_cast<QFileDialog *>(modal);
        acceptMode = fileDialog->acceptMode();
        typeAndAccept(fileDialog, path);
    });

    dialog.ShowSave();

    QCOMPARE(user.answered(), 1);
    QCOMPARE(acceptMode, QFileDialog::AcceptSave);
    QCOMPARE(dialog.FileName, path);
    QVERIFY(!QFile::exists(path)); // choosing a name writes nothing yet
}

void CommonDialogTest::cancelLeavesFileNameUnchanged_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("open") << false;
    QTest::newRow("save") << true;
}

void CommonDialogTest::cancelLeavesFileNameUnchanged() {
    QFETCH(bool, save);
    QWidget owner;
    CommonDialog dialog(&owner);
    dialog.FileName = QStringLiteral("/earlier/choice.bmp");
    ModalAnswerer user([](QWidget *modal) { qobject_cast<QDialog *>(modal)->reject(); });

    save ? dialog.ShowSave() : dialog.ShowOpen();

    QCOMPARE(user.answered(), 1);
    QCOMPARE(dialog.FileName, QStringLiteral("/earlier/choice.bmp"));
}

void CommonDialogTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(CommonDialogTest)
#include "tst_commondialog.moc"
