// CD1, the common file dialog: the "description|patterns" filters as QFileDialog shows them,
// FileName after a choice and after a cancel, with the real QFileDialog answered as a user would,
// and no settings file read or written in the user's configuration.
#include "common_dialog.h"
#include "modal_answerer.h"

#include <QDialogButtonBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
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

// Every file below folder, with its contents.
QMap<QString, QByteArray> filesBelow(const QString &folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        files[file.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return files;
}

} // namespace

class CommonDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void filtersBecomeQtNameFilters_data();
    void filtersBecomeQtNameFilters();
    void realOpenDialogShowsTheFilterAndReturnsTheChoice();
    void realSaveDialogAddsNoExtension();
    void cancelLeavesFileNameUnchanged_data();
    void cancelLeavesFileNameUnchanged();
    void leavesTheUsersSettingsAlone();
    void cleanup();

private:
    QTemporaryDir dir_;
    // The user's home, with a settings file of Qt's file dialog from an earlier session.
    QTemporaryDir home_;
};

void CommonDialogTest::initTestCase() {
    // Before any dialog is made, as at a program's start.
    qputenv("HOME", QFile::encodeName(home_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home_.filePath(QStringLiteral(".config"))));
    QVERIFY(QDir(home_.path()).mkdir(QStringLiteral(".config")));
    QVERIFY(QDir(home_.path()).mkdir(QStringLiteral("seen")));
    QFile settings(home_.filePath(QStringLiteral(".config/QtProject.conf")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[FileDialog]\nhistory=" +
                   QUrl::fromLocalFile(home_.filePath(QStringLiteral("seen"))).toEncoded() +
                   "\nviewMode=List\n");
}

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

void CommonDialogTest::leavesTheUsersSettingsAlone() {
    const QMap<QString, QByteArray> before = filesBelow(home_.path());
    QWidget owner;
    CommonDialog dialog(&owner);
    dialog.Filter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");
    QStringList histories;
    QList<QFileDialog::ViewMode> views;
    ModalAnswerer user([&](QWidget *modal) {
        auto *fileDialog = qobject_cast<QFileDialog *>(modal);
        histories << fileDialog->history().join(u' ');
        views << fileDialog->viewMode();
        fileDialog->setViewMode(QFileDialog::List);
        typeAndAccept(fileDialog, dir_.filePath(QStringLiteral("chosen.bmp")));
    });

    dialog.ShowSave();
    dialog.ShowSave();

    QCOMPARE(user.answered(), 2);
    QVERIFY2(!histories.front().contains(QStringLiteral("seen")), qPrintable(histories.front()));
    QCOMPARE(views.front(), QFileDialog::Detail);
    QCOMPARE(views.back(), QFileDialog::List); // remembered within the session
    QCOMPARE(filesBelow(home_.path()), before);
}

void CommonDialogTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(CommonDialogTest)
#include "tst_commondialog.moc"
