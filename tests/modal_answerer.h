// Answers the modal windows a handler opens, as a user would, so that a test can call the handler
// and wait for it to return. It polls QApplication::activeModalWidget() from a timer; it never
// sleeps.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <functional>

class ModalAnswerer : public QObject {
public:
    explicit ModalAnswerer(std::function<void(QWidget *)> answer)
        : answer_(std::move(answer)) {
        connect(&timer_, &QTimer::timeout, this, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                ++answered_;
                answer_(modal);
            }
        });
        timer_.start(10);
    }

    int answered() const { return answered_; }

private:
    std::function<void(QWidget *)> answer_;
    QTimer timer_;
    int answered_ = 0;
};

// Notes the title and text of each message box and presses its default button.
class MessageBoxReader : public ModalAnswerer {
public:
    MessageBoxReader()
        : ModalAnswerer([this](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                qFatal("a modal window that is not a message box: %s",
                       modal->metaObject()->className());
            titles << box->windowTitle();
            texts << box->text();
            box->accept();
        }) {}

    QStringList titles;
    QStringList texts;
};
