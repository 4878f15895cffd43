#include "access_key_button.h"

#include <QShortcutEvent>

AccessKeyButton::AccessKeyButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent) {}

bool AccessKeyButton::event(QEvent *event) {
    // The caption's mnemonic is the button's only shortcut. An ambiguous one (two captions with
    // the same letter) is left to Qt, which moves the focus between them.
    if (event->type() == QEvent::Shortcut && !static_cast<QShortcutEvent *>(event)->isAmbiguous()) {
        click();
        return true;
    }
    return QPushButton::event(event);
}
