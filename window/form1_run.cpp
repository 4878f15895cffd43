// "&Go!" and what the combine run sees of the window.
#include "combine_run.h"
#include "form1.h"
#include "picture_surface.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

void Form1::Command1_Click() {
    duoptica::runCombine(*this);
}

duoptica::RunSurface &Form1::leftSurface() {
    return *Picture1;
}
duoptica::RunSurface &Form1::rightSurface() {
    return *Picture2;
}
duoptica::RunSurface &Form1::outputSurface() {
    return *Picture3;
}

std::string Form1::caption() const {
    return windowTitle().toStdString();
}

void Form1::setCaption(const std::string &text) {
    setWindowTitle(QString::fromStdString(text));
}

duoptica::Boolean16 Form1::stopFlag() const {
    return StopFlag;
}

void Form1::setStopFlag(duoptica::Boolean16 value) {
    StopFlag = value;
}

// The option buttons exclude each other, so exactly one of them is checked.
duoptica::CombineMode Form1::selectedMode() const {
    if (Option1->isChecked())
        return duoptica::CombineMode::Normal;
    if (Option2->isChecked())
        return duoptica::CombineMode::RedBlue;
    return duoptica::CombineMode::RedGreen;
}

void Form1::setControlEnabled(duoptica::Control control, bool enabled) {
    using duoptica::Control;
    QWidget *const widgets[] = {Command1, Command2, Command3, Command4,
                                Command5, Option1,  Option2,  Option3};
    static_assert(static_cast<int>(Control::Option3) == 7, "one widget per control");
    widgets[static_cast<int>(control)]->setEnabled(enabled);
}

void Form1::showMessage(const std::string &prompt, const std::string &title) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(prompt), QMessageBox::Ok, this);
    box.exec();
}

void Form1::doEvents() {
    QCoreApplication::processEvents();
}
