#pragma once

#include "platform/platform.h"

#include <QWidget>

// Tells a screen reader what a command found while the keyboard focus stays where it is. Screen
// readers present changes of the focused control only; a notification that appears is the one
// other thing Orca (before the announcement signal of newer AT-SPI) reads out by itself, and Qt
// 6.4 reports a widget's appearing as the object becoming showing. So each message is the text of
// a one-pixel widget, which nobody sees, read as a notification and shown anew for every message.
// Qt 6.4's UI Automation passes no such showing on, so on Windows each message is also raised for
// the window as the system's own notification.
class StatusAnnouncer final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusAnnouncer)

public:
    explicit StatusAnnouncer(QWidget* parent);

    // Presents `text`, of the kind `notice`; an empty text withdraws the last message and presents
    // nothing.
    void announce(const QString& text, Platform::Notice notice);
    QString text() const { return m_text; }

private:
    QString m_text;
};
