// The window's common file dialog, CD1: set Filter, call ShowOpen or ShowSave, read FileName.
// It shows a QFileDialog; tests swap in a scripted chooser instead of driving a modal window.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QWidget;

class CommonDialog : public QObject {
    Q_OBJECT

public:
    enum class Kind { Open, Save };
    // Asks for a file and answers its full path, or an empty string when the user cancels.
    // nameFilters is in QFileDialog's form, fileName is the dialog's current FileName.
    using Chooser =
        std::function<QString(Kind kind, const QString &nameFilters, const QString &fileName)>;

    // The dialog is modal over owner, which also owns this object.
    explicit CommonDialog(QWidget *owner);

    // "Description|pattern;pattern" pairs, separated by further bars.
    QString Filter;
    // The path chosen last; a cancelled dialog leaves it unchanged.
    QString FileName;

    void ShowOpen();
    void ShowSave();

    void setChooser(Chooser chooser) { chooser_ = std::move(chooser); }

    // "Supported Files|*.bmp;*.jpg" becomes "Supported Files (*.bmp *.jpg)"; a description
    // that already ends with its patterns in brackets is kept as it is.
    static QString nameFiltersFor(const QString &filter);

private:
    void show(Kind kind);

    Chooser chooser_;
};
