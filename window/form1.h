// The program's only window. Each control event has one handler named after it; the handlers
// share nothing but StopFlag. Closing takes two stages: the first request is refused, raises
// StopFlag (so a running combine stops at its next pixel) and starts Timer1, whose tick closes
// the window for good. The window is never deleted on close; it lives until main() returns, so a
// handler still on the stack below a yield can always go on using it.
#pragma once

#include "color_value.h"
#include "run_host.h"

#include <QWidget>

#include <cstdint>

class CommonDialog;
class PictureSurface;
class QPushButton;
class QRadioButton;
class QTimer;

class Form1 : public QWidget, private duoptica::RunHost {
    Q_OBJECT

public:
    explicit Form1(QWidget *parent = nullptr);

    // The stop request of a running combine: raised by "&Stop" and by closing, cleared by "&Go!".
    duoptica::Boolean16 StopFlag = duoptica::kFalse16;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Form_Unload(std::int16_t &Cancel);
    void Timer1_Timer();
    void Form_Terminate();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // What the combine run uses of the window; see form1_run.cpp.
    duoptica::RunSurface &leftSurface() override;
    duoptica::RunSurface &rightSurface() override;
    duoptica::RunSurface &outputSurface() override;
    std::string caption() const override;
    void setCaption(const std::string &text) override;
    duoptica::Boolean16 stopFlag() const override;
    void setStopFlag(duoptica::Boolean16 value) override;
    duoptica::CombineMode selectedMode() const override;
    void setControlEnabled(duoptica::Control control, bool enabled) override;
    void showMessage(const std::string &prompt, const std::string &title) override;
    void doEvents() override;

    QPushButton *const Command2;
    QPushButton *const Command3;
    QPushButton *const Command1;
    QPushButton *const Command4;
    QPushButton *const Command5;
    QRadioButton *const Option1;
    QRadioButton *const Option2;
    QRadioButton *const Option3;
    PictureSurface *const Picture3;
    PictureSurface *const Picture2;
    PictureSurface *const Picture1;
    QTimer *const Timer1;
    CommonDialog *const CD1;
};
