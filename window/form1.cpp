#include "form1.h"

#include "access_key_button.h"
#include "combine_run.h"
#include "common_dialog.h"
#include "fitting_indicator_style.h"
#include "picture_surface.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace {

// Geometry of every control in pixels of the client area (15 twips each).
template <class Button = QPushButton>
QPushButton *makeButton(const char *name, const QString &caption, QRect geometry, QWidget *form) {
    auto *button = new Button(caption, form);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    return button;
}

QRadioButton *makeOption(const char *name, const QString &caption, QRect geometry, QWidget *form) {
    auto *option = new QRadioButton(caption, form);
    option->setObjectName(QString::fromLatin1(name));
    option->setGeometry(geometry);
    return option;
}

PictureSurface *makeSurface(const char *name, QRect geometry, QWidget *form) {
    auto *surface = new PictureSurface(geometry, form);
    surface->setObjectName(QString::fromLatin1(name));
    // A picture area takes no keyboard input, so it is no tab stop.
    surface->setFocusPolicy(Qt::NoFocus);
    return surface;
}

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent)
    , Command2(makeButton("Command2", tr("Load &Left"), {8, 8, 73, 25}, this))
    , Command3(makeButton("Command3", tr("Load &Right"), {88, 8, 73, 25}, this))
    // Their access keys act at once: a stop by Alt+S lands where the key was pressed.
    , Command1(makeButton<AccessKeyButton>("Command1", tr("&Go!"), {168, 8, 65, 25}, this))
    , Command4(makeButton<AccessKeyButton>("Command4", tr("&Stop"), {240, 8, 65, 25}, this))
    , Command5(makeButton("Command5", tr("Save"), {312, 8, 65, 25}, this))
    , Option1(makeOption("Option1", tr("Normal"), {384, 16, 65, 13}, this))
    // The last two option buttons reach to the next control so their captions are not cut off.
    , Option2(makeOption("Option2", tr("Red-Blue"), {448, 16, 72, 13}, this))
    , Option3(makeOption("Option3", tr("Red-Green"), {520, 16, 88, 13}, this))
    , Picture3(makeSurface("Picture3", {8, 40, 600, 384}, this))
    , Picture2(makeSurface("Picture2", {240, 536, 600, 384}, this))
    , Picture1(makeSurface("Picture1", {40, 632, 600, 384}, this))
    , Timer1(new QTimer(this))
    , CD1(new CommonDialog(this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromStdString(duoptica::kProgramCaption));
    setFixedSize(616, 432);
    // The layout was drawn for a classic 8-point interface font.
    QFont classic = font();
    classic.setPointSize(8);
    setFont(classic);

    auto *options = new QButtonGroup(this);
    options->addButton(Option1);
    options->addButton(Option2);
    options->addButton(Option3);
    Option1->setChecked(true);
    auto *optionStyle = new FittingIndicatorStyle;
    optionStyle->setParent(this);
    for (QRadioButton *option : {Option1, Option2, Option3})
        option->setStyle(optionStyle);

    Command4->setEnabled(false);
    Picture2->hide();
    Picture1->hide();

    // Tab order follows the controls' tab indexes, 0 to 10.
    const QList<QWidget *> tabOrder = {Picture1, Picture2, Picture3, Command1, Command2, Command3,
                                       Command4, Command5, Option2,  Option3,  Option1};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
}

void Form1::Command4_Click() {
    StopFlag = duoptica::kTrue16;
}

void Form1::Form_Unload(std::int16_t &Cancel) {
    if (!Timer1->isActive()) {
        StopFlag = duoptica::kTrue16;
        Timer1->start();
        Cancel = 1;
    }
}

// The tick does not stop the timer itself; the unload that follows takes it down with the window.
void Form1::Timer1_Timer() {
    close();
}

void Form1::Form_Terminate() {
    StopFlag = duoptica::kTrue16;
}

void Form1::closeEvent(QCloseEvent *event) {
    std::int16_t Cancel = 0;
    Form_Unload(Cancel);
    if (Cancel != 0) {
        event->ignore();
        return;
    }
    event->accept();
    Timer1->stop();
    Form_Terminate();
}
